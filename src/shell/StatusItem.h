#pragma once

#include <QObject>
#include <QPoint>
#include <QString>

// The app's one element in the desktop's status area: a line of text that can be clicked.
class StatusItem : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void setTitle(const QString& title) = 0;
    virtual QString title() const = 0;

Q_SIGNALS:
    // A left or right click. `anchor` is the clicked point in global coordinates when the host
    // tells it, else a null point.
    void clicked(const QPoint& anchor);
};

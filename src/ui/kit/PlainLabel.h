#pragma once

#include <QLabel>

// A one-style label whose text is never read as markup.
class PlainLabel : public QLabel {
    Q_OBJECT
public:
    PlainLabel(const QString& text, const QFont& font, const QColor& color, const QString& objectName,
               QWidget* parent = nullptr);

    void setColor(const QColor& color);
};

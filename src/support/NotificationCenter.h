#pragma once

#include <QObject>
#include <QString>

// The in-process notification centre: views post a request by name, the shell answers it.
// Posting is synchronous; observers that must not run inside the poster connect queued.
class NotificationCenter : public QObject {
    Q_OBJECT

public:
    static inline const QString kOpenSettings = QStringLiteral("zentrow.open-settings");
    static inline const QString kQuitApp = QStringLiteral("zentrow.quit-app");

    static NotificationCenter& defaultCenter();

    void post(const QString& name);

Q_SIGNALS:
    void posted(const QString& name);
};

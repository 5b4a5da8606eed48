#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

// Tells the user that the desktop has nowhere to show the status item, and the one step that
// gives it a place: a desktop notification, or a line on standard error when no notification
// service takes it. The call never blocks: a service that errors or stays silent only leads to
// the standard-error line once the timeout has passed.
class StatusAreaNotice : public QObject {
    Q_OBJECT

public:
    static inline const QString kService = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString kAppName = QStringLiteral("Zentrow");
    static inline const QString kAppIcon = QStringLiteral("app.zentrow.Zentrow");
    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};

    enum class Outcome {
        NotSent,
        Pending,
        Delivered,
        // No service, an error, or no answer in time; the standard-error line has been written.
        Undelivered,
    };

    explicit StatusAreaNotice(const QDBusConnection& bus, std::chrono::milliseconds timeout = kDefaultTimeout,
                              QObject* parent = nullptr);

    // The texts, in one place.
    static QString summary();
    static QString body();
    // Summary and body on one line, for standard error.
    static QString consoleLine();

    // Sends the notification. Call once.
    void show();
    // Takes a shown notification back, since what it asks for has happened; one that is still
    // on its way is taken back as soon as its id arrives.
    void withdraw();

    Outcome outcome() const { return m_outcome; }
    // The id the service gave the notification, once it answered.
    std::optional<uint> notificationId() const { return m_id; }

private:
    void fail();
    void closeNotification(uint id);

    QDBusConnection m_bus;
    std::chrono::milliseconds m_timeout;
    Outcome m_outcome = Outcome::NotSent;
    std::optional<uint> m_id;
    bool m_withdrawn = false;
};

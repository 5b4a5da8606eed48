#pragma once

#include <QWidget>

// The popover's content as an ordinary window, for a desktop without a status area: a title, the
// app's icon, an entry in the task bar and a close button. What closing it means is the owner's
// business; the window only reports that the user asked.
class StatusAreaFallbackWindow : public QWidget {
    Q_OBJECT

public:
    static inline const QString kTitle = QStringLiteral("Zentrow");

    // Takes ownership of `content` and shows it at `contentSize`, the size it is laid out for.
    StatusAreaFallbackWindow(QWidget* content, const QSize& contentSize, QWidget* parent = nullptr);

    QWidget* content() const { return m_content; }

    // Shows the window and brings it forward.
    void present();

Q_SIGNALS:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* m_content = nullptr;
};

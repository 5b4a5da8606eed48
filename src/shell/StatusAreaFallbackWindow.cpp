#include "shell/StatusAreaFallbackWindow.h"

#include "shell/AppIcon.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QVBoxLayout>

namespace {

QIcon appIcon()
{
    const QIcon icon = QGuiApplication::windowIcon();
    return icon.isNull() ? AppIcon::icon() : icon;
}

} // namespace

StatusAreaFallbackWindow::StatusAreaFallbackWindow(QWidget* content, const QSize& contentSize, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
    , m_content(content)
{
    setObjectName(QStringLiteral("statusAreaFallbackWindow"));
    setWindowTitle(kTitle);
    setWindowIcon(appIcon());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (m_content) {
        m_content->setFixedSize(contentSize);
        layout->addWidget(m_content);
    }
    setFixedSize(contentSize);
}

void StatusAreaFallbackWindow::present()
{
    show();
    raise();
    activateWindow();
}

void StatusAreaFallbackWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    Q_EMIT closeRequested();
}

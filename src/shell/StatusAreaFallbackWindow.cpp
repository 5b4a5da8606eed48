#include "shell/StatusAreaFallbackWindow.h"

#include "shell/StatusNotifierItem.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QVBoxLayout>

namespace {

QIcon appIcon()
{
    QIcon icon = QGuiApplication::windowIcon();
    if (icon.isNull()) {
        for (int size : {16, 22, 24, 32, 48, 64, 128}) {
            icon.addPixmap(QPixmap::fromImage(renderStatusIcon(size)));
        }
    }
    return icon;
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

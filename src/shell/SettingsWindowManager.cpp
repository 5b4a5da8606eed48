#include "shell/SettingsWindowManager.h"

#include "state/AppState.h"
#include "views/SettingsView.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

// Far beyond any screen, but small enough that a runaway report cannot overflow an int.
constexpr double kLargestContentExtent = 16384;

int wholeExtent(double reported, int minimum)
{
    if (!(reported > minimum))
        return minimum;
    return int(std::min(std::ceil(reported), kLargestContentExtent));
}

} // namespace

SettingsWindowManager::SettingsWindowManager() = default;

SettingsWindowManager::~SettingsWindowManager() = default;

SettingsWindowManager& SettingsWindowManager::shared()
{
    // Never released: the window it keeps lives as long as the process does.
    static SettingsWindowManager* const kShared = new SettingsWindowManager();
    return *kShared;
}

QSize SettingsWindowManager::contentSize(const QSizeF& reported)
{
    return {wholeExtent(reported.width(), kMinimumContentSize.width()),
            wholeExtent(reported.height(), kMinimumContentSize.height())};
}

QPoint SettingsWindowManager::centredOrigin(const QSize& frameSize, const QRect& available)
{
    const double centreX = available.x() + available.width() * 0.5;
    const double centreY = available.y() + available.height() * 0.5;
    return {int(std::floor(centreX - frameSize.width() * 0.5)), int(std::floor(centreY - frameSize.height() * 0.5))};
}

void SettingsWindowManager::show(AppState& appState)
{
    if (!m_window)
        createWindow();

    // A fresh view bound to this state; the tab the user last looked at stays selected.
    const SettingsTab tab = m_view ? m_view->selectedTab() : SettingsTab::general;
    delete m_view.data();
    const QPointer<QWidget> window = m_window.get();
    m_view = new SettingsView(
        appState, tab, SettingsView::kLabelColumnWidth, SettingsView::kContentWidth,
        [this, window](const QSizeF& size) {
            // The view lives inside the window this manager owns, so the manager outlives the call.
            if (window)
                applyContentSize(size);
        },
        m_window.get());
    m_window->layout()->addWidget(m_view);
    // Fit before placing, so the window is centred at the size it is shown at.
    applyContentSize(m_view->preferredContentSize());

    centre();
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void SettingsWindowManager::createWindow()
{
    // Title, close and minimise buttons; no maximise button, and a fixed size below, so the user
    // cannot resize it.
    const Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                  Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint;
    m_window = std::make_unique<QWidget>(nullptr, flags);
    m_window->setObjectName(QStringLiteral("settingsWindow"));
    m_window->setWindowTitle(QCoreApplication::translate("SettingsWindowManager", "设置"));
    // Closing only hides the window, and never counts towards quitting the application.
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The manager sizes the window; the layout only fills it.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    m_window->setFixedSize(m_lastContentSize);
    // Where the platform knows a window's frame before it is shown, the first centring uses it.
    m_window->winId();
}

void SettingsWindowManager::applyContentSize(const QSizeF& reported)
{
    if (!m_window)
        return;
    const QSize size = contentSize(reported);
    m_lastContentSize = size;
    if (m_window->size() == size && m_window->minimumSize() == size && m_window->maximumSize() == size)
        return;
    // The top-left corner stays, so a taller content grows the window downwards.
    const QPoint topLeft = m_window->geometry().topLeft();
    m_window->setFixedSize(size);
    if (m_window->geometry().topLeft() != topLeft)
        m_window->setGeometry(QRect(topLeft, size));
}

QScreen* SettingsWindowManager::targetScreen() const
{
    if (QScreen* underPointer = QGuiApplication::screenAt(QCursor::pos()))
        return underPointer;
    if (QScreen* own = m_window->screen())
        return own;
    return QGuiApplication::primaryScreen();
}

void SettingsWindowManager::centre()
{
    QScreen* screen = targetScreen();
    if (!screen)
        return;
    // Some window systems forget the frame while the window is hidden and learn it again only
    // after it is shown; until then, count on the frame it had last time.
    const QRect frame = m_window->frameGeometry();
    const QRect content = m_window->geometry();
    if (frame != content)
        m_frameMargins = QMargins(content.left() - frame.left(), content.top() - frame.top(),
                                  frame.right() - content.right(), frame.bottom() - content.bottom());
    const QSize frameSize = content.marginsAdded(m_frameMargins).size();
    // A window's position is that of its frame.
    m_window->move(centredOrigin(frameSize, screen->availableGeometry()));
}

#include "shell/SettingsWindowManager.h"

#include "state/AppState.h"
#include "ui/kit/AccessibleRole.h"
#include "ui/settings/SettingsView.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

// Far beyond any screen, but small enough that a runaway report cannot overflow an int.
constexpr double kLargestContentExtent = 16384;
// How long, at most, to wait for the window manager to frame a shown window.
constexpr int kSettleIntervalMs = 25;
constexpr int kSettleChecks = 40;

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
    m_view =
        new SettingsView(appState, tab, SettingsView::kLabelColumnWidth, SettingsView::kContentWidth, m_window.get());
    // The view lives inside the window this manager owns, so the manager outlives the signal.
    QObject::connect(m_view, &SettingsView::preferredContentSizeChanged, m_window.get(),
                     [this](const QSizeF& size) { applyContentSize(size); });
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
    AccessibleRole::set(*m_window, QAccessible::Window);
    // Closing only hides the window, and never counts towards quitting the application.
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The manager sizes the window; the layout only fills it.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    m_window->setFixedSize(m_lastContentSize);
    // A dialog-like window: Escape closes (hides) it.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_window.get());
    QObject::connect(escape, &QShortcut::activated, m_window.get(), &QWidget::close);
    m_settleTimer = new QTimer(m_window.get());
    m_settleTimer->setInterval(kSettleIntervalMs);
    QObject::connect(m_settleTimer, &QTimer::timeout, m_window.get(), [this] { settleCentre(); });
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
    m_centredIn = screen->availableGeometry();
    m_shownSize = content.size();
    m_window->move(centredOrigin(frameSize, m_centredIn));
    m_settleChecks = 0;
    m_settleTimer->start();
}

void SettingsWindowManager::settleCentre()
{
    // Window managers differ in whether a position given before mapping places the frame or the
    // client, and the frame's size is known only once it is drawn; correct for both by moving the
    // client by however far the real frame is off.
    const QRect frame = m_window->frameGeometry();
    const QRect content = m_window->geometry();
    const bool framed = frame != content;
    if (m_window->isVisible() && framed) {
        // Centred at the size it was shown at: a resize since then keeps its top edge.
        const QMargins margins(content.left() - frame.left(), content.top() - frame.top(),
                               frame.right() - content.right(), frame.bottom() - content.bottom());
        const QSize shownFrame = QRect(QPoint(), m_shownSize).marginsAdded(margins).size();
        const QPoint offset = centredOrigin(shownFrame, m_centredIn) - frame.topLeft();
        if (!offset.isNull())
            m_window->setGeometry(content.translated(offset));
        m_frameMargins = margins;
    }
    if (framed || !m_window->isVisible() || ++m_settleChecks >= kSettleChecks)
        m_settleTimer->stop();
}

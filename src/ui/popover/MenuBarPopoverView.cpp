#include "ui/popover/MenuBarPopoverView.h"

#include "state/AppState.h"
#include "ui/kit/AccessibleRole.h"
#include "ui/kit/GlyphButton.h"
#include "ui/kit/GlyphView.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PlainLabel.h"
#include "ui/kit/Typography.h"
#include "ui/popover/AddTokenSheet.h"
#include "ui/popover/MenuWatchlistRowView.h"
#include "ui/popover/PriceAlertNoticesView.h"
#include "ui/popover/RefreshErrorBannerView.h"
#include "ui/popover/WatchlistNavigation.h"

#include <QAction>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QStyleOptionMenuItem>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

using Typography::Design;
using Typography::Weight;

constexpr QSize kGlyphButtonFrame{34, 34};
// The platform's menu text size.
constexpr qreal kMenuPointSize = 13;
constexpr int kHeaderPaddingX = 16;
constexpr int kHeaderPaddingTop = 12;
constexpr int kHeaderPaddingBottom = 8;
constexpr int kHeaderSpacing = 8;
constexpr int kBannerPaddingX = 12;
constexpr int kBannerPaddingTop = 4;
constexpr int kListPaddingX = 12;
constexpr int kListTopWithBanner = 8;
constexpr int kListTopWithoutBanner = 4;
constexpr int kRowSpacing = 2;
constexpr int kEmptyStatePaddingY = 48;
constexpr int kEmptyStateSpacing = 10;
constexpr int kBrandPaddingTop = 22;
constexpr int kBrandPaddingBottom = 18;

QColor background()
{
    return Palette::rgb(0.965, 0.965, 0.955);
}

QColor iconGrey()
{
    return Palette::black(0.68);
}

// Both header buttons are built alike: a glyph in icon grey in a 34 × 34 frame that is all hit area.
GlyphButton* makeGlyphButton(Glyphs::Glyph glyph, qreal pointSize, Weight weight, const QString& name, QWidget* parent)
{
    auto* button = new GlyphButton(glyph, pointSize, weight, iconGrey(), kGlyphButtonFrame, parent);
    button->setObjectName(name);
    return button;
}

// The scroll area's content: never shorter than the popover minus kScrollContentInset, so the
// brand mark below the flexible space sits at the bottom of a short list.
class ScrollContent final : public QWidget {
public:
    using QWidget::QWidget;

    void setMinimumContentHeight(int height)
    {
        if (height == m_minimumHeight) {
            return;
        }
        m_minimumHeight = height;
        updateGeometry();
    }
    QSize minimumSizeHint() const override
    {
        QSize size = QWidget::minimumSizeHint();
        size.setHeight(std::max(size.height(), m_minimumHeight));
        return size;
    }
    QSize sizeHint() const override
    {
        QSize size = QWidget::sizeHint();
        size.setHeight(std::max(size.height(), m_minimumHeight));
        return size;
    }

private:
    int m_minimumHeight = 0;
};

// "Zentrow" engraved into the background: a light copy below, a dark copy above, the text between.
class FooterBrand final : public QWidget {
public:
    static constexpr qreal kShift = 0.6;
    static constexpr qreal kOpacity = 0.92;

    FooterBrand(const QString& text, QWidget* parent)
        : QWidget(parent)
        , m_text(text)
        , m_font(Typography::font(12, Weight::Semibold, Design::Rounded))
    {
        setAccessibleName(text);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    const QString& text() const { return m_text; }

    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(m_font);
        return {int(std::ceil(metrics.horizontalAdvance(m_text))), int(std::ceil(metrics.height()))};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setOpacity(kOpacity);
        painter.setFont(m_font);
        const QRectF box(rect());
        const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip;
        painter.setPen(Palette::white(0.7));
        painter.drawText(box.translated(0, kShift), flags, m_text);
        painter.setPen(Palette::black(0.12));
        painter.drawText(box.translated(0, -kShift), flags, m_text);
        painter.setPen(Palette::black(0.1));
        painter.drawText(box, flags, m_text);
    }

private:
    QString m_text;
    QFont m_font;
};

// A menu whose destructive items show in the warning colour.
class RowContextMenu final : public QMenu {
public:
    static constexpr const char* kDestructive = "zentrowDestructive";

    using QMenu::QMenu;

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override
    {
        QMenu::initStyleOption(option, action);
        if (action && action->property(kDestructive).toBool()) {
            for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
                option->palette.setColor(role, Palette::red());
            }
        }
    }
};

} // namespace

MenuBarPopoverView::MenuBarPopoverView(AppState& appState, QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
{
    setObjectName(QStringLiteral("menuBarPopoverView"));
    // Focused in code when the popover opens, and then hands the focus to the list: not a stop
    // of its own for the keyboard or a screen reader.
    setFocusPolicy(Qt::NoFocus);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    m_watchlistScreen = new QWidget(this);
    m_watchlistScreen->setObjectName(QStringLiteral("watchlistScreen"));
    auto* screen = new QVBoxLayout(m_watchlistScreen);
    screen->setContentsMargins(0, 0, 0, 0);
    screen->setSpacing(0);
    screen->addWidget(buildHeader());

    m_bannerContainer = new QWidget(m_watchlistScreen);
    m_bannerContainer->setObjectName(QStringLiteral("bannerContainer"));
    auto* bannerPadding = new QVBoxLayout(m_bannerContainer);
    bannerPadding->setContentsMargins(kBannerPaddingX, kBannerPaddingTop, kBannerPaddingX, 0);
    bannerPadding->setSpacing(0);
    m_bannerContainer->hide();
    screen->addWidget(m_bannerContainer);
    m_alertNotices = new PriceAlertNoticesView(m_appState, m_watchlistScreen);
    screen->addWidget(m_alertNotices);

    m_scroll = new QScrollArea(m_watchlistScreen);
    m_scroll->setObjectName(QStringLiteral("watchlistScrollArea"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    // The keyboard moves through the rows, which scroll themselves into view.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scrollContent = new ScrollContent;
    m_scrollContent->setObjectName(QStringLiteral("watchlistContent"));
    auto* content = new QVBoxLayout(m_scrollContent);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(0);

    auto* body = new QWidget(m_scrollContent);
    body->setObjectName(QStringLiteral("watchlistBody"));
    m_bodyLayout = new QVBoxLayout(body);
    m_bodyLayout->setContentsMargins(kListPaddingX, kListTopWithoutBanner, kListPaddingX, 0);
    m_bodyLayout->setSpacing(0);
    m_emptyState = buildEmptyState();
    m_emptyState->setParent(body);
    // Shown only while the list is empty: measuring its texts would load CJK faces.
    m_emptyState->hide();
    m_bodyLayout->addWidget(m_emptyState);
    m_rowsContainer = new QWidget(body);
    m_rowsContainer->setObjectName(QStringLiteral("watchlistRows"));
    AccessibleRole::set(*m_rowsContainer, QAccessible::List);
    m_rowsContainer->setAccessibleName(tr("自选"));
    m_rowsLayout = new QVBoxLayout(m_rowsContainer);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(kRowSpacing);
    m_rowsContainer->hide();
    m_bodyLayout->addWidget(m_rowsContainer);
    content->addWidget(body);
    content->addStretch(1);
    content->addSpacing(kBrandPaddingTop);
    auto* brand = new FooterBrand(tr("Zentrow"), m_scrollContent);
    brand->setObjectName(QStringLiteral("footerBrand"));
    content->addWidget(brand);
    content->addSpacing(kBrandPaddingBottom);
    // Never taller than its content or the minimum: a short list leaves the bottom of the
    // viewport free rather than stretching.
    m_scrollContent->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_scroll->setWidget(m_scrollContent);
    m_scrollContent->setAutoFillBackground(false);
    screen->addWidget(m_scroll, 1);
    root->addWidget(m_watchlistScreen);

    buildMenus();
    m_navigation = new WatchlistNavigation(m_appState, *this, *m_rowsContainer,
                                           {m_addButton, m_moreButton, m_bannerContainer, m_alertNotices});
    connect(&m_appState, &AppState::isSearchPresentedChanged, this, &MenuBarPopoverView::scheduleRender);
    connect(&m_appState, &AppState::refreshErrorBannerChanged, this, &MenuBarPopoverView::scheduleRender);
    const WatchlistModel& model = m_appState.watchlistModel();
    connect(&model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { insertRows(first, last); });
    connect(&model, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { removeRows(first, last); });
    connect(&model, &QAbstractItemModel::rowsMoved, this,
            [this](const QModelIndex&, int first, int last, const QModelIndex&, int destination) {
                moveRows(first, last, destination);
            });
    connect(&model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
                updateRows(topLeft.row(), bottomRight.row(), roles);
            });
    connect(&model, &QAbstractItemModel::modelReset, this, &MenuBarPopoverView::resetRows);
    connect(&model, &QAbstractItemModel::layoutChanged, this, &MenuBarPopoverView::resetRows);
    connect(&m_appState, &AppState::preferencesChanged, this, [this](const AppPreferences& preferences) {
        for (MenuWatchlistRowView* row : std::as_const(m_rowOrder)) {
            row->setShowsDebugFrames(preferences.showsLayoutDebugOutlines);
        }
    });
    resetRows();

    // Which screen shows is decided now, so the first paint is right; the rest is read when the
    // view comes on screen.
    const bool presenting = m_appState.isSearchPresented();
    m_watchlistScreen->setVisible(!presenting);
    if (presenting) {
        addTokenSheet()->show();
    }
    setFocusProxy(presenting ? m_sheet->searchField() : nullptr);
}

MenuBarPopoverView::~MenuBarPopoverView() = default;

AddTokenSheet* MenuBarPopoverView::addTokenSheet()
{
    // Made when first asked for: until then no search texts are measured, so opening the
    // watchlist loads no CJK faces.
    if (!m_sheet) {
        m_sheet = new AddTokenSheet(m_appState, this);
        connect(m_sheet, &AddTokenSheet::backRequested, this, [this] { m_appState.setIsSearchPresented(false); });
        m_sheet->hide();
        layout()->addWidget(m_sheet);
    }
    return m_sheet;
}

QWidget* MenuBarPopoverView::buildHeader()
{
    auto* header = new QWidget(m_watchlistScreen);
    header->setObjectName(QStringLiteral("header"));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(kHeaderPaddingX, kHeaderPaddingTop, kHeaderPaddingX, kHeaderPaddingBottom);
    row->setSpacing(kHeaderSpacing);

    m_addButton = makeGlyphButton(Glyphs::Glyph::Plus, 17, Weight::Regular, QStringLiteral("addTokenButton"), header);
    m_addButton->setAccessibleName(tr("添加代币"));
    row->addWidget(m_addButton);
    row->addStretch(1);
    auto* title = new PlainLabel(tr("Zentrow"), Typography::font(14, Weight::Semibold), Palette::black(0.72),
                                 QStringLiteral("titleLabel"), header);
    row->addWidget(title);
    row->addStretch(1);
    m_moreButton =
        makeGlyphButton(Glyphs::Glyph::Ellipsis, 14, Weight::Semibold, QStringLiteral("moreMenuButton"), header);
    m_moreButton->setAccessibleName(tr("更多"));
    row->addWidget(m_moreButton);

    connect(m_addButton, &QAbstractButton::clicked, this, [this] { m_appState.setIsSearchPresented(true); });
    return header;
}

QWidget* MenuBarPopoverView::buildEmptyState()
{
    auto* empty = new QWidget;
    empty->setObjectName(QStringLiteral("emptyState"));
    auto* column = new QVBoxLayout(empty);
    column->setContentsMargins(0, kEmptyStatePaddingY, 0, kEmptyStatePaddingY);
    column->setSpacing(kEmptyStateSpacing);
    auto* icon = new GlyphView(Glyphs::Glyph::BitcoinsignCircle, 38, Weight::Regular, Palette::secondary(), empty);
    icon->setObjectName(QStringLiteral("emptyStateIcon"));
    column->addWidget(icon, 0, Qt::AlignHCenter);
    column->addWidget(new PlainLabel(tr("还没有添加代币"), Typography::font(18, Weight::Bold), Palette::black(0.75),
                                     QStringLiteral("emptyStateTitle"), empty),
                      0, Qt::AlignHCenter);
    column->addWidget(new PlainLabel(tr("点击左上角按钮开始添加。"), Typography::font(14), Palette::secondary(),
                                     QStringLiteral("emptyStateSubtitle"), empty),
                      0, Qt::AlignHCenter);
    return empty;
}

void MenuBarPopoverView::buildMenus()
{
    m_moreMenu = new QMenu(this);
    m_moreMenu->setObjectName(QStringLiteral("moreMenu"));
    QAction* settings = m_moreMenu->addAction(tr("设置"));
    settings->setObjectName(QStringLiteral("settingsAction"));
    m_moreMenu->addSeparator();
    QAction* quit = m_moreMenu->addAction(tr("退出"));
    quit->setObjectName(QStringLiteral("quitAction"));
    // The shell answers both; the view neither closes the popover nor opens a window itself.
    connect(settings, &QAction::triggered, this, &MenuBarPopoverView::settingsRequested);
    connect(quit, &QAction::triggered, this, &MenuBarPopoverView::quitRequested);
    connect(m_moreButton, &QAbstractButton::clicked, this, [this] {
        // A pull-down: hangs from the button, right edges aligned since the button is at the right.
        const QPoint below = m_moreButton->mapToGlobal(QPoint(m_moreButton->width(), m_moreButton->height()));
        m_moreMenu->popup(below - QPoint(m_moreMenu->sizeHint().width(), 0));
    });

    m_rowMenu = new RowContextMenu(this);
    m_rowMenu->setObjectName(QStringLiteral("rowContextMenu"));
    // Menus are windows of their own and take no font from the view: give them the UI family.
    m_moreMenu->setFont(Typography::font(kMenuPointSize));
    m_rowMenu->setFont(Typography::font(kMenuPointSize));
    m_pinAction = m_rowMenu->addAction(tr("在状态栏显示"));
    m_pinAction->setObjectName(QStringLiteral("pinToMenuBarAction"));
    m_moveToTopAction = m_rowMenu->addAction(tr("置顶"));
    m_moveToTopAction->setObjectName(QStringLiteral("moveToTopAction"));
    m_removeAction = m_rowMenu->addAction(tr("Remove"));
    m_removeAction->setObjectName(QStringLiteral("removeTokenAction"));
    m_removeAction->setProperty(RowContextMenu::kDestructive, true);
    connect(m_pinAction, &QAction::triggered, this, [this] {
        if (m_menuTokenID) {
            m_appState.pinToMenuBar(*m_menuTokenID);
        }
    });
    connect(m_moveToTopAction, &QAction::triggered, this, [this] {
        if (m_menuTokenID) {
            m_appState.moveTokenToTop(*m_menuTokenID);
        }
    });
    connect(m_removeAction, &QAction::triggered, this, [this] {
        if (m_menuTokenID) {
            m_appState.removeToken(*m_menuTokenID);
        }
    });
}

QSize MenuBarPopoverView::sizeHint() const
{
    return kHostedSize;
}

void MenuBarPopoverView::scheduleRender()
{
    // Changes often come several in a row: read everything once, on the next pass of the event loop.
    if (m_renderPending) {
        return;
    }
    m_renderPending = true;
    QMetaObject::invokeMethod(this, &MenuBarPopoverView::render, Qt::QueuedConnection);
}

void MenuBarPopoverView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    render();
}

void MenuBarPopoverView::render()
{
    m_renderPending = false;
    if (!isVisible()) {
        // A closed popover is brought up to date when it opens.
        return;
    }

    const bool presenting = m_appState.isSearchPresented();
    if (presenting) {
        m_rowMenu->close();
        m_moreMenu->close();
        m_watchlistScreen->hide();
        addTokenSheet()->show();
        setFocusProxy(m_sheet->searchField());
        return;
    }
    setFocusProxy(nullptr);
    const bool leavingSheet = m_sheet && m_sheet->isVisible();
    if (m_sheet) {
        m_sheet->hide();
    }
    m_watchlistScreen->show();
    renderBanner();
    // Back from the sheet, the keyboard carries on in the list (or on the view when it is empty).
    if (leavingSheet && !m_navigation->focusList(Qt::OtherFocusReason)) {
        setFocus(Qt::OtherFocusReason);
    }
}

bool MenuBarPopoverView::focusNextPrevChild(bool next)
{
    if (m_watchlistScreen->isVisible() && m_navigation->focusNext(next)) {
        return true;
    }
    return QWidget::focusNextPrevChild(next);
}

void MenuBarPopoverView::renderBanner()
{
    const auto& banner = m_appState.refreshErrorBanner();
    if (!banner) {
        m_bannerContainer->hide();
        m_bodyLayout->setContentsMargins(kListPaddingX, kListTopWithoutBanner, kListPaddingX, 0);
        return;
    }
    if (!m_banner) {
        // Made with the first error: its text view is heavy, and most sessions never need it.
        m_banner = new RefreshErrorBannerView(m_bannerContainer);
        m_bannerContainer->layout()->addWidget(m_banner);
        connect(m_banner, &RefreshErrorBannerView::toggleRequested, this,
                [this] { m_appState.toggleRefreshErrorExpanded(); });
    }
    const bool appearing = m_bannerContainer->isHidden();
    m_banner->setBanner(*banner);
    m_banner->setExpanded(m_appState.isRefreshErrorExpanded(), !appearing);
    m_bannerContainer->show();
    m_bodyLayout->setContentsMargins(kListPaddingX, kListTopWithBanner, kListPaddingX, 0);
}

void MenuBarPopoverView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    static_cast<ScrollContent*>(m_scrollContent)->setMinimumContentHeight(std::max(0, height() - kScrollContentInset));
}

void MenuBarPopoverView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), background());
}

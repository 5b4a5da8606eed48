#include "ui/settings/SettingsView.h"

#include "state/AppState.h"
#include "ui/kit/Palette.h"
#include "ui/kit/SegmentedControl.h"
#include "ui/kit/Typography.h"
#include "ui/settings/PriceAlertSettingsSection.h"
#include "ui/settings/SettingsStepper.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>

using Typography::Weight;

namespace {

constexpr int kTabRowTop = 14;
constexpr int kTabRowSide = 16;
constexpr int kTabRowBottom = 10;

constexpr int kPaneSide = 22;
constexpr int kPaneTop = 18;
constexpr int kGeneralPaneBottom = 18;
constexpr int kAboutPaneBottom = 20;
constexpr int kAboutSpacing = 12;

constexpr int kGroupPadding = 14;
constexpr int kGroupSpacing = 18;
constexpr int kGroupContentSpacing = 8;
constexpr int kGroupTitleTop = 1;

constexpr int kStepperRowSpacing = 10;

// A checkbox row as tall as the platform's: the indicator and one line of control text, without
// the extra margin the widget style would add around text that falls back to a CJK face.
constexpr int kCheckBoxHeight = 18;

constexpr int kPreviewSpacing = 12;
constexpr int kPreviewTop = 2;

// Fixed light-appearance stand-ins for the platform's label, separator and disabled colours.
constexpr qreal kLabelOpacity = 0.85;
constexpr qreal kDisabledOpacity = 0.25;
// The platform's caption text style.
constexpr qreal kCaptionPointSize = 10;
// The platform's default control font.
constexpr qreal kControlPointSize = 13;

QColor separatorColor()
{
    return Palette::separator();
}

void setTextColor(QWidget& widget, const QColor& color)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget.setPalette(palette);
}

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, const QString& objectName,
                  QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    setTextColor(*label, color);
    return label;
}

// A wrapping label takes every line it needs: its height follows its width.
QLabel* makeWrappingLabel(const QString& text, const QFont& font, const QColor& color, const QString& objectName,
                          QWidget* parent)
{
    QLabel* label = makeLabel(text, font, color, objectName, parent);
    label->setWordWrap(true);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    label->setSizePolicy(policy);
    return label;
}

// The seconds the refresh loop waits for a stored interval, as a number of seconds.
double loopInterval(double refreshInterval)
{
    return std::chrono::duration<double>(AppState::refreshWait(refreshInterval)).count();
}

int wholeSeconds(double interval)
{
    return int(std::trunc(interval));
}

// A one-point horizontal line across its whole width.
class DividerLine : public QWidget {
public:
    explicit DividerLine(QWidget* parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), separatorColor());
    }
};

} // namespace

// One titled group of the general pane: the title in a right-aligned label column, the controls
// beside it, and optionally a separator along the bottom edge that takes no room of its own.
class SettingsView::Group : public QWidget {
public:
    Group(bool showsDivider, QWidget* parent)
        : QWidget(parent)
        , m_showsDivider(showsDivider)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_showsDivider)
            return;
        QPainter painter(this);
        painter.fillRect(QRect(0, height() - 1, width(), 1), separatorColor());
    }

private:
    bool m_showsDivider;
};

SettingsView::SettingsView(AppState& appState, SettingsTab selectedTab, qreal labelColumnWidth, qreal contentWidth,
                           const SizeHandler& onPreferredContentSizeChange, QWidget* parent)
    : SettingsView(appState, selectedTab, labelColumnWidth, contentWidth, parent)
{
    if (onPreferredContentSizeChange) {
        // The first measurement is queued, so nothing is missed by connecting here.
        connect(this, &SettingsView::preferredContentSizeChanged, this, onPreferredContentSizeChange);
    }
}

SettingsView::SettingsView(AppState& appState, SettingsTab selectedTab, qreal labelColumnWidth, qreal contentWidth,
                           QWidget* parent)
    : QWidget(parent)
    , m_appState(&appState)
    , m_selectedTab(selectedTab)
    , m_labelColumnWidth(labelColumnWidth)
    , m_contentWidth(contentWidth)
{
    setObjectName(QStringLiteral("settingsView"));
    setTextColor(*this, Palette::black(kLabelOpacity));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Palette::windowBackground());
    palette.setColor(QPalette::Base, Palette::white());
    palette.setColor(QPalette::Highlight, Palette::blue());
    palette.setColor(QPalette::Disabled, QPalette::WindowText, Palette::black(kDisabledOpacity));
    palette.setColor(QPalette::Disabled, QPalette::Text, Palette::black(kDisabledOpacity));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, Palette::black(kDisabledOpacity));
    setPalette(palette);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->addWidget(makeTabRow());
    auto* divider = new DividerLine(this);
    divider->setObjectName(QStringLiteral("tabDivider"));
    stack->addWidget(divider);
    m_generalPane = makeGeneralPane();
    m_aboutPane = makeAboutPane();
    stack->addWidget(m_generalPane, 0, Qt::AlignHCenter);
    stack->addWidget(m_aboutPane, 0, Qt::AlignHCenter);
    // A window taller than the content keeps the content at its top, so the tabs stay put when
    // a shorter tab is shown in a window held at its minimum height.
    stack->addStretch(1);

    m_tabs->setCurrentIndex(int(m_selectedTab));
    m_generalPane->setVisible(m_selectedTab == SettingsTab::general);
    m_aboutPane->setVisible(m_selectedTab == SettingsTab::about);
    connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) {
        if (index >= 0 && index < int(SettingsTabs::kAll.size()))
            setSelectedTab(SettingsTabs::kAll.at(std::size_t(index)));
    });

    // The preview reads the preferences and the pinned token's figures. A burst of changes renders once.
    connect(&appState, &AppState::preferencesChanged, this, &SettingsView::scheduleRefresh);
    const WatchlistModel* rows = &appState.watchlistModel();
    connect(rows, &QAbstractItemModel::dataChanged, this, &SettingsView::scheduleRefresh);
    connect(rows, &QAbstractItemModel::rowsInserted, this, &SettingsView::scheduleRefresh);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &SettingsView::scheduleRefresh);
    connect(rows, &QAbstractItemModel::rowsMoved, this, &SettingsView::scheduleRefresh);
    connect(rows, &QAbstractItemModel::modelReset, this, &SettingsView::scheduleRefresh);
    refreshFromState();
    scheduleMeasure();
}

SettingsView::~SettingsView() = default;

QWidget* SettingsView::makeTabRow()
{
    auto* row = new QWidget(this);
    row->setObjectName(QStringLiteral("tabRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(kTabRowSide, kTabRowTop, kTabRowSide, kTabRowBottom);
    m_tabs = new SegmentedControl(row);
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    for (const SettingsTab tab : SettingsTabs::kAll) {
        m_tabs->addTab(SettingsTabs::title(tab));
    }
    layout->addStretch(1);
    layout->addWidget(m_tabs);
    layout->addStretch(1);
    return row;
}

QWidget* SettingsView::makeGroup(const QString& title, bool showsDivider, const QList<QWidget*>& content,
                                 const QString& objectName)
{
    auto* group = new Group(showsDivider, this);
    group->setObjectName(objectName);
    auto* row = new QHBoxLayout(group);
    row->setContentsMargins(0, kGroupPadding, 0, kGroupPadding);
    row->setSpacing(kGroupSpacing);

    QLabel* titleLabel = makeLabel(title, Typography::font(14, Weight::Semibold), Palette::black(0.8),
                                   objectName + QStringLiteral("Title"), group);
    titleLabel->setFixedWidth(qRound(m_labelColumnWidth));
    titleLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    titleLabel->setContentsMargins(0, kGroupTitleTop, 0, 0);
    row->addWidget(titleLabel, 0, Qt::AlignTop);

    auto* column = new QWidget(group);
    column->setObjectName(objectName + QStringLiteral("Content"));
    column->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(kGroupContentSpacing);
    for (QWidget* item : content) {
        item->setParent(column);
        // Wrapping text takes the whole column; everything else keeps its own width at the left.
        const bool wraps = item->sizePolicy().hasHeightForWidth();
        columnLayout->addWidget(item, 0, wraps ? Qt::Alignment() : Qt::AlignLeft);
    }
    row->addWidget(column, 1, Qt::AlignTop);
    return group;
}

QCheckBox* SettingsView::makeCheckBox(const QString& text, const QString& objectName)
{
    auto* box = new QCheckBox(text, this);
    box->setObjectName(objectName);
    box->setFont(Typography::font(kControlPointSize));
    box->setFixedHeight(kCheckBoxHeight);
    return box;
}

QWidget* SettingsView::makeGeneralPane()
{
    auto* pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("generalPane"));
    pane->setFixedWidth(qRound(m_contentWidth) + 2 * kPaneSide);
    auto* stack = new QVBoxLayout(pane);
    stack->setContentsMargins(kPaneSide, kPaneTop, kPaneSide, kGeneralPaneBottom);
    stack->setSpacing(0);

    auto* stepperRow = new QWidget(this);
    stepperRow->setObjectName(QStringLiteral("refreshRow"));
    auto* stepperLayout = new QHBoxLayout(stepperRow);
    stepperLayout->setContentsMargins(0, 0, 0, 0);
    stepperLayout->setSpacing(kStepperRowSpacing);
    m_stepper = new SettingsStepper(stepperRow);
    m_stepper->setRange(kMinimumInterval, kMaximumInterval, kIntervalStep);
    connect(m_stepper, &SettingsStepper::stepped, this, &SettingsView::stepInterval);
    m_stepper->setObjectName(QStringLiteral("refreshStepper"));
    m_intervalLabel = makeLabel(QString(), Typography::font(13), Palette::black(0.78),
                                QStringLiteral("refreshIntervalLabel"), stepperRow);
    stepperLayout->addWidget(m_stepper, 0, Qt::AlignVCenter);
    stepperLayout->addWidget(m_intervalLabel, 0, Qt::AlignVCenter);
    stack->addWidget(makeGroup(tr("刷新"), true, {stepperRow}, QStringLiteral("refreshGroup")));

    m_symbolBox = makeCheckBox(tr("显示 Symbol"), QStringLiteral("showsMenuBarSymbolCheckBox"));
    connect(m_symbolBox, &QCheckBox::clicked, this, [this](bool on) {
        if (m_appState)
            m_appState->setShowsMenuBarSymbol(on);
    });
    // The price is always part of the status text.
    m_priceBox = makeCheckBox(tr("显示价格"), QStringLiteral("showsMenuBarPriceCheckBox"));
    m_priceBox->setChecked(true);
    m_priceBox->setEnabled(false);
    m_changeBox = makeCheckBox(tr("显示涨跌幅"), QStringLiteral("showsMenuBarChangeCheckBox"));
    connect(m_changeBox, &QCheckBox::clicked, this, [this](bool on) {
        if (m_appState)
            m_appState->setShowsMenuBarChange(on);
    });

    auto* preview = new QWidget(this);
    preview->setObjectName(QStringLiteral("previewRow"));
    auto* previewLayout = new QHBoxLayout(preview);
    previewLayout->setContentsMargins(0, kPreviewTop, 0, 0);
    previewLayout->setSpacing(kPreviewSpacing);
    previewLayout->addWidget(
        makeLabel(tr("预览"), Typography::font(12), Palette::secondary(), QStringLiteral("previewTitle"), preview), 0,
        Qt::AlignVCenter);
    m_previewText = makeLabel(QString(), Typography::font(14, Weight::Semibold, Typography::Design::Rounded),
                              Palette::black(0.78), QStringLiteral("previewText"), preview);
    previewLayout->addWidget(m_previewText, 0, Qt::AlignVCenter);
    stack->addWidget(makeGroup(tr("状态栏显示"), true, {m_symbolBox, m_priceBox, m_changeBox, preview},
                               QStringLiteral("menuBarGroup")));

    auto* alerts = new PriceAlertSettingsSection(*m_appState, this);
    stack->addWidget(makeGroup(tr("价格提醒"), true, {alerts}, QStringLiteral("priceAlertsGroup")));
    stack->addWidget(makeLaunchAtLoginGroup());

    m_outlinesBox = makeCheckBox(tr("显示布局调试边框"), QStringLiteral("showsLayoutDebugOutlinesCheckBox"));
    connect(m_outlinesBox, &QCheckBox::clicked, this, [this](bool on) {
        if (m_appState)
            m_appState->setShowsLayoutDebugOutlines(on);
    });
    QLabel* note = makeWrappingLabel(tr("在主界面中显示币种信息、迷你走势和价格区域的临时轮廓。"),
                                     Typography::font(kCaptionPointSize), Palette::secondary(),
                                     QStringLiteral("debugOutlinesNote"), this);
    stack->addWidget(makeGroup(tr("调试"), false, {m_outlinesBox, note}, QStringLiteral("debugGroup")));
    return pane;
}

QWidget* SettingsView::makeLaunchAtLoginGroup()
{
    m_launchAtLoginBox = makeCheckBox(tr("登录时启动"), QStringLiteral("launchesAtLoginCheckBox"));
    m_launchAtLoginBox->setChecked(m_autostart.isEnabled());
    connect(m_launchAtLoginBox, &QCheckBox::clicked, this, &SettingsView::setLaunchesAtLogin);
    m_launchAtLoginMessage = makeWrappingLabel(QString(), Typography::font(kCaptionPointSize), Palette::red(),
                                               QStringLiteral("launchesAtLoginMessage"), this);
    m_launchAtLoginMessage->hide();
    return makeGroup(tr("启动"), true, {m_launchAtLoginBox, m_launchAtLoginMessage},
                     QStringLiteral("launchAtLoginGroup"));
}

void SettingsView::setLaunchesAtLogin(bool on)
{
    QString problem;
    if (!m_autostart.setEnabled(on, &problem)) {
        // The box shows what the session will really do at the next login.
        m_launchAtLoginBox->setChecked(m_autostart.isEnabled());
        m_launchAtLoginMessage->setText(problem);
        m_launchAtLoginMessage->show();
        return;
    }
    m_launchAtLoginMessage->hide();
    if (m_appState)
        m_appState->setLaunchesAtLogin(on);
}

QWidget* SettingsView::makeAboutPane()
{
    auto* pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("aboutPane"));
    pane->setFixedWidth(qRound(m_contentWidth) + 2 * kPaneSide);
    auto* stack = new QVBoxLayout(pane);
    stack->setContentsMargins(kPaneSide, kPaneTop, kPaneSide, kAboutPaneBottom);
    stack->setSpacing(kAboutSpacing);
    stack->addWidget(makeLabel(tr("Zentrow"), Typography::font(18, Weight::Semibold), Palette::black(kLabelOpacity),
                               QStringLiteral("aboutName"), pane));
    stack->addWidget(makeLabel(tr("一个原生 Linux 状态栏盯盘工具。"), Typography::font(13), Palette::secondary(),
                               QStringLiteral("aboutSummary"), pane));
    stack->addWidget(makeWrappingLabel(
        tr("当前版本使用 Binance Spot USDT 交易对作为价格来源，并通过 zentrow-backend 缓存下发数据。"),
        Typography::font(13), Palette::secondary(), QStringLiteral("aboutDataSource"), pane));
    return pane;
}

void SettingsView::setSelectedTab(SettingsTab tab)
{
    if (tab == m_selectedTab)
        return;
    m_selectedTab = tab;
    m_tabs->setCurrentIndex(int(tab));
    m_generalPane->setVisible(tab == SettingsTab::general);
    m_aboutPane->setVisible(tab == SettingsTab::about);
    scheduleMeasure();
}

double SettingsView::displayedInterval(double refreshInterval)
{
    // Not-a-number waits the loop's fallback; everything else shows as stored, held to the range.
    const double shown = std::isnan(refreshInterval) ? loopInterval(refreshInterval) : refreshInterval;
    return std::clamp(shown, kMinimumInterval, kMaximumInterval);
}

void SettingsView::stepInterval(int direction)
{
    if (!m_appState)
        return;
    const double current = displayedInterval(m_appState->preferences().refreshInterval);
    const double next = std::clamp(current + direction * kIntervalStep, kMinimumInterval, kMaximumInterval);
    // A press at a bound changes nothing, so nothing is written.
    if (next == current)
        return;
    m_appState->setRefreshInterval(next);
}

void SettingsView::scheduleRefresh()
{
    if (m_refreshScheduled)
        return;
    m_refreshScheduled = true;
    QTimer::singleShot(0, this, &SettingsView::refreshFromState);
}

void SettingsView::refreshFromState()
{
    m_refreshScheduled = false;
    if (!m_appState)
        return;
    const AppPreferences& preferences = m_appState->preferences();
    const double interval = displayedInterval(preferences.refreshInterval);
    const int seconds = wholeSeconds(interval);
    m_intervalLabel->setText(tr("%1 秒刷新一次").arg(seconds));
    // Renamed only when the interval changes: every change of the state lands here, each price
    // refresh included, and a screen reader hears every rename.
    if (const QString name = tr("%1 秒").arg(seconds); name != m_stepper->accessibleName())
        m_stepper->setAccessibleName(name);
    m_stepper->setValue(interval);
    m_symbolBox->setChecked(preferences.showsMenuBarSymbol);
    m_changeBox->setChecked(preferences.showsMenuBarChange);
    m_outlinesBox->setChecked(preferences.showsLayoutDebugOutlines);
    m_previewText->setText(m_appState->menuBarDisplayText());
}

QSizeF SettingsView::preferredContentSize() const
{
    QLayout* stack = layout();
    const QSize hint = stack->totalSizeHint();
    const int height = stack->hasHeightForWidth() ? stack->totalHeightForWidth(hint.width()) : hint.height();
    return QSizeF(hint.width(), height);
}

void SettingsView::scheduleMeasure()
{
    if (m_measureScheduled)
        return;
    m_measureScheduled = true;
    QTimer::singleShot(0, this, &SettingsView::measure);
}

void SettingsView::measure()
{
    m_measureScheduled = false;
    const QSizeF size = preferredContentSize();
    if (size == m_measuredSize)
        return;
    m_measuredSize = size;
    if (size.width() > 0 && size.height() > 0)
        Q_EMIT preferredContentSizeChanged(size);
}

bool SettingsView::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // Any change of the content's layout (a tab switch, a new text, a new font) may change the size.
    if (event->type() == QEvent::LayoutRequest)
        scheduleMeasure();
    return handled;
}

void SettingsView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::windowBackground());
}

#include "ui/settings/SettingsView.h"

#include "state/AppState.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Palette.h"
#include "ui/kit/Shapes.h"
#include "ui/kit/Typography.h"

#include <QAccessibleWidget>
#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <cmath>

using Typography::Weight;

namespace {

constexpr int kTabRowTop = 14;
constexpr int kTabRowSide = 16;
constexpr int kTabRowBottom = 10;
constexpr QSize kSegmentedSize{180, 24};
constexpr qreal kSegmentedRadius = 6;
constexpr qreal kSegmentInset = 2;

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
// Two arrows side by side, each at least 22 points wide and as tall as a control row.
constexpr QSize kStepperSize{48, 24};
constexpr qreal kStepperRadius = 6;
constexpr qreal kStepperChevronSize = 9;
constexpr int kRepeatDelayMs = 400;
constexpr int kRepeatIntervalMs = 90;

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

// Two or more segments side by side in a rounded track; the selected one is a raised white pill.
// A tab bar underneath, for its keyboard handling and accessibility.
class SettingsView::SegmentedControl : public QTabBar {
public:
    explicit SegmentedControl(QWidget* parent)
        : QTabBar(parent)
    {
        setDrawBase(false);
        setExpanding(false);
        setUsesScrollButtons(false);
        setElideMode(Qt::ElideNone);
        setFont(Typography::font(kControlPointSize));
        setFixedSize(kSegmentedSize);
        setFocusPolicy(Qt::TabFocus);
    }

protected:
    QSize tabSizeHint(int) const override
    {
        return {kSegmentedSize.width() / std::max(count(), 1), kSegmentedSize.height()};
    }
    QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const QPainterPath trackPath = Shapes::continuousRoundedRect(track, kSegmentedRadius);
        painter.fillPath(trackPath, Palette::black(0.06));
        painter.strokePath(trackPath, QPen(Palette::black(0.06), 1));

        const int current = currentIndex();
        if (current >= 0) {
            const QRectF pill =
                QRectF(tabRect(current)).adjusted(kSegmentInset, kSegmentInset, -kSegmentInset, -kSegmentInset);
            const qreal radius = kSegmentedRadius - kSegmentInset / 2;
            // A soft shadow one point below the pill lifts it off the track.
            painter.fillPath(Shapes::continuousRoundedRect(pill.translated(0, 0.5), radius), Palette::black(0.12));
            painter.fillPath(Shapes::continuousRoundedRect(pill, radius), Palette::white());
        }
        // The ring marks keyboard focus only, not the focus the window hands out when it opens.
        if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
            painter.strokePath(Shapes::continuousRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), kSegmentedRadius),
                               QPen(Palette::blue(0.5), 2));
        }

        painter.setFont(font());
        painter.setPen(Palette::black(kLabelOpacity));
        for (int index = 0; index < count(); ++index) {
            painter.drawText(tabRect(index), Qt::AlignCenter, tabText(index));
        }
    }
};

// Two arrow buttons side by side in one rounded box, as a stepper without a text field: the left
// half steps down, the right half up, each a target of full row height; holding a half repeats.
// Up and Down keys and the mouse wheel step too. The arrow towards a reached bound fades.
class SettingsView::Stepper : public QWidget {
public:
    explicit Stepper(std::function<void(int)> onStep, QWidget* parent)
        : QWidget(parent)
        , m_onStep(std::move(onStep))
        , m_repeat(new QTimer(this))
    {
        setFixedSize(kStepperSize);
        setFocusPolicy(Qt::TabFocus);
        static const bool accessible = (QAccessible::installFactory(&Accessible::create), true);
        Q_UNUSED(accessible);
        connect(m_repeat, &QTimer::timeout, this, [this] {
            m_repeat->setInterval(kRepeatIntervalMs);
            step(m_pressed);
        });
    }

    // The interval shown; the arrow towards a reached bound fades.
    void setValue(double value)
    {
        if (value == m_value)
            return;
        m_value = value;
        update();
        QAccessibleValueChangeEvent event(this, value);
        QAccessible::updateAccessibility(&event);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) {
            QWidget::mousePressEvent(event);
            return;
        }
        m_pressed = event->position().x() < width() / 2.0 ? -1 : 1;
        update();
        m_repeat->start(kRepeatDelayMs);
        step(m_pressed);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) {
            QWidget::mouseReleaseEvent(event);
            return;
        }
        m_repeat->stop();
        m_pressed = 0;
        update();
    }

    // A press whose release never arrives (the window went away under it) must not keep stepping.
    void hideEvent(QHideEvent* event) override
    {
        m_repeat->stop();
        m_pressed = 0;
        QWidget::hideEvent(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Up) {
            step(1);
        } else if (event->key() == Qt::Key_Down) {
            step(-1);
        } else {
            QWidget::keyPressEvent(event);
        }
    }

    // One step per notch; a touchpad's small deltas add up to notches.
    void wheelEvent(QWheelEvent* event) override
    {
        m_wheelDelta += event->angleDelta().y();
        while (std::abs(m_wheelDelta) >= QWheelEvent::DefaultDeltasPerStep) {
            const int direction = m_wheelDelta > 0 ? 1 : -1;
            m_wheelDelta -= direction * QWheelEvent::DefaultDeltasPerStep;
            step(direction);
        }
        event->accept();
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const QPainterPath boxPath = Shapes::continuousRoundedRect(box, kStepperRadius);
        painter.fillPath(boxPath, Palette::white());
        const QRectF lower(box.left(), box.top(), box.width() / 2, box.height());
        const QRectF upper(box.center().x(), box.top(), box.width() / 2, box.height());
        if (m_pressed != 0) {
            QPainterPath clip;
            clip.addRect(m_pressed > 0 ? upper : lower);
            painter.fillPath(boxPath.intersected(clip), Palette::black(0.1));
        }
        const bool keyboardFocus = hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange);
        painter.strokePath(boxPath, QPen(keyboardFocus ? Palette::blue(0.6) : Palette::black(0.18), 1));
        painter.fillRect(QRectF(box.center().x() - 0.25, box.top() + 3, 0.5, box.height() - 6), separatorColor());

        Glyphs::paint(painter, lower, Glyphs::Glyph::ChevronDown, kStepperChevronSize, Weight::Bold,
                      Palette::black(m_value <= kMinimumInterval ? kDisabledOpacity : 0.7));
        Glyphs::paint(painter, upper, Glyphs::Glyph::ChevronUp, kStepperChevronSize, Weight::Bold,
                      Palette::black(m_value >= kMaximumInterval ? kDisabledOpacity : 0.7));
    }

private:
    void step(int direction)
    {
        if (direction != 0 && m_onStep)
            m_onStep(direction);
    }

    // A spin button to assistive technology: the value with its bounds and step, and Up and Down
    // as actions. Its name (the interval in words) is the widget's own.
    class Accessible final : public QAccessibleWidget, public QAccessibleValueInterface {
    public:
        explicit Accessible(Stepper* stepper)
            : QAccessibleWidget(stepper, QAccessible::SpinBox)
        {
        }

        static QAccessibleInterface* create(const QString&, QObject* object)
        {
            auto* stepper = dynamic_cast<Stepper*>(object);
            return stepper ? new Accessible(stepper) : nullptr;
        }

        void* interface_cast(QAccessible::InterfaceType type) override
        {
            if (type == QAccessible::ValueInterface)
                return static_cast<QAccessibleValueInterface*>(this);
            return QAccessibleWidget::interface_cast(type);
        }

        QVariant currentValue() const override { return stepper()->m_value; }
        QVariant minimumValue() const override { return kMinimumInterval; }
        QVariant maximumValue() const override { return kMaximumInterval; }
        QVariant minimumStepSize() const override { return kIntervalStep; }
        // As many steps as it takes; the view clamps at the bounds.
        void setCurrentValue(const QVariant& value) override
        {
            const double steps = std::round((value.toDouble() - stepper()->m_value) / kIntervalStep);
            for (int i = 0; i < int(std::min(std::abs(steps), kMaximumInterval / kIntervalStep)); ++i)
                stepper()->step(steps > 0 ? 1 : -1);
        }

        QStringList actionNames() const override { return {increaseAction(), decreaseAction(), setFocusAction()}; }
        void doAction(const QString& name) override
        {
            if (name == increaseAction())
                stepper()->step(1);
            else if (name == decreaseAction())
                stepper()->step(-1);
            else
                QAccessibleWidget::doAction(name);
        }

    private:
        Stepper* stepper() const { return static_cast<Stepper*>(widget()); }
    };

    std::function<void(int)> m_onStep;
    QTimer* m_repeat;
    int m_pressed = 0;
    int m_wheelDelta = 0;
    double m_value = 0;
};

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
                           SizeHandler onPreferredContentSizeChange, QWidget* parent)
    : QWidget(parent)
    , m_appState(&appState)
    , m_selectedTab(selectedTab)
    , m_onPreferredContentSizeChange(std::move(onPreferredContentSizeChange))
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

    // The change signal comes before the write; the queued render reads the written value, and a
    // burst of writes renders once.
    connect(&appState, &AppState::objectWillChange, this, &SettingsView::scheduleRefresh);
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
    m_stepper = new Stepper([this](int direction) { stepInterval(direction); }, stepperRow);
    m_stepper->setObjectName(QStringLiteral("refreshStepper"));
    m_intervalLabel = makeLabel(QString(), Typography::font(13), Palette::black(0.78),
                                QStringLiteral("refreshIntervalLabel"), stepperRow);
    stepperLayout->addWidget(m_stepper, 0, Qt::AlignVCenter);
    stepperLayout->addWidget(m_intervalLabel, 0, Qt::AlignVCenter);
    stack->addWidget(makeGroup(tr("刷新"), true, {stepperRow}, QStringLiteral("refreshGroup")));

    m_symbolBox = makeCheckBox(tr("显示 Symbol"), QStringLiteral("showsMenuBarSymbolCheckBox"));
    connect(m_symbolBox, &QCheckBox::clicked, this,
            [this](bool on) { writePreferences([on](AppPreferences& p) { p.showsMenuBarSymbol = on; }); });
    // The price is always part of the status text.
    m_priceBox = makeCheckBox(tr("显示价格"), QStringLiteral("showsMenuBarPriceCheckBox"));
    m_priceBox->setChecked(true);
    m_priceBox->setEnabled(false);
    m_changeBox = makeCheckBox(tr("显示涨跌幅"), QStringLiteral("showsMenuBarChangeCheckBox"));
    connect(m_changeBox, &QCheckBox::clicked, this,
            [this](bool on) { writePreferences([on](AppPreferences& p) { p.showsMenuBarChange = on; }); });

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

    stack->addWidget(makeLaunchAtLoginGroup());

    m_outlinesBox = makeCheckBox(tr("显示布局调试边框"), QStringLiteral("showsLayoutDebugOutlinesCheckBox"));
    connect(m_outlinesBox, &QCheckBox::clicked, this,
            [this](bool on) { writePreferences([on](AppPreferences& p) { p.showsLayoutDebugOutlines = on; }); });
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

void SettingsView::setAutostartEntry(const AutostartEntry& entry)
{
    m_autostart = entry;
    m_launchAtLoginBox->setChecked(m_autostart.isEnabled());
    m_launchAtLoginMessage->hide();
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
    writePreferences([on](AppPreferences& p) { p.launchesAtLogin = on; });
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
    writePreferences([next](AppPreferences& p) { p.refreshInterval = next; });
}

void SettingsView::writePreferences(const std::function<void(AppPreferences&)>& change)
{
    // Observers of the state run inside these calls; work on a local pointer so nothing here
    // depends on this view surviving them.
    AppState* state = m_appState;
    if (!state)
        return;
    AppPreferences preferences = state->preferences();
    const double before = preferences.refreshInterval;
    change(preferences);
    // An interval that is not a finite number cannot be written to the store, which would drop
    // this change silently; store the interval the loop already uses instead.
    if (!std::isfinite(preferences.refreshInterval))
        preferences.refreshInterval = loopInterval(preferences.refreshInterval);
    state->setPreferences(preferences);
    state->persist();
    // Only a different wait needs a new loop; a checkbox never restarts it.
    if (AppState::refreshWait(before) != AppState::refreshWait(state->preferences().refreshInterval))
        state->startRefreshLoop();
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
    if (size.width() > 0 && size.height() > 0 && m_onPreferredContentSizeChange)
        m_onPreferredContentSizeChange(size);
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

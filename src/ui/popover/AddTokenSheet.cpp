#include "ui/popover/AddTokenSheet.h"

#include "state/AppState.h"
#include "ui/kit/GlyphButton.h"
#include "ui/kit/GlyphView.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PlainLabel.h"
#include "ui/kit/RoundedWell.h"
#include "ui/kit/Shapes.h"
#include "ui/kit/Typography.h"
#include "ui/popover/SearchResultListView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMetaMethod>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <numbers>

namespace {

using Typography::Weight;

constexpr int kTopBarPaddingX = 18;
constexpr int kTopBarPaddingTop = 18;
constexpr int kTopBarPaddingBottom = 10;
constexpr int kTopBarSpacing = 10;
constexpr QSize kBackFrame{38, 38};
constexpr int kSearchBoxHeight = 42;
constexpr int kSearchBoxPaddingX = 14;
constexpr int kSearchBoxSpacing = 10;
constexpr qreal kSearchBoxRadius = 14;
constexpr int kMessageSpacing = 10;
constexpr int kSpinnerTop = 40;
// The primary label colour on the light background.
constexpr qreal kPrimaryOpacity = 0.85;

QColor background()
{
    return Palette::rgb(0.97, 0.97, 0.96);
}

// A circular indeterminate progress indicator: twelve spokes, the brightest one going round.
class Spinner final : public QWidget {
public:
    static constexpr int kSize = 32;
    static constexpr int kSpokes = 12;
    static constexpr int kStepMs = 83;

    explicit Spinner(QWidget* parent)
        : QWidget(parent)
        , m_timer(new QTimer(this))
    {
        setFixedSize(kSize, kSize);
        m_timer->setInterval(kStepMs);
        connect(m_timer, &QTimer::timeout, this, [this] {
            m_step = (m_step + 1) % kSpokes;
            update();
        });
    }

protected:
    void showEvent(QShowEvent* event) override
    {
        QWidget::showEvent(event);
        m_timer->start();
    }
    void hideEvent(QHideEvent* event) override
    {
        QWidget::hideEvent(event);
        m_timer->stop();
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        const qreal outer = kSize / 2.0 - 1.5;
        for (int i = 0; i < kSpokes; ++i) {
            const int age = (m_step - i + kSpokes) % kSpokes;
            QPen pen(Palette::black(0.55 * (1.0 - age / qreal(kSpokes)) + 0.1), 2.6, Qt::SolidLine, Qt::RoundCap);
            painter.setPen(pen);
            const qreal angle = 2 * std::numbers::pi * i / kSpokes;
            const QPointF direction(std::sin(angle), -std::cos(angle));
            painter.drawLine(direction * outer * 0.5, direction * outer);
        }
    }

private:
    QTimer* m_timer;
    int m_step = 0;
};

// A glyph, a bold title and a secondary line, centred between two flexible spaces.
QWidget* makeMessage(const QString& name, Glyphs::Glyph glyph, qreal glyphSize, const QString& title,
                     const QString& subtitle, QWidget* parent)
{
    auto* message = new QWidget(parent);
    message->setObjectName(name);
    auto* column = new QVBoxLayout(message);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(kMessageSpacing);
    column->addStretch(1);
    auto* icon = new GlyphView(glyph, glyphSize, Weight::Regular, Palette::secondary(), message);
    icon->setObjectName(name + QStringLiteral("Icon"));
    column->addWidget(icon, 0, Qt::AlignHCenter);
    auto* titleLabel = new PlainLabel(title, Typography::font(19, Weight::Bold), Palette::black(kPrimaryOpacity),
                                      name + QStringLiteral("Title"), message);
    titleLabel->setAlignment(Qt::AlignCenter);
    column->addWidget(titleLabel, 0, Qt::AlignHCenter);
    auto* subtitleLabel = new PlainLabel(subtitle, Typography::font(15), Palette::secondary(),
                                         name + QStringLiteral("Subtitle"), message);
    subtitleLabel->setAlignment(Qt::AlignCenter);
    column->addWidget(subtitleLabel, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return message;
}

// A fade over the bottom edge of a scroll area whose content goes on below: the list shows it
// has more to scroll to, although the area draws no scroll bar.
class BottomFade final : public QWidget {
public:
    static constexpr int kHeight = 28;

    explicit BottomFade(QScrollArea* area)
        : QWidget(area)
        , m_area(area)
    {
        setObjectName(QStringLiteral("resultsBottomFade"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        QScrollBar* bar = area->verticalScrollBar();
        connect(bar, &QScrollBar::rangeChanged, this, &BottomFade::follow);
        connect(bar, &QScrollBar::valueChanged, this, &BottomFade::follow);
        area->installEventFilter(this);
        follow();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_area && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
            follow();
        return QWidget::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent*) override
    {
        QLinearGradient gradient(0, 0, 0, height());
        QColor clear = background();
        clear.setAlpha(0);
        gradient.setColorAt(0, clear);
        gradient.setColorAt(1, background());
        QPainter(this).fillRect(rect(), gradient);
    }

private:
    void follow()
    {
        const QRect viewport = m_area->viewport()->geometry();
        setGeometry(viewport.left(), viewport.bottom() + 1 - kHeight, viewport.width(), kHeight);
        const QScrollBar* bar = m_area->verticalScrollBar();
        setVisible(bar->value() < bar->maximum());
        raise();
    }

    QScrollArea* m_area;
};

} // namespace

AddTokenSheet::AddTokenSheet(AppState& appState, QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
{
    setObjectName(QStringLiteral("addTokenSheet"));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* topBar = new QHBoxLayout;
    topBar->setContentsMargins(kTopBarPaddingX, kTopBarPaddingTop, kTopBarPaddingX, kTopBarPaddingBottom);
    topBar->setSpacing(kTopBarSpacing);
    m_back =
        new GlyphButton(Glyphs::Glyph::ArrowUturnBackward, 18, Weight::Medium, Palette::black(0.72), kBackFrame, this);
    m_back->setObjectName(QStringLiteral("backButton"));
    m_back->setAccessibleName(tr("返回"));
    topBar->addWidget(m_back);

    // The rounded well around the magnifying glass and the field.
    auto* searchBox = new RoundedWell(Palette::black(0.018), Palette::black(0.06), kSearchBoxRadius, this);
    searchBox->setObjectName(QStringLiteral("searchBox"));
    searchBox->setFixedHeight(kSearchBoxHeight);
    auto* boxRow = new QHBoxLayout(searchBox);
    boxRow->setContentsMargins(kSearchBoxPaddingX, 0, kSearchBoxPaddingX, 0);
    boxRow->setSpacing(kSearchBoxSpacing);
    auto* glass = new GlyphView(Glyphs::Glyph::Magnifyingglass, 18, Weight::Regular, Palette::black(0.75), searchBox);
    glass->setObjectName(QStringLiteral("searchIcon"));
    boxRow->addWidget(glass);
    m_field = new QLineEdit(searchBox);
    m_field->setObjectName(QStringLiteral("searchField"));
    m_field->setFrame(false);
    m_field->setFont(Typography::font(16, Weight::Medium));
    m_field->setPlaceholderText(tr("从所有代币中搜索！"));
    m_field->setAccessibleName(tr("搜索代币"));
    m_field->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette fieldPalette = m_field->palette();
    fieldPalette.setColor(QPalette::Base, Qt::transparent);
    fieldPalette.setColor(QPalette::Text, Palette::black(kPrimaryOpacity));
    fieldPalette.setColor(QPalette::PlaceholderText, Palette::black(0.3));
    m_field->setPalette(fieldPalette);
    boxRow->addWidget(m_field, 1);
    topBar->addWidget(searchBox, 1);
    root->addLayout(topBar);

    auto* results = new QVBoxLayout;
    results->setContentsMargins(0, 0, 0, 0);
    results->setSpacing(kMessageSpacing);

    m_spinner = new QWidget(this);
    m_spinner->setObjectName(QStringLiteral("searchSpinner"));
    auto* spinnerColumn = new QVBoxLayout(m_spinner);
    spinnerColumn->setContentsMargins(0, kSpinnerTop, 0, 0);
    auto* spinner = new Spinner(m_spinner);
    spinner->setObjectName(QStringLiteral("progressSpinner"));
    spinnerColumn->addWidget(spinner, 0, Qt::AlignHCenter);
    spinnerColumn->addStretch(1);
    results->addWidget(m_spinner, 1);

    m_prompt = makeMessage(QStringLiteral("searchPrompt"), Glyphs::Glyph::Magnifyingglass, 38,
                           tr("搜索可现货交易的 USDT 币种"), tr("例如 BTC、ETH、SOL、DOGE"), this);
    results->addWidget(m_prompt, 1);
    m_noResults = makeMessage(QStringLiteral("noResults"), Glyphs::Glyph::XmarkCircle, 36, tr("没有找到匹配结果"),
                              tr("试试更短的 symbol 或英文名称"), this);
    results->addWidget(m_noResults, 1);

    m_resultsScroll = new QScrollArea(this);
    m_resultsScroll->setObjectName(QStringLiteral("resultsScrollArea"));
    m_resultsScroll->setFrameShape(QFrame::NoFrame);
    // The keyboard moves through the results, which scroll themselves into view.
    m_resultsScroll->setFocusPolicy(Qt::NoFocus);
    m_resultsScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_resultsScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_resultsScroll->setWidgetResizable(true);
    m_resultsScroll->viewport()->setAutoFillBackground(false);
    m_list = new SearchResultListView;
    m_resultsScroll->setWidget(m_list);
    m_list->setAutoFillBackground(false);
    new BottomFade(m_resultsScroll);
    results->addWidget(m_resultsScroll, 1);
    root->addLayout(results, 1);

    connect(m_list, &SearchResultListView::addRequested, this,
            [this](const TokenSummary& token) { m_appState.addToken(token); });
    connect(m_list, &SearchResultListView::upFromFirstRow, m_field,
            [this] { m_field->setFocus(Qt::OtherFocusReason); });
    connect(m_back, &QAbstractButton::clicked, this, &AddTokenSheet::goBack);
    connect(m_field, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_appState.setSearchQuery(text);
        m_appState.runSearch(false);
    });
    connect(m_field, &QLineEdit::returnPressed, this, [this] { m_appState.runSearch(true); });
    connect(&m_appState, &AppState::searchQueryChanged, this, &AddTokenSheet::scheduleRender);
    connect(&m_appState, &AppState::searchChanged, this, &AddTokenSheet::scheduleRender);
    // Results already listed read "added".
    const WatchlistModel* rows = &m_appState.watchlistModel();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &AddTokenSheet::scheduleRender);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &AddTokenSheet::scheduleRender);
    connect(rows, &QAbstractItemModel::modelReset, this, &AddTokenSheet::scheduleRender);

    showContent(Content::Prompt);
}

AddTokenSheet::~AddTokenSheet() = default;

void AddTokenSheet::scheduleRender()
{
    // Changes often come several at once: read it all once, on the next pass of the event loop.
    if (m_renderPending) {
        return;
    }
    m_renderPending = true;
    QMetaObject::invokeMethod(this, &AddTokenSheet::render, Qt::QueuedConnection);
}

void AddTokenSheet::render()
{
    m_renderPending = false;
    if (!isVisible()) {
        // Rendered when it comes on screen.
        return;
    }
    const QString& query = m_appState.searchQuery();
    if (m_field->text() != query) {
        m_field->setText(query);
    }
    const QList<TokenSummary>& results = m_appState.searchResults();
    if (m_appState.isSearching() && results.isEmpty()) {
        showContent(Content::Spinner);
    } else if (query.trimmed().isEmpty()) {
        showContent(Content::Prompt);
    } else if (results.isEmpty()) {
        showContent(Content::NoResults);
    } else {
        QSet<QString> added;
        added.reserve(m_appState.watchlistEntries().size());
        for (const WatchlistEntry& entry : m_appState.watchlistEntries()) {
            added.insert(entry.tokenID);
        }
        const bool newResults = results != m_list->results();
        m_list->setResults(results, added);
        if (newResults) {
            m_resultsScroll->verticalScrollBar()->setValue(0);
        }
        showContent(Content::Results);
    }
}

void AddTokenSheet::showContent(Content content)
{
    m_content = content;
    m_spinner->setVisible(content == Content::Spinner);
    m_prompt->setVisible(content == Content::Prompt);
    m_noResults->setVisible(content == Content::NoResults);
    m_resultsScroll->setVisible(content == Content::Results);
}

void AddTokenSheet::goBack()
{
    m_appState.resetSearch();
    if (isSignalConnected(QMetaMethod::fromSignal(&AddTokenSheet::backRequested))) {
        Q_EMIT backRequested();
    } else {
        close();
    }
}

void AddTokenSheet::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    // Every time the sheet comes on screen it starts from a clean search, with the field ready
    // for typing a moment later.
    m_appState.resetSearch();
    render();
    QTimer::singleShot(kFocusDelay, m_field, [field = m_field] {
        // Gone again in the meantime: leave the focus where it is.
        if (field->isVisible()) {
            field->setFocus(Qt::OtherFocusReason);
        }
    });
}

void AddTokenSheet::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), background());
}

void AddTokenSheet::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        // Back to the watchlist; a second Escape closes the popover.
        event->accept();
        goBack();
        return;
    }
    if (event->key() == Qt::Key_Down && m_field->hasFocus() && m_content == Content::Results) {
        event->accept();
        m_list->focusResult(0);
        return;
    }
    QWidget::keyPressEvent(event);
}

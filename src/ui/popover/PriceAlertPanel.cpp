#include "ui/popover/PriceAlertPanel.h"

#include "state/AppState.h"
#include "ui/kit/FocusRing.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PlainLabel.h"
#include "ui/kit/PriceAlertListView.h"
#include "ui/kit/SegmentedControl.h"
#include "ui/kit/Shapes.h"
#include "ui/kit/Typography.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

using Typography::Design;
using Typography::Weight;

namespace {

constexpr int kPaddingTop = 9;
constexpr int kSpacing = 6;
constexpr int kControlSpacing = 6;
constexpr QSize kKindsSize{120, PriceAlertPanel::kControlHeight};
constexpr int kAddWidth = 44;
constexpr qreal kControlRadius = 6;
constexpr qreal kHairlineHeight = 0.8;
// Significant digits kept by the suggestion, and below a cent, where every digit counts more.
constexpr int kSuggestedDigits = 3;
constexpr int kSubCentSuggestedDigits = 4;

// The field's box is drawn here rather than by the style: white on the row's tint, red when
// what it holds cannot be added, with the focus ring of the rest of the popover.
class ThresholdField final : public QLineEdit {
public:
    explicit ThresholdField(QWidget* parent)
        : QLineEdit(parent)
    {
        setFrame(false);
        setTextMargins(6, 0, 6, 0);
        setFont(Typography::font(12, Weight::Semibold, Design::Rounded));
        QPalette palette = this->palette();
        palette.setColor(QPalette::Base, Qt::transparent);
        palette.setColor(QPalette::Text, Palette::black(0.82));
        palette.setColor(QPalette::PlaceholderText, Palette::black(0.3));
        setPalette(palette);
        setFixedHeight(PriceAlertPanel::kControlHeight);
    }

    void setInvalid(bool invalid)
    {
        m_invalid = invalid;
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            const QPainterPath box =
                Shapes::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kControlRadius);
            painter.fillPath(box, Palette::white(0.9));
            painter.strokePath(box, QPen(m_invalid ? Palette::red(0.8) : Palette::black(0.1), m_invalid ? 1.5 : 1));
        }
        QLineEdit::paintEvent(event);
        if (FocusRing::shows(*this)) {
            QPainter painter(this);
            FocusRing::paint(painter,
                             Shapes::continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kControlRadius - 1));
        }
    }

private:
    bool m_invalid = false;
};

// A small text button on a light grey pill.
class PillButton final : public QAbstractButton {
public:
    PillButton(const QString& text, QWidget* parent)
        : QAbstractButton(parent)
    {
        setText(text);
        setFont(Typography::font(12, Weight::Semibold));
        setFixedSize(kAddWidth, PriceAlertPanel::kControlHeight);
        setFocusPolicy(Qt::TabFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath pill = Shapes::continuousRoundedRect(QRectF(rect()), kControlRadius);
        painter.fillPath(pill, Palette::black(isDown() ? 0.14 : 0.07));
        painter.setFont(font());
        painter.setPen(Palette::black(0.78));
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
        if (FocusRing::shows(*this)) {
            FocusRing::paint(painter,
                             Shapes::continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kControlRadius - 1));
        }
    }
};

constexpr PriceAlert::Kind kKinds[] = {PriceAlert::Kind::Above, PriceAlert::Kind::Below,
                                       PriceAlert::Kind::ChangeBeyond};

} // namespace

PriceAlertPanel::PriceAlertPanel(AppState& appState, const QString& tokenID, QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_tokenID(tokenID)
{
    setObjectName(QStringLiteral("priceAlertPanel"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kPaddingX, kPaddingTop, kPaddingX, kPaddingBottom);
    stack->setSpacing(kSpacing);
    stack->addWidget(new PlainLabel(tr("提醒"), Typography::font(11, Weight::Medium), Palette::black(0.46),
                                    QStringLiteral("priceAlertTitle"), this));

    auto* controls = new QHBoxLayout;
    controls->setSpacing(kControlSpacing);
    m_kinds = new SegmentedControl(kKindsSize, 12, this);
    m_kinds->setObjectName(QStringLiteral("priceAlertKind"));
    m_kinds->setAccessibleName(tr("提醒条件"));
    m_kinds->addTab(tr("高于"));
    m_kinds->addTab(tr("低于"));
    m_kinds->addTab(tr("涨跌"));
    controls->addWidget(m_kinds);
    auto* field = new ThresholdField(this);
    m_field = field;
    m_field->setObjectName(QStringLiteral("priceAlertThreshold"));
    controls->addWidget(m_field, 1);
    m_unit = new PlainLabel(QString(), Typography::font(11, Weight::Medium), Palette::black(0.46),
                            QStringLiteral("priceAlertUnit"), this);
    controls->addWidget(m_unit);
    m_add = new PillButton(tr("添加"), this);
    m_add->setObjectName(QStringLiteral("priceAlertAdd"));
    m_add->setAccessibleName(tr("添加提醒"));
    controls->addWidget(m_add);
    stack->addLayout(controls);

    m_message = new PlainLabel(QString(), Typography::font(11, Weight::Medium), Palette::red(0.86),
                               QStringLiteral("priceAlertMessage"), this);
    m_message->hide();
    stack->addWidget(m_message);
    m_list = new PriceAlertListView(appState, tokenID, this);
    m_list->setFallbackFocus(m_add);
    stack->addWidget(m_list);
    // An empty list takes no room, nor the spacing above it.
    m_list->setVisible(m_list->count() > 0);
    connect(m_list, &PriceAlertListView::countChanged, this, [this] {
        m_list->setVisible(m_list->count() > 0);
        updateGeometry();
    });

    connect(m_kinds, &QTabBar::currentChanged, this, [this] { prefill(); });
    connect(m_add, &QAbstractButton::clicked, this, &PriceAlertPanel::addAlert);
    connect(m_field, &QLineEdit::returnPressed, this, &PriceAlertPanel::addAlert);
    connect(m_field, &QLineEdit::textEdited, this, [this] { setInvalid(false); });
    // A row opened before its first quote gets its suggestion when the quote comes.
    connect(&m_appState.watchlistModel(), &QAbstractItemModel::dataChanged, this, [this] {
        if (m_field->text().isEmpty() && !m_field->isModified()) {
            prefill();
        }
    });
    prefill();
}

PriceAlert::Kind PriceAlertPanel::kind() const
{
    return kKinds[std::clamp(m_kinds->currentIndex(), 0, 2)];
}

void PriceAlertPanel::setKind(PriceAlert::Kind kind)
{
    m_kinds->setCurrentIndex(int(std::find(std::begin(kKinds), std::end(kKinds), kind) - std::begin(kKinds)));
}

std::optional<double> PriceAlertPanel::suggestedThreshold(PriceAlert::Kind kind, double price)
{
    if (kind == PriceAlert::Kind::ChangeBeyond) {
        return kSuggestedChange;
    }
    if (!std::isfinite(price) || price <= 0) {
        return std::nullopt;
    }
    const double moved = price * (kind == PriceAlert::Kind::Above ? 1 + kSuggestedMove : 1 - kSuggestedMove);
    const int digits = moved < AppState::kSubCentPrice ? kSubCentSuggestedDigits : kSuggestedDigits;
    // Scaled by an exact power of ten and back, so the result is the double the field's text reads as.
    const int decimals = digits - 1 - int(std::floor(std::log10(moved)));
    const double scale = std::pow(10.0, std::abs(decimals));
    return decimals >= 0 ? std::round(moved * scale) / scale : std::round(moved / scale) * scale;
}

QString PriceAlertPanel::suggestionText(PriceAlert::Kind kind, double price)
{
    const std::optional<double> value = suggestedThreshold(kind, price);
    if (!value) {
        return {};
    }
    const int digits = *value < AppState::kSubCentPrice ? kSubCentSuggestedDigits : kSuggestedDigits;
    const int decimals = std::max(0, digits - 1 - int(std::floor(std::log10(*value))));
    QString text = QLocale().toString(*value, 'f', decimals);
    // 0.130 reads as 0.13: the zeros the rounding left say nothing.
    const QString point = QLocale().decimalPoint();
    if (decimals > 0) {
        while (text.endsWith(QLatin1Char('0'))) {
            text.chop(1);
        }
        if (text.endsWith(point)) {
            text.chop(point.size());
        }
    }
    return text;
}

std::optional<double> PriceAlertPanel::parsedThreshold(const QString& text)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    double value = QLocale().toDouble(trimmed, &ok);
    if (!ok) {
        value = QLocale::c().toDouble(trimmed, &ok);
    }
    if (!ok || !std::isfinite(value) || value <= 0) {
        return std::nullopt;
    }
    return value;
}

void PriceAlertPanel::prefill()
{
    const PriceAlert::Kind kind = this->kind();
    m_unit->setText(kind == PriceAlert::Kind::ChangeBeyond ? QStringLiteral("%") : QStringLiteral("USDT"));
    m_field->setAccessibleName(kind == PriceAlert::Kind::ChangeBeyond ? tr("涨跌幅（%）") : tr("价格（USDT）"));
    // Only a price that came from the market makes a suggestion.
    const auto snapshot = m_appState.tokenSnapshots().constFind(m_tokenID);
    const double price = snapshot == m_appState.tokenSnapshots().cend() ? 0.0 : snapshot->price;
    m_field->setText(suggestionText(kind, price));
    m_field->setModified(false);
    setInvalid(false);
}

void PriceAlertPanel::addAlert()
{
    const std::optional<double> threshold = parsedThreshold(m_field->text());
    if (!threshold || !m_appState.priceAlerts().add(m_tokenID, kind(), *threshold)) {
        setInvalid(true);
        m_field->setFocus(Qt::OtherFocusReason);
        m_field->selectAll();
        return;
    }
    setInvalid(false);
}

void PriceAlertPanel::setInvalid(bool invalid)
{
    if (invalid == m_invalid) {
        return;
    }
    m_invalid = invalid;
    static_cast<ThresholdField*>(m_field)->setInvalid(invalid);
    m_message->setText(invalid ? tr("请输入大于 0 的数字") : QString());
    m_message->setVisible(invalid);
    m_field->setAccessibleDescription(invalid ? m_message->text() : QString());
    updateGeometry();
}

QSize PriceAlertPanel::sizeHint() const
{
    return {0, layout()->sizeHint().height()};
}

QSize PriceAlertPanel::minimumSizeHint() const
{
    return sizeHint();
}

void PriceAlertPanel::paintEvent(QPaintEvent*)
{
    // The same hairline that opens the detail panel separates it from the alerts.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRectF(kPaddingX, 0, width() - 2 * kPaddingX, kHairlineHeight), Palette::black(0.045));
}

void PriceAlertPanel::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void PriceAlertPanel::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void PriceAlertPanel::keyPressEvent(QKeyEvent* event)
{
    event->setAccepted(event->key() != Qt::Key_Escape);
}

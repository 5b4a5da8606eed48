#pragma once

#include "model/TokenSummary.h"
#include "state/PriceAlerts.h"

#include <QPointer>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <optional>

class SpringAnimation;
class TokenIconView;

// One token of the popover's watchlist: icon, symbol and name, a seven-day sparkline, price and
// change on one line, and below it, while expanded, a detail panel with a large price, the
// exchange's 24-hour figures and a larger sparkline. The row paints its texts and charts itself (a list of
// hundreds of rows re-renders on every price refresh) and owns only its hover state.
class MenuWatchlistRowView : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kCornerRadius = 14;
    static constexpr qreal kPadding = 8;
    static constexpr qreal kIconSize = 40;
    static constexpr QSizeF kTrendCell{94, 40};
    static constexpr qreal kPriceBlockWidth = 92;
    static constexpr qreal kIdentityMinWidth = 92;
    static constexpr QSizeF kDetailChartSlot{154, 108};
    static constexpr qreal kDetailRightColumnWidth = 164;

    // What the row draws, in its own coordinates, for the current width and inputs. Texts are
    // already cut to one line and elided to their slots. Parts are measured only when they
    // changed and are about to be drawn.
    struct Layout {
        struct Text {
            QRectF rect; // where the line is drawn (its full slot)
            QString text;
        };
        struct Metric {
            Text title;
            Text value;
        };
        qreal compactHeight = 0;
        qreal detailHeight = 0;
        QRectF compactRow;
        QRectF identityBlock;
        QRectF icon;
        Text symbol;
        Text name;
        QRectF trendCell;
        QRectF priceBlock;
        Text price;
        Text change;
        // Detail panel, laid out as if fully expanded.
        QRectF hairline;
        Text detailName;
        Text detailPrice;
        std::array<Metric, 4> metrics;
        Text detailChange;
        Text detailAmount;
        QRectF detailChartSlot;
        QRectF bell; // empty without a mark
    };

    MenuWatchlistRowView(const TokenSummary& token, const QString& priceText, const QString& changeText,
                         bool isExpanded, bool showsDebugFrames, QWidget* parent = nullptr);
    ~MenuWatchlistRowView() override;

    const TokenSummary& token() const { return m_token; }
    const QString& priceText() const { return m_priceText; }
    const QString& changeText() const { return m_changeText; }
    bool isExpanded() const { return m_isExpanded; }
    bool showsDebugFrames() const { return m_showsDebugFrames; }
    bool isHovered() const { return m_isHovered; }
    // 0 collapsed, 1 expanded; between the two while the detail panel opens or closes.
    qreal expansion() const;
    qreal hoverAmount() const;

    void setToken(const TokenSummary& token);
    void setPriceText(const QString& text);
    void setChangeText(const QString& text);
    void setExpanded(bool expanded);
    void setShowsDebugFrames(bool shows);
    // The bell beside the symbol: an outline while an alert is armed, filled once one fired.
    PriceAlerts::Mark alertMark() const { return m_alertMark; }
    void setAlertMark(PriceAlerts::Mark mark);
    // A widget shown under the detail panel while the row is open, as wide as the row; the row
    // grows by its height and takes ownership.
    QWidget* accessory() const { return m_accessory; }
    void setAccessory(QWidget* accessory);

    const Layout& layout() const;
    // The row's fill: black at this opacity (0 when clear).
    qreal backgroundOpacity() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // A primary click that began and ended on the row's shape.
    void tapped();
    // A secondary click; the list decides what the menu offers.
    void contextMenuRequested(const QPoint& globalPos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void contentChanged();
    void ensureFrame() const;
    void ensureIdentity() const;
    void ensurePrices() const;
    void ensureDetail() const;
    void updateIcon();
    void updateAccessibleName();
    int heightFor(qreal expansion) const;
    bool isOnShape(const QPointF& pos) const;
    void paintCompact(QPainter& painter, const Layout& layout);
    void paintDetail(QPainter& painter, const Layout& layout);
    void paintDebugFrames(QPainter& painter);
    void updateDebugOverlay();
    int accessoryHeight() const;
    void placeAccessory();

    TokenSummary m_token;
    QString m_priceText;
    QString m_changeText;
    bool m_isExpanded = false;
    bool m_showsDebugFrames = false;
    PriceAlerts::Mark m_alertMark = PriceAlerts::Mark::None;
    QPointer<QWidget> m_accessory;
    bool m_isHovered = false;
    void setHovered(bool hovered);
    // Enter and leave come only when the pointer moves; rows moved under a still pointer ask.
    static void syncMovedRowsWithPointer();
    bool m_hoverCheckPending = false;
    bool m_pressed = false;

    SpringAnimation* m_expansion = nullptr;
    SpringAnimation* m_hover = nullptr;
    // Whether the detail panel is coming in (fade, grow and move from the top) or going out
    // (fade and shrink), which animate differently.
    bool m_inserting = true;
    TokenIconView* m_icon = nullptr;
    // The outlines lie over everything the row shows, its icon included.
    QWidget* m_debugOverlay = nullptr;
    mutable Layout m_layout;
    mutable int m_layoutWidth = -1;
    mutable bool m_identityValid = false;
    mutable bool m_pricesValid = false;
    mutable bool m_detailValid = false;
};

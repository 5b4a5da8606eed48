#pragma once

#include "state/RefreshErrorBannerState.h"

#include <QDateTime>
#include <QTextDocument>
#include <QWidget>

class GlyphView;
class QAbstractButton;
class QLabel;
class QTextEdit;
class SpringAnimation;

// The network-error banner above the watchlist: a header that toggles the full message, and the
// message itself, selectable for copying and shown exactly as the error reported it.
class RefreshErrorBannerView : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kCornerRadius = 12;
    // A message longer than this scrolls inside the banner instead of pushing the list away.
    static constexpr int kMaxMessageTextHeight = 160;

    explicit RefreshErrorBannerView(QWidget* parent = nullptr);
    ~RefreshErrorBannerView() override;

    void setBanner(const RefreshErrorBannerState& banner);
    const RefreshErrorBannerState& banner() const { return m_banner; }
    // Without animation when the banner is not on screen yet.
    void setExpanded(bool expanded, bool animated = true);
    bool isExpanded() const { return m_isExpanded; }
    // 0 collapsed, 1 expanded; between while the message opens or closes.
    qreal expansion() const;

    // The time of day of the failure in the current locale's short format; never the date.
    static QString timeText(const QDateTime& occurredAt);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void toggleRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int headerHeight() const;
    qreal messageTextHeight(int width) const;
    qreal messageBlockHeight(int width) const;
    void layoutChildren();
    void expansionMoved();

    RefreshErrorBannerState m_banner;
    bool m_isExpanded = false;
    QAbstractButton* m_header = nullptr;
    GlyphView* m_chevron = nullptr;
    QLabel* m_time = nullptr;
    QWidget* m_messageClip = nullptr;
    QTextEdit* m_message = nullptr;
    SpringAnimation* m_expansion = nullptr;
    // Measures the wrapped message without touching the editor's own document.
    mutable QTextDocument m_measure;
    mutable int m_measuredWidth = -1;
    mutable qreal m_measuredHeight = 0;
};

#pragma once

#include "model/TokenSummary.h"

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QRectF>
#include <QWidget>

class ImageLoader;
class QPainter;
class SpringAnimation;

// A token's round icon: a white disc with a faint outline, and on it either the token's logo
// (once loaded) or a generated gradient badge with the symbol's first character.
class TokenIconView : public QWidget {
    Q_OBJECT
public:
    struct BadgePalette {
        QColor start; // top-left
        QColor end;   // bottom-right
    };

    static constexpr qreal kOutlineWidth = 1.2;
    static constexpr qreal kBadgeInsetFraction = 0.14;
    static constexpr qreal kMonogramFraction = 0.31;

    // Loads through ImageLoader::shared(); without one the badge is shown for good.
    TokenIconView(const TokenSummary& token, qreal size, QWidget* parent = nullptr);
    TokenIconView(const TokenSummary& token, qreal size, ImageLoader& loader, QWidget* parent = nullptr);
    ~TokenIconView() override;

    const TokenSummary& token() const { return m_token; }
    qreal iconSize() const { return m_size; }

    // Pure geometry and derived values, in the icon's own coordinates (size × size, origin top-left).
    static BadgePalette palette(const QString& symbol);
    static QString fallbackMonogram(const QString& symbol);
    static qreal badgeInset(qreal size);
    static QRectF badgeRect(qreal size);
    static QRectF logoRect(qreal size);
    static qreal monogramPointSize(qreal size);
    // The outline's centre line: inset by half its width so the whole stroke shows inside the
    // icon's own frame, which a widget cannot paint beyond.
    static QRectF outlineRect(qreal size);

    // The logo as an icon-sized layer: cropped to a centred square, scaled to fill the logo circle
    // and cut to it, at the device pixel ratio it will be painted at.
    static QImage prepareLogo(const QImage& image, qreal size, qreal devicePixelRatio);

    // Draws the icon into `frame` (size × size), for rows that paint icons themselves.
    // `preparedLogo` comes from prepareLogo() at the painter's device pixel ratio, or is null for
    // the badge alone; at logoOpacity between 0 and 1 the logo cross-fades over the badge.
    static void paint(QPainter& painter, const QRectF& frame, const QString& symbol, const QImage& preparedLogo,
                      qreal logoOpacity);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TokenIconView(const TokenSummary& token, qreal size, std::nullptr_t, QWidget* parent);
    void startLoading(ImageLoader* loader);
    void showLogo(const QImage& image);
    // 0 while the badge shows, 1 once the logo has fully faded in.
    qreal logoOpacity() const;

    TokenSummary m_token;
    qreal m_size;
    QImage m_logo;
    QImage m_prepared;
    qreal m_preparedRatio = 0;
    SpringAnimation* m_fade = nullptr;
};

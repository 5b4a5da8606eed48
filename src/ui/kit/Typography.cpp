#include "ui/kit/Typography.h"

#include <QFontDatabase>
#include <QHash>
#include <QStringList>

#include <cmath>

namespace Typography {

namespace {

// Rounded faces a Linux desktop may carry, best match for the intended look first.
const QStringList& roundedCandidates()
{
    static const QStringList kCandidates{
        QStringLiteral("SF Pro Rounded"),        QStringLiteral("Nunito"),       QStringLiteral("M PLUS Rounded 1c"),
        QStringLiteral("Rounded Mplus 1c"),      QStringLiteral("Varela Round"), QStringLiteral("Quicksand"),
        QStringLiteral("Arial Rounded MT Bold"),
    };
    return kCandidates;
}

} // namespace

QString defaultFamily()
{
    static const QString kFamily = [] {
        // One family that carries Latin and Chinese alike, so both scripts share one design and
        // weight, and no second CJK face is loaded as a fallback next to it.
        const QString unified = QStringLiteral("Noto Sans CJK SC");
        if (!QFontDatabase::styles(unified).isEmpty())
            return unified;
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return kFamily;
}

QFont::Weight faceWeight(const QString& family, Weight weight)
{
    const QFont::Weight wanted = qtWeight(weight);
    if (weight != Weight::Semibold)
        return wanted;
    // Asked for 600, a family without a semibold face gets its bold one. Take its heaviest real
    // face from medium up to below bold instead (Noto Sans CJK's Medium), when it has one.
    static QHash<QString, QFont::Weight> cache;
    const auto known = cache.constFind(family);
    if (known != cache.constEnd())
        return *known;
    int best = -1;
    for (const QString& style : QFontDatabase::styles(family)) {
        const int faceWeight = QFontDatabase::weight(family, style);
        if (faceWeight >= QFont::Medium && faceWeight < QFont::Bold && faceWeight > best)
            best = faceWeight;
    }
    const QFont::Weight result = best > 0 ? QFont::Weight(best) : wanted;
    cache.insert(family, result);
    return result;
}

QString roundedFamily()
{
    static const QString kFamily = [] {
        const QStringList installed = QFontDatabase::families();
        for (const QString& candidate : roundedCandidates()) {
            if (installed.contains(candidate, Qt::CaseInsensitive))
                return candidate;
        }
        return defaultFamily();
    }();
    return kFamily;
}

QFont::Weight qtWeight(Weight weight)
{
    switch (weight) {
    case Weight::Light:
        return QFont::Light;
    case Weight::Regular:
        return QFont::Normal;
    case Weight::Medium:
        return QFont::Medium;
    case Weight::Semibold:
        return QFont::DemiBold;
    case Weight::Bold:
        return QFont::Bold;
    }
    return QFont::Normal;
}

QFont font(qreal pointSize, Weight weight, Design design)
{
    QFont result(design == Design::Rounded ? roundedFamily() : defaultFamily());
    const qreal rounded = std::isfinite(pointSize) ? std::round(pointSize) : 1.0;
    result.setPixelSize(int(qBound(1.0, rounded, 4096.0)));
    result.setWeight(faceWeight(result.family(), weight));
    // Glyphs are laid out at fractional positions, so text measured here matches what paints at 2x.
    result.setHintingPreference(QFont::PreferNoHinting);
    return result;
}

qreal exactScale(const QFont& font, qreal pointSize)
{
    if (font.pixelSize() <= 0 || !std::isfinite(pointSize) || pointSize <= 0)
        return 1.0;
    return pointSize / font.pixelSize();
}

} // namespace Typography

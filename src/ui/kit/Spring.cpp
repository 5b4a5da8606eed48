#include "ui/kit/Spring.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Springs that would never come to rest are given a little damping; sub-millisecond responses
// behave as a jump anyway.
constexpr qreal kMinDamping = 0.05;
constexpr qreal kMinResponse = 0.001;

qreal responseOf(const Spring& s)
{
    return std::isfinite(s.response) ? std::max(s.response, kMinResponse) : 0.55;
}

qreal dampingOf(const Spring& s)
{
    return std::isfinite(s.dampingFraction) ? std::clamp(s.dampingFraction, kMinDamping, 100.0) : 1.0;
}

} // namespace

qreal Spring::angularFrequency() const
{
    return 2.0 * std::numbers::pi / responseOf(*this);
}

qreal Spring::displacement(qreal d0, qreal v0, qreal t) const
{
    const qreal w = angularFrequency();
    const qreal z = dampingOf(*this);
    if (z < 1.0) {
        const qreal wd = w * std::sqrt(1.0 - z * z);
        return std::exp(-z * w * t) * (d0 * std::cos(wd * t) + (v0 + z * w * d0) / wd * std::sin(wd * t));
    }
    if (z == 1.0)
        return std::exp(-w * t) * (d0 + (v0 + w * d0) * t);
    const qreal root = w * std::sqrt(z * z - 1.0);
    const qreal r1 = -z * w + root;
    const qreal r2 = -z * w - root;
    const qreal c2 = (v0 - r1 * d0) / (r2 - r1);
    const qreal c1 = d0 - c2;
    return c1 * std::exp(r1 * t) + c2 * std::exp(r2 * t);
}

qreal Spring::velocity(qreal d0, qreal v0, qreal t) const
{
    const qreal w = angularFrequency();
    const qreal z = dampingOf(*this);
    if (z < 1.0) {
        const qreal wd = w * std::sqrt(1.0 - z * z);
        const qreal a = d0;
        const qreal b = (v0 + z * w * d0) / wd;
        const qreal e = std::exp(-z * w * t);
        return e * ((-z * w * a + wd * b) * std::cos(wd * t) + (-z * w * b - wd * a) * std::sin(wd * t));
    }
    if (z == 1.0) {
        const qreal b = v0 + w * d0;
        return std::exp(-w * t) * (b - w * (d0 + b * t));
    }
    const qreal root = w * std::sqrt(z * z - 1.0);
    const qreal r1 = -z * w + root;
    const qreal r2 = -z * w - root;
    const qreal c2 = (v0 - r1 * d0) / (r2 - r1);
    const qreal c1 = d0 - c2;
    return c1 * r1 * std::exp(r1 * t) + c2 * r2 * std::exp(r2 * t);
}

qreal Spring::settlingTime(qreal d0, qreal v0, qreal tolerance) const
{
    if (!std::isfinite(d0) || !std::isfinite(v0))
        return 0.0;
    tolerance = std::max(tolerance, 1e-9);
    // March backwards from the cap: the last moment the offset or the velocity (scaled to a
    // comparable size by the frequency) is outside the tolerance ends the motion.
    const qreal w = angularFrequency();
    constexpr qreal kStep = 1.0 / 240.0;
    qreal t = kMaxSettlingTime;
    while (t > 0.0) {
        if (std::abs(displacement(d0, v0, t)) > tolerance || std::abs(velocity(d0, v0, t)) / w > tolerance)
            return std::min(t + kStep, kMaxSettlingTime);
        t -= kStep;
    }
    return 0.0;
}

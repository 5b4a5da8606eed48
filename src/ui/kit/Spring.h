#pragma once

#include <QtGlobal>

// A damped spring given the way the views describe motion: `response` is the period of the
// undamped oscillation in seconds (angular frequency 2π / response) and `dampingFraction` the
// damping ratio (1 = critically damped, below 1 overshoots).
struct Spring {
    qreal response = 0.55;
    qreal dampingFraction = 0.825;

    qreal angularFrequency() const;

    // Offset from the target at time t (seconds) of a spring released at offset d0 with velocity v0.
    qreal displacement(qreal d0, qreal v0, qreal t) const;
    qreal velocity(qreal d0, qreal v0, qreal t) const;

    // When the motion has come within `tolerance` of the target for good (an upper bound for
    // oscillating springs); capped at kMaxSettlingTime.
    qreal settlingTime(qreal d0, qreal v0, qreal tolerance) const;

    static constexpr qreal kMaxSettlingTime = 10.0;
};

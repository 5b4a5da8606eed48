#include "ui/kit/SpringAnimation.h"

#include <algorithm>
#include <cmath>

namespace {
bool g_animationsEnabled = true;
}

SpringAnimation::SpringAnimation(Spring spring, QObject* parent)
    : QAbstractAnimation(parent)
    , m_spring(spring)
{
}

void SpringAnimation::setAnimationsEnabled(bool enabled)
{
    g_animationsEnabled = enabled;
}

bool SpringAnimation::animationsEnabled()
{
    return g_animationsEnabled;
}

void SpringAnimation::setValue(qreal value)
{
    stop();
    m_target = value;
    m_velocity = 0.0;
    applyValue(value);
}

void SpringAnimation::animateTo(qreal target)
{
    if (!std::isfinite(target))
        return;
    if (!g_animationsEnabled) {
        setValue(target);
        return;
    }
    const bool running = state() == QAbstractAnimation::Running;
    stop();
    m_startOffset = m_value - target;
    m_startVelocity = running ? m_velocity : 0.0;
    m_target = target;
    // The tolerance is relative to the distance travelled, so 0 -> 1 and 0 -> 300 settle alike.
    m_scale = std::max({std::abs(m_startOffset), std::abs(m_startVelocity) / m_spring.angularFrequency(), 1e-9});
    const qreal seconds = m_spring.settlingTime(m_startOffset / m_scale, m_startVelocity / m_scale, kTolerance);
    m_durationMs = int(std::ceil(seconds * 1000.0));
    if (m_durationMs <= 0) {
        setValue(target);
        return;
    }
    start();
}

void SpringAnimation::updateCurrentTime(int currentTime)
{
    if (currentTime >= m_durationMs) {
        m_velocity = 0.0;
        applyValue(m_target);
        return;
    }
    const qreal t = currentTime / 1000.0;
    m_velocity = m_spring.velocity(m_startOffset, m_startVelocity, t);
    applyValue(m_target + m_spring.displacement(m_startOffset, m_startVelocity, t));
}

void SpringAnimation::applyValue(qreal value)
{
    if (value == m_value)
        return;
    m_value = value;
    Q_EMIT valueChanged(m_value);
}

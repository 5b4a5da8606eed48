#pragma once

#include "ui/kit/Spring.h"

#include <QAbstractAnimation>

// Moves one number towards a target along a damped spring. A new target taken mid-flight keeps
// the current velocity, so interrupted motion stays smooth.
//
//     auto* hover = new SpringAnimation({0.16, 1.0}, this);
//     connect(hover, &SpringAnimation::valueChanged, this, qOverload<>(&QWidget::update));
//     hover->animateTo(1.0);
//
// With animations switched off (tests, or a user who asked for reduced motion) every change
// applies at once, inside animateTo().
class SpringAnimation : public QAbstractAnimation {
    Q_OBJECT
public:
    explicit SpringAnimation(Spring spring, QObject* parent = nullptr);

    Spring spring() const { return m_spring; }
    void setSpring(Spring spring) { m_spring = spring; }

    qreal value() const { return m_value; }
    qreal target() const { return m_target; }

    // Jumps to the value and stops any motion.
    void setValue(qreal value);
    void animateTo(qreal target);

    int duration() const override { return m_durationMs; }

    static void setAnimationsEnabled(bool enabled);
    static bool animationsEnabled();

    // Offsets below this no longer move a pixel at the scales the views animate.
    static constexpr qreal kTolerance = 0.001;

Q_SIGNALS:
    void valueChanged(qreal value);

protected:
    void updateCurrentTime(int currentTime) override;

private:
    void applyValue(qreal value);

    Spring m_spring;
    qreal m_value = 0.0;
    qreal m_target = 0.0;
    qreal m_velocity = 0.0;
    qreal m_startOffset = 0.0;
    qreal m_startVelocity = 0.0;
    qreal m_scale = 1.0;
    int m_durationMs = 0;
};

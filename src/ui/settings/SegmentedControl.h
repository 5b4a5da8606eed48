#pragma once

#include <QTabBar>

// Two or more segments side by side in a rounded track; the selected one is a raised white pill.
// A tab bar underneath, for its keyboard handling and accessibility.
class SegmentedControl : public QTabBar {
    Q_OBJECT

public:
    explicit SegmentedControl(QWidget* parent = nullptr);

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    void paintEvent(QPaintEvent* event) override;
};

#pragma once

#include <QWidget>

// An invisible window over the whole desktop, under the popover, that takes the click meant for
// whatever lies outside the popover, the way the shell's own menus take it. Under Xwayland the
// app learns of no click outside its windows, and a click on the desktop moves no focus.
class OutsideClickCatcher : public QWidget {
    Q_OBJECT

public:
    OutsideClickCatcher();

    // Covers every screen, below `popover` once that is raised.
    void showUnder(const QWidget& popover);

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

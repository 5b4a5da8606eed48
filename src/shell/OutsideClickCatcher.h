#pragma once

#include <QWidget>

#include <memory>
#include <vector>

// An invisible window over the whole desktop, under the popover, that takes the click meant for
// whatever lies outside the popover, the way the shell's own menus take it. Under Xwayland the
// app learns of no click outside its windows, and a click on the desktop moves no focus.
class OutsideClickCatcher : public QWidget {
    Q_OBJECT

public:
    OutsideClickCatcher();
    ~OutsideClickCatcher() override;

    // Covers every screen, below `popover` once that is raised, and the panels along its edges.
    void showUnder(const QWidget& popover);

Q_SIGNALS:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The window manager keeps managed windows out of the panels' space, and GNOME Shell draws
    // its top bar over every managed window: windows it leaves unmanaged go above the bar. A
    // click there opens the shell's own menus or its overview and takes the keyboard from us
    // without a word to Xwayland.
    std::vector<std::unique_ptr<QWidget>> m_panelCovers;
};

#pragma once

#include <QAccessibleObject>
#include <QObjectList>

// The application as assistive technology sees it, with the popover among its windows. Qt's own
// leaves every window of type Qt::Popup out of the application's children, and on X11 the
// popover is one (it must be, to grab the pointer and close on a click outside): a screen reader
// could open it but never reach it. This one lists popup windows too while they are shown.
class AccessibleApplication : public QAccessibleApplication {
public:
    // Call once the QApplication exists, before the event loop runs: the accessibility bridge
    // asks for the application's interface once it is connected, and keeps the first it gets.
    static void install();

    int childCount() const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* child(int index) const override;

private:
    static QObjectList windows();
};

#pragma once

#include <QAccessible>

class QWidget;

// What a plain widget stands for (a window, a list, an alert), told to assistive technology.
// Qt's own interface calls every plain widget a generic container, which a screen reader skips
// over as a "filler". Set it before the widget is first shown: the interface is made once.
namespace AccessibleRole {

void set(QWidget& widget, QAccessible::Role role);

} // namespace AccessibleRole

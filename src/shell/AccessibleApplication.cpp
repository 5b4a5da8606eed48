#include "shell/AccessibleApplication.h"

#include <QGuiApplication>
#include <QWindow>

namespace {

QAccessibleInterface* applicationInterface(const QString&, QObject* object)
{
    if (!object || object != QCoreApplication::instance()) {
        return nullptr;
    }
    return new AccessibleApplication;
}

} // namespace

void AccessibleApplication::install()
{
    QAccessible::installFactory(&applicationInterface);
}

QObjectList AccessibleApplication::windows()
{
    QObjectList list;
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (QWindow* window : windows) {
        if (window->type() == Qt::Desktop || (window->type() == Qt::Popup && !window->isVisible())) {
            continue;
        }
        if (QAccessibleInterface* root = window->accessibleRoot(); root && root->object()) {
            list.append(root->object());
        }
    }
    return list;
}

int AccessibleApplication::childCount() const
{
    return int(windows().size());
}

int AccessibleApplication::indexOfChild(const QAccessibleInterface* child) const
{
    return child ? int(windows().indexOf(child->object())) : -1;
}

QAccessibleInterface* AccessibleApplication::child(int index) const
{
    const QObjectList list = windows();
    return index >= 0 && index < list.size() ? QAccessible::queryAccessibleInterface(list.at(index)) : nullptr;
}

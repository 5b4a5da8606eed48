#include "ui/kit/AccessibleRole.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace {

constexpr const char* kRoleProperty = "zentrowAccessibleRole";

QAccessibleInterface* interfaceWithRole(const QString&, QObject* object)
{
    if (!object || !object->isWidgetType()) {
        return nullptr;
    }
    const QVariant role = object->property(kRoleProperty);
    if (!role.isValid()) {
        return nullptr;
    }
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Role(role.toInt()));
}

} // namespace

void AccessibleRole::set(QWidget& widget, QAccessible::Role role)
{
    // Installed after the application's own widget factory, so it is asked first.
    static const bool installed = (QAccessible::installFactory(&interfaceWithRole), true);
    Q_UNUSED(installed);
    widget.setProperty(kRoleProperty, int(role));
}

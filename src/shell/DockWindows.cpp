#include "shell/DockWindows.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T* raw)
{
    return Reply<T>(raw, &std::free);
}

xcb_atom_t atom(xcb_connection_t* connection, const QByteArray& name)
{
    const auto answer = reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, quint16(name.size()), name.constData()), nullptr));
    return answer ? answer->atom : xcb_atom_t(XCB_NONE);
}

} // namespace

QRect DockWindows::fromNative(const QRect& native)
{
    const QPointF centre = QRectF(native).center();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        const QRectF nativeScreen(QPointF(geometry.topLeft()), QSizeF(geometry.size()) * ratio);
        if (nativeScreen.contains(centre)) {
            const QPointF topLeft =
                QPointF(geometry.topLeft()) + (QPointF(native.topLeft()) - nativeScreen.topLeft()) / ratio;
            return QRectF(topLeft, QSizeF(native.size()) / ratio).toAlignedRect();
        }
    }
    return native;
}

QList<QRect> DockWindows::geometries()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return {};
    }
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        return {};
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t clientList = atom(connection, "_NET_CLIENT_LIST");
    const xcb_atom_t windowType = atom(connection, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t dockType = atom(connection, "_NET_WM_WINDOW_TYPE_DOCK");
    if (clientList == XCB_NONE || windowType == XCB_NONE || dockType == XCB_NONE) {
        return {};
    }
    const auto clients = reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, root, clientList, XCB_ATOM_WINDOW, 0, 4096), nullptr));
    if (!clients || clients->format != 32) {
        return {};
    }
    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(clients.get()));
    const int count = xcb_get_property_value_length(clients.get()) / int(sizeof(xcb_window_t));

    // All questions first, then the answers: one round trip per kind instead of one per window.
    QList<xcb_get_property_cookie_t> types;
    for (int i = 0; i < count; ++i) {
        types.append(xcb_get_property(connection, 0, windows[i], windowType, XCB_ATOM_ATOM, 0, 32));
    }
    QList<xcb_window_t> docks;
    for (int i = 0; i < count; ++i) {
        const auto type = reply(xcb_get_property_reply(connection, types[i], nullptr));
        if (!type || type->format != 32) {
            continue;
        }
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(type.get()));
        const int atomCount = xcb_get_property_value_length(type.get()) / int(sizeof(xcb_atom_t));
        if (std::find(atoms, atoms + atomCount, dockType) != atoms + atomCount) {
            docks.append(windows[i]);
        }
    }
    QList<xcb_get_window_attributes_cookie_t> attributes;
    QList<xcb_get_geometry_cookie_t> sizes;
    QList<xcb_translate_coordinates_cookie_t> origins;
    for (xcb_window_t dock : docks) {
        attributes.append(xcb_get_window_attributes(connection, dock));
        sizes.append(xcb_get_geometry(connection, dock));
        origins.append(xcb_translate_coordinates(connection, dock, root, 0, 0));
    }
    QList<QRect> rects;
    for (qsizetype i = 0; i < docks.size(); ++i) {
        const auto attribute = reply(xcb_get_window_attributes_reply(connection, attributes[i], nullptr));
        const auto size = reply(xcb_get_geometry_reply(connection, sizes[i], nullptr));
        const auto origin = reply(xcb_translate_coordinates_reply(connection, origins[i], nullptr));
        if (attribute && size && origin && attribute->map_state == XCB_MAP_STATE_VIEWABLE) {
            rects.append(fromNative(QRect(origin->dst_x, origin->dst_y, size->width, size->height)));
        }
    }
    return rects;
}

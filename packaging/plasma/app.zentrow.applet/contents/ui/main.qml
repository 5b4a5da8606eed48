// Zentrow's status text in a Plasma panel, whose tray draws only the item's icon.
//
// Everything comes from Plasma's own data engines, so nothing is started per update: the
// "statusnotifieritem" engine follows the app's status item over D-Bus (its Title is the pinned
// token's text, shaped by the app's preferences and updated live) and passes a click on as the
// item's Activate, with this applet's position, so the popover hangs from this panel. While the
// app is not running the applet says so, and a click starts it from its menu entry through the
// "apps" engine.
import QtQuick 2.15
import QtQuick.Layouts 1.15
import QtQuick.Window 2.15
import org.kde.plasma.plasmoid 2.0
import org.kde.plasma.core 2.0 as PlasmaCore
import org.kde.plasma.components 3.0 as PlasmaComponents3

Item {
    id: root

    readonly property string itemId: "app.zentrow.Zentrow"
    readonly property string desktopEntry: "app.zentrow.Zentrow.desktop"
    // The engine's source for the app's status item; empty while the app is not running.
    property string itemSource: ""
    property string itemTitle: ""
    property bool starting: false
    readonly property bool running: itemSource !== ""
    readonly property string shownText: running ? itemTitle : (starting ? "Zentrow 正在启动…" : "Zentrow 未运行")

    Plasmoid.preferredRepresentation: Plasmoid.compactRepresentation
    Plasmoid.icon: "app.zentrow.Zentrow"
    Plasmoid.toolTipMainText: running ? itemTitle : "Zentrow 未运行"
    Plasmoid.toolTipSubText: running ? "点击打开自选列表" : "点击启动 Zentrow"

    PlasmaCore.DataSource {
        id: items
        engine: "statusnotifieritem"
        interval: 0
        onSourceAdded: connectSource(source)
        onSourceRemoved: {
            if (source === root.itemSource) {
                root.itemSource = "";
                root.itemTitle = "";
            }
        }
        onNewData: {
            if (data.Id === root.itemId) {
                root.itemSource = sourceName;
                root.itemTitle = data.Title || "Zentrow";
                root.starting = false;
            }
        }
        Component.onCompleted: connectedSources = sources
    }

    PlasmaCore.DataSource {
        id: apps
        engine: "apps"
    }

    Timer {
        id: startGiveUp
        interval: 15000
        onTriggered: root.starting = false
    }

    // The middle of the applet in the X server's pixels, which is what hosts hand to Activate.
    function nativeCentre(item) {
        const logical = item.mapToGlobal(item.width / 2, item.height / 2);
        const ratio = Screen.devicePixelRatio;
        return Qt.point(Math.round(Screen.virtualX + (logical.x - Screen.virtualX) * ratio),
                        Math.round(Screen.virtualY + (logical.y - Screen.virtualY) * ratio));
    }

    function activate(item) {
        if (!running) {
            start();
            return;
        }
        const service = items.serviceForSource(itemSource);
        const operation = service.operationDescription("Activate");
        const at = nativeCentre(item);
        operation.x = at.x;
        operation.y = at.y;
        service.startOperationCall(operation);
    }

    // A second click while the app is coming up does no harm: a second copy steps down at once.
    function start() {
        // The engine keeps the service it hands out for a source, even one for an entry it does
        // not know (yet): ask only once the entry is listed.
        if (apps.sources.indexOf(desktopEntry) < 0) {
            return;
        }
        const service = apps.serviceForSource(desktopEntry);
        service.startOperationCall(service.operationDescription("launch"));
        starting = true;
        startGiveUp.restart();
    }

    Plasmoid.compactRepresentation: MouseArea {
        id: compact

        readonly property bool vertical: Plasmoid.formFactor === PlasmaCore.Types.Vertical

        Layout.minimumWidth: vertical ? 0 : label.implicitWidth + PlasmaCore.Units.smallSpacing * 2
        Layout.preferredWidth: Layout.minimumWidth
        Layout.minimumHeight: vertical ? label.implicitHeight : 0
        Layout.fillHeight: !vertical
        Layout.fillWidth: vertical

        acceptedButtons: Qt.LeftButton
        hoverEnabled: true
        onClicked: root.activate(compact)

        PlasmaComponents3.Label {
            id: label
            anchors.fill: parent
            anchors.leftMargin: PlasmaCore.Units.smallSpacing
            anchors.rightMargin: PlasmaCore.Units.smallSpacing
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            wrapMode: compact.vertical ? Text.Wrap : Text.NoWrap
            elide: compact.vertical ? Text.ElideNone : Text.ElideRight
            text: root.shownText
            opacity: root.running ? 1 : 0.7
        }
    }
}

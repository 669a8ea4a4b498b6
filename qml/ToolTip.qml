import QtQuick 2.4
import QtGraphicalEffects 1.0
import "../js/global.js" as GlobalJs

// A tip that follows the pointer over its target, 5 pixels below it. Place it in an
// item that covers the target (the window's root, for example).
Item {
    id: toolTipId
    anchors.fill: parent
    z: 1000

    property Item target: null
    property string text: ""
    property int maxWidth: 240
    readonly property bool shown: tipId.opacity > 0
    readonly property alias tipItem: tipId

    MouseArea {
        id: trackerId
        parent: toolTipId.target ? toolTipId.target : toolTipId
        anchors.fill: parent
        hoverEnabled: toolTipId.target !== null
        acceptedButtons: Qt.NoButton
        onMouseXChanged: toolTipId.follow()
        onMouseYChanged: toolTipId.follow()
        onEntered: toolTipId.follow()
    }

    // Places the tip 5 pixels below the pointer, kept inside this item horizontally.
    function follow() {
        var pt = trackerId.mapToItem(toolTipId, trackerId.mouseX, trackerId.mouseY)
        tipId.x = Math.max(0, Math.min(pt.x, toolTipId.width - tipId.width))
        tipId.y = pt.y + 5
    }

    DropShadow {
        anchors.fill: tipId
        source: tipId
        horizontalOffset: 4
        verticalOffset: 4
        radius: 8
        samples: 17
        color: "#80000000"
        opacity: tipId.opacity
    }

    Rectangle {
        id: tipId
        width: tipTextId.width + 10
        height: tipTextId.height + 10
        color: Theme.tipBackground
        border.color: Theme.frame
        opacity: trackerId.containsMouse && toolTipId.text !== "" ? 1 : 0

        Behavior on opacity {
            NumberAnimation { duration: 200 }
        }

        Text {
            id: tipTextId
            x: 5
            y: 5
            width: Math.min(implicitWidth, toolTipId.maxWidth)
            wrapMode: Text.WrapAnywhere
            text: toolTipId.text
            color: Theme.text
            font.family: GlobalJs.fontFamily
        }
    }
}

import QtQuick 2.4

// Rounded background and mouse area with hover and press feedback, laid under a
// control's content.
Item {
    id: hoverMouseAreaId
    z: -1

    property string bkColor: ""
    property string currentBkColor: idleColor()
    property bool hovered: false
    property bool enableHover: true
    readonly property alias pressed: mouseAreaId.pressed
    readonly property alias containsMouse: mouseAreaId.containsMouse

    signal clicked()
    signal doubleClicked()

    function idleColor() {
        return bkColor !== "" ? bkColor : Theme.idle
    }

    onBkColorChanged: {
        if (!hovered && !pressed)
            currentBkColor = idleColor()
    }

    Rectangle {
        id: bkRectId
        anchors.fill: parent
        radius: 5
        color: hoverMouseAreaId.currentBkColor
    }

    MouseArea {
        id: mouseAreaId
        anchors.fill: parent
        hoverEnabled: true

        onEntered: {
            if (!hoverMouseAreaId.enableHover)
                return
            hoverMouseAreaId.hovered = true
            hoverMouseAreaId.currentBkColor = pressed ? Theme.press : Theme.hover
        }
        onExited: {
            if (hoverMouseAreaId.enableHover)
                hoverMouseAreaId.hovered = false
            hoverMouseAreaId.currentBkColor = hoverMouseAreaId.idleColor()
        }
        onPressed: hoverMouseAreaId.currentBkColor = Theme.press
        onReleased: {
            hoverMouseAreaId.currentBkColor = hoverMouseAreaId.hovered ? Theme.hover
                                                                       : hoverMouseAreaId.idleColor()
        }
        onClicked: hoverMouseAreaId.clicked()
        onDoubleClicked: hoverMouseAreaId.doubleClicked()
    }
}

import QtQuick 2.4

// An image button with hover feedback.
Item {
    id: iconButtonId
    width: 100
    height: 62

    property alias source: imageId.source
    property int margin: 3
    // What the button does, for screen readers and as its tip.
    property string toolTip: ""

    signal clicked()

    activeFocusOnTab: true
    Accessible.role: Accessible.Button
    Accessible.name: toolTip
    Accessible.onPressAction: clicked()
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()
    Keys.onSpacePressed: clicked()

    FocusFrame {
        shown: iconButtonId.activeFocus
    }

    HoverMouseArea {
        id: hoverId
        anchors.fill: parent
        onClicked: iconButtonId.clicked()
    }

    ThemedIcon {
        id: imageId
        anchors.fill: parent
        anchors.margins: iconButtonId.margin
        sourceSize.width: Math.max(1, width)
        sourceSize.height: Math.max(1, height)
    }
}

import QtQuick 2.4
import "../js/global.js" as GlobalJs

// A text with hover feedback, as wide as the text.
Item {
    id: textButtonId

    property alias text: textId.text
    property alias bkColor: hoverId.bkColor
    property alias textClr: textId.color

    signal clicked()

    activeFocusOnTab: true
    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: clicked()
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()
    Keys.onSpacePressed: clicked()

    FocusFrame {
        shown: textButtonId.activeFocus
    }

    implicitWidth: textId.implicitWidth
    implicitHeight: 32

    HoverMouseArea {
        id: hoverId
        anchors.fill: parent
        onClicked: textButtonId.clicked()
    }

    Text {
        id: textId
        anchors.centerIn: parent
        font.family: GlobalJs.fontFamily
        font.pixelSize: Math.max(1, textButtonId.height * 0.8)
        color: Theme.text
    }
}

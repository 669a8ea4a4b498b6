import QtQuick 2.4
import "../js/global.js" as GlobalJs

// A button of an optional image followed by a text, centred, with hover feedback. It is
// reached with Tab and pressed with Return, Enter or Space.
Item {
    id: pushButtonId

    property alias text: textId.text
    property alias textClr: textId.color
    property alias bkColor: hoverId.bkColor
    property string imgSrc: ""
    // false for an image in colours of its own (not redrawn for the dark theme).
    property bool tintIcon: true
    // The text's size: 80% of the button's height unless the owner asks for less.
    property real fontSize: height * 0.8

    signal clicked()

    implicitWidth: imgSrc !== "" ? imageId.width + textId.implicitWidth + height * 0.1
                                 : textId.implicitWidth
    implicitHeight: 32

    onImgSrcChanged: imageId.source = imgSrc

    activeFocusOnTab: true
    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: clicked()
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()
    Keys.onSpacePressed: clicked()

    FocusFrame {
        shown: pushButtonId.activeFocus
    }

    HoverMouseArea {
        id: hoverId
        anchors.fill: parent
        onClicked: pushButtonId.clicked()
    }

    Row {
        id: rowId
        anchors.centerIn: parent
        height: parent.height
        spacing: pushButtonId.imgSrc !== "" ? pushButtonId.height * 0.1 : 0

        Item {
            id: imageBoxId
            width: imageId.width
            height: parent.height

            ThemedIcon {
                id: imageId
                anchors.verticalCenter: parent.verticalCenter
                width: pushButtonId.imgSrc !== "" ? pushButtonId.height : 0
                height: pushButtonId.height * 0.8
                visible: pushButtonId.imgSrc !== ""
                sourceSize.width: pushButtonId.height
                sourceSize.height: pushButtonId.height
                tint: pushButtonId.tintIcon
                Component.onCompleted: source = pushButtonId.imgSrc
            }
        }

        Text {
            id: textId
            anchors.verticalCenter: parent.verticalCenter
            font.family: GlobalJs.fontFamily
            font.pixelSize: Math.max(1, pushButtonId.fontSize)
            color: Theme.text
        }
    }
}

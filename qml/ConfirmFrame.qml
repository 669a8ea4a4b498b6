import QtQuick 2.4
import "../js/global.js" as GlobalJs

// A question over a dimmed parent with "Ok" and "Cancel"; the owner hides it.
Item {
    id: confirmFrameId
    anchors.fill: parent

    property real btnHeightRatio: 0.1
    property real btnWidthRatio: 0.5
    property real btnMarginRatio: 0.05
    property string textOk: qsTr("Ok")
    property string textCancel: qsTr("Cancel")
    property string textConfirm: ""

    readonly property real referSize: Math.min(width, height)
    readonly property alias okButton: btnOkId
    readonly property alias cancelButton: btnCancelId
    readonly property alias confirmText: textConfirmId

    signal cancel()
    signal ok()

    Rectangle {
        anchors.fill: parent
        color: "gray"
        opacity: 0.5
    }

    // Keeps clicks from reaching what lies under the frame.
    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        onWheel: wheel.accepted = true
    }

    Text {
        id: textConfirmId
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: btnOkId.top
        anchors.bottomMargin: btnOkId.height * 0.2
        width: parent.width
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        text: confirmFrameId.textConfirm
        color: "red"
        font.family: GlobalJs.fontFamily
        font.pixelSize: Math.max(1, btnOkId.height * 0.2)
    }

    PushButton {
        id: btnOkId
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: confirmFrameId.referSize * 0.25
        width: confirmFrameId.referSize * 0.5
        height: confirmFrameId.referSize * 0.15
        text: confirmFrameId.textOk
        bkColor: "white"
        onClicked: confirmFrameId.ok()
    }

    PushButton {
        id: btnCancelId
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: confirmFrameId.referSize * 0.05
        width: confirmFrameId.referSize * 0.5
        height: confirmFrameId.referSize * 0.15
        text: confirmFrameId.textCancel
        textClr: "green"
        bkColor: "white"
        onClicked: confirmFrameId.cancel()
    }
}

import QtQuick 2.4
import "../js/global.js" as GlobalJs

// A question over a dimmed parent with "Ok" and "Cancel"; the owner hides it. While shown
// it holds the keyboard: "Cancel" has the focus, Tab moves to "Ok", Escape cancels.
FocusScope {
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

    // The question's size: readable in a small window, never over the buttons.
    readonly property real questionSize: Math.max(14, Math.min(28, referSize * 0.05))
    // The buttons' texts fit the buttons, longer words ("Keep editing") included.
    readonly property real buttonFontSize: Math.min(referSize * 0.15 * 0.4, questionSize * 1.4)

    Keys.onEscapePressed: cancel()

    function switchFocus() {
        if (btnOkId.activeFocus)
            btnCancelId.forceActiveFocus()
        else
            btnOkId.forceActiveFocus()
    }

    onVisibleChanged: {
        if (visible)
            btnCancelId.forceActiveFocus()
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.dim
        opacity: 0.5
    }

    // Keeps clicks from reaching what lies under the frame.
    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        onWheel: wheel.accepted = true
    }

    Rectangle {
        id: questionPanel
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: btnOkId.top
        anchors.bottomMargin: btnOkId.height * 0.2
        width: Math.min(parent.width - 20, Math.max(btnOkId.width * 1.6,
                                                    textConfirmId.implicitWidth + 40))
        height: textConfirmId.height + confirmFrameId.questionSize
        radius: 6
        color: Theme.background
        border.color: Theme.frame

        Text {
            id: textConfirmId
            anchors.centerIn: parent
            width: parent.width - confirmFrameId.questionSize
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            text: confirmFrameId.textConfirm
            color: Theme.text
            font.family: GlobalJs.fontFamily
            font.pixelSize: confirmFrameId.questionSize
        }
    }

    PushButton {
        id: btnOkId
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: confirmFrameId.referSize * 0.25
        width: confirmFrameId.referSize * 0.5
        height: confirmFrameId.referSize * 0.15
        text: confirmFrameId.textOk
        fontSize: confirmFrameId.buttonFontSize
        bkColor: Theme.background
        // Tab keeps to the two buttons while the question is open.
        Keys.onTabPressed: confirmFrameId.switchFocus()
        Keys.onBacktabPressed: confirmFrameId.switchFocus()
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
        textClr: Theme.positive
        fontSize: confirmFrameId.buttonFontSize
        bkColor: Theme.background
        Keys.onTabPressed: confirmFrameId.switchFocus()
        Keys.onBacktabPressed: confirmFrameId.switchFocus()
        onClicked: confirmFrameId.cancel()
    }
}

import QtQuick 2.4
import "../js/global.js" as GlobalJs

// Message bar: an error in red or an information in green, hidden again five seconds
// after the first message of a run.
Rectangle {
    id: barMsgId

    property bool isError: false
    property alias text: textId.text
    readonly property alias timerRunning: timerHideId.running

    color: "gray"
    opacity: 0.8
    visible: false
    height: parent ? parent.height * 0.1 : 40
    width: parent ? Math.min(parent.width, textId.implicitWidth + height * 0.4)
                  : textId.implicitWidth + height * 0.4

    function showError(strErr) {
        show(strErr, true)
    }

    function showInfo(strInfo) {
        show(strInfo, false)
    }

    function show(strText, bError) {
        textId.text = strText
        isError = bError
        visible = true
        if (!timerHideId.running)
            timerHideId.start()
    }

    Text {
        id: textId
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.leftMargin: barMsgId.height * 0.2
        width: parent.width - anchors.leftMargin
        elide: Text.ElideRight
        font.pixelSize: Math.max(1, barMsgId.height * 0.5)
        font.family: GlobalJs.fontFamily
        color: barMsgId.isError ? "red" : "green"
    }

    Timer {
        id: timerHideId
        interval: 5000
        repeat: false
        onTriggered: barMsgId.visible = false
    }
}

import QtQuick 2.4

// Message bar along the bottom of the window: errors in red, information in green, the
// newest at the bottom. Texts wrap, so a long message keeps its reason and remedy. An
// error stays until the user dismisses it (its ×); an information leaves by itself after
// `infoTimeout` ms. The same message again is not shown twice.
Item {
    id: barMsgId

    // The newest message shown, and whether it is an error.
    property bool isError: false
    property string text: ""
    property int infoTimeout: 5000
    property int maxMessages: 3
    readonly property int count: msgModel.count
    readonly property real fontSize: Math.max(12, Math.min(22, (parent ? parent.height : 400)
                                                                * 0.032))

    visible: msgModel.count > 0
    width: parent ? parent.width : 400
    height: msgColumn.height

    function showError(strErr) {
        show(strErr, true)
    }

    function showInfo(strInfo) {
        show(strInfo, false)
    }

    function show(strText, bError) {
        strText = strText === undefined || strText === null ? "" : String(strText)
        if (strText === "")
            return
        for (var i = 0; i < msgModel.count; i++) {
            if (msgModel.get(i).msg === strText) {
                msgModel.remove(i)
                break
            }
        }
        msgModel.append({"msg": strText, "error": bError, "shownAt": Date.now()})
        // Too many: the oldest information goes first, then the oldest error.
        while (msgModel.count > maxMessages) {
            var nDrop = 0
            for (var j = 0; j < msgModel.count - 1; j++) {
                if (!msgModel.get(j).error) {
                    nDrop = j
                    break
                }
            }
            msgModel.remove(nDrop)
        }
        updateNewest()
    }

    function dismiss(nIndex) {
        if (nIndex >= 0 && nIndex < msgModel.count)
            msgModel.remove(nIndex)
        updateNewest()
    }

    // Dismisses every message.
    function clear() {
        msgModel.clear()
        updateNewest()
    }

    function updateNewest() {
        if (msgModel.count === 0) {
            text = ""
            isError = false
            return
        }
        var last = msgModel.get(msgModel.count - 1)
        text = last.msg
        isError = last.error
    }

    function expireInfos() {
        var tNow = Date.now()
        for (var i = msgModel.count - 1; i >= 0; i--) {
            var entry = msgModel.get(i)
            if (!entry.error && tNow - entry.shownAt >= infoTimeout)
                msgModel.remove(i)
        }
        updateNewest()
    }

    ListModel {
        id: msgModel
    }

    Column {
        id: msgColumn
        width: parent.width

        Repeater {
            model: msgModel
            delegate: Rectangle {
                objectName: "message"
                width: msgColumn.width
                height: Math.max(msgText.implicitHeight, btnDismiss.height) + barMsgId.fontSize * 0.6
                color: model.error ? Theme.errorBackground : Theme.infoBackground
                opacity: 0.95

                Text {
                    id: msgText
                    objectName: "messageText"
                    anchors.left: parent.left
                    anchors.right: btnDismiss.left
                    anchors.leftMargin: barMsgId.fontSize * 0.6
                    anchors.rightMargin: barMsgId.fontSize * 0.4
                    anchors.verticalCenter: parent.verticalCenter
                    text: model.msg
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    color: Theme.messageText
                    font.family: Theme.fontFamily
                    font.pixelSize: barMsgId.fontSize
                }

                TextButton {
                    id: btnDismiss
                    objectName: "btnDismiss"
                    anchors.right: parent.right
                    anchors.rightMargin: barMsgId.fontSize * 0.4
                    anchors.verticalCenter: parent.verticalCenter
                    height: barMsgId.fontSize * 1.4
                    width: height
                    text: "\u00d7"
                    textClr: Theme.messageText
                    onClicked: barMsgId.dismiss(index)
                }
            }
        }
    }

    Timer {
        id: expireTimer
        interval: 200
        repeat: true
        running: msgModel.count > 0
        onTriggered: barMsgId.expireInfos()
    }
}

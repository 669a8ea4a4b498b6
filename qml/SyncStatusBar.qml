import QtQuick 2.4
import NoteMgt 1.0

// The sync state under the main view's toolbar: who is logged in, synchronising (and how
// far), up to date (and since when), offline, or an error with what to do. Hidden while
// nobody is logged in and nothing went wrong.
Rectangle {
    id: syncBarId

    // A SyncStatus: noteMgt.syncStatus in the window.
    property QtObject status: null
    property real fontSize: 14
    readonly property int syncState: status ? status.state : SyncStatus.LoggedOut
    readonly property bool hasDetail: detailText.text !== ""

    // The user wants to log in (offered when the service refused the password).
    signal loginRequested(string strName)

    visible: syncState !== SyncStatus.LoggedOut
    height: visible ? textColumn.height + fontSize * 0.5 : 0
    color: syncState === SyncStatus.Error ? Theme.syncErrorBackground
         : syncState === SyncStatus.Offline ? Theme.syncOfflineBackground
         : Theme.toolBar

    function stateColor() {
        switch (syncState) {
        case SyncStatus.UpToDate:
            return Theme.positive
        case SyncStatus.Syncing:
        case SyncStatus.Connecting:
            return Theme.focusFrame
        case SyncStatus.Offline:
            return Theme.textSecondary
        default:
            return Theme.accent
        }
    }

    Rectangle {
        id: dot
        objectName: "syncDot"
        anchors.left: parent.left
        anchors.leftMargin: syncBarId.fontSize * 0.6
        y: textColumn.y + (lineText.height - height) / 2
        width: syncBarId.fontSize * 0.6
        height: width
        radius: width / 2
        color: syncBarId.stateColor()

        // Busy: the dot breathes.
        SequentialAnimation on opacity {
            running: syncBarId.visible && (syncBarId.syncState === SyncStatus.Syncing
                                           || syncBarId.syncState === SyncStatus.Connecting)
            loops: Animation.Infinite
            alwaysRunToEnd: true
            NumberAnimation { from: 1; to: 0.25; duration: 600 }
            NumberAnimation { from: 0.25; to: 1; duration: 600 }
        }
    }

    Column {
        id: textColumn
        anchors.left: dot.right
        anchors.leftMargin: syncBarId.fontSize * 0.5
        anchors.right: btnLogin.visible ? btnLogin.left : parent.right
        anchors.rightMargin: syncBarId.fontSize * 0.6
        anchors.verticalCenter: parent.verticalCenter
        spacing: syncBarId.fontSize * 0.2

        Text {
            id: lineText
            objectName: "syncText"
            width: parent.width
            text: syncBarId.status ? syncBarId.status.text : ""
            textFormat: Text.PlainText
            elide: Text.ElideRight
            color: Theme.text
            font.family: Theme.fontFamily
            font.pixelSize: syncBarId.fontSize
        }
        Text {
            id: detailText
            objectName: "syncDetail"
            width: parent.width
            visible: text !== ""
            text: syncBarId.status ? syncBarId.status.detail : ""
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: Theme.text
            font.family: Theme.fontFamily
            font.pixelSize: syncBarId.fontSize * 0.9
        }
    }

    PushButton {
        id: btnLogin
        objectName: "btnSyncLogin"
        anchors.right: parent.right
        anchors.rightMargin: syncBarId.fontSize * 0.4
        anchors.verticalCenter: parent.verticalCenter
        visible: syncBarId.status !== null && syncBarId.status.needsLogin
        height: syncBarId.fontSize * 1.4
        width: implicitWidth + height
        text: qsTr("Log in")
        textClr: Theme.positive
        onClicked: syncBarId.loginRequested(syncBarId.status.userName)
    }
}

import QtQuick 2.4
import "../js/global.js" as GlobalJs

// The logo, the version and the copyright line. Ten clicks on the logo offer to clear
// every local note; the clearing happens only when the user confirms it.
Rectangle {
    id: aboutViewId
    color: Theme.background

    property int itemMargin: 10
    property int clickCount: 0
    property int clicksToClear: 10
    property string strSiteUrl: "https://www.greyfen.com/"

    readonly property alias confirmFrame: confirmFrame
    readonly property alias logoArea: logoArea

    function logoClicked() {
        clickCount += 1
        if (clickCount >= clicksToClear) {
            clickCount = 0
            confirmFrame.visible = true
        }
    }

    function clearLocalData() {
        confirmFrame.visible = false
        noteMgt.clearLocalData()
        // Show the emptied store: the list's first page and the calendar's counts.
        if (typeof mainId === "undefined") {
            noteMgt.getNoteListByOffset(0, "")
        } else {
            mainId.noteView.reloadList()
            mainId.onRefresh()
            mainId.refreshNoteOwners()
        }
    }

    onVisibleChanged: {
        if (!visible)
            confirmFrame.visible = false
        else
            btnClose.forceActiveFocus()
    }

    Keys.onEscapePressed: mainId.popView()

    MouseArea {
        anchors.fill: parent
    }

    Row {
        id: logoRow
        anchors.top: parent.top
        anchors.topMargin: aboutViewId.itemMargin
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 15
        property real logoHeight: Math.min(aboutViewId.width, aboutViewId.height) * 0.2
        Image {
            height: logoRow.logoHeight
            width: height * (implicitHeight > 0 ? implicitWidth / implicitHeight : 1)
            fillMode: Image.PreserveAspectFit
            source: "../res/kelpo.png"
        }
        Image {
            height: logoRow.logoHeight
            width: height * (implicitHeight > 0 ? implicitWidth / implicitHeight : 1)
            fillMode: Image.PreserveAspectFit
            source: "../res/kelpo_str.png"
        }
    }

    MouseArea {
        id: logoArea
        objectName: "logoArea"
        anchors.fill: logoRow
        onClicked: aboutViewId.logoClicked()
    }

    Text {
        id: versionText
        anchors.top: logoRow.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        height: aboutViewId.height * 0.1
        verticalAlignment: Text.AlignVCenter
        text: settings.version
        color: Theme.text
        font.family: GlobalJs.fontFamily
        font.pixelSize: Math.max(1, Math.min(aboutViewId.width, aboutViewId.height) * 0.05)
    }

    Text {
        id: copyrightText
        anchors.top: versionText.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        // The whole width, centred: a width taken from implicitWidth wraps before the link.
        width: aboutViewId.width - 20
        height: aboutViewId.height * 0.1
        verticalAlignment: Text.AlignVCenter
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        textFormat: Text.StyledText
        linkColor: Theme.link
        color: Theme.text
        text: aboutViewId.escapeHtml(settings.copyrightString) + " <a href=\"" + aboutViewId.strSiteUrl
              + "\" style=\"text-decoration:none\">" + aboutViewId.escapeHtml(qsTr("Greyfen Software"))
              + "</a>"
        font.family: GlobalJs.fontFamily
        font.pixelSize: versionText.font.pixelSize
        onLinkActivated: Qt.openUrlExternally(link)
    }

    function escapeHtml(str) {
        return String(str).replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;")
    }

    PushButton {
        id: btnClose
        objectName: "btnClose"
        anchors.top: copyrightText.bottom
        anchors.topMargin: 20
        anchors.horizontalCenter: parent.horizontalCenter
        height: aboutViewId.height * 0.1
        width: aboutViewId.width * 0.5
        text: qsTr("Close")
        textClr: Theme.positive
        onClicked: mainId.popView()
    }

    ConfirmFrame {
        id: confirmFrame
        objectName: "confirmFrame"
        anchors.fill: parent
        visible: false
        textConfirm: qsTr("Clear every local note, including notes not yet uploaded?")
        onOk: aboutViewId.clearLocalData()
        onCancel: {
            visible = false
            btnClose.forceActiveFocus()
        }
    }
}

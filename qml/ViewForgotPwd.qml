import QtQuick 2.4
import QtQuick.Controls 1.3
import "../js/global.js" as GlobalJs

// Asks the note service to mail a password reset for an account, given its user name and
// its e-mail address. Return in a field sends, Escape goes back.
Rectangle {
    id: forgotPwdViewId
    color: Theme.background

    property int itemMargin: 10
    property real fontSize: Math.max(1, Math.min(width, height) * 0.05)

    readonly property alias textUserName: textUserName
    readonly property alias textEmail: textEmail

    function submit() {
        if (textUserName.text === "" || textEmail.text === "") {
            mainId.showError(qsTr("User name or e-mail cannot be empty."))
            return
        }
        mainId.hideError()
        noteMgt.forgotPwd({ "user_name": textUserName.text, "user_email": textEmail.text })
        mainId.popView()
        mainId.showInfo(qsTr("Asking the note service to send the reset mail…"))
    }

    Keys.onEscapePressed: mainId.popView()
    Keys.onReturnPressed: submit()
    Keys.onEnterPressed: submit()

    onVisibleChanged: {
        if (visible)
            textUserName.forceActiveFocus()
    }

    MouseArea {
        anchors.fill: parent
    }

    Text {
        id: titleText
        anchors.top: parent.top
        anchors.topMargin: parent.height * 0.1
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width * 0.8
        height: forgotPwdViewId.fontSize * 1.2
        text: qsTr("Forgot password")
        color: Theme.text
        font.family: GlobalJs.fontFamily
        font.pixelSize: forgotPwdViewId.fontSize * 1.2
    }

    Rectangle {
        id: titleLine
        anchors.top: titleText.bottom
        anchors.topMargin: forgotPwdViewId.itemMargin
        width: parent.width
        height: 1
        color: Theme.line
    }

    Column {
        id: fieldColumn
        anchors.top: titleLine.bottom
        anchors.topMargin: forgotPwdViewId.itemMargin
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width * 0.8
        spacing: forgotPwdViewId.itemMargin
        property real labelWidth: Math.max(lblUserName.implicitWidth, lblEmail.implicitWidth)

        Row {
            spacing: forgotPwdViewId.itemMargin
            Text {
                id: lblUserName
                width: fieldColumn.labelWidth
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("User Name") + ":"
                color: Theme.text
                font.family: GlobalJs.fontFamily
                font.pixelSize: forgotPwdViewId.fontSize
            }
            TextField {
                id: textUserName
                style: ThemedFieldStyle {}
                objectName: "textUserName"
                width: fieldColumn.width - fieldColumn.labelWidth - forgotPwdViewId.itemMargin
                font.pixelSize: forgotPwdViewId.fontSize
                font.family: GlobalJs.fontFamily
            }
        }
        Text {
            objectName: "textBoth"
            width: fieldColumn.width
            wrapMode: Text.Wrap
            text: qsTr("Both are needed: the mail goes to the address of that account.")
            color: Theme.textSecondary
            font.family: GlobalJs.fontFamily
            font.pixelSize: forgotPwdViewId.fontSize * 0.8
        }
        Row {
            spacing: forgotPwdViewId.itemMargin
            Text {
                id: lblEmail
                width: fieldColumn.labelWidth
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("E-mail") + ":"
                color: Theme.text
                font.family: GlobalJs.fontFamily
                font.pixelSize: forgotPwdViewId.fontSize
            }
            TextField {
                id: textEmail
                style: ThemedFieldStyle {}
                objectName: "textEmail"
                width: fieldColumn.width - fieldColumn.labelWidth - forgotPwdViewId.itemMargin
                font.pixelSize: forgotPwdViewId.fontSize
                font.family: GlobalJs.fontFamily
            }
        }
    }

    Row {
        id: buttonBar
        anchors.bottom: parent.bottom
        anchors.bottomMargin: parent.height * 0.1
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width * 0.8
        height: forgotPwdViewId.fontSize * 1.25
        PushButton {
            id: btnOk
            objectName: "btnOk"
            width: buttonBar.width / 2
            height: buttonBar.height
            text: qsTr("OK")
            textClr: Theme.positive
            onClicked: forgotPwdViewId.submit()
        }
        PushButton {
            id: btnCancel
            objectName: "btnCancel"
            width: buttonBar.width / 2
            height: buttonBar.height
            text: qsTr("Cancel")
            onClicked: mainId.popView()
        }
    }
}

import QtQuick 2.4
import QtQuick.Controls 1.3
import QtQuick.Controls.Styles 1.3
import "../js/global.js" as GlobalJs

// Signing in to the note service: user name, password and automatic login.
Item {
    id: loginViewId

    signal forgotPwd()
    signal registeUser()

    property real font_size: Math.max(1, height * 0.06)
    property alias userName: textUserName.text
    property alias pwd: textPwd.text
    property int itemMargin: 10

    readonly property alias autoLoginBox: checkAutoLogin

    function clear() {
        textUserName.text = ""
        textPwd.text = ""
        checkAutoLogin.checked = false
    }

    function login() {
        settings.autoLogin = checkAutoLogin.checked
        if (checkAutoLogin.checked) {
            settings.userName = textUserName.text
            settings.pwd = textPwd.text
        }
        settings.save()
        noteMgt.login(textUserName.text, textPwd.text)
        mainId.popView()
    }

    Component.onCompleted: {
        if (settings.autoLogin) {
            textUserName.text = settings.userName
            textPwd.text = settings.pwd
        }
    }

    Rectangle {
        anchors.fill: parent
        color: "white"
        opacity: 0.5
    }

    Row {
        id: logoRow
        anchors.top: parent.top
        anchors.topMargin: loginViewId.itemMargin
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 15
        property real logoHeight: Math.min(loginViewId.width, loginViewId.height) * 0.2
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

    TextField {
        id: textUserName
        objectName: "textUserName"
        anchors.top: logoRow.bottom
        anchors.topMargin: loginViewId.itemMargin
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width * 0.6
        font.pixelSize: loginViewId.font_size
        placeholderText: qsTr("User Name")
    }

    TextField {
        id: textPwd
        objectName: "textPwd"
        anchors.top: textUserName.bottom
        anchors.topMargin: loginViewId.itemMargin
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width * 0.6
        font.pixelSize: loginViewId.font_size
        echoMode: TextInput.Password
        placeholderText: qsTr("Password")
    }

    PushButton {
        id: btnForgot
        objectName: "btnForgot"
        anchors.right: textPwd.right
        anchors.top: textPwd.top
        anchors.topMargin: 4
        height: textPwd.height - 8
        width: height
        z: 1
        text: "?"
        onClicked: loginViewId.forgotPwd()
    }

    CheckBox {
        id: checkAutoLogin
        objectName: "checkAutoLogin"
        anchors.top: textPwd.bottom
        anchors.topMargin: loginViewId.itemMargin
        anchors.left: textPwd.left
        height: loginViewId.font_size
        text: qsTr("Auto Login")
        checked: settings.autoLogin
        style: CheckBoxStyle {
            indicator: Rectangle {
                implicitWidth: loginViewId.font_size * 0.8
                implicitHeight: loginViewId.font_size * 0.8
                radius: 3
                border.color: control.activeFocus ? "darkblue" : "gray"
                border.width: 1
                Rectangle {
                    visible: control.checked
                    color: "#555"
                    border.color: "#333"
                    radius: 1
                    anchors.margins: 4
                    anchors.fill: parent
                }
            }
            label: Text {
                text: control.text
                font.pixelSize: Math.max(1, loginViewId.font_size * 0.8)
                font.family: GlobalJs.fontFamily
            }
        }
    }

    Row {
        id: buttonRow
        anchors.top: checkAutoLogin.bottom
        anchors.topMargin: loginViewId.itemMargin
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 10
        PushButton {
            id: btnLogin
            objectName: "btnLogin"
            width: textUserName.width * 0.33
            height: loginViewId.font_size
            text: qsTr("Login")
            textClr: "green"
            onClicked: loginViewId.login()
        }
        PushButton {
            id: btnRegister
            objectName: "btnRegister"
            width: textUserName.width * 0.33
            height: loginViewId.font_size
            text: qsTr("Register")
            onClicked: loginViewId.registeUser()
        }
        PushButton {
            id: btnCancel
            objectName: "btnCancel"
            width: textUserName.width * 0.33
            height: loginViewId.font_size
            text: qsTr("Cancel")
            onClicked: mainId.popView()
        }
    }
}

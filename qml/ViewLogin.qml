import QtQuick 2.4
import QtQuick.Controls 1.3
import QtQuick.Controls.Styles 1.3
import "../js/global.js" as GlobalJs

// Signing in to the note service: user name, password and automatic login. Return in a
// field logs in, Escape goes back, Tab walks through every field and button.
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

    // Opens the view for that user: the name filled in, the password to type.
    function prefill(strName) {
        textUserName.text = strName
        textPwd.text = ""
        textPwd.forceActiveFocus()
    }

    function login() {
        if (textUserName.text.trim() === "" || textPwd.text === "") {
            mainId.showError(qsTr("Enter your user name and your password."))
            focusFirstEmpty()
            return
        }
        mainId.hideError()
        settings.autoLogin = checkAutoLogin.checked
        if (checkAutoLogin.checked) {
            settings.userName = textUserName.text
            settings.pwd = textPwd.text
        }
        settings.save()
        mainId.expectLogin(textUserName.text)
        noteMgt.login(textUserName.text, textPwd.text)
        mainId.popView()
    }

    Keys.onEscapePressed: mainId.popView()

    function focusFirstEmpty() {
        if (textUserName.text.trim() === "")
            textUserName.forceActiveFocus()
        else
            textPwd.forceActiveFocus()
    }

    onVisibleChanged: {
        if (visible)
            focusFirstEmpty()
    }

    Component.onCompleted: {
        if (settings.autoLogin) {
            textUserName.text = settings.userName
            textPwd.text = settings.pwd
        }
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.background
        opacity: Theme.dark ? 0.95 : 0.5
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

        style: ThemedFieldStyle {}
        objectName: "textUserName"
        anchors.top: logoRow.bottom
        anchors.topMargin: loginViewId.itemMargin
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width * 0.6
        font.pixelSize: loginViewId.font_size
        placeholderText: qsTr("User Name")
        onAccepted: loginViewId.login()
    }

    TextField {
        id: textPwd

        style: ThemedFieldStyle {}
        objectName: "textPwd"
        anchors.top: textUserName.bottom
        anchors.topMargin: loginViewId.itemMargin
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width * 0.6
        font.pixelSize: loginViewId.font_size
        echoMode: TextInput.Password
        placeholderText: qsTr("Password")
        onAccepted: loginViewId.login()
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
        Accessible.name: qsTr("Forgot password")
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
                color: Theme.fieldBackground
                border.color: control.activeFocus ? Theme.focusFrame : Theme.frame
                border.width: control.activeFocus ? 2 : 1
                Rectangle {
                    visible: control.checked
                    color: Theme.checkMark
                    border.color: Theme.checkMarkFrame
                    radius: 1
                    anchors.margins: 4
                    anchors.fill: parent
                }
            }
            label: Text {
                text: control.text
                color: Theme.text
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
            textClr: Theme.positive
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

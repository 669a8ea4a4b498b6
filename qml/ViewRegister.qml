import QtQuick 2.4
import QtQuick.Controls 1.3
import "../js/global.js" as GlobalJs

// A new account at the note service. Return in a field registers, Escape goes back.
Rectangle {
    id: registerViewId
    color: Theme.background

    property int itemMargin: 10
    property real itemFontSize: Math.max(1, Math.min(width, height) * 0.05)

    readonly property alias textUserName: textUserName
    readonly property alias textPwd: textPwd
    readonly property alias textConfirmPwd: textConfirmPwd
    readonly property alias textEmail: textEmail
    readonly property alias textNickName: textNickName

    // The size at which a field's hint fits the field, so that the hint is read whole.
    function hintFontSize(field, metrics) {
        if (field.text !== "" || metrics.width <= 0)
            return itemFontSize
        return Math.max(1, Math.min(itemFontSize, 100 * (field.width - 24) / metrics.width))
    }

    TextMetrics {
        id: userNameHint
        font.pixelSize: 100
        text: textUserName.placeholderText
    }

    TextMetrics {
        id: emailHint
        font.pixelSize: 100
        text: textEmail.placeholderText
    }

    function clearText() {
        textUserName.text = ""
        textPwd.text = ""
        textConfirmPwd.text = ""
        textEmail.text = ""
        textNickName.text = ""
    }

    function submit() {
        mainId.hideError()
        if (textUserName.text.length < 6) {
            mainId.showError(qsTr("User name is too short."))
            return
        }
        if (textPwd.text.length < 3) {
            mainId.showError(qsTr("Password is too short."))
            return
        }
        if (textEmail.text.length < 6) {
            mainId.showError(qsTr("E-mail is too short."))
            return
        }
        if (textPwd.text !== textConfirmPwd.text) {
            mainId.showError(qsTr("Confirm password is diff with password."))
            return
        }
        var mapData = {
            "name": textUserName.text,
            "pwd": textPwd.text,
            "nickname": textNickName.text,
            "email": textEmail.text
        }
        mainId.popView()
        mainId.expectRegistration(mapData["name"])
        noteMgt.registerUser(mapData)
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
        text: qsTr("Register User")
        color: Theme.text
        font.family: GlobalJs.fontFamily
        font.pixelSize: registerViewId.itemFontSize * 1.2
    }

    Rectangle {
        id: titleLine
        anchors.top: titleText.bottom
        width: parent.width
        height: 1
        color: Theme.line
    }

    Grid {
        id: fieldGrid
        anchors.top: titleLine.bottom
        anchors.topMargin: registerViewId.itemMargin
        anchors.left: titleText.left
        columns: 2
        rowSpacing: registerViewId.itemMargin
        columnSpacing: registerViewId.itemMargin
        verticalItemAlignment: Grid.AlignVCenter
        property real labelWidth: Math.max(lblUserName.implicitWidth, lblPwd.implicitWidth,
                                           lblConfirmPwd.implicitWidth, lblEmail.implicitWidth,
                                           lblNickName.implicitWidth)
        property real fieldWidth: titleText.width - labelWidth - columnSpacing

        Text {
            id: lblUserName
            width: fieldGrid.labelWidth
            text: qsTr("User Name") + ":"
            color: Theme.text
            font.family: GlobalJs.fontFamily
            font.pixelSize: registerViewId.itemFontSize
        }
        TextField {
            id: textUserName
            style: ThemedFieldStyle {}
            objectName: "textUserName"
            width: fieldGrid.fieldWidth
            height: textPwd.height
            font.pixelSize: registerViewId.hintFontSize(textUserName, userNameHint)
            placeholderText: qsTr("First is letter and length is between 6 and 32")
            // Names are lower case: a capital typed is taken as its small letter.
            validator: RegExpValidator { regExp: /[a-zA-Z][a-zA-Z0-9_]{5,31}/ }
            onTextChanged: {
                var strLower = text.toLowerCase()
                if (strLower !== text) {
                    var nCursor = cursorPosition
                    text = strLower
                    cursorPosition = nCursor
                }
            }
        }
        Text {
            id: lblPwd
            width: fieldGrid.labelWidth
            text: qsTr("Password") + ":"
            color: Theme.text
            font.family: GlobalJs.fontFamily
            font.pixelSize: registerViewId.itemFontSize
        }
        TextField {
            id: textPwd
            style: ThemedFieldStyle {}
            objectName: "textPwd"
            width: fieldGrid.fieldWidth
            font.pixelSize: registerViewId.itemFontSize
            echoMode: TextInput.Password
            maximumLength: 64
        }
        Text {
            id: lblConfirmPwd
            width: fieldGrid.labelWidth
            text: qsTr("Confirm Password") + ":"
            color: Theme.text
            font.family: GlobalJs.fontFamily
            font.pixelSize: registerViewId.itemFontSize
        }
        TextField {
            id: textConfirmPwd
            style: ThemedFieldStyle {}
            objectName: "textConfirmPwd"
            width: fieldGrid.fieldWidth
            font.pixelSize: registerViewId.itemFontSize
            echoMode: TextInput.Password
            maximumLength: 64
        }
        Text {
            id: lblEmail
            width: fieldGrid.labelWidth
            text: qsTr("E-mail") + ":"
            color: Theme.text
            font.family: GlobalJs.fontFamily
            font.pixelSize: registerViewId.itemFontSize
        }
        TextField {
            id: textEmail
            style: ThemedFieldStyle {}
            objectName: "textEmail"
            width: fieldGrid.fieldWidth
            height: textPwd.height
            font.pixelSize: registerViewId.hintFontSize(textEmail, emailHint)
            placeholderText: qsTr("Recover the password by the e-mail")
            validator: RegExpValidator {
                regExp: /^([a-z])([0-9-_a-z]{1,64})@([0-9a-z-_]{1,32}).([0-9a-z-_.]{1,32})/
            }
        }
        Text {
            id: lblNickName
            width: fieldGrid.labelWidth
            text: qsTr("Nick Name") + ":"
            color: Theme.text
            font.family: GlobalJs.fontFamily
            font.pixelSize: registerViewId.itemFontSize
        }
        TextField {
            id: textNickName
            style: ThemedFieldStyle {}
            objectName: "textNickName"
            width: fieldGrid.fieldWidth
            font.pixelSize: registerViewId.itemFontSize
            maximumLength: 64
        }
    }

    Row {
        id: buttonBar
        anchors.bottom: parent.bottom
        anchors.bottomMargin: parent.height * 0.1
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width * 0.8
        height: registerViewId.itemFontSize * 1.2
        PushButton {
            id: btnOk
            objectName: "btnOk"
            width: buttonBar.width / 2
            height: buttonBar.height
            text: qsTr("OK")
            textClr: Theme.positive
            onClicked: registerViewId.submit()
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

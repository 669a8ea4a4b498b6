import QtQuick 2.4
import QtTest 1.0
import "qrc:/qml"

// The login, registration, password reminder and about views inside the real main window.
Item {
    id: root
    width: 800
    height: 600

    SignalSpy {
        id: dataSpy
        target: noteMgt
        signalName: "dataReceived"
    }

    SignalSpy {
        id: userSpy
        target: noteMgt
        signalName: "userIdChanged"
    }

    TestCase {
        name: "Accounts"
        when: windowShown

        property var main: null

        function initTestCase() {
            var component = Qt.createComponent("qrc:/qml/main.qml")
            compare(component.status, Component.Ready, component.errorString())
            main = component.createObject(root, { "width": 800, "height": 600 })
            verify(main)
            waitForRendering(main)
        }

        function cleanupTestCase() {
            if (main)
                main.destroy()
        }

        function cleanup() {
            while (main.stackView.depth > 1)
                main.stackView.pop({ "immediate": true })
            tryCompare(main.stackView, "busy", false)
            main.hideError()
        }

        function waitForView(view) {
            tryVerify(function () {
                return main.stackView.currentItem === view && !main.stackView.busy
            }, 3000, "view was not shown")
            waitForRendering(view)
        }

        function waitForMain() {
            waitForView(main.noteView)
        }

        function child(item, strName) {
            var obj = findChild(item, strName)
            verify(obj, strName)
            return obj
        }

        function typeInto(field, strText) {
            mouseClick(field)
            for (var i = 0; i < strText.length; i++)
                keyClick(strText.charAt(i))
        }

        function openRegister() {
            main.noteView.login()
            waitForView(main.loginView)
            mouseClick(child(main.loginView, "btnRegister"))
            waitForView(main.registerView)
            return main.registerView
        }

        function test_typingRules_data() {
            return [
                { tag: "digit first", field: "textUserName", typed: "1abcdef", shown: "abcdef" },
                { tag: "upper case is lowered", field: "textUserName", typed: "abCdefG", shown: "abcdefg" },
                { tag: "name of 33", field: "textUserName",
                  typed: "abcdefghijklmnopqrstuvwxyz0123456", shown: "abcdefghijklmnopqrstuvwxyz012345" },
                { tag: "mail", field: "textEmail", typed: "kelp@sea.org", shown: "kelp@sea.org" },
                { tag: "mail upper case", field: "textEmail", typed: "Kelp@sea.org", shown: "elp@sea.org" }
            ]
        }

        function test_typingRules(data) {
            var view = openRegister()
            var field = child(view, data.field)
            typeInto(field, data.typed)
            compare(field.text, data.shown)
        }

        function test_registerMessages_data() {
            return [
                { tag: "short name", name: "abcde", pwd: "abc", confirm: "abc", mail: "kelp@sea.org",
                  error: "User name is too short." },
                { tag: "short password", name: "abcdef", pwd: "ab", confirm: "xy", mail: "k@s",
                  error: "Password is too short." },
                { tag: "short mail", name: "abcdef", pwd: "abc", confirm: "xyz", mail: "ke@s.",
                  error: "E-mail is too short." },
                { tag: "confirmation differs", name: "abcdef", pwd: "abc", confirm: "abd",
                  mail: "kelp@sea.org", error: "Confirm password is diff with password." }
            ]
        }

        function test_registerMessages(data) {
            var view = openRegister()
            compare(child(view, "textUserName").text, "", "the view is cleared on opening")
            typeInto(child(view, "textUserName"), data.name)
            typeInto(child(view, "textPwd"), data.pwd)
            typeInto(child(view, "textConfirmPwd"), data.confirm)
            typeInto(child(view, "textEmail"), data.mail)
            mouseClick(child(view, "btnOk"))
            compare(main.msgBar.visible, true)
            compare(main.msgBar.isError, true)
            compare(main.msgBar.text, data.error)
            // The view stays open with what was typed.
            compare(main.stackView.currentItem, view)
            compare(child(view, "textUserName").text, data.name)
        }

        function test_registerSends() {
            var view = openRegister()
            typeInto(child(view, "textUserName"), "kelpfan")
            typeInto(child(view, "textPwd"), "abc")
            typeInto(child(view, "textConfirmPwd"), "abc")
            typeInto(child(view, "textEmail"), "kelp@sea.org")
            typeInto(child(view, "textNickName"), "Kelp")
            dataSpy.clear()
            mouseClick(child(view, "btnOk"))
            waitForMain()
            // The request went to the note manager, which answers with the service's refusal.
            tryVerify(function () {
                for (var i = 0; i < dataSpy.count; i++) {
                    if (dataSpy.signalArguments[i][0]["type"] === "register_user")
                        return true
                }
                return false
            }, 5000)
        }

        function test_forgotPwd() {
            main.noteView.login()
            waitForView(main.loginView)
            mouseClick(child(main.loginView, "btnForgot"))
            var view = main.forgotPwdView
            waitForView(view)
            compare(main.stackView.depth, 2)
            typeInto(child(view, "textUserName"), "kelpfan")
            mouseClick(child(view, "btnOk"))
            compare(main.msgBar.text, "User name or e-mail cannot be empty.")
            compare(main.stackView.currentItem, view)
            main.hideError()
            typeInto(child(view, "textEmail"), "kelp@sea.org")
            dataSpy.clear()
            mouseClick(child(view, "btnOk"))
            waitForMain()
            tryVerify(function () {
                for (var i = 0; i < dataSpy.count; i++) {
                    if (dataSpy.signalArguments[i][0]["type"] === "forgot_pwd")
                        return true
                }
                return false
            }, 5000)
            // No service here: the user learns that the mail was not sent.
            tryVerify(function () { return main.msgBar.isError }, 5000)
            verify(main.msgBar.text.indexOf("The password reset mail could not be sent") === 0,
                   main.msgBar.text)
        }

        function test_loginRemembers_data() {
            return [
                { tag: "auto login off keeps the stored pair", auto: false, name: "old", pwd: "oldpwd" },
                { tag: "auto login on stores the pair", auto: true, name: "kelpfan", pwd: "secret" }
            ]
        }

        function test_loginRemembers(data) {
            settings.userName = "old"
            settings.pwd = "oldpwd"
            settings.autoLogin = false
            var view = main.getView("loginView")
            view.clear()
            main.noteView.login()
            waitForView(view)
            typeInto(child(view, "textUserName"), "kelpfan")
            typeInto(child(view, "textPwd"), "secret")
            if (data.auto)
                mouseClick(child(view, "checkAutoLogin"))
            compare(view.autoLoginBox.checked, data.auto)
            mouseClick(child(view, "btnLogin"))
            waitForMain()
            compare(settings.autoLogin, data.auto)
            compare(settings.userName, data.name)
            compare(settings.pwd, data.pwd)
            // After a logout the view is empty again.
            main.noteView.logout()
            compare(view.userName, "")
            compare(view.pwd, "")
            compare(view.autoLoginBox.checked, false)
            settings.autoLogin = false
        }

        function test_aboutClearsOnlyWhenConfirmed() {
            var about = main.getView("aboutView")
            var frame = about.confirmFrame
            var logo = child(about, "logoArea")
            noteMgt.upateNoteItem({ "uuid": "", "set_at": "2016-04-01", "content": "keep me" })
            main.noteView.about()
            waitForView(about)
            about.clickCount = 0
            for (var i = 0; i < 6; i++)
                mouseClick(logo)
            compare(frame.visible, false)
            // The count carries over to the next visit.
            mouseClick(child(about, "btnClose"))
            waitForMain()
            main.noteView.about()
            waitForView(about)
            for (i = 0; i < 3; i++)
                mouseClick(logo)
            compare(about.clickCount, 9)
            compare(frame.visible, false)
            mouseClick(logo)
            compare(frame.visible, true)
            compare(about.clickCount, 0)

            // "Cancel" keeps the notes.
            mouseClick(frame.cancelButton)
            compare(frame.visible, false)
            dataSpy.clear()
            noteMgt.getDayNoteCount(new Date(2016, 3, 1))
            tryVerify(function () { return dayCount(dataSpy) === 1 }, 3000)

            // Ten more clicks and "Ok" clear them.
            for (i = 0; i < 10; i++)
                mouseClick(logo)
            compare(frame.visible, true)
            mouseClick(frame.okButton)
            compare(frame.visible, false)
            dataSpy.clear()
            noteMgt.getDayNoteCount(new Date(2016, 3, 1))
            tryVerify(function () { return dayCount(dataSpy) === 0 }, 3000)
        }

        function dayCount(spy) {
            for (var i = 0; i < spy.count; i++) {
                var data = spy.signalArguments[i][0]
                if (data["type"] === "day_note_count")
                    return Number(data["result"]["note_count"])
            }
            return -1
        }
    }
}

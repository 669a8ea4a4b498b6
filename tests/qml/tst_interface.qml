import QtQuick 2.4
import QtQuick.Window 2.2
import QtTest 1.0
import "qrc:/qml"
import "qrc:/js/lunar.js" as LunarJs

// The main window as a user meets it, with the real note manager: the keyboard in every
// view, whose notes lie on this computer, what account actions say, and the search list.
Item {
    id: root
    width: 200
    height: 200

    Window {
        id: window
        width: 800
        height: 600
        visible: true
    }

    SignalSpy {
        id: dataSpy
        target: noteMgt
        signalName: "dataReceived"
    }

    SignalSpy {
        id: appendSpy
        target: noteMgt
        signalName: "appendNoteItemToList"
    }

    TestCase {
        id: testCase
        name: "Interface"
        when: windowShown

        property var main: null

        function initTestCase() {
            var component = Qt.createComponent("qrc:/qml/main.qml")
            compare(component.status, Component.Ready, component.errorString())
            main = component.createObject(window.contentItem, { "width": 800, "height": 600 })
            verify(main)
            window.requestActivate()
            tryCompare(window, "active", true)
            waitForRendering(main)
        }

        function cleanupTestCase() {
            if (main)
                main.destroy()
        }

        function init() {
            dataSpy.clear()
            appendSpy.clear()
        }

        function cleanup() {
            if (noteMgt.isLogin)
                noteMgt.logout()
            while (main.stackView.depth > 1)
                main.stackView.pop({ "immediate": true })
            tryCompare(main.stackView, "busy", false)
            main.hideError()
            main.msgBar.infoTimeout = 5000
            main.strLoginAttempt = ""
            if (main.noteView.strFilter !== "")
                main.noteView.clearSearch()
            main.noteView.textSearch.text = ""
            main.noteView.state = "calendar"
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

        function typeText(strText) {
            for (var i = 0; i < strText.length; i++)
                keyClick(strText.charAt(i))
        }

        function waitForResult(strType) {
            tryVerify(function () {
                for (var i = 0; i < dataSpy.count; i++) {
                    if (dataSpy.signalArguments[i][0]["type"] === strType)
                        return true
                }
                return false
            }, 5000, strType)
        }

        // Messages of the bar, newest last.
        function messages() {
            var lst = []
            var rows = findAll(main.msgBar, function (item) {
                return item.objectName === "messageText" && item.visible
            })
            for (var i = 0; i < rows.length; i++)
                lst.push(rows[i].text)
            return lst
        }

        function findAll(item, pred) {
            var lst = []
            if (pred(item))
                lst.push(item)
            for (var i = 0; i < item.children.length; i++)
                lst = lst.concat(findAll(item.children[i], pred))
            return lst
        }

        function hasMessage(strStart) {
            var lst = messages()
            for (var i = 0; i < lst.length; i++) {
                if (lst[i].indexOf(strStart) === 0)
                    return true
            }
            return false
        }

        // A local user with that password, logged in: notes without owner become theirs.
        function loginLocal(strName, strPwd) {
            noteMgt.saveUser({ "name": strName, "pwd": Qt.md5(strPwd), "nickname": strName })
            noteMgt.login(strName, strPwd)
            tryVerify(function () { return noteMgt.isLogin && noteMgt.loginName === strName },
                      5000, "logged in as " + strName)
        }

        // ---- keyboard ----

        // Every view has its shortcuts: each row starts on the main view, opens a view
        // (or not), presses a key and names the view that must be on top afterwards.
        function test_shortcuts_data() {
            return [
                { tag: "Ctrl+N: new note for the selected day", open: "", key: Qt.Key_N,
                  modifiers: Qt.ControlModifier, result: "noteEditView" },
                { tag: "Escape leaves an untouched editor", open: "noteEditView",
                  key: Qt.Key_Escape, result: "noteView" },
                { tag: "Escape leaves the about view", open: "aboutView", key: Qt.Key_Escape,
                  result: "noteView" },
                { tag: "Escape leaves the login view", open: "loginView", key: Qt.Key_Escape,
                  result: "noteView" },
                { tag: "Escape leaves the registration", open: "registerView",
                  key: Qt.Key_Escape, result: "noteView" },
                { tag: "Escape leaves the password reminder", open: "forgotPwdView",
                  key: Qt.Key_Escape, result: "noteView" },
                { tag: "Escape leaves the backup, export and import view", open: "optionsView",
                  key: Qt.Key_Escape, result: "noteView" },
                { tag: "Escape leaves the day list", open: "noteDayListView",
                  key: Qt.Key_Escape, result: "noteView" },
                { tag: "Return opens the selected day", open: "", key: Qt.Key_Return,
                  result: "noteEditView" }
            ]
        }

        function test_shortcuts(data) {
            var calendar = main.noteView.calendarView
            calendar.selectDate(new Date(2014, 2, 9))
            if (data.open === "noteEditView") {
                main.addNote(new Date(2014, 2, 9))
            } else if (data.open === "noteDayListView") {
                main.showNoteList([{ "uuid": "{a}", "set_at": "2014-03-09", "title": "a",
                                     "content": "a" },
                                   { "uuid": "{b}", "set_at": "2014-03-09", "title": "b",
                                     "content": "b" }])
            } else if (data.open !== "") {
                main.pushView(main.getView(data.open), {})
            }
            var view = data.open === "" ? main.noteView : main.getView(data.open)
            waitForView(view)
            keyClick(data.key, data.modifiers === undefined ? Qt.NoModifier : data.modifiers)
            var target = data.result === "noteView" ? main.noteView : main.getView(data.result)
            waitForView(target)
            if (data.result === "noteEditView")
                compare(main.noteEditView.date, "2014-03-09")
        }

        function test_mainViewKeys() {
            var view = main.noteView
            waitForMain()
            verify(view.calendarView.activeFocus, "the calendar has the keyboard at start")
            keyClick(Qt.Key_F, Qt.ControlModifier)
            verify(view.textSearch.activeFocus)
            typeText("kelp")
            keyClick(Qt.Key_Escape)
            compare(view.textSearch.text, "")
            verify(view.calendarView.activeFocus, "Escape gives the keyboard back")
            keyClick(Qt.Key_L, Qt.ControlModifier)
            compare(view.state, "list")
            keyClick(Qt.Key_L, Qt.ControlModifier)
            compare(view.state, "calendar")
            // Tab reaches the toolbar's buttons; Return on one presses it.
            view.btnCalendarList.forceActiveFocus()
            keyClick(Qt.Key_Return)
            compare(view.state, "list")
            view.btnMenu.forceActiveFocus()
            keyClick(Qt.Key_Space)
            verify(view.menu().opened)
            keyClick(Qt.Key_Escape)
            verify(!view.menu().opened)
        }

        // Return submits the account views, and Tab reaches every field and button.
        function test_loginKeyboard() {
            main.noteView.login()
            var view = main.loginView
            waitForView(view)
            view.clear()
            var field = child(view, "textUserName")
            field.forceActiveFocus()
            var lstOrder = ["textUserName", "textPwd", "btnForgot", "checkAutoLogin", "btnLogin",
                            "btnRegister", "btnCancel"]
            for (var i = 1; i < lstOrder.length; i++) {
                keyClick(Qt.Key_Tab)
                verify(child(view, lstOrder[i]).activeFocus, "Tab to " + lstOrder[i])
            }
            // Empty fields: said, and the view stays.
            child(view, "btnLogin").forceActiveFocus()
            keyClick(Qt.Key_Return)
            compare(main.stackView.currentItem, view)
            verify(main.msgBar.isError)
            verify(child(view, "textUserName").activeFocus)
            typeText("nobody1")
            keyClick(Qt.Key_Tab)
            typeText("wrong")
            keyClick(Qt.Key_Return)
            waitForMain()
        }

        function test_registerKeyboard() {
            main.noteView.login()
            waitForView(main.loginView)
            main.loginView.registeUser()
            var view = main.registerView
            waitForView(view)
            verify(view.textUserName.activeFocus)
            typeText("Abc")
            compare(view.textUserName.text, "abc", "capitals are taken as small letters")
            keyClick(Qt.Key_Return)
            compare(main.msgBar.text, "User name is too short.")
            compare(main.stackView.currentItem, view)
        }

        // ---- whose notes are here ----

        function test_ownersHint() {
            loginLocal("carol", "sea-pass")
            noteMgt.upateNoteItem({ "uuid": "", "set_at": "2013-06-01", "content": "carol's note" })
            tryVerify(function () { return appendSpy.count > 0 }, 5000)
            var hint = main.noteView.ownersHint
            verify(!hint.visible, "no hint while logged in")
            // A restart without automatic login shows nobody's notes: the hint says whose
            // they are.
            noteMgt.logout()
            tryVerify(function () { return hint.visible }, 5000, "the hint shows")
            var strText = child(hint, "ownersText").text
            verify(strText.indexOf("carol") >= 0, strText)
            verify(strText.indexOf("log in") >= 0, strText)

            mouseClick(child(hint, "btnLoginAs"))
            waitForView(main.loginView)
            compare(main.loginView.userName, "carol")
            verify(child(main.loginView, "textPwd").activeFocus, "the password is next")
            typeText("sea-pass")
            keyClick(Qt.Key_Return)
            waitForMain()
            tryVerify(function () { return noteMgt.isLogin }, 5000)
            tryVerify(function () { return !hint.visible }, 5000)
        }

        // ---- account messages ----

        function test_accountMessages_data() {
            return [
                { tag: "known here, service unreachable", name: "dave", known: true,
                  info: "Logged in as dave.", error: "Logged in as dave on this computer only" },
                { tag: "unknown here, service unreachable", name: "erin", known: false,
                  info: "", error: "Login as erin failed: the note service cannot be reached" }
            ]
        }

        function test_accountMessages(data) {
            // Information stays while this test reads it, however slow the machine.
            main.msgBar.infoTimeout = 600000
            if (data.known)
                noteMgt.saveUser({ "name": data.name, "pwd": Qt.md5("pw-" + data.name) })
            main.noteView.login()
            waitForView(main.loginView)
            main.loginView.clear()
            child(main.loginView, "textUserName").forceActiveFocus()
            typeText(data.name)
            keyClick(Qt.Key_Tab)
            typeText("pw-" + data.name)
            keyClick(Qt.Key_Return)
            waitForMain()
            tryVerify(function () { return hasMessage(data.error) }, 5000, messages().join(" | "))
            if (data.info !== "")
                verify(hasMessage(data.info), messages().join(" | "))
            compare(noteMgt.isLogin, data.known)
            if (!data.known)
                return
            // Logging out from the menu says so, and where the notes are.
            main.noteView.menu().open()
            main.noteView.menu().items[3].trigger()
            compare(noteMgt.isLogin, false)
            verify(hasMessage("Logged out. The notes of " + data.name), messages().join(" | "))
        }

        // ---- the search list ----

        // A search typed in the calendar shows its matches only, though the list, shown for
        // the first time, also asks for its first page.
        function test_firstSearchFromCalendar() {
            var strWord = "eelgrass" + Date.now()
            appendSpy.clear()
            for (var i = 0; i < 6; i++)
                noteMgt.upateNoteItem({ "uuid": "", "set_at": "2011-02-" + (10 + i),
                                        "content": "tide " + i + (i % 2 === 0 ? " " + strWord : "") })
            tryVerify(function () { return appendSpy.count >= 6 }, 10000)
            var component = Qt.createComponent("qrc:/qml/main.qml")
            var fresh = createTemporaryObject(component, window.contentItem,
                                              { "width": 800, "height": 600 })
            verify(fresh)
            fresh.noteView.state = "calendar"
            var list = fresh.noteView.noteListView
            compare(list.bFirstPageAsked, false)
            fresh.noteView.textSearch.text = strWord
            fresh.noteView.search()
            compare(fresh.noteView.state, "list")
            // Every answer asked for so far has come once a later one has.
            dataSpy.clear()
            noteMgt.getNoteOwners()
            waitForResult("note_owners")
            tryVerify(function () { return list.bLoaded }, 5000)
            compare(list.model.count, 3)
            for (i = 0; i < list.model.count; i++)
                verify(list.model.get(i)._content.indexOf(strWord) >= 0, list.model.get(i)._content)
        }

        function test_searchList() {
            var view = main.noteView
            var list = view.noteListView
            var strWord = "seagrass" + Date.now()
            for (var i = 0; i < 30; i++)
                noteMgt.upateNoteItem({ "uuid": "", "set_at": "2012-01-" + (10 + i % 18),
                                        "content": "row " + i + (i % 3 === 0 ? " " + strWord : "") })
            tryVerify(function () { return appendSpy.count >= 30 }, 10000)
            view.toggleMode()
            compare(view.state, "list")
            list.getNoteList("")
            tryVerify(function () { return list.bLoaded && list.model.count >= 30 }, 5000)
            // Scrolled down, then a search: the results start at the top.
            list.listView.positionViewAtEnd()
            verify(list.listView.contentY > list.listView.originY)
            view.textSearch.forceActiveFocus()
            view.textSearch.text = strWord
            keyClick(Qt.Key_Return)
            tryVerify(function () { return list.bLoaded && list.model.count === 10 }, 5000,
                      "ten notes hold the word")
            fuzzyCompare(list.listView.contentY, list.listView.originY, 0.5)
            verify(view.filterBar.visible, "the filter shows")
            verify(child(view.filterBar, "filterText").text.indexOf(strWord) >= 0)
            verify(!list.emptyText.visible)

            // Nothing matches: said so.
            view.textSearch.text = strWord + "-none"
            keyClick(Qt.Key_Return)
            tryVerify(function () { return list.bLoaded && list.emptyText.visible }, 5000)
            verify(list.emptyText.text.indexOf("No notes found") === 0, list.emptyText.text)

            // The field's × ends the filter, visibly.
            mouseClick(view.textSearch.clearButton)
            compare(view.strFilter, "")
            verify(!view.filterBar.visible)
            tryVerify(function () { return list.bLoaded && list.model.count >= 30 }, 5000)
            verify(!list.emptyText.visible)
        }
    }
}

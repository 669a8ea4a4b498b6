import QtQuick 2.4
import QtTest 1.0
import QtQuick.Controls 1.3
import "qrc:/js/lunar.js" as LunarJs

// The main window with the real note manager and settings: start-up mode, the toolbar,
// quick notes, searching, the dispatch of results and the menu.
Item {
    id: rootId
    width: 1024
    height: 768

    Component {
        id: spyComp
        SignalSpy {}
    }

    // Spies on the note manager live as long as it does; a spy destroyed while still
    // connected to it would be called after its end.
    SignalSpy {
        id: appendSpy
        target: noteMgt
        signalName: "appendNoteItemToList"
    }

    SignalSpy {
        id: userSpy
        target: noteMgt
        signalName: "userIdChanged"
    }

    TestCase {
        id: testId
        name: "Main"
        when: windowShown

        property var mainComp: Qt.createComponent("qrc:/qml/main.qml")

        function createMain() {
            compare(mainComp.status, Component.Ready, mainComp.errorString())
            var main = createTemporaryObject(mainComp, rootId, {"width": rootId.width,
                                                 "height": rootId.height})
            verify(main)
            waitForRendering(main)
            return main
        }

        function init() {
            settings.initType = 0
            appendSpy.clear()
            userSpy.clear()
        }

        // Whether the second half of the views (calendar, list, editor, account views)
        // is present, rather than the least components.
        function haveViews(main) {
            return typeof main.noteView.noteListView.appendMapData === "function"
                    && main.getView("noteEditView").uuid !== undefined
        }

        function findAll(item, pred, lst) {
            if (!item)
                return lst
            if (pred(item))
                lst.push(item)
            var lstKids = item.children ? item.children : []
            for (var i = 0; i < lstKids.length; i++)
                findAll(lstKids[i], pred, lst)
            if (item.contentItem && item.contentItem !== item)
                findAll(item.contentItem, pred, lst)
            return lst
        }

        function test_startMode_data() {
            return [
                {tag: "calendar", initType: 0, state: "calendar"},
                {tag: "list", initType: 1, state: "list"},
                {tag: "other value", initType: 7, state: "list"}
            ]
        }

        function test_startMode(data) {
            settings.initType = data.initType
            var main = createMain()
            var view = main.noteView
            compare(view.state, data.state)
            compare(main.stackView.depth, 1)
            compare(main.stackView.currentItem, view)
            compare(view.calendarView.visible, data.state === "calendar")
            compare(view.noteListView.visible, data.state === "list")
            compare(view.backButton.visible, data.state === "calendar")
            compare(String(view.btnCalendarList.source).split("/").pop(),
                    data.state === "calendar" ? "calendar.svg" : "list.png")
            compare(main.msgBar.visible, false)
        }

        function test_toolbarGeometry() {
            var main = createMain()
            var view = main.noteView
            fuzzyCompare(view.toolBarRect.height, view.height * 0.08, 0.01)
            var nButton = view.toolBarRect.height * 0.8
            var lstButtons = [view.btnMenu, view.btnCalendarList, view.btnAdd, view.btnSearch]
            for (var i = 0; i < lstButtons.length; i++) {
                fuzzyCompare(lstButtons[i].width, nButton, 0.01)
                fuzzyCompare(lstButtons[i].height, nButton, 0.01)
            }
            fuzzyCompare(view.btnMenu.x + view.btnMenu.width, view.width, 0.01)
            fuzzyCompare(view.btnCalendarList.x + nButton + 10, view.btnMenu.x, 0.01)
            fuzzyCompare(view.btnSearch.x + nButton + 10, view.btnAdd.x, 0.01)
            fuzzyCompare(view.textSearch.x + view.textSearch.width, view.btnSearch.x, 0.01)
            compare(view.textSearch.height, view.btnSearch.height)
            // Half the space left, at most half the view.
            var nSpace = view.width - view.backButton.width - view.labelToday.width - 4 * nButton
                    - 40
            fuzzyCompare(view.textSearch.width, Math.max(0, Math.min(nSpace / 2, view.width / 2)),
                         0.01)
            verify(view.textSearch.x > view.labelToday.x + view.labelToday.width,
                   "the search field does not cover \"Today\"")
            main.width = 300
            compare(view.textSearch.width, Math.max(0, Math.min(
                        (300 - view.backButton.width - view.labelToday.width - 4 * nButton - 40) / 2,
                        150)))
            verify(view.textSearch.width >= 0)
        }

        function test_modeToggle() {
            var main = createMain()
            var view = main.noteView
            compare(view.state, "calendar")
            mouseClick(view.btnCalendarList)
            compare(view.state, "list")
            compare(settings.initType, 1)
            verify(!view.backButton.visible)
            verify(view.noteListView.visible)
            verify(!view.calendarView.visible)
            compare(view.labelToday.x, 10)
            mouseClick(view.btnCalendarList)
            compare(view.state, "calendar")
            compare(settings.initType, 0)
            verify(view.backButton.visible)
            compare(view.labelToday.x, view.backButton.x + view.backButton.width + 10)

            // The next start opens in the last mode.
            mouseClick(view.btnCalendarList)
            var mainNext = createMain()
            compare(mainNext.noteView.state, "list")
        }

        function test_backButtonOnYearsPage() {
            var main = createMain()
            var view = main.noteView
            if (typeof view.calendarView.toYears !== "function")
                skip("the calendar is not built yet")
            verify(view.backButton.visible)
            mouseClick(view.backButton)
            compare(view.calendarView.state, "years")
            verify(!view.backButton.visible)
            compare(view.labelToday.x, 10)
            view.calendarView.toMonths()
            verify(view.backButton.visible)
            // In list mode it never shows, whatever the calendar's page.
            view.calendarView.state = "years"
            mouseClick(view.btnCalendarList)
            view.calendarView.state = "months"
            verify(!view.backButton.visible)
        }

        function test_quickNote() {
            var main = createMain()
            var view = main.noteView
            var spy = appendSpy
            var lstTexts = ["Bought fresh kelp", "Low tide at noon"]
            for (var i = 0; i < lstTexts.length; i++) {
                view.textSearch.forceActiveFocus()
                view.textSearch.text = lstTexts[i]
                mouseClick(view.btnAdd)
                compare(view.textSearch.text, "")
                compare(main.stackView.depth, 1, "the editor stays closed")
                compare(view.bSearch, false)
            }
            tryCompare(spy, "count", 2, 10000)
            var lstUuids = []
            for (i = 0; i < 2; i++) {
                var note = spy.signalArguments[i][0]
                compare(note["content"], lstTexts[i])
                compare(String(note["set_at"]).split(" ")[0], LunarJs.getDateStr(new Date()))
                verify(/^\{[0-9a-f-]{36}\}$/.test(note["uuid"]), note["uuid"])
                lstUuids.push(note["uuid"])
            }
            verify(lstUuids[0] !== lstUuids[1], "each quick note is a note of its own")
            if (haveViews(main))
                tryVerify(function() { return listRows(main) >= 2 }, 5000,
                          "both quick notes are listed")
        }

        // A quick note reads back as it was typed, also where its text looks like markup.
        function test_quickNoteKeepsTypedMarkup() {
            var main = createMain()
            var view = main.noteView
            view.textSearch.forceActiveFocus()
            view.textSearch.text = "Fixed the <div> layout"
            mouseClick(view.btnAdd)
            tryCompare(appendSpy, "count", 1, 10000)
            var shown = createTemporaryQmlObject(
                        "import QtQuick 2.4; TextEdit { textFormat: TextEdit.AutoText }", testId)
            shown.text = appendSpy.signalArguments[0][0]["content"]
            compare(shown.getText(0, shown.length), "Fixed the <div> layout")
        }

        // A quick note that cannot be stored comes back into the field, with the reason in
        // the message bar: the typed text is not lost. Stored once the diary works again.
        function test_quickNoteFailureKeepsTheText() {
            var main = createMain()
            var view = main.noteView
            storeFault.breakDiary()
            view.textSearch.forceActiveFocus()
            view.textSearch.text = "Seals on the rocks"
            mouseClick(view.btnAdd)
            compare(main.stackView.depth, 1, "the editor stays closed")
            tryCompare(view.textSearch, "text", "Seals on the rocks", 10000)
            verify(main.msgBar.isError)
            verify(main.msgBar.text.indexOf("The note could not be saved: ") === 0, main.msgBar.text)
            compare(appendSpy.count, 0)

            storeFault.mendDiary()
            mouseClick(view.btnAdd)
            compare(view.textSearch.text, "")
            tryCompare(appendSpy, "count", 1, 10000)
            compare(appendSpy.signalArguments[0][0]["content"], "Seals on the rocks")
            compare(view.textSearch.text, "")
        }

        function test_addOpensEditor_data() {
            return [
                {tag: "empty field", text: "", search: false},
                {tag: "after a search", text: "kelp", search: true}
            ]
        }

        function test_addOpensEditor(data) {
            var main = createMain()
            var view = main.noteView
            var spy = createTemporaryObject(spyComp, testId, {"target": view,
                                                "signalName": "addNote"})
            view.textSearch.text = data.text
            if (data.search) {
                mouseClick(view.btnSearch)
                verify(view.bSearch)
            }
            mouseClick(view.btnAdd)
            compare(spy.count, 1)
            compare(view.bSearch, false)
            compare(main.stackView.depth, 2)
            compare(main.stackView.currentItem, main.noteEditView)
            compare(main.strEditDay, LunarJs.getDateStr(new Date()))
            if (main.noteEditView.uuid !== undefined) {
                compare(main.noteEditView.date, main.strEditDay)
                compare(main.noteEditView.content, "")
                compare(main.noteEditView.uuid, "")
            }
            main.popView()
            compare(main.stackView.depth, 1)
            compare(main.stackView.currentItem, view)
            tryCompare(main.noteEditView, "visible", false)
        }

        function test_search_data() {
            return [
                {tag: "text", text: "kelp", bSearch: true, byEnter: false},
                {tag: "text by Enter", text: "kelp", bSearch: true, byEnter: true},
                {tag: "empty", text: "", bSearch: false, byEnter: false}
            ]
        }

        function test_search(data) {
            var main = createMain()
            var view = main.noteView
            verify(view.backButton.visible)
            view.textSearch.forceActiveFocus()
            view.textSearch.text = data.text
            if (data.byEnter)
                keyClick(Qt.Key_Return)
            else
                mouseClick(view.btnSearch)
            compare(view.bSearch, data.bSearch)
            compare(view.state, "list")
            verify(!view.backButton.visible)
            verify(view.noteListView.visible)
            if (view.noteListView.strSearch !== undefined)
                compare(view.noteListView.strSearch, data.text)
        }

        // Text left in the search field does not search when the focus moves on, for
        // example to the editor of a day.
        function test_searchFieldLosesFocus() {
            var main = createMain()
            var view = main.noteView
            view.textSearch.forceActiveFocus()
            view.textSearch.text = "kelp"
            main.addNote(new Date(2016, 4, 4))
            view.forceActiveFocus()
            verify(!view.textSearch.activeFocus)
            compare(view.state, "calendar")
            compare(view.bSearch, false)
            main.popView()
            compare(view.state, "calendar")
        }

        function test_noteListByDay_data() {
            var note1 = {"uuid": "{00000000-0000-0000-0000-000000000001}",
                "set_at": "2016-05-04 10:20:00", "title": "one", "content": "first note",
                "deleted": 0}
            var note2 = {"uuid": "{00000000-0000-0000-0000-000000000002}",
                "set_at": "2016-05-04 00:00:00", "title": "two", "content": "second note",
                "deleted": 0}
            return [
                {tag: "no note", result: [], view: "edit", date: "2016-05-04", content: "",
                    uuid: ""},
                {tag: "one note", result: [note1], view: "edit", date: "2016-05-04",
                    content: "first note", uuid: note1.uuid},
                {tag: "two notes", result: [note1, note2], view: "list"},
                {tag: "error", result: [], error: "database is locked", view: "none"}
            ]
        }

        function test_noteListByDay(data) {
            var main = createMain()
            var mapData = {"type": "note_list_by_day", "date": "2016-05-04",
                "result": data.result}
            if (data.error !== undefined)
                mapData["error"] = data.error
            main.onDataReceived(mapData)
            if (data.view === "none") {
                compare(main.stackView.depth, 1)
                return
            }
            compare(main.stackView.depth, 2)
            if (data.view === "edit") {
                compare(main.stackView.currentItem, main.noteEditView)
                compare(main.strEditDay, data.date)
                if (main.noteEditView.uuid !== undefined) {
                    compare(main.noteEditView.date, data.date)
                    compare(main.noteEditView.content, data.content)
                    compare(main.noteEditView.uuid, data.uuid)
                }
            } else {
                compare(main.stackView.currentItem, main.noteDayListView)
                if (main.noteDayListView.lstItems !== undefined)
                    compare(main.noteDayListView.lstItems.length, data.result.length)
            }
            main.popView()
            compare(main.stackView.depth, 1)
        }

        // A click on a day goes through the real note manager and store: no note opens a
        // new one, one note opens it, several show the day list.
        function test_clickDay_data() {
            return [
                {tag: "no note", day: "2016-07-01", notes: 0},
                {tag: "one note", day: "2016-07-02", notes: 1},
                {tag: "two notes", day: "2016-07-03", notes: 2}
            ]
        }

        function test_clickDay(data) {
            var main = createMain()
            var spyAppend = appendSpy
            for (var i = 0; i < data.notes; i++)
                noteMgt.upateNoteItem({"uuid": "", "set_at": data.day,
                                          "content": "note " + i + " of " + data.day})
            tryCompare(spyAppend, "count", data.notes, 10000)
            main.noteView.calendarView.clickDay(LunarJs.parseDateStr(data.day))
            tryCompare(main.stackView, "depth", 2, 10000)
            if (data.notes < 2) {
                compare(main.stackView.currentItem, main.noteEditView)
                compare(main.strEditDay, data.day)
                if (main.noteEditView.uuid !== undefined) {
                    compare(main.noteEditView.date, data.day)
                    compare(main.noteEditView.content, data.notes ? "note 0 of " + data.day : "")
                    compare(main.noteEditView.uuid,
                            data.notes ? spyAppend.signalArguments[0][0]["uuid"] : "")
                }
            } else {
                compare(main.stackView.currentItem, main.noteDayListView)
                compare(main.noteDayListView.lstItems.length, 2)
            }
            main.popView()
        }

        function test_calendarFollowsSettings() {
            var main = createMain()
            var calendar = main.noteView.calendarView
            if (!haveViews(main))
                skip("the calendar is not built yet")
            settings.firstDay = 1
            compare(calendar.nFirstWeekDay, 1)
            settings.firstDay = 0
            compare(calendar.nFirstWeekDay, 0)
            calendar.setYearNum(1999)
            compare(main.noteView.txtYear.text, "1999")
            var spy = createTemporaryObject(spyComp, testId, {"target": main.noteView,
                                                "signalName": "addNote"})
            calendar.addNote(new Date(2016, 4, 4))
            compare(spy.count, 1)
            compare(main.stackView.currentItem, main.noteEditView)
            compare(main.strEditDay, "2016-05-04")
        }

        function test_secondResultWhileEditorOpen() {
            var main = createMain()
            main.onDataReceived({"type": "note_list_by_day", "date": "2016-05-04", "result": []})
            main.onDataReceived({"type": "note_list_by_day", "date": "2016-05-06", "result": []})
            compare(main.stackView.depth, 2)
            compare(main.stackView.currentItem, main.noteEditView)
            compare(main.strEditDay, "2016-05-06")
            if (main.noteEditView.date !== undefined)
                compare(main.noteEditView.date, "2016-05-06")
            main.popView()
            compare(main.stackView.depth, 1)
        }

        function test_editNoteDate() {
            var main = createMain()
            main.editNote("2016-05-04 10:20:00", "text", "{00000000-0000-0000-0000-00000000000a}")
            compare(main.strEditDay, "2016-05-04")
            compare(main.stackView.currentItem, main.noteEditView)
            if (main.noteEditView.date !== undefined)
                compare(main.noteEditView.date, "2016-05-04")
            main.addNote(undefined)
            compare(main.strEditDay, LunarJs.getDateStr(new Date()))
        }

        // A note whose text has not come yet is not opened as an empty note (what would be
        // typed there would replace its text); an empty note and a note with its text are.
        function test_noteWithoutItsTextIsNotOpened() {
            var main = createMain()
            var strUuid = "{00000000-0000-0000-0000-00000000000b}"
            main.editNote("2016-05-04", "", strUuid, "", {"updated_at": "2016-05-04 10:00:00",
                                                          "md5": "", "content_size": 2048})
            compare(main.stackView.currentItem, main.noteView)
            verify(main.msgBar.visible)
            verify(!main.msgBar.isError)
            verify(main.msgBar.text.indexOf("has not come from the note service yet") >= 0)

            main.editNote("2016-05-04", "", strUuid, "", {"updated_at": "2016-05-04 10:00:00",
                                                          "md5": "", "content_size": 0})
            compare(main.stackView.currentItem, main.noteEditView)
            main.popView()
            tryCompare(main.stackView, "busy", false)
            main.editNote("2016-05-04", "<p>here</p>", strUuid, "",
                          {"updated_at": "2016-05-04 10:00:00", "md5": "", "content_size": 11})
            compare(main.stackView.currentItem, main.noteEditView)
        }

        function listRows(main) {
            var lstViews = findAll(main.noteView.noteListView, function(item) {
                return item.hasOwnProperty("model") && item.hasOwnProperty("currentIndex")
                        && item.hasOwnProperty("highlightRangeMode")
            }, [])
            verify(lstViews.length > 0, "the note list has a list view")
            return lstViews[0].count
        }

        function note(n, strDay) {
            return {"uuid": "{00000000-0000-0000-0000-0000000000" + (n < 10 ? "0" : "") + n + "}",
                "set_at": strDay, "title": "note " + n, "content": "content " + n,
                "deleted": 0}
        }

        function test_noteListByOffset() {
            var main = createMain()
            if (!haveViews(main))
                skip("the note list is not built yet")
            main.onDataReceived({"type": "get_note_list_by_offset", "offset": 0,
                                    "search_string": "",
                                    "result": [note(1, "2016-05-04"), note(2, "2016-05-03")]})
            compare(listRows(main), 2)
            // A later page is merged into the list.
            main.onDataReceived({"type": "get_note_list_by_offset", "offset": 2,
                                    "search_string": "",
                                    "result": [note(3, "2016-05-02"), note(1, "2016-05-04")]})
            compare(listRows(main), 3)
            // Offset 0 starts the list again.
            main.onDataReceived({"type": "get_note_list_by_offset", "offset": 0,
                                    "search_string": "", "result": [note(4, "2016-05-01")]})
            compare(listRows(main), 1)
            // Rows added and removed by the note manager.
            noteMgt.appendNoteItemToList(note(5, "2016-06-01"))
            compare(listRows(main), 2)
            noteMgt.removeNoteItemToList(note(5, "").uuid)
            compare(listRows(main), 1)
            // An error is not a page.
            main.onDataReceived({"type": "get_note_list_by_offset", "error": "no such table"})
            compare(listRows(main), 1)
        }

        function dayCells(main, strDay) {
            return findAll(main.noteView.calendarView, function(item) {
                return item.hasOwnProperty("noteCount") && item.hasOwnProperty("isToday")
                        && item.bInYear === false && item.currentDate instanceof Object
                        && LunarJs.getDateStr(item.currentDate) === strDay
            }, [])
        }

        function test_noteCounts() {
            var main = createMain()
            if (!haveViews(main))
                skip("the calendar is not built yet")
            var strToday = LunarJs.getDateStr(new Date())
            var strFirst = strToday.substring(0, 8) + "01"
            tryVerify(function() { return dayCells(main, strToday).length > 0 }, 5000)
            main.onDataReceived({"type": "day_note_count_by_month",
                                    "result": {"date": strFirst, "result": [
                                            {"set_at": strToday, "note_count": "3"}]}})
            tryVerify(function() { return dayCells(main, strToday)[0].noteCount > 0 }, 2000)
            main.onDataReceived({"type": "day_note_count",
                                    "result": {"set_at": strToday, "note_count": 0}})
            tryVerify(function() { return Number(dayCells(main, strToday)[0].noteCount) === 0 },
                      2000)
            // Errors and unknown types change nothing.
            main.onDataReceived({"type": "day_note_count_by_month", "error": "locked"})
            main.onDataReceived({"type": "delete_note_item", "result": "success"})
            compare(main.stackView.depth, 1)
        }

        function test_messagesFromNoteMgt() {
            var main = createMain()
            noteMgt.showError("Cannot reach the note service")
            verify(main.msgBar.visible)
            verify(main.msgBar.isError)
            compare(main.msgBar.text, "Cannot reach the note service")
            noteMgt.showInfo("Registered")
            verify(!main.msgBar.isError)
            compare(main.msgBar.text, "Registered")
            main.hideError()
            verify(!main.msgBar.visible)
            main.showError("local check")
            verify(main.msgBar.visible)
            compare(main.msgBar.text, "local check")
        }

        // The views over the main view are made when first asked for, then kept: the
        // same view, with what it holds, comes back on the next visit.
        function test_viewsMadeOnFirstUse() {
            var main = createMain()
            compare(main.loginView, null)
            compare(main.noteEditView, null)
            main.noteView.login()
            var view = main.loginView
            verify(view)
            compare(main.stackView.currentItem, view)
            main.popView()
            tryCompare(view, "visible", false)
            main.noteView.login()
            compare(main.loginView, view)
            compare(main.stackView.currentItem, view)
            main.popView()
            compare(main.getView("noteEditView"), main.noteEditView)
            verify(main.noteEditView)
            compare(main.getView("noSuchView"), null)
        }

        function test_menu() {
            var main = createMain()
            var view = main.noteView
            var lstItems = view.menu().items
            // Entries are seen while the menu is open.
            view.menu().open()
            compare(lstItems.length, 6)
            compare(lstItems[0].text, "About")
            compare(lstItems[1].separator, true)
            compare(lstItems[2].text, "Login")
            compare(lstItems[2].visible, !noteMgt.isLogin)
            compare(lstItems[3].visible, noteMgt.isLogin)
            compare(lstItems[3].text, "Logout(" + noteMgt.loginName + ")")
            verify(String(lstItems[0].iconSource).indexOf("about.svg") >= 0)
            verify(String(lstItems[2].iconSource).indexOf("login.svg") >= 0)
            verify(String(lstItems[3].iconSource).indexOf("logout.svg") >= 0)

            // It opens under its button, inside the window, and the keyboard walks it.
            view.menu().close()
            mouseClick(view.btnMenu)
            verify(view.menu().opened)
            var frame = view.menu().frame
            var pos = frame.mapToItem(main, 0, 0)
            verify(pos.x >= 0 && pos.x + frame.width <= main.width + 0.5, "inside the window")
            fuzzyCompare(pos.x + frame.width, view.btnMenu.mapToItem(main, view.btnMenu.width, 0).x, 1)
            verify(lstItems[0].activeFocus)
            keyClick(Qt.Key_Down)
            verify(lstItems[2].activeFocus, "the separator is passed over")
            keyClick(Qt.Key_Escape)
            verify(!view.menu().opened)

            lstItems[2].trigger()
            compare(main.stackView.currentItem, main.loginView)
            main.popView()
            lstItems[0].trigger()
            compare(main.stackView.currentItem, main.aboutView)
            main.popView()
            compare(lstItems[4].separator, true)
            lstItems[5].trigger()
            compare(main.stackView.currentItem, main.getView("optionsView"))
            main.popView()
            compare(main.stackView.depth, 1)

            var spyUser = userSpy
            lstItems[3].trigger()
            compare(spyUser.count, 1, "logout goes to the note manager")
            compare(noteMgt.isLogin, false)
            if (main.loginView.clear !== undefined) {
                verify(!main.loginView.visible)
            }
        }

        function test_menuFollowsLogin() {
            var main = createMain()
            var lstItems = main.noteView.menu().items
            main.noteView.menu().open()
            noteMgt.saveUser({"name": "menuuser", "pwd": Qt.md5("secret5"), "nickname": "M"})
            noteMgt.login("menuuser", "secret5")
            // Poll rather than fail: the note manager's local login may not exist yet.
            var tStart = Date.now()
            while (!noteMgt.isLogin && Date.now() - tStart < 3000)
                wait(50)
            if (!noteMgt.isLogin)
                skip("local login is not available yet")
            verify(!lstItems[2].visible)
            verify(lstItems[3].visible)
            compare(lstItems[3].text, "Logout(menuuser)")
            lstItems[3].trigger()
            compare(noteMgt.isLogin, false)
            main.noteView.menu().open()
            verify(lstItems[2].visible)
            verify(!lstItems[3].visible)
        }

        function test_loginNavigation() {
            var main = createMain()
            main.noteView.login()
            compare(main.stackView.currentItem, main.loginView)
            main.loginView.forgotPwd()
            compare(main.stackView.depth, 2)
            compare(main.stackView.currentItem, main.forgotPwdView)
            main.popView()
            main.noteView.login()
            main.loginView.registeUser()
            compare(main.stackView.depth, 2)
            compare(main.stackView.currentItem, main.registerView)
            main.popView()
            compare(main.stackView.depth, 1)
        }
    }
}

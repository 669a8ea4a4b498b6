import QtQuick 2.4
import QtQuick.Window 2.2
import QtQuick.Controls 1.3
import QtTest 1.0
import "qrc:/qml"
import "qrc:/js/lunar.js" as LunarJs

// The editor and the ways into it, inside the real main window with the real note manager.
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

    Component {
        id: spyComponent
        SignalSpy {}
    }

    SignalSpy {
        id: appendSpy
        target: noteMgt
        signalName: "appendNoteItemToList"
    }

    SignalSpy {
        id: removeSpy
        target: noteMgt
        signalName: "removeNoteItemToList"
    }

    SignalSpy {
        id: dataSpy
        target: noteMgt
        signalName: "dataReceived"
    }

    Component {
        id: pickerComponent
        EditDateTimeView {
            width: 800
            height: 600
        }
    }

    TestCase {
        id: testCase
        name: "NoteEdit"
        when: windowShown

        property var main: null
        property var editor: null

        function initTestCase() {
            var component = Qt.createComponent("qrc:/qml/main.qml")
            compare(component.status, Component.Ready, component.errorString())
            main = component.createObject(window.contentItem, { "width": 800, "height": 600 })
            verify(main)
            editor = main.getView("noteEditView")
            window.requestActivate()
            tryCompare(window, "active", true)
            waitForRendering(main)
        }

        function cleanupTestCase() {
            if (main)
                main.destroy()
        }

        function init() {
            settings.withTitle = false
            appendSpy.clear()
            removeSpy.clear()
            dataSpy.clear()
        }

        function cleanup() {
            while (main.stackView.depth > 1)
                main.stackView.pop({ "immediate": true })
            tryCompare(main.stackView, "busy", false)
        }

        function waitForView(view) {
            tryVerify(function () {
                return main.stackView.currentItem === view && !main.stackView.busy
            }, 3000, "view was not shown")
            waitForRendering(view)
        }

        function waitForMain() {
            tryVerify(function () {
                return main.stackView.currentItem === main.noteView && !main.stackView.busy
            }, 3000, "main view was not shown")
        }


        // The month item of the months page that shows the month of a "yyyy-MM-dd" day, if made.
        function monthItemOf(monthsView, strDate) {
            var objDate = LunarJs.parseDateStr(String(strDate))
            var lst = monthsView.listView.contentItem.children
            for (var i = 0; i < lst.length; i++) {
                var item = lst[i]
                if (item.objectName === "monthsPageMonth" && item.currentDate
                        && item.currentDate.getFullYear() === objDate.getFullYear()
                        && item.currentDate.getMonth() === objDate.getMonth())
                    return item
            }
            return null
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

        function plainText() {
            return editor.textArea.getText(0, editor.textArea.length)
        }

        // A stored note and its record as the list receives it.
        function storeNote(strDate, strContent) {
            main.addNote(LunarJs.parseDateStr(strDate))
            waitForView(editor)
            editor.content = strContent
            appendSpy.clear()
            mouseClick(child(editor, "btnFinish"))
            appendSpy.wait(3000)
            waitForMain()
            return appendSpy.signalArguments[0][0]
        }

        function notesOfDay(strDate) {
            dataSpy.clear()
            noteMgt.getNoteListByDay(LunarJs.parseDateStr(strDate))
            var lst = null
            tryVerify(function () {
                for (var i = 0; i < dataSpy.count; i++) {
                    var data = dataSpy.signalArguments[i][0]
                    if (data["type"] === "note_list_by_day" && data["date"] === strDate) {
                        lst = data["result"]
                        return true
                    }
                }
                return false
            }, 3000)
            // The main window opens what it got; this test only wants the rows.
            waitForView(main.stackView.currentItem)
            main.stackView.pop({ "immediate": true })
            return lst
        }

        function test_newNoteWithKeys() {
            main.addNote(new Date(2016, 4, 4, 13, 30))
            waitForView(editor)
            compare(editor.uuid, "")
            compare(editor.date, "2016-05-04")
            compare(child(editor, "btnRemove").visible, false)
            mouseClick(editor.textArea)
            typeText("hello kelpo")
            mouseClick(child(editor, "btnFinish"))
            appendSpy.wait(3000)
            var note = appendSpy.signalArguments[0][0]
            compare(note["set_at"], "2016-05-04")
            verify(String(note["content"]).indexOf("hello kelpo") >= 0, note["content"])
            verify(String(note["uuid"]).length === 38)
            waitForMain()
            // The main list shows it.
            var model = main.noteView.noteListView.model
            tryVerify(function () {
                for (var i = 0; i < model.count; i++) {
                    if (model.get(i)._uuid === note["uuid"])
                        return true
                }
                return false
            })
        }

        function cancelBy(strHow) {
            if (strHow === "button")
                mouseClick(child(editor, "btnCancel"))
            else
                keyClick(Qt.Key_Escape)
        }

        // Cancel (the button or Escape) never throws typed text away without asking.
        function test_cancelAsksWhenChanged_data() {
            return [
                { tag: "button, unchanged", how: "button", typed: "" },
                { tag: "Escape, unchanged", how: "escape", typed: "" },
                { tag: "button, typed", how: "button", typed: "never stored" },
                { tag: "Escape, typed", how: "escape", typed: "never stored" }
            ]
        }

        function test_cancelAsksWhenChanged(data) {
            main.addNote(new Date(2016, 4, 6))
            waitForView(editor)
            mouseClick(editor.textArea)
            typeText(data.typed)
            cancelBy(data.how)
            if (data.typed === "") {
                waitForMain()
                compare(editor.discardFrame.visible, false)
                return
            }
            // Asked; "Keep editing" (also Escape) goes back to the text as it was.
            verify(editor.discardFrame.visible)
            compare(main.stackView.currentItem, editor)
            keyClick(Qt.Key_Escape)
            verify(!editor.discardFrame.visible)
            compare(plainText(), data.typed)
            verify(editor.textArea.activeFocus, "typing goes on in the text")
            keyClick(Qt.Key_X)
            compare(plainText(), data.typed + "x")
            // Asked again; "Discard" closes without storing.
            cancelBy(data.how)
            verify(editor.discardFrame.visible)
            mouseClick(editor.discardFrame.okButton)
            waitForMain()
            compare(notesOfDay("2016-05-06").length, 0)
            compare(appendSpy.count, 0)
        }

        // Bold, italic and lists become the note's rich text; a plain note keeps its lines
        // and its "<" when it turns rich.
        function test_formatting_data() {
            return [
                { tag: "Ctrl+B", key: Qt.Key_B, mark: "font-weight:" },
                { tag: "Ctrl+I", key: Qt.Key_I, mark: "font-style:italic" },
                { tag: "list button", button: "btnList", mark: "<ul" },
                { tag: "bold button", button: "btnBold", mark: "font-weight:" }
            ]
        }

        function test_formatting(data) {
            main.addNote(new Date(2015, 3, 1))
            waitForView(editor)
            mouseClick(editor.textArea)
            typeText("a<b  &  c")
            keyClick(Qt.Key_Return)
            keyClick(Qt.Key_Return)
            typeText("    sea kelp")
            var strPlain = editor.formatter.plainText()
            compare(strPlain, "a<b  &  c\n\n    sea kelp")
            editor.textArea.select(strPlain.length - 4, strPlain.length)
            if (data.button !== undefined)
                mouseClick(child(editor, data.button))
            else
                keyClick(data.key, Qt.ControlModifier)
            verify(editor.content.indexOf(data.mark) >= 0, editor.content)
            compare(editor.formatter.plainText(), strPlain, "the text itself is unchanged")
            // The same again undoes it.
            editor.textArea.select(strPlain.length - 4, strPlain.length)
            if (data.button !== undefined)
                mouseClick(child(editor, data.button))
            else
                keyClick(data.key, Qt.ControlModifier)
            verify(editor.content.indexOf(data.mark) < 0
                   || (data.mark === "font-weight:" && editor.content.indexOf("font-weight:600") < 0
                       && editor.content.indexOf("font-weight:700") < 0), editor.content)
            compare(editor.formatter.plainText(), strPlain)
            editor.discard()
            waitForMain()
        }

        function test_formattingIsStored() {
            var strDay = "2015-04-02"
            main.addNote(LunarJs.parseDateStr(strDay))
            waitForView(editor)
            mouseClick(editor.textArea)
            typeText("bold kelp")
            editor.textArea.select(5, 9)
            keyClick(Qt.Key_B, Qt.ControlModifier)
            keyClick(Qt.Key_S, Qt.ControlModifier)
            waitForMain()
            var lst = null
            tryVerify(function () {
                lst = notesOfDay(strDay)
                return lst.length === 1
            }, 5000)
            verify(/font-weight:(600|700)[^>]*>kelp/.test(lst[0]["content"]), lst[0]["content"])
            compare(lst[0]["title"], "bold kelp")
        }

        // The picture dialog offers every picture Qt reads here, whatever the case of its
        // name, and starts in the Pictures folder.
        function test_pictureFilter_data() {
            return [
                { tag: "IMG_0001.JPG", name: "IMG_0001.JPG", shown: true },
                { tag: "photo.jpeg", name: "photo.jpeg", shown: true },
                { tag: "Shot.PNG", name: "Shot.PNG", shown: true },
                { tag: "anim.gif", name: "anim.gif", shown: true },
                { tag: "new.WebP", name: "new.WebP", shown: true },
                { tag: "old.bmp", name: "old.bmp", shown: true },
                { tag: "notes.txt", name: "notes.txt", shown: false },
                { tag: "jpg without a dot", name: "jpg", shown: false },
                { tag: "photo.jpg.txt", name: "photo.jpg.txt", shown: false }
            ]
        }

        function globToRegExp(strGlob) {
            var str = "^"
            for (var i = 0; i < strGlob.length; i++) {
                var ch = strGlob.charAt(i)
                if (ch === "*")
                    str += ".*"
                else if (ch === "?")
                    str += "."
                else if (ch === "[") {
                    var nEnd = strGlob.indexOf("]", i)
                    str += strGlob.substring(i, nEnd + 1)
                    i = nEnd
                } else
                    str += ch.replace(/[.+^${}()|\\]/g, "\\$&")
            }
            return new RegExp(str + "$")
        }

        function test_pictureFilter(data) {
            var dialog = editor.makePictureDialog()
            compare(String(dialog.folder), noteMgt.pictureFolder())
            var lstFilters = dialog.nameFilters
            compare(lstFilters.length, 1)
            var strPatterns = /\(([^)]*)\)/.exec(lstFilters[0])[1]
            var lstPatterns = strPatterns.split(" ")
            var bShown = false
            for (var i = 0; i < lstPatterns.length; i++)
                bShown = bShown || globToRegExp(lstPatterns[i]).test(data.name)
            compare(bShown, data.shown)
        }

        function test_finishShortcuts_data() {
            return [
                { tag: "Ctrl+S", key: Qt.Key_S, day: "2015-03-11" },
                { tag: "Ctrl+Return", key: Qt.Key_Return, day: "2015-03-12" },
                { tag: "Ctrl+Enter", key: Qt.Key_Enter, day: "2015-03-13" }
            ]
        }

        function test_finishShortcuts(data) {
            var strDay = data.day
            main.addNote(LunarJs.parseDateStr(strDay))
            waitForView(editor)
            mouseClick(editor.textArea)
            typeText("kept by " + data.tag)
            keyClick(data.key, Qt.ControlModifier)
            waitForMain()
            tryCompare(appendSpy, "count", 1, 5000)
            tryVerify(function () { return notesOfDay(strDay).length === 1 }, 5000)
        }

        function test_dayOpens_data() {
            return [
                { tag: "no note", day: "2016-07-01", notes: 0 },
                { tag: "one note", day: "2016-07-02", notes: 1 },
                { tag: "three notes", day: "2016-07-03", notes: 3 }
            ]
        }

        function test_dayOpens(data) {
            var lstUuid = []
            var lstStored = []
            for (var i = 0; i < data.notes; i++) {
                lstStored.push(storeNote(data.day, "note " + i + " of " + data.day))
                lstUuid.push(lstStored[i]["uuid"])
            }

            // A click on the day in the calendar asks for its notes.
            var calendar = main.noteView.calendarView
            calendar.monthsView.scrollToMonth(LunarJs.parseDateStr(data.day))
            var month = null
            tryVerify(function () {
                month = monthItemOf(calendar.monthsView, data.day)
                return month !== null && calendar.getCurrentDate() === data.day.substring(0, 8) + "01"
            }, 3000)
            waitForRendering(month)
            mouseClick(month.dayItemAt(parseInt(data.day.substring(8))))

            if (data.notes === 0) {
                waitForView(editor)
                compare(editor.date, data.day)
                compare(editor.uuid, "")
                compare(plainText(), "")
                compare(editor.strOpenedAt, "")
            } else if (data.notes === 1) {
                waitForView(editor)
                compare(editor.uuid, lstUuid[0])
                compare(editor.date, data.day)
                compare(plainText(), "note 0 of " + data.day)
                // What the editor stores names the version it opened.
                verify(editor.strOpenedAt !== "")
                compare(editor.strOpenedAt, lstStored[0]["updated_at"])
                compare(editor.strOpenedMd5, lstStored[0]["md5"])
                compare(editor.noteMap()["opened_at"], lstStored[0]["updated_at"])
                compare(editor.noteMap()["opened_md5"], lstStored[0]["md5"])
                compare(child(editor, "btnRemove").visible, true)
            } else {
                var dayList = main.getView("noteDayListView")
                waitForView(dayList)
                compare(dayList.model.count, data.notes)
                // A row opens its note in place of the day list.
                var list = child(dayList, "lstViewId")
                var row = list.itemAtIndex(1)
                mouseClick(row)
                waitForView(editor)
                compare(editor.uuid, row.uuid)
                var stored = lstStored[lstUuid.indexOf(row.uuid)]
                compare(editor.strOpenedAt, stored["updated_at"])
                compare(editor.strOpenedMd5, stored["md5"])
                compare(main.stackView.depth, 2)
                main.popView()
                waitForMain()
                // A click beside the day list closes it.
                mouseClick(month.dayItemAt(parseInt(data.day.substring(8))))
                waitForView(dayList)
                mouseClick(dayList, 5, dayList.height / 2)
                waitForMain()
            }
        }

        // Text typed without formatting opens again as it was typed, also where it looks like
        // markup (a tag in its first line, an escaped character); text that does not look
        // like markup is stored as it stands.
        function test_typedMarkupKept_data() {
            return [
                { tag: "tag in the first line", date: "2016-08-01",
                  lines: ["Fixed the <div> layout"] },
                { tag: "tags over lines", date: "2016-08-02",
                  lines: ["Use <b>bold</b>  here", "", "  and <i>this</i> now  "] },
                { tag: "escaped character", date: "2016-08-03", lines: ["5 &lt; 6 & 7 > 2"] },
                { tag: "comparison", date: "2016-08-04", lines: ["a < b and c > d"] },
                { tag: "no markup", date: "2016-08-05", lines: ["x < 2 and 3 > 1", "<b>"],
                  plain: true }
            ]
        }

        function test_typedMarkupKept(data) {
            var strTyped = data.lines.join("\n")
            main.addNote(LunarJs.parseDateStr(data.date))
            waitForView(editor)
            mouseClick(editor.textArea)
            for (var i = 0; i < data.lines.length; i++) {
                if (i > 0)
                    keyClick(Qt.Key_Return)
                typeText(data.lines[i])
            }
            compare(plainText(), strTyped)
            appendSpy.clear()
            mouseClick(child(editor, "btnFinish"))
            appendSpy.wait(3000)
            waitForMain()
            var note = appendSpy.signalArguments[0][0]
            if (data.plain)
                compare(note["content"], strTyped)

            // Opened (after another note), saved unchanged, and opened again.
            for (var nRound = 0; nRound < 2; nRound++) {
                main.editNote("2016-07-31", "<p>another note</p>", "")
                waitForView(editor)
                main.stackView.pop({ "immediate": true })
                waitForMain()
                var lstNotes = notesOfDay(data.date)
                compare(lstNotes.length, 1)
                main.editNote(data.date, lstNotes[0]["content"], note["uuid"], note["title"])
                waitForView(editor)
                compare(plainText().replace(/[\u2029\u2028]/g, "\n"), strTyped)
                appendSpy.clear()
                mouseClick(child(editor, "btnFinish"))
                appendSpy.wait(3000)
                waitForMain()
            }
            noteMgt.deleteNoteItem(note["uuid"])
            tryVerify(function () { return notesOfDay(data.date).length === 0 }, 5000)
        }

        function test_editAndRedate() {
            var note = storeNote("2016-08-10", "first words")
            main.editNote(note["set_at"], note["content"], note["uuid"], note["title"])
            waitForView(editor)
            compare(plainText(), "first words")

            // Change the text and pick another day with the date picker.
            editor.textArea.cursorPosition = editor.textArea.length
            mouseClick(editor.textArea, editor.textArea.width - 5, 10)
            keyClick(Qt.Key_End)
            typeText(" and more")
            mouseClick(child(editor, "dateMouseArea"))
            var picker = editor.dateEditView
            compare(picker.visible, true)
            var dateItem = picker.dateItem
            tryCompare(dateItem.daySpinner, "value", 10)
            tryCompare(dateItem.monthSpinner, "value", 8)
            dateItem.monthSpinner.positionIdx(8)
            tryCompare(dateItem.monthSpinner, "value", 9)
            dateItem.monthSpinner.movementEnded()
            tryCompare(dateItem.daySpinner, "itemCount", 30)
            tryCompare(dateItem.daySpinner, "value", 10)
            mouseClick(child(picker, "btnFinish"))
            compare(picker.visible, false)
            compare(editor.date, "2016-09-10")

            appendSpy.clear()
            dataSpy.clear()
            mouseClick(child(editor, "btnFinish"))
            appendSpy.wait(3000)
            var updated = appendSpy.signalArguments[0][0]
            compare(updated["uuid"], note["uuid"])
            compare(updated["set_at"], "2016-09-10")
            // The day the note left is counted again, so that its dot goes.
            tryVerify(function () {
                for (var i = 0; i < dataSpy.count; i++) {
                    var data = dataSpy.signalArguments[i][0]
                    if (data["type"] === "day_note_count" && data["result"]
                            && String(data["result"]["set_at"]).indexOf("2016-08-10") === 0)
                        return data["result"]["note_count"] === 0
                }
                return false
            }, 3000, "no count of 0 for the day the note left")
            verify(String(updated["content"]).indexOf("first words and more") >= 0, updated["content"])
            waitForMain()
            compare(notesOfDay("2016-08-10").length, 0)
            compare(notesOfDay("2016-09-10").length, 1)
        }

        function test_pickerLowersTheDay_data() {
            return [
                { tag: "leap year", year: 2016, last: 29 },
                { tag: "common year", year: 2017, last: 28 }
            ]
        }

        function test_pickerLowersTheDay(data) {
            var picker = createTemporaryObject(pickerComponent, window.contentItem, { "showTime": false })
            var saveSpy = createTemporaryObject(spyComponent, testCase, {
                "target": picker, "signalName": "saveData" })
            picker.setCurrentDate(data.year + "-01-31")
            var dateItem = picker.dateItem
            tryCompare(dateItem.daySpinner, "value", 31)
            compare(picker.getValue(), data.year + "-01-31")
            // The month wheel stops on February: the 31st no longer exists.
            dateItem.monthSpinner.positionIdx(1)
            tryCompare(dateItem.monthSpinner, "value", 2)
            dateItem.monthSpinner.movementEnded()
            tryCompare(dateItem.daySpinner, "itemCount", data.last)
            tryCompare(dateItem.daySpinner, "value", data.last)
            mouseClick(findChild(picker, "btnFinish"))
            compare(saveSpy.count, 1)
            compare(saveSpy.signalArguments[0][0], data.year + "-02-" + data.last)

            // With the time shown the value carries it too.
            picker.showTime = true
            picker.setCurrentDate("2016-03-05 09:07:04")
            tryCompare(picker.timeItem.minuteSpinner, "value", 7)
            tryVerify(function () { return picker.getValue() === "2016-03-05 09:07:04" })
        }

        // The day of a note is changed without the mouse: Shift+Tab to the date field,
        // Return opens the picker on the day wheel, Tab and the arrows turn the wheels,
        // Return takes the day (Escape keeps the old one), and the field has the keyboard
        // again.
        function test_pickerWithKeys_data() {
            return [
                { tag: "a day later", keys: [Qt.Key_Down], end: Qt.Key_Return, day: "2016-05-05" },
                { tag: "two days earlier", keys: [Qt.Key_Up, Qt.Key_Up], end: Qt.Key_Enter,
                  day: "2016-05-02" },
                { tag: "a month earlier, on the month's wheel", keys: [Qt.Key_Backtab,
                  Qt.Key_Up], end: Qt.Key_Return, day: "2016-04-04" },
                { tag: "Escape keeps the day", keys: [Qt.Key_Down], end: Qt.Key_Escape,
                  day: "2016-05-04" }
            ]
        }

        function test_pickerWithKeys(data) {
            main.addNote(new Date(2016, 4, 4))
            waitForView(editor)
            verify(editor.textArea.activeFocus)
            keyClick(Qt.Key_Tab, Qt.ShiftModifier)
            var field = child(editor, "textDate")
            verify(field.activeFocus, "Shift+Tab reaches the date field")
            keyClick(Qt.Key_Return)
            var picker = child(editor, "dateEditView")
            verify(picker.visible)
            tryCompare(picker.dateItem.daySpinner, "value", 4)
            verify(picker.dateItem.daySpinner.listView.activeFocus, "the day wheel has the keyboard")
            for (var i = 0; i < data.keys.length; i++)
                keyClick(data.keys[i])
            keyClick(data.end)
            verify(!picker.visible)
            compare(field.text, data.day)
            verify(field.activeFocus, "the date field has the keyboard again")
            compare(main.stackView.currentItem, editor, "the editor stays open")
        }

        function test_removeAfterConfirmation() {
            var note = storeNote("2016-10-01", "to be removed")
            main.editNote(note["set_at"], note["content"], note["uuid"], note["title"])
            waitForView(editor)
            var frame = editor.confirmFrame
            mouseClick(child(editor, "btnRemove"))
            compare(frame.visible, true)
            compare(frame.textConfirm, "Do you sure to remove the note?")
            mouseClick(frame.cancelButton)
            compare(frame.visible, false)
            compare(main.stackView.currentItem, editor)

            mouseClick(child(editor, "btnRemove"))
            mouseClick(frame.okButton)
            removeSpy.wait(3000)
            compare(removeSpy.signalArguments[0][0], note["uuid"])
            waitForMain()
            compare(notesOfDay("2016-10-01").length, 0)
        }

        // Another version of the open note arriving through the synchronisation is said
        // above the text; the editor's own save and other notes are not.
        function test_changedElsewhereIsSaid() {
            var note = storeNote("2016-10-02", "open here")
            main.editNote(note["set_at"], note["content"], note["uuid"], note["title"], note)
            waitForView(editor)
            var notice = child(editor, "changedNotice")
            compare(notice.visible, false)
            noteMgt.appendNoteItemToList({"uuid": "{00000000-0000-0000-0000-0000000000ff}",
                                          "set_at": "2016-10-02", "content": "other note",
                                          "updated_at": "2030-01-01 00:00:00"})
            compare(notice.visible, false)
            noteMgt.appendNoteItemToList({"uuid": note["uuid"], "set_at": "2016-10-02",
                                          "content": "open here",
                                          "updated_at": note["updated_at"]})
            compare(notice.visible, false)
            noteMgt.appendNoteItemToList({"uuid": note["uuid"], "set_at": "2016-10-02",
                                          "content": "from elsewhere",
                                          "updated_at": "2030-01-01 00:00:00"})
            compare(notice.visible, true)
            verify(notice.text.indexOf("changed on another computer") >= 0)
            // The text stays above the notice's reach.
            verify(editor.textArea.y >= notice.y + notice.height)
            // What is typed is still the editor's.
            compare(plainText(), "open here")

            mouseClick(child(editor, "btnCancel"))
            waitForMain()
            main.editNote(note["set_at"], note["content"], note["uuid"], note["title"], note)
            waitForView(editor)
            compare(notice.visible, false)
            noteMgt.removeNoteItemToList(note["uuid"])
            compare(notice.visible, true)
            verify(notice.text.indexOf("deleted on another computer") >= 0)
            mouseClick(child(editor, "btnCancel"))
            waitForMain()
        }

        function test_pictureAtCursor() {
            main.addNote(new Date(2016, 10, 11))
            waitForView(editor)
            mouseClick(editor.textArea)
            typeText("ab")
            editor.textArea.cursorPosition = 1
            editor.insertPicture(Qt.resolvedUrl("../../res/kelpo.png"))
            // The picture sits between the two letters, as an embedded image.
            tryVerify(function () { return plainText() === "a\ufffcb" }, 10000, plainText())
            verify(editor.content.indexOf("data:image/png;base64,") >= 0)
            mouseClick(child(editor, "btnFinish"))
            appendSpy.wait(3000)
            var note = appendSpy.signalArguments[0][0]
            verify(String(note["content"]).indexOf("data:image/png;base64,iVBORw0KGgo") >= 0)
            waitForMain()
        }

        // Finishing, or closing the window, while a chosen picture is still being read
        // stores the note with the picture in it, not without it.
        function test_finishWaitsForThePicture_data() {
            return [
                { tag: "Finish", how: "finish", date: new Date(2016, 10, 14), day: "2016-11-14" },
                { tag: "closing the window", how: "close", date: new Date(2016, 10, 15),
                  day: "2016-11-15" }
            ]
        }

        function test_finishWaitsForThePicture(data) {
            main.addNote(data.date)
            waitForView(editor)
            mouseClick(editor.textArea)
            typeText("ab")
            // The picture is read on a thread of its own: its answer comes after this.
            editor.insertPicture(pictureFile("jpg"))
            if (data.how === "finish")
                editor.finish()
            else
                window.close()
            appendSpy.wait(10000)
            var note = appendSpy.signalArguments[0][0]
            compare(note["set_at"], data.day)
            verify(String(note["content"]).indexOf("data:image/png;base64,/9j/") >= 0,
                   String(note["content"]).substring(0, 400))
            compare(appendSpy.count, 1)
            if (data.how === "close") {
                tryCompare(window, "visible", false)
                window.visible = true
                window.requestActivate()
                tryCompare(window, "active", true)
            } else {
                waitForMain()
            }
            noteMgt.deleteNoteItem(note["uuid"])
        }

        // The pictures of a note reach the store exactly as they were, byte for byte, and
        // the note's text exactly as the text area writes it with the pictures inside,
        // whether the note was changed or not. The reference is the same text area given the
        // note with its pictures inline and the same changes.
        function test_picturesKeptExactly_data() {
            return [
                { tag: "edited", date: "2016-11-20", pictures: ["png"], edit: true },
                { tag: "saved without changes", date: "2016-11-21", pictures: ["png", "jpg"],
                  edit: false },
                { tag: "two identical pictures", date: "2016-11-22", pictures: ["jpg", "jpg"],
                  edit: true },
                { tag: "picture added while editing", date: "2016-11-23", pictures: ["png"],
                  edit: true, add: "jpg" },
                { tag: "plain text", date: "2016-11-24", pictures: [], edit: true,
                  text: 'see <img src="data:image/png;base64,iVBORw0KGgo="' }
            ]
        }

        function pictureFile(strKind) {
            return strKind === "png" ? Qt.resolvedUrl("../../res/kelpo.png")
                                     : Qt.resolvedUrl("../data/harbour.jpg")
        }

        function base64Of(strTag) {
            return strTag.split("base64,")[1].split('"')[0]
        }

        function occurrences(strText, strPart) {
            return strText.split(strPart).length - 1
        }

        // Texts of megabytes: a failure shows where they part.
        function compareTexts(strActual, strExpected) {
            if (strActual === strExpected)
                return
            var i = 0
            while (i < strActual.length && strActual.charAt(i) === strExpected.charAt(i))
                i++
            fail("the texts part at " + i + " of " + strActual.length + "/" + strExpected.length
                 + ":\n  actual   ..." + strActual.substring(i - 60, i + 100)
                 + "\n  expected ..." + strExpected.substring(i - 60, i + 100))
        }

        function changeText(data) {
            if (data.edit) {
                editor.textArea.insert(1, "typed ")
                editor.textArea.insert(editor.textArea.length, " the end")
            }
        }

        function test_picturesKeptExactly(data) {
            var strDate = data.date
            var lstData = []
            var strContent = data.text !== undefined ? data.text : "<p>Morning</p>"
            for (var i = 0; i < data.pictures.length; i++) {
                var strTag = noteMgt.readFile2Base64(pictureFile(data.pictures[i]))
                lstData.push(base64Of(strTag))
                strContent += strTag + "><p>Evening " + i + "</p>"
            }
            var note = storeNote(strDate, strContent)
            var lstStored = notesOfDay(strDate)
            compare(lstStored.length, 1)
            var strStored = lstStored[0]["content"]
            var strAdded = ""
            if (data.add) {
                var spy = createTemporaryObject(spyComponent, root,
                                                { target: noteMgt, signalName: "pictureLoaded" })
                noteMgt.loadPicture(pictureFile(data.add), 0)
                spy.wait(10000)
                strAdded = spy.signalArguments[0][1] + ">"
                lstData.push(base64Of(strAdded))
            }

            // The reference: the text area given the note and the changes directly.
            main.editNote(note["set_at"], strStored, note["uuid"], note["title"])
            waitForView(editor)
            editor.textArea.text = strStored
            var strOpened = editor.textArea.text
            changeText(data)
            if (data.add)
                editor.textArea.insert(3, strAdded)
            var strExpected = editor.textArea.text
            main.stackView.pop({ "immediate": true })
            waitForMain()

            // The editor as it is used.
            main.editNote(note["set_at"], strStored, note["uuid"], note["title"])
            waitForView(editor)
            if (lstData.length > 0)
                verify(editor.textArea.text.indexOf("base64,") < 0, "short names in the text area")
            compareTexts(editor.content, strOpened)
            changeText(data)
            if (data.add) {
                editor.textArea.cursorPosition = 3
                editor.insertPicture(pictureFile(data.add))
                tryCompare(editor, "strPictureJob", "", 10000)
                verify(editor.textArea.text.indexOf("base64,") < 0, "the added picture too")
            }
            compareTexts(editor.content, strExpected)
            appendSpy.clear()
            mouseClick(child(editor, "btnFinish"))
            appendSpy.wait(10000)
            waitForMain()
            var lstSaved = notesOfDay(strDate)
            compare(lstSaved.length, 1)
            var strSaved = String(lstSaved[0]["content"])
            compareTexts(strSaved, strExpected)
            verify(strSaved.indexOf("image://") < 0, strSaved.substring(0, 300))
            for (var j = 0; j < lstData.length; j++) {
                var nExpected = occurrences(lstData.join(" "), lstData[j])
                compare(occurrences(strSaved, 'base64,' + lstData[j] + '"'), nExpected)
            }
            noteMgt.deleteNoteItem(note["uuid"])
            tryVerify(function () { return notesOfDay(strDate).length === 0 }, 5000)
        }

        // Text copied from a note takes its pictures along, so that it can be pasted into
        // another note, or elsewhere, after this note is closed.
        function test_copiedPicturesKeepTheirData() {
            var strTag = noteMgt.readFile2Base64(pictureFile("jpg"))
            main.editNote("2016-11-25", "<p>one</p>" + strTag + "><p>two</p>", "")
            waitForView(editor)
            verify(editor.textArea.text.indexOf("base64,") < 0)
            editor.copyText()
            main.editNote("2016-11-26", "<p>another note</p>", "")
            var target = createTemporaryQmlObject(
                        "import QtQuick 2.4; TextEdit { textFormat: TextEdit.RichText }", root)
            tryVerify(function () {
                target.text = ""
                target.paste()
                return target.text.indexOf("base64," + base64Of(strTag) + '"') >= 0
            }, 5000, "the clipboard holds the picture's data")
            verify(target.text.indexOf("image://") < 0)
        }

        // In a small window a wide picture is shown at the text's width, with no sideways
        // scrolling; the note keeps the picture's size as stored.
        function test_pictureFitsSmallWindow_data() {
            return [
                { tag: "480 x 360", w: 480, h: 360 },
                { tag: "800 x 600", w: 800, h: 600 }
            ]
        }

        function test_pictureFitsSmallWindow(data) {
            main.width = data.w
            main.height = data.h
            var strImg = '<img width="700" height="300" src="data:image/png;base64,'
                    + 'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==">'
            main.editNote("2016-11-12", "<p>before</p><p>" + strImg + "</p><p>after</p>", "")
            waitForView(editor)
            var area = editor.textArea
            tryVerify(function () { return area.flickableItem.contentHeight > 200 }, 5000)
            verify(area.flickableItem.contentWidth <= area.viewport.width + 1,
                   area.flickableItem.contentWidth + " > " + area.viewport.width)
            // Taller than a line, in proportion: the picture is there, scaled, not cut.
            verify(area.flickableItem.contentHeight >= Math.min(300, area.viewport.width * 300 / 700))
            verify(editor.content.indexOf('width="700"') >= 0, "the stored size stays")
            main.width = 800
            main.height = 600
        }

        // What is not a picture is refused with a message, and nothing goes into the note.
        function test_pictureRefused_data() {
            return [
                { tag: "missing file", file: "no-such-picture.png", message: "cannot be read" },
                { tag: "not a picture", file: "tst_noteedit.qml", message: "is not a picture" }
            ]
        }

        function test_pictureRefused(data) {
            main.addNote(new Date(2016, 10, 12))
            waitForView(editor)
            mouseClick(editor.textArea)
            typeText("text")
            var nLength = editor.textArea.length
            main.hideError()
            editor.insertPicture(Qt.resolvedUrl(data.file))
            tryVerify(function () { return main.msgBar.visible }, 10000)
            verify(main.msgBar.text.indexOf(data.message) >= 0, main.msgBar.text)
            compare(editor.textArea.length, nLength)
            compare(editor.strPictureJob, "")
            // The typed text is a change: Cancel asks before it goes.
            mouseClick(child(editor, "btnCancel"))
            verify(editor.discardFrame.visible)
            mouseClick(editor.discardFrame.okButton)
            waitForMain()
        }

        function test_titleField() {
            settings.withTitle = true
            main.addNote(new Date(2016, 11, 1))
            waitForView(editor)
            var title = child(editor, "textTitle")
            compare(title.visible, true)
            compare(title.text, "")
            mouseClick(title)
            typeText("My day")
            editor.content = "body text"
            mouseClick(child(editor, "btnFinish"))
            appendSpy.wait(3000)
            compare(appendSpy.signalArguments[0][0]["title"], "My day")
            waitForMain()
            settings.withTitle = false
            main.addNote(new Date(2016, 11, 2))
            waitForView(editor)
            compare(title.visible, false)
        }

        // A save that fails leaves the editor open with the text and the reason; the text
        // can be copied, and saved again once the store works. Closing the window then
        // keeps it open too.
        function test_failedSaveKeepsTheText() {
            main.addNote(new Date(2017, 0, 5))
            waitForView(editor)
            mouseClick(editor.textArea)
            typeText("kept through a failure")
            storeFault.breakDiary()
            var failures = editor.saveFailure
            for (var i = 0; i < 2; i++) {
                mouseClick(child(editor, "btnFinish"))
                tryCompare(failures, "visible", true, 10000)
                compare(main.stackView.currentItem, editor)
                verify(failures.text.indexOf("The note could not be saved: ") === 0, failures.text)
                verify(failures.text.indexOf("INSERT") < 0, failures.text)
                compare(plainText(), "kept through a failure")
                // The message bar says it every time as well.
                tryVerify(function () { return main.msgBar.visible })
                verify(main.msgBar.text.indexOf("The note could not be saved: ") === 0)
                if (i === 0) {
                    // Another try gives another answer: the panel goes while it waits.
                    mouseClick(child(editor, "btnRetry"))
                    tryCompare(failures, "visible", true, 10000)
                }
            }

            mouseClick(child(editor, "btnCopy"))
            var probe = createTemporaryQmlObject("import QtQuick 2.4; TextEdit {}", testCase)
            probe.paste()
            verify(probe.getText(0, probe.length).indexOf("kept through a failure") >= 0,
                   probe.getText(0, probe.length))

            // Closing the window does not throw the text away either.
            window.close()
            tryCompare(failures, "visible", true, 10000)
            compare(window.visible, true)
            compare(main.stackView.currentItem, editor)

            storeFault.mendDiary()
            appendSpy.clear()
            mouseClick(child(editor, "btnRetry"))
            waitForMain()
            compare(appendSpy.count, 1)
            compare(failures.visible, false)
            var lst = notesOfDay("2017-01-05")
            compare(lst.length, 1)
            verify(String(lst[0]["content"]).indexOf("kept through a failure") >= 0)
        }

        // A day's notes that arrive while the editor holds typed text (a click on a day
        // answered late, by a store busy with a check or a backup) leave the editor as it
        // is: they neither replace its text nor cover it with the day's list.
        function test_lateDayAnswerKeepsTypedText_data() {
            var note1 = { "uuid": "{00000000-0000-4000-8000-0000000000d1}", "set_at": "2016-03-09",
                "title": "", "content": "an older note", "updated_at": "2016-03-09 10:00:00",
                "md5": "", "content_size": 13, "deleted": 0 }
            var note2 = { "uuid": "{00000000-0000-4000-8000-0000000000d2}", "set_at": "2016-03-09",
                "title": "", "content": "another one", "updated_at": "2016-03-09 11:00:00",
                "md5": "", "content_size": 11, "deleted": 0 }
            return [
                { tag: "day without notes", result: [] },
                { tag: "day with a note", result: [note1] },
                { tag: "day with notes", result: [note1, note2] }
            ]
        }

        function test_lateDayAnswerKeepsTypedText(data) {
            main.addNote(new Date(2016, 2, 12))
            waitForView(editor)
            mouseClick(editor.textArea)
            typeText("typed while the day was asked for")
            main.onDataReceived({ "type": "note_list_by_day", "date": "2016-03-09",
                                  "result": data.result })
            waitForView(editor)
            compare(editor.date, "2016-03-12")
            compare(editor.uuid, "")
            compare(plainText(), "typed while the day was asked for")
            verify(editor.isModified())

            // Finishing stores the typed text on its own day, as a new note.
            mouseClick(child(editor, "btnFinish"))
            appendSpy.wait(3000)
            waitForMain()
            var note = appendSpy.signalArguments[0][0]
            compare(note["set_at"], "2016-03-12")
            verify(String(note["content"]).indexOf("typed while the day was asked for") >= 0)
            noteMgt.deleteNoteItem(note["uuid"])
        }

        // Closing the window with unsaved changes stores them first.
        function test_closeStoresChanges() {
            main.addNote(new Date(2016, 11, 24))
            waitForView(editor)
            mouseClick(editor.textArea)
            typeText("written before closing")
            window.close()
            compare(window.visible, true, "the window waits for the note to be stored")
            appendSpy.wait(3000)
            compare(appendSpy.signalArguments[0][0]["set_at"], "2016-12-24")
            tryCompare(window, "visible", false)
            var lst = notesOfDay("2016-12-24")
            compare(lst.length, 1)
            verify(String(lst[0]["content"]).indexOf("written before closing") >= 0)

            // Without changes the window closes at once.
            window.visible = true
            window.requestActivate()
            main.editNote(lst[0]["set_at"], lst[0]["content"], lst[0]["uuid"], lst[0]["title"])
            waitForView(editor)
            appendSpy.clear()
            window.close()
            compare(window.visible, false)
            compare(appendSpy.count, 0)
            window.visible = true
            window.requestActivate()
            tryCompare(window, "active", true)
        }
    }
}

import QtQuick 2.4
import QtTest 1.0
import "qrc:/qml"

// The note list: merging pages and single notes, the search filter and paging.
Item {
    id: root
    width: 600
    height: 500

    // Records what the list asks of the window, which is not there in this test.
    Item {
        id: mainId
        property int pops: 0
        property var lastEdit: null
        function popView() { pops++ }
        property var lastVersion: null
        function editNote(strDate, strContent, strUuid, strTitle, mapVersion) {
            lastEdit = [strDate, strContent, strUuid, strTitle]
            lastVersion = mapVersion
        }
    }

    Component {
        id: listComponent
        ViewNoteList {
            width: root.width
            height: root.height
            bIsDayList: false
        }
    }

    Component {
        id: dayListComponent
        ViewNoteList {
            width: root.width
            height: root.height
            bIsDayList: true
        }
    }

    SignalSpy {
        id: dataSpy
        target: noteMgt
        signalName: "dataReceived"
    }

    TestCase {
        name: "NoteList"
        when: windowShown

        function note(uuid, setAt, title, content, deleted) {
            return { "uuid": uuid, "set_at": setAt, "title": title, "content": content,
                     "deleted": deleted === undefined ? "" : deleted }
        }

        function rows(list) {
            var lst = []
            for (var i = 0; i < list.model.count; i++)
                lst.push(list.model.get(i)._uuid)
            return lst.join(",")
        }

        function test_merge_data() {
            return [
                { tag: "newest first", notes: [note("a", "2016-01-01", "", "x"),
                                               note("b", "2016-03-01", "", "y"),
                                               note("c", "2016-02-01", "", "z")],
                  expected: "b,c,a" },
                { tag: "same day before the rows of that day",
                  notes: [note("a", "2016-01-01", "", "x"), note("b", "2016-01-01", "", "y")],
                  expected: "b,a" },
                { tag: "update in place", notes: [note("a", "2016-01-01", "", "x"),
                                                  note("b", "2016-02-01", "", "y"),
                                                  note("a", "2016-01-01", "new", "x2")],
                  expected: "b,a" },
                { tag: "moved to a later day", notes: [note("a", "2016-01-01", "", "x"),
                                                       note("b", "2016-02-01", "", "y"),
                                                       note("c", "2016-03-01", "", "z"),
                                                       note("a", "2016-05-01", "new", "x2")],
                  expected: "a,c,b" },
                { tag: "any order of arrival, each note once",
                  notes: [note("d", "2016-04-01", "", ""), note("b", "2016-02-01", "", ""),
                          note("d", "2016-04-01", "", ""), note("a", "2016-01-01", "", ""),
                          note("c", "2016-03-01", "", ""), note("b", "2016-02-01", "", ""),
                          note("e", "2016-05-01", "", ""), note("a", "2016-01-01", "", "")],
                  expected: "e,d,c,b,a" },
                { tag: "stored time dropped", notes: [note("a", "2016-01-01 00:00:00", "", "x"),
                                                      note("b", "2016-01-02", "", "y")],
                  expected: "b,a" }
            ]
        }

        function test_merge(data) {
            var list = createTemporaryObject(listComponent, root)
            list.clearData()
            for (var i = 0; i < data.notes.length; i++)
                list.appendMapData(data.notes[i])
            compare(rows(list), data.expected)
            if (data.tag === "update in place") {
                compare(list.model.get(1)._title, "new")
                compare(list.model.get(1)._content, "x2")
            }
            if (data.tag === "moved to a later day")
                compare(list.model.get(0)._set_at, "2016-05-01")
            if (data.tag === "stored time dropped")
                compare(list.model.get(1)._set_at, "2016-01-01")
        }

        function test_pageSkipsDeletedAndRemove() {
            var list = createTemporaryObject(listComponent, root)
            list.clearData()
            list.appendData([note("a", "2016-01-01", "", "x"), note("b", "2016-01-02", "", "y", "1"),
                             note("c", "2016-01-03", "", "z", 0)])
            compare(rows(list), "c,a")
            list.removeItem("c")
            compare(rows(list), "a")
            list.removeItem("nothing")
            compare(rows(list), "a")
        }

        function test_search_data() {
            return [
                { tag: "in title", note: note("a", "2016-01-01", "Kelp forest", "body"), kept: true },
                { tag: "in content only", note: note("a", "2016-01-01", "other", "a Kelp here"), kept: true },
                { tag: "no title", note: note("a", "2016-01-01", "", "Kelp"), kept: true },
                { tag: "nowhere", note: note("a", "2016-01-01", "title", "body"), kept: false },
                { tag: "case differs", note: note("a", "2016-01-01", "", "<p>KELP</p>"), kept: true },
                { tag: "only in markup",
                  note: note("a", "2016-01-01", "", "<p style=\"font-family:Kelp\">x</p>"), kept: false },
                { tag: "visible text of the store",
                  note: { "uuid": "a", "set_at": "2016-01-01", "title": "", "content": "<p>x</p>",
                          "plain_text": "a kelp" }, kept: true }
            ]
        }

        function test_search(data) {
            var list = createTemporaryObject(listComponent, root)
            list.getNoteList("Kelp")
            compare(list.strSearch, "Kelp")
            compare(list.model.count, 0)
            list.appendMapData(data.note)
            compare(list.model.count, data.kept ? 1 : 0)
        }

        function test_pagingNearTheEnd() {
            var list = createTemporaryObject(listComponent, root)
            list.clearData()
            var lst = []
            for (var i = 0; i < 60; i++)
                lst.push(note("n" + i, "2015-01-" + (i % 28 < 9 ? "0" : "") + (i % 28 + 1), "t" + i, "c"))
            list.appendData(lst)
            compare(list.model.count, 60)
            var view = findChild(list, "lstViewId")
            // Near the top, more than 20 rows lie below: nothing is asked.
            dataSpy.clear()
            view.positionViewAtIndex(0, ListView.Beginning)
            view.movementEnded()
            view.positionViewAtIndex(45, ListView.Beginning)
            view.movementEnded()
            // The next page starts after the 60 rows held (first pages of new lists aside).
            tryVerify(function () {
                for (var i = 0; i < dataSpy.count; i++) {
                    var data = dataSpy.signalArguments[i][0]
                    if (data["type"] === "get_note_list_by_offset" && Number(data["offset"]) > 0)
                        return true
                }
                return false
            }, 3000)
            var lstOffsets = []
            for (var j = 0; j < dataSpy.count; j++) {
                if (dataSpy.signalArguments[j][0]["type"] === "get_note_list_by_offset"
                        && Number(dataSpy.signalArguments[j][0]["offset"]) > 0)
                    lstOffsets.push(Number(dataSpy.signalArguments[j][0]["offset"]))
            }
            compare(lstOffsets, [60])
        }

        // A row shows its title over its day, neither cut by the row's edge, in Latin and
        // in Chinese script (whose lines are taller for the same pixel size).
        function test_rowFitsTitleAndDay_data() {
            return [
                { tag: "latin", title: "Walk in the kelp forest", height: 500 },
                { tag: "chinese", title: "\u6d77\u5e26\u68ee\u6797\u6563\u6b65", height: 500 },
                { tag: "chinese, short window", title: "\u8bfb\u4e66\u7b14\u8bb0", height: 300 },
                { tag: "chinese, tall window", title: "\u665a\u996d", height: 1000 }
            ]
        }

        function test_rowFitsTitleAndDay(data) {
            var list = createTemporaryObject(listComponent, root, { "height": data.height })
            list.clearData()
            list.appendMapData(note("a", "2016-01-01", data.title, "x"))
            var view = findChild(list, "lstViewId")
            waitForRendering(list)
            var row = view.itemAtIndex(0)
            verify(row)
            var title = findChild(row, "titleText")
            var day = findChild(row, "dateText")
            compare(title.text, data.title)
            compare(day.text, "2016-01-01")
            verify(title.contentHeight <= title.height, title.contentHeight + " > " + title.height)
            verify(day.contentHeight <= day.height, day.contentHeight + " > " + day.height)
            verify(day.y >= title.y + title.height)
            verify(day.y + day.height <= row.height + 0.5)
            verify(title.font.pixelSize >= row.height * 0.3, "the title stays legible")
        }

        // "Today" in the list selects the newest note of today or before, shown at the
        // top; with only later notes, the last one.
        function test_today_data() {
            return [
                { tag: "later notes above today's", days: [30, 2, 0, -3], expect: 2 },
                { tag: "none today, earlier ones", days: [5, 1, -1, -7], expect: 2 },
                { tag: "only earlier notes", days: [-1, -2], expect: 0 },
                { tag: "only later notes", days: [9, 4], expect: 1 }
            ]
        }

        function test_today(data) {
            var list = createTemporaryObject(listComponent, root, { "height": 120 })
            list.clearData()
            var lstNotes = []
            for (var i = 0; i < data.days.length; i++) {
                var objDay = new Date()
                objDay.setDate(objDay.getDate() + data.days[i])
                lstNotes.push(note("n" + i, Qt.formatDate(objDay, "yyyy-MM-dd"), "day " + i, "x"))
            }
            list.appendData(lstNotes)
            var view = findChild(list, "lstViewId")
            view.positionViewAtEnd()
            list.toToday()
            compare(view.currentIndex, data.expect)
            waitForRendering(list)
            var row = view.itemAtIndex(data.expect)
            verify(row, "the row is shown")
            verify(row.y >= view.contentY - 0.5 && row.y + row.height <= view.contentY
                   + view.height + 0.5, "the row lies in the view")
        }

        function test_dayList() {
            var list = createTemporaryObject(dayListComponent, root)
            var second = note("b", "2016-01-01", "second", "y")
            second["updated_at"] = "2016-01-02 08:00:00"
            second["md5"] = "415290769594460e2e485922904f345d"
            second["content_size"] = 1
            list.lstItems = [note("a", "2016-01-01", "first", "x"), second]
            compare(rows(list), "a,b")
            var view = findChild(list, "lstViewId")
            compare(view.width, root.width * 0.6)
            waitForRendering(list)
            // A row opens its note; a click beside the list closes it.
            mainId.pops = 0
            mouseClick(view.itemAtIndex(1))
            compare(mainId.pops, 1)
            compare(mainId.lastEdit, ["2016-01-01", "y", "b", "second"])
            // The editor learns the version the row shows: its change is made from it.
            compare(mainId.lastVersion["updated_at"], "2016-01-02 08:00:00")
            compare(mainId.lastVersion["md5"], "415290769594460e2e485922904f345d")
            compare(mainId.lastVersion["content_size"], 1)
            mouseClick(list, 5, 5)
            compare(mainId.pops, 2)
            mouseClick(list, list.width - 5, list.height / 2)
            compare(mainId.pops, 3)
            mouseClick(list, list.width / 2, list.height - 5)
            compare(mainId.pops, 4)
        }
    }
}

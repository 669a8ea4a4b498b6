import QtQuick 2.4
import QtTest 1.0

// The note manager as the views reach it: JavaScript dates, objects and default
// arguments arrive as the C++ slots expect them.
TestCase {
    name: "NoteMgtFromQml"

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

    SignalSpy {
        id: removeSpy
        target: noteMgt
        signalName: "removeNoteItemToList"
    }

    function init() {
        dataSpy.clear()
        appendSpy.clear()
        removeSpy.clear()
    }

    // The first result of the given type that arrived.
    function resultOf(type) {
        for (var i = 0; i < dataSpy.count; ++i) {
            var map = dataSpy.signalArguments[i][0]
            if (map.type === type)
                return map
        }
        return undefined
    }

    function test_properties() {
        compare(typeof noteMgt.isLogin, "boolean")
        compare(noteMgt.isLogin, false)
        compare(noteMgt.loginName, "")
    }

    function test_saveListAndDelete() {
        noteMgt.upateNoteItem({"uuid": "", "set_at": "2016-03-05", "content": "<p>From <i>QML</i></p>"})
        appendSpy.wait(10000)
        var note = appendSpy.signalArguments[0][0]
        compare(note.set_at, "2016-03-05")
        compare(note.title, "From QML")
        compare(note.uuid.length, 38)

        noteMgt.getNoteListByDay(new Date(2016, 2, 5))
        tryVerify(function() { return resultOf("note_list_by_day") !== undefined }, 10000)
        var day = resultOf("note_list_by_day")
        compare(day.date, "2016-03-05")
        compare(day.result.length, 1)
        compare(day.result[0].uuid, note.uuid)

        noteMgt.getDayNoteCountByMonth(new Date(2016, 2, 20))
        noteMgt.getDayNoteCount(new Date(2016, 2, 5))
        noteMgt.getNoteListByOffset()
        noteMgt.getNoteListByOffset(0, "QML")
        noteMgt.getNoteListByMonth(new Date(2016, 2, 5))
        noteMgt.getNoteItem(Number(note.id))
        noteMgt.refreshNoteCount("2016-03-05 00:00:00")
        tryVerify(function() { return resultOf("get_note_list_by_offset") !== undefined
                                      && resultOf("day_note_count_by_month") !== undefined }, 10000)
        compare(resultOf("day_note_count_by_month").result.date, "2016-03-20")
        compare(resultOf("day_note_count_by_month").result.result[0].note_count, "1")
        compare(resultOf("get_note_list_by_offset").offset, 0)

        noteMgt.deleteNoteItem(note.uuid)
        removeSpy.wait(10000)
        compare(removeSpy.signalArguments[0][0], note.uuid)
    }

    function test_otherInvokables() {
        compare(noteMgt.readFile2Base64("file:///no/such/picture.png"), "")
        noteMgt.replaceNoteItem({"uuid": "{5b0c3c43-2a56-4b8e-9a6e-6b5ef0b1f0aa}",
                                 "set_at": "2016-04-01 00:00:00", "content": "<p>r</p>"})
        appendSpy.wait(10000)
        noteMgt.insertNoteItem({"set_at": "2016-04-02", "content": "<p>i</p>"})
        noteMgt.refreshNoteItem("{5b0c3c43-2a56-4b8e-9a6e-6b5ef0b1f0aa}")
        // Logged out at the note service: these queue nothing and must not throw.
        noteMgt.downloadNoteListByMonth(new Date(2016, 3, 1))
        noteMgt.downloadNoteItem("{5b0c3c43-2a56-4b8e-9a6e-6b5ef0b1f0aa}")
        noteMgt.uploadNoteItem({})
        noteMgt.syncStart()
        noteMgt.syncFinish()
        compare(noteMgt.compareItem({"updated_at": "2016-01-01 00:00:00", "server_id": "3"},
                                    {"updated_at": "2016-01-01 00:00:00", "id": 3, "uuid": "u"}), 0)
        noteMgt.getAttachment(1)
        noteMgt.saveAttachment()
        noteMgt.delAttachment()
        noteMgt.registerUser({})
        noteMgt.forgotPwd({})
        noteMgt.saveUser({})
        tryCompare(appendSpy, "count", 2, 10000)
    }
}

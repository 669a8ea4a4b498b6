import QtQuick 2.4
import "../js/lunar.js" as LunarJs

// The note counts of the days, as the calendar's day cells show them: "yyyy-MM-dd" → count.
// Cells bind to countOf(day, revision); every change bumps `revision`, so a cell made
// later, or made again after scrolling, shows the count that arrived before it.
QtObject {
    id: dayCountModelId

    property var counts: ({})
    property int revision: 0
    // Today, "yyyy-MM-dd": the day whose number is circled.
    property string strToday: LunarJs.getDateStr(new Date())

    function dayKey(set_at) {
        return String(set_at).split(" ")[0]
    }

    // The counts of one month: days of that month that are not in the list have none.
    function setMonth(set_at, lst_note_count) {
        var objDate = LunarJs.parseDateStr(String(set_at))
        var strPrefix = LunarJs.getDateStr(objDate).substring(0, 8)
        var mapNew = {}
        for (var key in counts) {
            if (key.substring(0, 8) !== strPrefix)
                mapNew[key] = counts[key]
        }
        if (lst_note_count) {
            for (var i = 0; i < lst_note_count.length; i++) {
                var strDay = dayKey(lst_note_count[i]["set_at"])
                if (strDay.substring(0, 8) !== strPrefix)
                    continue
                var nCount = parseInt(lst_note_count[i]["note_count"]) || 0
                if (nCount > 0)
                    mapNew[strDay] = nCount
            }
        }
        counts = mapNew
        revision += 1
    }

    function setDay(set_at, note_count) {
        var strDay = dayKey(set_at)
        var nCount = parseInt(note_count) || 0
        if (nCount > 0)
            counts[strDay] = nCount
        else
            delete counts[strDay]
        revision += 1
    }

    // The count of a day; `nRevision` is only there to make a binding follow changes.
    function countOf(strDay, nRevision) {
        var nCount = counts[strDay]
        return nCount === undefined ? 0 : nCount
    }

    function clear() {
        counts = {}
        revision += 1
    }

    function refreshToday() {
        strToday = LunarJs.getDateStr(new Date())
    }
}

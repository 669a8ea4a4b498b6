import QtQuick 2.4

// The calendar body of the main view: the months page and the years page.
Item {
    id: viewCalendarId

    signal clickMonth(var _monthDate)
    signal setYearNum(var _yearNum)
    signal addNote(var objDate)
    signal clickDay(var objDate)

    property int nFirstWeekDay: 0

    readonly property alias monthsView: monthsView
    // The years page is made the first time it is asked for: it holds hundreds of cells.
    readonly property var yearsView: yearsLoader.item

    state: "months"
    states: [
        State { name: "years" },
        State { name: "months" }
    ]

    function toToday() {
        if (state === "years" && yearsView)
            yearsView.toToday()
        else
            monthsView.toToday()
    }

    function toYears(yearNum) {
        yearsLoader.active = true
        state = "years"
        yearsView.scrollToYearNum(yearNum)
    }

    function toMonths() {
        state = "months"
    }

    function getCurrentDate() {
        return state === "years" && yearsView ? yearsView.getCurrentDate()
                                              : monthsView.getCurrentDate()
    }

    function setNoteCount(set_at, note_count) {
        monthsView.setNoteCount(set_at, note_count)
    }

    function setNoteCountByMonth(set_at, lst_note_count) {
        monthsView.setNoteCountByMonth(set_at, lst_note_count)
    }

    function refresh() {
        monthsView.refresh()
        if (!yearsView)
            return
        var lst = yearsView.listView.contentItem.children
        for (var i = 0; i < lst.length; i++) {
            if (lst[i].monthItems) {
                var lstMonths = lst[i].monthItems()
                for (var j = 0; j < lstMonths.length; j++)
                    lstMonths[j].refresh()
            }
        }
    }

    onClickMonth: {
        toMonths()
        monthsView.scrollToMonth(_monthDate)
    }

    Loader {
        id: yearsLoader
        anchors.fill: parent
        active: false
        visible: viewCalendarId.state === "years"
        sourceComponent: YearsView {
            nFirstWeekDay: viewCalendarId.nFirstWeekDay
        }
    }

    MonthsView {
        id: monthsView
        anchors.fill: parent
        visible: viewCalendarId.state !== "years"
        nFirstWeekDay: viewCalendarId.nFirstWeekDay
        onSetYearNum: viewCalendarId.setYearNum(yearNum)
        onAddNote: viewCalendarId.addNote(objDate)
        onClickDay: viewCalendarId.clickDay(objDate)
    }
}

import QtQuick 2.4
import "../js/lunar.js" as LunarJs

// The calendar body of the main view: the months page and the years page, the day count
// model that their day cells show, and the selected day. Keyboard, while it has the focus:
// arrows move the selected day (a week up and down), PageUp and PageDown a month, Home
// today, Return opens the selected day; on the years page PageUp and PageDown turn a year
// and Return or Escape opens the selected month.
Item {
    id: viewCalendarId

    signal clickMonth(var _monthDate)
    signal setYearNum(var _yearNum)
    signal addNote(var objDate)
    signal clickDay(var objDate)

    property int nFirstWeekDay: 0
    // The day that the keyboard moves and that a new note goes to.
    property var selectedDate: new Date()
    readonly property string strSelected: LunarJs.getDateStr(selectedDate)

    readonly property alias monthsView: monthsView
    readonly property alias dayCounts: dayCountModel
    // The years page is made the first time it is asked for, or a while after start: it
    // holds hundreds of cells.
    readonly property var yearsView: yearsLoader.item
    // The year to show once the years page is ready.
    property var pendingYear: null

    activeFocusOnTab: true
    state: "months"
    states: [
        State { name: "years" },
        State { name: "months" }
    ]

    function toToday() {
        selectedDate = new Date()
        if (state === "years" && yearsView)
            yearsView.toToday()
        else
            monthsView.toToday()
    }

    function toYears(yearNum) {
        state = "years"
        if (yearsView) {
            yearsView.scrollToYearNum(yearNum)
        } else {
            pendingYear = yearNum
            yearsLoader.asynchronous = false
            yearsLoader.active = true
        }
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
    }

    // Selects a day and brings its month (or year) into view.
    function selectDate(objDate) {
        var objOld = selectedDate
        selectedDate = objDate
        if (state === "years") {
            if (yearsView && objDate.getFullYear() !== objOld.getFullYear())
                yearsView.scrollToYear(objDate)
            return
        }
        var strTop = monthsView.getCurrentDate()
        if (strTop.substring(0, 7) !== strSelected.substring(0, 7))
            monthsView.scrollToMonth(objDate)
    }

    function moveDays(nDays) {
        var objDate = LunarJs.createDate(selectedDate)
        objDate.setDate(objDate.getDate() + nDays)
        selectDate(objDate)
    }

    function moveMonths(nMonths) {
        var objDate = LunarJs.createDate(selectedDate)
        LunarJs.addMonths(objDate, nMonths)
        selectDate(objDate)
    }

    function openSelectedMonth() {
        var objMonth = new Date(selectedDate.getFullYear(), selectedDate.getMonth(), 1)
        clickMonth(objMonth)
    }

    Keys.onPressed: {
        if (event.modifiers & (Qt.ControlModifier | Qt.AltModifier | Qt.MetaModifier))
            return
        var bYears = state === "years"
        switch (event.key) {
        case Qt.Key_Left:
            bYears ? moveMonths(-1) : moveDays(-1)
            break
        case Qt.Key_Right:
            bYears ? moveMonths(1) : moveDays(1)
            break
        case Qt.Key_Up:
            bYears ? moveMonths(-3) : moveDays(-7)
            break
        case Qt.Key_Down:
            bYears ? moveMonths(3) : moveDays(7)
            break
        case Qt.Key_PageUp:
            moveMonths(bYears ? -12 : -1)
            break
        case Qt.Key_PageDown:
            moveMonths(bYears ? 12 : 1)
            break
        case Qt.Key_Home:
            toToday()
            break
        case Qt.Key_Return:
        case Qt.Key_Enter:
            if (bYears)
                openSelectedMonth()
            else
                clickDay(LunarJs.createDate(selectedDate))
            break
        case Qt.Key_Escape:
            if (!bYears)
                return
            openSelectedMonth()
            break
        default:
            return
        }
        event.accepted = true
    }

    onClickMonth: {
        selectedDate = new Date(_monthDate.getFullYear(), _monthDate.getMonth(),
                                Math.min(selectedDate.getDate(), LunarJs.getMonthDays(_monthDate)))
        toMonths()
        monthsView.scrollToMonth(_monthDate)
        forceActiveFocus()
    }

    DayCountModel {
        id: dayCountModel
    }

    Loader {
        id: yearsLoader
        anchors.fill: parent
        active: false
        asynchronous: true
        visible: viewCalendarId.state === "years" && status === Loader.Ready
        sourceComponent: YearsView {
            nFirstWeekDay: viewCalendarId.nFirstWeekDay
            dayCounts: dayCountModel
            strSelected: viewCalendarId.strSelected
            onClickMonth: viewCalendarId.clickMonth(objDate)
        }
        onLoaded: {
            if (viewCalendarId.pendingYear !== null) {
                item.scrollToYearNum(viewCalendarId.pendingYear)
                viewCalendarId.pendingYear = null
            }
        }
    }

    // The years page is made in the background once the window has settled, so that the
    // first visit does not wait for it.
    Timer {
        interval: 3000
        running: true
        onTriggered: yearsLoader.active = true
    }

    MonthsView {
        id: monthsView
        anchors.fill: parent
        visible: viewCalendarId.state !== "years"
        nFirstWeekDay: viewCalendarId.nFirstWeekDay
        dayCounts: dayCountModel
        strSelected: viewCalendarId.strSelected
        onSetYearNum: viewCalendarId.setYearNum(yearNum)
        onAddNote: {
            viewCalendarId.selectedDate = LunarJs.createDate(objDate)
            viewCalendarId.forceActiveFocus()
            viewCalendarId.addNote(objDate)
        }
        onClickDay: {
            viewCalendarId.selectedDate = LunarJs.createDate(objDate)
            viewCalendarId.forceActiveFocus()
            viewCalendarId.clickDay(objDate)
        }
    }
}

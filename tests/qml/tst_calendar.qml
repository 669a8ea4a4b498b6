import QtQuick 2.4
import QtTest 1.0
import "qrc:/qml"
import "qrc:/js/lunar.js" as LunarJs

// The calendar pages with the real note manager and settings behind them.
Item {
    id: root
    width: 700
    height: 600

TestCase {
    id: testCase
    name: "Calendar"
    when: windowShown

    Component {
        id: monthComponent
        MonthItem {
            width: 700
            dayItemHeight: 90
        }
    }

    Component {
        id: calendarComponent
        ViewCalendar {
            width: root.width
            height: root.height
        }
    }

    SignalSpy {
        id: dataSpy
        target: noteMgt
        signalName: "dataReceived"
    }

    property var calendar: null

    // Hands count results to the calendar the way the main window does.
    function forwardCounts(data) {
        if (calendar && data["type"] === "day_note_count_by_month" && !data["error"])
            calendar.setNoteCountByMonth(data["result"]["date"], data["result"]["result"])
    }

    function initTestCase() {
        noteMgt.dataReceived.connect(forwardCounts)
    }

    function init() {
        settings.showLunar = true
        settings.firstDay = 0
    }

    function cleanup() {
        calendar = null
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

    function createCalendar() {
        calendar = createTemporaryObject(calendarComponent, root)
        verify(calendar)
        // The first view shows the current month at the top; the months before it are
        // added just after the first frame.
        tryCompare(calendar.monthsView.listView, "count", calendar.monthsView.initMonthCount)
        waitTop(calendar, LunarJs.getDateStr(
                       new Date(new Date().getFullYear(), new Date().getMonth(), 1)))
        return calendar
    }

    function waitTop(cal, strDate) {
        tryVerify(function () { return cal.getCurrentDate() === strDate }, 3000,
                  "top is " + cal.getCurrentDate() + ", not " + strDate)
    }

    function resultsFor(strType, strDate) {
        var n = 0
        for (var i = 0; i < dataSpy.count; i++) {
            var data = dataSpy.signalArguments[i][0]
            if (data["type"] === strType && data["result"] && data["result"]["date"] === strDate)
                n++
        }
        return n
    }

    function test_monthLayout_data() {
        return [
            { tag: "Feb 2016 from Monday", date: new Date(2016, 1, 1), first: 1, weeks: 5, idx: 0 },
            { tag: "Feb 2016 from Sunday", date: new Date(2016, 1, 1), first: 0, weeks: 5, idx: 1 },
            { tag: "Aug 2015 from Monday", date: new Date(2015, 7, 1), first: 1, weeks: 6, idx: 5 },
            { tag: "Feb 2015 from Sunday", date: new Date(2015, 1, 1), first: 0, weeks: 4, idx: 0 }
        ]
    }

    function test_monthLayout(data) {
        var item = createTemporaryObject(monthComponent, root, {
            "nFirstWeekDay": data.first, "currentDate": data.date })
        compare(item.nWeeks, data.weeks)
        compare(item.getFirstValidDayIdx(), data.idx)
        var cells = findChild(item, "dayRepeater")
        compare(cells.count, data.weeks * 7)
        // Blank cells before the 1st and after the last day; the days in between in order.
        for (var i = 0; i < cells.count; i++) {
            var cell = cells.itemAt(i)
            var nDay = i - data.idx + 1
            if (nDay < 1 || nDay > LunarJs.getMonthDays(data.date)) {
                verify(!cell.bValid, "cell " + i + " should be blank")
                compare(cell.dayLabel.visible, false)
            } else {
                compare(cell.currentDate.getDate(), nDay)
                compare(cell.currentDate.getMonth(), data.date.getMonth())
            }
        }
        compare(item.height, data.weeks * 90 + 90 * 0.3)
    }

    function test_sixRowsTallerThanFive() {
        var five = createTemporaryObject(monthComponent, root, {
            "nFirstWeekDay": 1, "currentDate": new Date(2016, 1, 1) })
        var six = createTemporaryObject(monthComponent, root, {
            "nFirstWeekDay": 1, "currentDate": new Date(2015, 7, 1) })
        verify(six.height > five.height)
        // Inside a year every month keeps six rows.
        var inYear = createTemporaryObject(monthComponent, root, {
            "bInYear": true, "height": 200, "nFirstWeekDay": 1,
            "currentDate": new Date(2016, 1, 1) })
        compare(inYear.nWeeks, 6)
        compare(findChild(inYear, "dayRepeater").count, 42)
        compare(inYear.height, 200)
    }

    function test_invalidDateClearsMonth() {
        var item = createTemporaryObject(monthComponent, root, {
            "currentDate": new Date(2016, 1, 1) })
        item.currentDate = undefined
        compare(findChild(item, "dayRepeater").count, 0)
    }

    function test_lunarLabels_data() {
        return [
            { tag: "new year", date: new Date(2016, 1, 8), label: "一月", bar: true },
            { tag: "tenth", date: new Date(2016, 1, 17), label: "初十", bar: false },
            { tag: "twentieth", date: new Date(2016, 1, 27), label: "二十", bar: false },
            { tag: "leap sixth month", date: new Date(2017, 6, 23), label: "六月", bar: true }
        ]
    }

    function test_lunarLabels(data) {
        var item = createTemporaryObject(monthComponent, root, {
            "nFirstWeekDay": 1, "currentDate": new Date(data.date.getFullYear(),
                                                        data.date.getMonth(), 1) })
        var cell = item.dayItemAt(data.date.getDate())
        compare(cell.lunarLabel.visible, true)
        compare(cell.lunarLabel.text, data.label)
        compare(cell.lunarMonthMark.visible, data.bar)
        if (data.bar)
            compare(cell.lunarMonthMark.color, Qt.rgba(1, 0, 0, 1))

        settings.showLunar = false
        compare(cell.lunarLabel.visible, false)
        compare(cell.lunarMonthMark.visible, false)
        settings.showLunar = true
        compare(cell.lunarLabel.visible, true)

        // Cells too small for a readable label drop it.
        item.dayItemHeight = 25
        compare(cell.lunarLabel.visible, false)
        item.dayItemHeight = 90
        item.width = 300
        compare(cell.lunarLabel.visible, false)
    }

    // The day cells show the calendar's model of day counts: a new list for a month
    // replaces the old one, and counts that arrive before a month is made (or after its
    // cells were dropped by scrolling) show as soon as it is made.
    function test_noteDots() {
        var cal = createCalendar()
        // The counts here are the test's own; the store's answers for the same months
        // (which come whenever a month is made) are not handed on, or they would race
        // with them.
        calendar = null
        var today = new Date()
        var strMonth = LunarJs.getDateStr(new Date(today.getFullYear(), today.getMonth(), 1))
        var month = monthItemOf(cal.monthsView, strMonth)
        verify(month)
        cal.setNoteCountByMonth(strMonth, [{ "set_at": LunarJs.getDateStr(new Date(
                                                 today.getFullYear(), today.getMonth(), 3)),
                                             "note_count": "2" }])
        compare(month.dayItemAt(3).noteCount, 2)
        compare(month.dayItemAt(3).noteMark.visible, true)
        compare(month.dayItemAt(4).noteMark.visible, false)
        cal.setNoteCountByMonth(strMonth, [{ "set_at": LunarJs.getDateStr(new Date(
                                                 today.getFullYear(), today.getMonth(), 4)) + " 00:00:00",
                                             "note_count": 1 }])
        compare(month.dayItemAt(3).noteMark.visible, false)
        compare(month.dayItemAt(4).noteMark.visible, true)
        cal.setNoteCount(LunarJs.getDateStr(new Date(today.getFullYear(), today.getMonth(), 4)), 0)
        compare(month.dayItemAt(4).noteMark.visible, false)

        // A month far away, not made yet: its count waits in the model.
        cal.setNoteCountByMonth("2031-05-01", [{ "set_at": "2031-05-09", "note_count": 1 }])
        verify(monthItemOf(cal.monthsView, "2031-05-01") === null)
        cal.monthsView.scrollToMonth(new Date(2031, 4, 1))
        waitTop(cal, "2031-05-01")
        var far = monthItemOf(cal.monthsView, "2031-05-01")
        compare(far.dayItemAt(9).noteCount, 1)
        compare(far.dayItemAt(9).noteMark.visible, true)
        compare(far.dayItemAt(10).noteCount, 0)

        // Another user: no count of the previous one stays.
        cal.monthsView.onUserChanged()
        compare(far.dayItemAt(9).noteMark.visible, false)
    }

    function test_countsFromStore() {
        var today = new Date()
        var objDay = new Date(today.getFullYear(), today.getMonth(), 5)
        var strDay = LunarJs.getDateStr(objDay)
        var strMonth = LunarJs.getDateStr(new Date(today.getFullYear(), today.getMonth(), 1))
        noteMgt.insertNoteItem({ "set_at": strDay, "content": "dot for the fifth" })
        dataSpy.clear()
        var cal = createCalendar()
        // The calendar asks for the month at the top; the dot follows the store.
        tryVerify(function () { return resultsFor("day_note_count_by_month", strMonth) > 0 })
        var month = monthItemOf(cal.monthsView, strMonth)
        tryVerify(function () { return month.dayItemAt(5).noteCount >= 1 })
        compare(month.dayItemAt(5).noteMark.visible, true)
    }

    function test_todayMark() {
        var cal = createCalendar()
        var today = new Date()
        var month = monthItemOf(cal.monthsView, LunarJs.getDateStr(today))
        var cell = month.dayItemAt(today.getDate())
        compare(cell.isToday, true)
        compare(cell.todayMark.visible, true)
        compare(cell.todayMark.border.color, Qt.rgba(1, 0, 0, 1))
        // The circle holds two digits.
        verify(cell.todayMark.width >= cell.dayLabel.contentWidth)
        var other = month.dayItemAt(today.getDate() === 1 ? 2 : 1)
        compare(other.todayMark.visible, false)

        // The years page circles today too.
        cal.toYears(today.getFullYear())
        compare(cal.state, "years")
        var year = null
        tryVerify(function () {
            year = cal.yearsView.findYearItem(today.getFullYear())
            return year !== null
        })
        var small = year.monthItems()[today.getMonth()]
        compare(small.dayItemAt(today.getDate()).todayMark.visible, true)
    }

    // The years page made in the background after start: its months come a few at a time
    // while it is hidden, and every one of them is there the moment it shows.
    function test_yearsPageMadeInBackground() {
        var cal = createCalendar()
        tryVerify(function () { return cal.yearsView !== null }, 15000)
        var today = new Date()
        var year = null
        tryVerify(function () {
            year = cal.yearsView.findYearItem(today.getFullYear())
            return year !== null
        })
        verify(!year.visible)
        cal.toYears(today.getFullYear())
        compare(cal.state, "years")
        verify(year.visible)
        var lstMonths = year.monthItems()
        compare(lstMonths.length, 12)
        for (var i = 0; i < 12; i++) {
            verify(lstMonths[i] !== null, "month " + (i + 1) + " is missing")
            compare(lstMonths[i].currentDate.getMonth(), i)
            verify(lstMonths[i].dayItemAt(1).bValid)
        }
    }

    function test_throttledRequests() {
        var cal = createCalendar()
        var monthsView = cal.monthsView
        var strMonth = cal.getCurrentDate()
        tryVerify(function () { return resultsFor("day_note_count_by_month", strMonth) > 0 })
        var tCount = monthsView.mapMonth2TimeGetNoteCount[strMonth]
        var tDownload = monthsView.mapMonth2TimeDownloadNoteList[strMonth]
        verify(tCount !== undefined)
        verify(tDownload !== undefined)

        // Within the gaps, asking again sends nothing: the times stay those of the first ask.
        monthsView.getNoteInfo(strMonth)
        compare(monthsView.mapMonth2TimeGetNoteCount[strMonth], tCount)
        compare(monthsView.mapMonth2TimeDownloadNoteList[strMonth], tDownload)

        // Counts may be asked again after two minutes, downloads after twenty.
        var tOld = new Date(new Date().getTime() - 121 * 1000)
        monthsView.mapMonth2TimeGetNoteCount[strMonth] = tOld
        monthsView.mapMonth2TimeDownloadNoteList[strMonth] = tOld
        monthsView.getNoteInfo(strMonth)
        verify(monthsView.mapMonth2TimeGetNoteCount[strMonth] > tOld)
        compare(monthsView.mapMonth2TimeDownloadNoteList[strMonth], tOld)
        dataSpy.clear()

        // A refresh forgets the times and asks at once.
        dataSpy.clear()
        cal.refresh()
        verify(monthsView.mapMonth2TimeDownloadNoteList[strMonth] > tOld)
        tryVerify(function () { return resultsFor("day_note_count_by_month", strMonth) >= 1 })
    }

    function monthOffset(objDate) {
        var today = new Date()
        return (objDate.getFullYear() - today.getFullYear()) * 12 + objDate.getMonth()
                - today.getMonth()
    }

    // Ends a scroll with the month at index idx at the top, a little way into it.
    function endScrollAt(list, idx) {
        list.positionViewAtIndex(idx, ListView.Beginning)
        list.contentY += 20
        list.movementEnded()
    }

    function test_scrollNearEndsAddsMonths() {
        var cal = createCalendar()
        var monthsView = cal.monthsView
        var list = monthsView.listView
        wait(50)

        // One month left above the top one: six are added there, the view stays put.
        var nCount = list.count
        var nBegin = monthOffset(list.beginDate)
        endScrollAt(list, 1)
        var strTop = cal.getCurrentDate()
        var dY = list.contentY - monthItemOf(monthsView, strTop).y
        tryCompare(list, "count", nCount + 6)
        compare(monthOffset(list.beginDate), nBegin - 6)
        compare(cal.getCurrentDate(), strTop)
        fuzzyCompare(list.contentY - monthItemOf(monthsView, strTop).y, dY, 1)

        // One month left below the top one: six are appended.
        nCount = list.count
        var nEnd = monthOffset(list.endDate)
        endScrollAt(list, list.count - 2)
        strTop = cal.getCurrentDate()
        tryCompare(list, "count", nCount + 6)
        compare(monthOffset(list.endDate), nEnd + 6)
        compare(cal.getCurrentDate(), strTop)

        // A real drag towards the start ends the same way.
        var strBegin = LunarJs.getDateStr(list.beginDate)
        cal.monthsView.scrollToMonth(LunarJs.createDate(list.beginDate))
        waitTop(cal, strBegin)
        nCount = list.count
        mouseDrag(list, list.width / 2, 100, 0, 150, Qt.LeftButton, Qt.NoModifier, 10)
        tryVerify(function () { return list.count >= nCount + 6 }, 3000)
    }

    // Each notch of the mouse wheel turns one month, either way, and the year follows.
    function test_wheelTurnsMonths() {
        var cal = createCalendar()
        var list = cal.monthsView.listView
        cal.monthsView.scrollToMonth(new Date(2030, 11, 1))
        waitTop(cal, "2030-12-01")
        var yearSpy = createTemporaryObject(spyComponent, testCase, {
            "target": cal, "signalName": "setYearNum" })
        mouseWheel(list, list.width / 2, list.height / 2, 0, -120)
        waitTop(cal, "2031-01-01")
        compare(yearSpy.signalArguments[yearSpy.count - 1][0], 2031)
        mouseWheel(list, list.width / 2, list.height / 2, 0, -120)
        waitTop(cal, "2031-02-01")
        // Half notches add up.
        mouseWheel(list, list.width / 2, list.height / 2, 0, 60)
        compare(cal.getCurrentDate(), "2031-02-01")
        mouseWheel(list, list.width / 2, list.height / 2, 0, 60)
        waitTop(cal, "2031-01-01")
        mouseWheel(list, list.width / 2, list.height / 2, 0, 240)
        waitTop(cal, "2030-11-01")
        compare(yearSpy.signalArguments[yearSpy.count - 1][0], 2030)
        // The top month lies at the top of the list, not part way into it.
        var objTop = monthItemOf(cal.monthsView, "2030-11-01")
        fuzzyCompare(list.contentY, objTop.y, 1)
    }

    function test_scrollToFarMonth() {
        var cal = createCalendar()
        cal.monthsView.scrollToMonth(new Date(2030, 6, 15))
        waitTop(calendar, "2030-07-01")
        cal.monthsView.scrollToMonth(new Date(1999, 0, 31))
        waitTop(calendar, "1999-01-01")
        var yearSpy = createTemporaryObject(spyComponent, testCase, {
            "target": cal, "signalName": "setYearNum" })
        cal.toToday()
        yearSpy.wait(1000)
        compare(yearSpy.signalArguments[yearSpy.count - 1][0], new Date().getFullYear())
    }

    Component {
        id: spyComponent
        SignalSpy {}
    }

    // The selected day moves with the keyboard, and the months page follows it.
    function test_keyboard_data() {
        return [
            { tag: "Right", key: Qt.Key_Right, from: [2016, 0, 30], to: [2016, 0, 31] },
            { tag: "Right over the month's end", key: Qt.Key_Right, from: [2016, 0, 31],
              to: [2016, 1, 1] },
            { tag: "Left over the year's start", key: Qt.Key_Left, from: [2016, 0, 1],
              to: [2015, 11, 31] },
            { tag: "Down a week", key: Qt.Key_Down, from: [2016, 1, 25], to: [2016, 2, 3] },
            { tag: "Up a week", key: Qt.Key_Up, from: [2016, 2, 3], to: [2016, 1, 25] },
            { tag: "PageDown to a shorter month", key: Qt.Key_PageDown, from: [2016, 0, 31],
              to: [2016, 1, 29] },
            { tag: "PageUp", key: Qt.Key_PageUp, from: [2016, 2, 15], to: [2016, 1, 15] },
            { tag: "Home", key: Qt.Key_Home, from: [2016, 2, 15], to: null }
        ]
    }

    function test_keyboard(data) {
        var cal = createCalendar()
        cal.forceActiveFocus()
        cal.selectDate(new Date(data.from[0], data.from[1], data.from[2]))
        waitTop(cal, LunarJs.getDateStr(new Date(data.from[0], data.from[1], 1)))
        keyClick(data.key)
        var objTo = data.to ? new Date(data.to[0], data.to[1], data.to[2]) : new Date()
        compare(cal.strSelected, LunarJs.getDateStr(objTo))
        waitTop(cal, LunarJs.getDateStr(new Date(objTo.getFullYear(), objTo.getMonth(), 1)))
        // The month may be made anew while the list grows at its top: wait for its cell.
        var cell = null
        tryVerify(function () {
            var month = monthItemOf(cal.monthsView, cal.strSelected)
            cell = month ? month.dayItemAt(objTo.getDate()) : null
            return cell !== null && cell.isSelected
        }, 3000, "the selected cell is framed")
        verify(cell.selectedMark.visible)
    }

    function test_keyboardOpensDay() {
        var cal = createCalendar()
        var clickSpy = createTemporaryObject(spyComponent, testCase, {
            "target": cal, "signalName": "clickDay" })
        cal.forceActiveFocus()
        cal.selectDate(new Date(2016, 4, 4))
        keyClick(Qt.Key_Return)
        compare(clickSpy.count, 1)
        compare(LunarJs.getDateStr(clickSpy.signalArguments[0][0]), "2016-05-04")

        // On the years page the arrows move by months and Return opens the month.
        cal.toYears(2016)
        tryVerify(function () { return cal.yearsView !== null && cal.yearsView.visible })
        keyClick(Qt.Key_Right)
        compare(cal.strSelected, "2016-06-04")
        keyClick(Qt.Key_Return)
        compare(cal.state, "months")
        waitTop(cal, "2016-06-01")
    }

    function test_dayClicks() {
        var cal = createCalendar()
        var clickSpy = createTemporaryObject(spyComponent, testCase, {
            "target": cal, "signalName": "clickDay" })
        var addSpy = createTemporaryObject(spyComponent, testCase, {
            "target": cal, "signalName": "addNote" })
        var today = new Date()
        var month = monthItemOf(cal.monthsView, LunarJs.getDateStr(today))
        var cell = month.dayItemAt(15)

        mouseClick(cell)
        compare(clickSpy.count, 0, "a click waits for a possible second one")
        clickSpy.wait(1000)
        compare(clickSpy.count, 1)
        verify(LunarJs.equalDate(clickSpy.signalArguments[0][0],
                                 new Date(today.getFullYear(), today.getMonth(), 15)))
        compare(addSpy.count, 0)

        mouseDoubleClickSequence(cell)
        addSpy.wait(1000)
        verify(LunarJs.equalDate(addSpy.signalArguments[0][0],
                                 new Date(today.getFullYear(), today.getMonth(), 15)))
        // The double click does not also open the day.
        wait(month.clickDelay + 100)
        compare(clickSpy.count, 1)

        // Blank cells take no clicks.
        var blank = month.dayItemAt(0)
        if (blank && !blank.bValid) {
            mouseDoubleClickSequence(blank)
            compare(addSpy.count, 1)
        }
    }

    function test_yearsPage() {
        var cal = createCalendar()
        // The years page is made when first asked for, at the asked year.
        verify(!cal.yearsView)
        cal.toYears(new Date().getFullYear())
        var years = cal.yearsView
        verify(years)
        waitTop(cal, new Date().getFullYear() + "-01-01")
        var nLast = years.listView.endDate.getFullYear()
        cal.toYears(nLast + 4)
        compare(cal.state, "years")
        compare(cal.monthsView.visible, false)
        compare(years.visible, true)
        verify(years.listView.endDate.getFullYear() >= nLast + 4)
        waitTop(calendar, (nLast + 4) + "-01-01")

        // Inside a year, months are six rows high and a click opens the month.
        var year = null
        tryVerify(function () {
            year = years.findYearItem(nLast + 4)
            return year !== null
        })
        var march = year.monthItems()[2]
        compare(march.nWeeks, 6)
        var monthSpy = createTemporaryObject(spyComponent, testCase, {
            "target": cal, "signalName": "clickMonth" })
        mouseClick(march)
        compare(monthSpy.count, 1)
        compare(cal.state, "months")
        waitTop(calendar, (nLast + 4) + "-03-01")

        cal.toYears(1990)
        waitTop(calendar, "1990-01-01")

        // A notch of the mouse wheel turns one year, either way.
        var list = years.listView
        mouseWheel(list, list.width / 2, list.height / 2, 0, -120)
        waitTop(calendar, "1991-01-01")
        mouseWheel(list, list.width / 2, list.height / 2, 0, 240)
        waitTop(calendar, "1989-01-01")
        fuzzyCompare(list.contentY, years.findYearItem(1989).y, 1)
    }

    function test_weekTitle_data() {
        return [
            { tag: "from Sunday", first: 0, names: ["Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"] },
            { tag: "from Monday", first: 1, names: ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"] }
        ]
    }

    function test_weekTitle(data) {
        settings.firstDay = data.first
        var cal = createTemporaryObject(calendarComponent, root, {
            "nFirstWeekDay": data.first })
        var repeater = findChild(cal.monthsView, "weekRepeater")
        for (var i = 0; i < 7; i++)
            compare(repeater.itemAt(i).text, data.names[i])
    }
}
}

import QtQuick 2.4
import "../js/lunar.js" as LunarJs
import "../js/global.js" as GlobalJs

// The months page: a row of weekday names over an endless list of months. Months are
// added at either end as the user nears it; note counts and downloads are asked for
// the month at the top, at most once per month in a while.
Item {
    id: monthsViewId

    signal setYearNum(var yearNum)
    signal addNote(var objDate)
    signal clickDay(var objDate)

    property var todayDate: new Date()
    property int initMonthCount: 5
    property int increaseMonthCount: 6
    property int nFirstWeekDay: 0
    property real dayItemHeight: height / 6.25
    property var toDate
    property var mapMonth2TimeGetNoteCount: ({})
    property var mapMonth2TimeDownloadNoteList: ({})
    property int timeGapLoadNoteCount: 120
    property int timeGapDownloadNoteList: 1200
    // The calendar's day count model, which the day cells show; the selected day.
    property QtObject dayCounts: null
    property string strSelected: ""

    readonly property alias listView: monthsListView
    readonly property alias model: monthsListModel

    function monthStart(objDate) {
        return new Date(objDate.getFullYear(), objDate.getMonth(), 1, objDate.getHours(),
                        objDate.getMinutes(), objDate.getSeconds())
    }

    function insertMonth(idx, objDate) {
        monthsListModel.insert(idx, { "_currentDate": LunarJs.createDate(objDate) })
    }

    function appendMonth(objDate) {
        monthsListModel.append({ "_currentDate": LunarJs.createDate(objDate) })
    }

    function prependMonths(nCount) {
        for (var i = 0; i < nCount; i++) {
            LunarJs.addMonths(monthsListView.beginDate, -1)
            insertMonth(0, monthsListView.beginDate)
        }
    }

    function appendMonths(nCount) {
        for (var i = 0; i < nCount; i++) {
            LunarJs.addMonths(monthsListView.endDate, 1)
            appendMonth(monthsListView.endDate)
        }
    }

    function dateOfIndex(idx) {
        var objDate = LunarJs.createDate(monthsListView.beginDate)
        LunarJs.addMonths(objDate, idx)
        return objDate
    }

    function scrollToMonth(objDate) {
        var objMonth = monthStart(objDate)
        while (objMonth <= monthsListView.beginDate)
            prependMonths(1)
        if (objMonth >= monthsListView.endDate) {
            while (objMonth >= monthsListView.endDate)
                appendMonths(1)
            appendMonths(1)
        }
        toDate = objMonth
        positionTimer.restart()
    }

    function positionToMonth(objDate) {
        var objMonth = monthStart(objDate)
        getNoteInfo(LunarJs.getDateStr(objMonth))
        var idx = LunarJs.getMonths(monthsListView.beginDate, objMonth)
        // Twice: the first pass makes the months around it, whose heights the second knows.
        monthsListView.positionViewAtIndex(idx, ListView.Beginning)
        monthsListView.positionViewAtIndex(idx, ListView.Beginning)
        setYearNum(objMonth.getFullYear())
    }

    function toToday() {
        scrollToMonth(todayDate)
    }

    function topIndex() {
        var idx = monthsListView.indexAt(monthsListView.width / 2, monthsListView.contentY + 5)
        return idx < 0 ? 0 : idx
    }

    function getCurrentDate() {
        if (monthsListModel.count === 0)
            return ""
        return LunarJs.getDateStr(dateOfIndex(topIndex()))
    }

    // Adds months at an end that is near the top month, keeping the view where it is.
    function extendEnds() {
        var idx = topIndex()
        if (idx < 2) {
            var objItem = monthsListView.itemAt(monthsListView.width / 2,
                                                monthsListView.contentY + 5)
            var dOffset = objItem ? monthsListView.contentY - objItem.y : 0
            prependMonths(increaseMonthCount)
            monthsListView.positionViewAtIndex(idx + increaseMonthCount, ListView.Beginning)
            monthsListView.contentY += dOffset
        }
        if (monthsListModel.count - idx - 1 < 2)
            appendMonths(increaseMonthCount)
    }

    function onScrollEnded() {
        extendEnds()
        var objDate = dateOfIndex(topIndex())
        setYearNum(objDate.getFullYear())
        getNoteInfo(LunarJs.getDateStr(objDate))
    }

    function getNoteInfo(strMonthDate) {
        var now = new Date()
        var tLast = mapMonth2TimeGetNoteCount[strMonthDate]
        if (tLast === undefined || LunarJs.getGapSeconds(tLast, now) > timeGapLoadNoteCount) {
            mapMonth2TimeGetNoteCount[strMonthDate] = now
            noteMgt.getDayNoteCountByMonth(strMonthDate)
        }
        tLast = mapMonth2TimeDownloadNoteList[strMonthDate]
        if (tLast === undefined || LunarJs.getGapSeconds(tLast, now) > timeGapDownloadNoteList) {
            mapMonth2TimeDownloadNoteList[strMonthDate] = now
            noteMgt.downloadNoteListByMonth(strMonthDate)
        }
    }

    // The month that a "yyyy-MM-dd" day belongs to, as a list index (-1 when not listed).
    function indexOfMonth(objDate) {
        if (monthsListModel.count === 0)
            return -1
        var idx = LunarJs.getMonths(monthsListView.beginDate, objDate)
        return idx >= 0 && idx < monthsListModel.count ? idx : -1
    }

    function setNoteCount(set_at, note_count) {
        if (dayCounts)
            dayCounts.setDay(set_at, note_count)
    }

    function setNoteCountByMonth(set_at, lst_note_count) {
        if (dayCounts)
            dayCounts.setMonth(set_at, lst_note_count)
    }

    // Today moves on, and the counts are asked again.
    function refresh() {
        mapMonth2TimeGetNoteCount = {}
        mapMonth2TimeDownloadNoteList = {}
        todayDate = new Date()
        if (dayCounts)
            dayCounts.refreshToday()
        if (monthsListModel.count > 0)
            getNoteInfo(getCurrentDate())
    }

    // Another user: no count of the previous one may stay.
    function onUserChanged() {
        if (dayCounts)
            dayCounts.clear()
        refresh()
    }

    // Keeps the month at the top in place when the cells change size.
    // A resize may change the width and the height one after the other: the month at the
    // top is taken before the first change and kept until the list is repositioned.
    function adjustMonthSize() {
        var bKeepTop = monthsListModel.count > 0 && !positionTimer.running
                && !monthsListView.moving
        if (bKeepTop && !resizeTimer.running)
            resizeTimer.nIndex = topIndex()
        dayItemHeight = Math.max(1, Math.min(Math.floor(height / 6.25) - 1, width / 7))
        if (bKeepTop)
            resizeTimer.restart()
    }

    onWidthChanged: adjustMonthSize()
    onHeightChanged: adjustMonthSize()

    Component.onCompleted: {
        adjustMonthSize()
        // The list begins with the current month, so that the first frame shows it and
        // makes no month above it; the two months before it are added when the list is
        // first placed, just after (positionTimer).
        var objBegin = monthStart(todayDate)
        monthsListView.beginDate = LunarJs.createDate(objBegin)
        var objDate = LunarJs.createDate(objBegin)
        for (var i = 0; i < initMonthCount - positionTimer.nPrepend; i++) {
            if (i > 0)
                LunarJs.addMonths(objDate, 1)
            appendMonth(objDate)
        }
        monthsListView.endDate = LunarJs.createDate(objDate)
        toDate = monthStart(todayDate)
        positionTimer.restart()
    }

    Connections {
        target: noteMgt
        function onUserIdChanged() { monthsViewId.onUserChanged() }
    }

    Rectangle {
        id: weekTitle
        anchors.top: parent.top
        width: parent.width
        height: monthsViewId.dayItemHeight * 0.4
        color: Theme.toolBar
        Row {
            anchors.fill: parent
            Repeater {
                id: weekRepeater
                objectName: "weekRepeater"
                model: 7
                delegate: Text {
                    width: weekTitle.width / 7
                    height: weekTitle.height
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    color: Theme.text
                    font.family: GlobalJs.fontFamily
                    font.pixelSize: Math.max(1, monthsViewId.dayItemHeight * 0.25)
                    text: monthsViewId.weekDayName((monthsViewId.nFirstWeekDay + index) % 7)
                }
            }
        }
    }

    function weekDayName(nDay) {
        switch (nDay) {
        case 0: return qsTr("Sun")
        case 1: return qsTr("Mon")
        case 2: return qsTr("Tue")
        case 3: return qsTr("Wed")
        case 4: return qsTr("Thu")
        case 5: return qsTr("Fri")
        default: return qsTr("Sat")
        }
    }

    ListView {
        id: monthsListView
        objectName: "monthsListView"
        property var beginDate
        property var endDate

        anchors.top: weekTitle.bottom
        anchors.bottom: parent.bottom
        width: parent.width
        clip: true
        snapMode: ListView.NoSnap
        boundsBehavior: Flickable.StopAtBounds
        cacheBuffer: 0
        model: ListModel { id: monthsListModel }
        delegate: MonthItem {
            objectName: "monthsPageMonth"
            width: monthsListView.width
            bInYear: false
            dayCounts: monthsViewId.dayCounts
            strSelected: monthsViewId.strSelected
            nFirstWeekDay: monthsViewId.nFirstWeekDay
            dayItemHeight: monthsViewId.dayItemHeight
            currentDate: _currentDate
            onAddNote: monthsViewId.addNote(objDate)
            onClickDay: monthsViewId.clickDay(objDate)
        }

        onMovementEnded: {
            snapMode = ListView.SnapOneItem
            snapMode = ListView.NoSnap
            scrollEndTimer.nWait = 0
            scrollEndTimer.interval = 1
            scrollEndTimer.restart()
        }
        onContentYChanged: {
            // Keep months ahead of a long scroll downwards without waiting for its end.
            if (contentHeight > 0 && contentY + 2 * height > contentHeight + originY && !appendGuard.running) {
                appendGuard.start()
                monthsViewId.appendMonths(monthsViewId.increaseMonthCount)
            }
        }

        Timer { id: appendGuard; interval: 1 }

        Rectangle {
            id: scrollIndicator
            anchors.right: parent.right
            width: 6
            color: Theme.frame
            opacity: 0.5
            visible: monthsListView.visibleArea.heightRatio < 1
            y: monthsListView.visibleArea.yPosition * monthsListView.height
            height: Math.max(10, monthsListView.visibleArea.heightRatio * monthsListView.height)
        }
    }

    // The mouse wheel turns the months one a notch. Left to the list, a notch would flick it
    // a little way, and the snap at the end of the movement would take it back to the month
    // it left.
    function stepMonths(nSteps) {
        if (monthsListModel.count === 0)
            return
        var idx = Math.max(0, Math.min(monthsListModel.count - 1, topIndex() + nSteps))
        monthsListView.cancelFlick()
        // Twice, as in positionToMonth: a month out of sight learns its height in the first.
        monthsListView.positionViewAtIndex(idx, ListView.Beginning)
        monthsListView.positionViewAtIndex(idx, ListView.Beginning)
        onScrollEnded()
    }

    MouseArea {
        id: wheelArea
        anchors.fill: monthsListView
        acceptedButtons: Qt.NoButton
        property int nDelta: 0
        onWheel: {
            nDelta += wheel.angleDelta.y
            var nSteps = nDelta > 0 ? Math.floor(nDelta / 120) : Math.ceil(nDelta / 120)
            if (nSteps === 0)
                return
            nDelta -= nSteps * 120
            monthsViewId.stepMonths(-nSteps)
        }
    }

    Timer {
        id: positionTimer
        // Months still to be added before the first one at start.
        property int nPrepend: 2
        interval: 1
        onTriggered: {
            if (nPrepend > 0) {
                monthsViewId.prependMonths(nPrepend)
                nPrepend = 0
            }
            monthsViewId.positionToMonth(monthsViewId.toDate)
        }
    }

    Timer {
        id: resizeTimer
        property int nIndex: 0
        interval: 1
        onTriggered: {
            if (!positionTimer.running)
                monthsListView.positionViewAtIndex(nIndex, ListView.Beginning)
        }
    }

    // The snap above glides to the nearest month's start after the movement has ended:
    // the month at the top is taken once it has arrived there (or after a second, should the
    // list be held at one of its ends), so that the year and the note counts are those of the
    // month the user sees.
    function snapping() {
        var objItem = monthsListView.itemAt(monthsListView.width / 2, monthsListView.contentY + 5)
        return objItem !== null && Math.abs(monthsListView.contentY - objItem.y) >= 0.5
    }

    Timer {
        id: scrollEndTimer
        property int nWait: 0
        interval: 1
        onTriggered: {
            // A new movement ends with its own call.
            if (monthsListView.moving)
                return
            if (monthsViewId.snapping() && nWait < 60) {
                nWait += 1
                interval = 16
                restart()
                return
            }
            monthsViewId.onScrollEnded()
        }
    }
}

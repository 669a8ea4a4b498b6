import QtQuick 2.4
import "../js/lunar.js" as LunarJs

// The years page: an endless list of years, one page each.
Item {
    id: yearsViewId

    property var todayDate: new Date()
    property int initYearCount: 5
    property int increaseYearCount: 3
    property int nFirstWeekDay: 0
    // The year to show once the list is laid out; today's when nobody asked for another.
    property var toDate: null
    property QtObject dayCounts: null
    property string strSelected: ""

    signal clickMonth(var objDate)

    readonly property alias listView: yearsListView
    readonly property alias model: yearsListModel

    function yearStart(objDate) {
        return new Date(objDate.getFullYear(), 0, 1, objDate.getHours(), objDate.getMinutes(),
                        objDate.getSeconds())
    }

    function insertYear(idx, objDate) {
        yearsListModel.insert(idx, { "_currentDate": LunarJs.createDate(objDate) })
    }

    function appendYear(objDate) {
        yearsListModel.append({ "_currentDate": LunarJs.createDate(objDate) })
    }

    function prependYears(nCount) {
        for (var i = 0; i < nCount; i++) {
            LunarJs.addMonths(yearsListView.beginDate, -12)
            insertYear(0, yearsListView.beginDate)
        }
    }

    function appendYears(nCount) {
        for (var i = 0; i < nCount; i++) {
            LunarJs.addMonths(yearsListView.endDate, 12)
            appendYear(yearsListView.endDate)
        }
    }

    function scrollToYear(objDate) {
        toDate = LunarJs.createDate(objDate)
        var objYear = yearStart(objDate)
        while (objYear <= yearsListView.beginDate)
            prependYears(1)
        while (objYear >= yearsListView.endDate)
            appendYears(1)
        yearsListView.positionViewAtIndex(
                    objYear.getFullYear() - yearsListView.beginDate.getFullYear(),
                    ListView.Beginning)
    }

    function scrollToYearNum(yearNum) {
        var nYear = parseInt(yearNum)
        if (isNaN(nYear))
            return
        scrollToYear(new Date(nYear, 0, 1))
    }

    function toToday() {
        scrollToYear(new Date())
    }

    function topIndex() {
        var idx = yearsListView.indexAt(yearsListView.width / 2, yearsListView.contentY + 5)
        return idx < 0 ? 0 : idx
    }

    function getCurrentDate() {
        if (yearsListModel.count === 0)
            return ""
        return (yearsListView.beginDate.getFullYear() + topIndex()) + "-01-01"
    }

    function findYearItem(nYear) {
        var lst = yearsListView.contentItem.children
        for (var i = 0; i < lst.length; i++) {
            if (lst[i].objectName === "yearItem" && lst[i].currentDate
                    && lst[i].currentDate.getFullYear() === nYear)
                return lst[i]
        }
        return null
    }

    function onScrollEnded() {
        var idx = topIndex()
        if (idx < 2) {
            var objItem = yearsListView.itemAt(yearsListView.width / 2, yearsListView.contentY + 5)
            var dOffset = objItem ? yearsListView.contentY - objItem.y : 0
            prependYears(increaseYearCount)
            yearsListView.positionViewAtIndex(idx + increaseYearCount, ListView.Beginning)
            yearsListView.contentY += dOffset
        }
        if (yearsListModel.count - idx - 1 < 2)
            appendYears(increaseYearCount)
    }

    Component.onCompleted: {
        var objBegin = yearStart(todayDate)
        LunarJs.addMonths(objBegin, -12)
        yearsListView.beginDate = LunarJs.createDate(objBegin)
        var objDate = LunarJs.createDate(objBegin)
        for (var i = 0; i < initYearCount; i++) {
            if (i > 0)
                LunarJs.addMonths(objDate, 12)
            appendYear(objDate)
        }
        yearsListView.endDate = LunarJs.createDate(objDate)
        initTimer.start()
    }

    ListView {
        id: yearsListView
        property var beginDate
        property var endDate

        anchors.fill: parent
        clip: true
        snapMode: ListView.SnapOneItem
        boundsBehavior: Flickable.StopAtBounds
        cacheBuffer: Math.max(0, height)
        model: ListModel { id: yearsListModel }
        delegate: YearItem {
            objectName: "yearItem"
            width: yearsListView.width
            height: yearsListView.height
            nFirstWeekDay: yearsViewId.nFirstWeekDay
            dayCounts: yearsViewId.dayCounts
            strSelected: yearsViewId.strSelected
            currentDate: _currentDate
            onClickMonth: yearsViewId.clickMonth(objDate)
        }

        onMovementEnded: {
            snapMode = ListView.SnapOneItem
            snapMode = ListView.NoSnap
            scrollEndTimer.restart()
        }

        Rectangle {
            anchors.right: parent.right
            width: 6
            color: Theme.frame
            opacity: 0.5
            visible: yearsListView.visibleArea.heightRatio < 1
            y: yearsListView.visibleArea.yPosition * yearsListView.height
            height: Math.max(10, yearsListView.visibleArea.heightRatio * yearsListView.height)
        }
    }

    // The mouse wheel turns the years one a notch; the small flick of a notch would be taken
    // back by the snap to the nearest year.
    function stepYears(nSteps) {
        if (yearsListModel.count === 0)
            return
        var idx = Math.max(0, Math.min(yearsListModel.count - 1, topIndex() + nSteps))
        yearsListView.cancelFlick()
        yearsListView.positionViewAtIndex(idx, ListView.Beginning)
        onScrollEnded()
    }

    MouseArea {
        anchors.fill: yearsListView
        acceptedButtons: Qt.NoButton
        property int nDelta: 0
        onWheel: {
            nDelta += wheel.angleDelta.y
            var nSteps = nDelta > 0 ? Math.floor(nDelta / 120) : Math.ceil(nDelta / 120)
            if (nSteps === 0)
                return
            nDelta -= nSteps * 120
            yearsViewId.stepYears(-nSteps)
        }
    }

    Timer {
        id: initTimer
        interval: 1
        onTriggered: yearsViewId.scrollToYear(yearsViewId.toDate ? yearsViewId.toDate : new Date())
    }

    Timer {
        id: scrollEndTimer
        interval: 1
        onTriggered: yearsViewId.onScrollEnded()
    }
}

import QtQuick 2.4
import "../js/lunar.js" as LunarJs
import "../js/global.js" as GlobalJs

// One month: its number as a title over a grid of day cells. On the months page the
// item is as tall as its weeks need; inside a year it always holds six rows.
Item {
    id: monthItemId

    signal addNote(var objDate)
    signal clickDay(var objDate)
    // Inside a year: the month was clicked.
    signal clickMonth(var objDate)

    property bool bInYear: false
    property int nFirstWeekDay: 0
    property int nWeeks: 6
    property real dayItemHeight: 10
    property real dayItemWidth: width / 7 - 1
    property real monthTitleRatio: 0.3
    property var currentDate
    // The calendar's DayCountModel and selected day, handed to the day cells.
    property QtObject dayCounts: null
    property string strSelected: ""

    // Time a first click waits for a second one before it counts as a single click. A
    // double click that comes later still starts a new note (the main window drops the
    // day that the first click opened).
    property int clickDelay: 100
    property var clickedCell: null

    // Index of the cell that holds the 1st, and the number of days of the month.
    property int firstValidIdx: 0
    property int monthDays: 0

    function isValidDate(objDate) {
        return objDate !== undefined && objDate !== null && objDate !== 0 && !isNaN(objDate)
    }

    function getFirstValidDayIdx() {
        return firstValidIdx
    }

    function cellDate(idx) {
        if (idx < firstValidIdx || idx >= firstValidIdx + monthDays)
            return undefined
        return new Date(currentDate.getFullYear(), currentDate.getMonth(),
                        idx - firstValidIdx + 1, currentDate.getHours(),
                        currentDate.getMinutes(), currentDate.getSeconds())
    }

    function cellAt(x, y) {
        var nCol = Math.floor(x / (width / 7))
        var nRow = Math.floor(y / dayItemHeight)
        if (nCol < 0 || nCol > 6 || nRow < 0 || nRow >= nWeeks)
            return null
        var cell = dayRepeater.itemAt(nRow * 7 + nCol)
        return cell && cell.bValid ? cell : null
    }

    function dayItemAt(nDay) {
        return dayRepeater.itemAt(firstValidIdx + nDay - 1)
    }

    function adjustHeight() {
        if (!bInYear && isValidDate(currentDate))
            height = nWeeks * dayItemHeight + dayItemHeight * monthTitleRatio
    }

    function rebuild() {
        dayRepeater.model = 0
        if (!isValidDate(currentDate)) {
            monthDays = 0
            return
        }
        var objFirst = new Date(currentDate.getFullYear(), currentDate.getMonth(), 1)
        monthDays = LunarJs.getMonthDays(objFirst)
        firstValidIdx = ((objFirst.getDay() - nFirstWeekDay) % 7 + 7) % 7
        if (!bInYear) {
            nWeeks = LunarJs.getWeeks(objFirst, nFirstWeekDay)
            adjustHeight()
        } else {
            nWeeks = 6
        }
        dayRepeater.model = nWeeks * 7
    }

    onCurrentDateChanged: {
        clickTimer.stop()
        rebuild()
    }
    onNFirstWeekDayChanged: rebuild()
    onDayItemHeightChanged: adjustHeight()
    Component.onCompleted: {
        if (bInYear)
            dayItemHeight = Qt.binding(function () {
                return monthItemId.height * (1 - monthItemId.monthTitleRatio) / 6
            })
    }

    Text {
        id: titleText
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.top: parent.top
        height: monthItemId.bInYear ? monthItemId.height * monthItemId.monthTitleRatio
                                    : monthItemId.dayItemHeight * monthItemId.monthTitleRatio
        verticalAlignment: Text.AlignVCenter
        text: monthItemId.isValidDate(monthItemId.currentDate)
              ? monthItemId.currentDate.getMonth() + 1 : ""
        color: Theme.accent
        font.family: GlobalJs.fontFamily
        font.pixelSize: Math.max(1, monthItemId.bInYear
                                    ? Math.min(monthItemId.dayItemHeight, height)
                                    : monthItemId.dayItemHeight * monthItemId.monthTitleRatio)
    }

    Rectangle {
        id: titleLine
        anchors.top: titleText.bottom
        width: parent.width
        height: 1
        color: monthItemId.bInYear ? "transparent" : Theme.line
    }

    Rectangle {
        id: hoverCell
        property var cell: cellMouseArea.containsMouse
                           ? monthItemId.cellAt(cellMouseArea.mouseX, cellMouseArea.mouseY) : null
        visible: !monthItemId.bInYear && cell !== null
        x: cell ? cell.x : 0
        y: cell ? dayGrid.y + cell.y : 0
        width: cell ? cell.width : 0
        height: cell ? cell.height : 0
        radius: 5
        color: cellMouseArea.pressed ? Theme.press : Theme.hover
    }

    Grid {
        id: dayGrid
        anchors.top: titleLine.bottom
        columns: 7
        spacing: 0
        Repeater {
            id: dayRepeater
            objectName: "dayRepeater"
            model: 0
            delegate: DayItem {
                width: monthItemId.width / 7
                height: monthItemId.dayItemHeight
                bInYear: monthItemId.bInYear
                dayCounts: monthItemId.dayCounts
                strSelected: monthItemId.strSelected
                currentDate: monthItemId.cellDate(index)
                onAddNote: monthItemId.addNote(objDate)
                onClickDay: monthItemId.clickDay(objDate)
            }
        }
    }

    Timer {
        id: clickTimer
        interval: monthItemId.clickDelay
        onTriggered: {
            if (monthItemId.clickedCell && monthItemId.clickedCell.bValid)
                monthItemId.clickedCell.clickDay(monthItemId.clickedCell.currentDate)
        }
    }

    // On the months page: a click opens a day, a double click starts a note on it.
    MouseArea {
        id: cellMouseArea
        anchors.fill: dayGrid
        visible: !monthItemId.bInYear
        enabled: visible
        hoverEnabled: true
        onClicked: {
            monthItemId.clickedCell = monthItemId.cellAt(mouse.x, mouse.y)
            if (monthItemId.clickedCell)
                clickTimer.restart()
        }
        onDoubleClicked: {
            clickTimer.stop()
            var cell = monthItemId.cellAt(mouse.x, mouse.y)
            if (cell)
                cell.addNote(cell.currentDate)
        }
    }

    // Inside a year: the month of the selected day is framed.
    Rectangle {
        anchors.fill: parent
        visible: monthItemId.bInYear && monthItemId.isValidDate(monthItemId.currentDate)
                 && monthItemId.strSelected.substring(0, 7)
                    === LunarJs.getDateStr(monthItemId.currentDate).substring(0, 7)
        color: "transparent"
        radius: 5
        border.width: 2
        border.color: Theme.focusFrame
    }

    HoverMouseArea {
        anchors.fill: parent
        visible: monthItemId.bInYear
        enabled: monthItemId.bInYear
        onClicked: monthItemId.clickMonth(monthItemId.currentDate)
    }
}

import QtQuick 2.4
import "../js/lunar.js" as LunarJs
import "../js/global.js" as GlobalJs

// One year of the years page: its number over a 3 × 4 grid of small months.
Item {
    id: yearItemId

    property var currentDate
    property int nFirstWeekDay: 0
    property QtObject dayCounts: null
    property string strSelected: ""

    signal clickMonth(var objDate)
    property real yearTitleRatio: 0.06

    function isValidDate(objDate) {
        return objDate !== undefined && objDate !== null && objDate !== 0 && !isNaN(objDate)
    }

    function monthDate(idx) {
        if (!isValidDate(currentDate))
            return undefined
        var objDate = new Date(currentDate.getFullYear(), 0, 1, currentDate.getHours(),
                               currentDate.getMinutes(), currentDate.getSeconds())
        LunarJs.addMonths(objDate, idx)
        return objDate
    }

    function monthItems() {
        var lst = []
        for (var i = 0; i < monthRepeater.count; i++) {
            var loader = monthRepeater.itemAt(i)
            lst.push(loader ? loader.item : null)
        }
        return lst
    }

    onCurrentDateChanged: {
        monthRepeater.model = 0
        if (isValidDate(currentDate))
            monthRepeater.model = 12
    }

    Text {
        id: yearTitle
        anchors.left: parent.left
        anchors.leftMargin: 10
        height: yearItemId.height * yearItemId.yearTitleRatio
        verticalAlignment: Text.AlignVCenter
        text: yearItemId.isValidDate(yearItemId.currentDate)
              ? yearItemId.currentDate.getFullYear() : ""
        color: Theme.accent
        font.family: GlobalJs.fontFamily
        font.pixelSize: Math.max(1, height * 0.9)
    }

    Rectangle {
        id: yearLine
        anchors.top: yearTitle.bottom
        width: parent.width
        height: 1
        color: Theme.line
    }

    // A year holds 12 months of 42 day cells. While the years page is hidden (it is made in
    // the background after start) the months are made a few at a time between frames, so
    // that the window never stops for a whole year at once; once the page shows, whatever
    // is still missing is made at once.
    Grid {
        anchors.top: yearLine.bottom
        columns: 3
        Repeater {
            id: monthRepeater
            model: 0
            delegate: Loader {
                id: monthLoader
                readonly property int nMonth: index
                width: yearItemId.width / 3
                height: (yearItemId.height - 1) * (1 - yearItemId.yearTitleRatio) / 4
                asynchronous: !yearItemId.visible
                sourceComponent: MonthItem {
                    width: monthLoader.width
                    height: monthLoader.height
                    bInYear: true
                    dayCounts: yearItemId.dayCounts
                    strSelected: yearItemId.strSelected
                    nFirstWeekDay: yearItemId.nFirstWeekDay
                    onClickMonth: yearItemId.clickMonth(objDate)
                    currentDate: yearItemId.monthDate(monthLoader.nMonth)
                }
            }
        }
    }
}

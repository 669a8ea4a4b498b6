import QtQuick 2.4
import "../js/lunar.js" as LunarJs
import "../js/global.js" as GlobalJs

// One day cell of a month: the day number, the lunar day, today's circle, the frame of the
// selected day and a dot for days that hold notes. The count and today come from the
// calendar's day count model. The month takes the clicks for all of its cells.
Item {
    id: dayItemId

    signal addNote(var objDate)
    signal clickDay(var objDate)

    property var currentDate
    property bool bInYear: false
    // The calendar's DayCountModel; null shows no counts and no today.
    property QtObject dayCounts: null
    // The selected day, "yyyy-MM-dd".
    property string strSelected: ""

    readonly property bool bValid: currentDate !== undefined && currentDate !== null
                                   && currentDate !== 0 && !isNaN(currentDate)
    readonly property string dayKey: bValid ? LunarJs.getDateStr(currentDate) : ""
    readonly property int noteCount: dayCounts !== null && dayKey !== "" && !bInYear
                                     ? dayCounts.countOf(dayKey, dayCounts.revision) : 0
    readonly property bool isToday: dayCounts !== null && dayKey !== ""
                                    && dayKey === dayCounts.strToday
    readonly property bool isSelected: !bInYear && dayKey !== "" && dayKey === strSelected
    readonly property bool bShowLunar: !bInYear && bValid && settings.showLunar
                                       && height * 0.2 > 6 && width * 0.2 > 12
    readonly property string lunarText: bShowLunar ? LunarJs.getLunarDay(currentDate) : ""
    readonly property bool bLunarFirstDay: bShowLunar && LunarJs.isFirstDay(currentDate)

    readonly property alias dayLabel: dayText
    readonly property alias lunarLabel: lunarDayText
    readonly property alias todayMark: todayMark
    readonly property alias lunarMonthMark: lunarMonthMark
    readonly property alias noteMark: noteMark
    readonly property alias selectedMark: selectedMark

    Rectangle {
        id: selectedMark
        anchors.fill: parent
        anchors.margins: 1
        visible: dayItemId.isSelected
        color: "transparent"
        radius: 5
        border.width: 2
        border.color: Theme.focusFrame
    }

    Text {
        id: dayText
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: dayItemId.bInYear ? (parent.height - height) / 2 : parent.height * 0.1
        visible: dayItemId.bValid
        text: dayItemId.bValid ? dayItemId.currentDate.getDate() : ""
        color: Theme.text
        font.family: GlobalJs.fontFamily
        font.pixelSize: Math.max(1, dayItemId.bInYear
                                    ? dayItemId.height * 0.8
                                    : Math.min(dayItemId.height * 0.3, dayItemId.width * 0.3))
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }

    // A circle round the number, wide enough for two digits.
    Rectangle {
        id: todayMark
        visible: dayItemId.isToday && dayItemId.bValid
        anchors.centerIn: dayText
        width: Math.max(dayText.height, dayText.contentWidth + dayText.font.pixelSize * 0.5)
        height: width
        radius: width / 2
        color: "transparent"
        border.width: 1
        border.color: Theme.accent
    }

    Text {
        id: lunarDayText
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: dayText.bottom
        visible: dayItemId.bShowLunar
        text: dayItemId.lunarText
        color: Theme.textSecondary
        font.pixelSize: Math.max(1, Math.min(dayItemId.height * 0.2, dayItemId.width * 0.2))
    }

    Rectangle {
        id: lunarMonthMark
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: lunarDayText.bottom
        visible: dayItemId.bLunarFirstDay
        width: dayItemId.width * 0.2
        height: 2
        color: Theme.accent
    }

    Rectangle {
        id: noteMark
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: dayItemId.bShowLunar ? lunarMonthMark.bottom : dayText.bottom
        anchors.topMargin: 2
        visible: dayItemId.bValid && dayItemId.noteCount > 0
        width: 6
        height: 6
        radius: 3
        color: Theme.textSecondary
    }
}

import QtQuick 2.4
import "../js/lunar.js" as LunarJs

// Year, month and day spinners. The day spinner always holds the selected month's days.
ItemRefer {
    id: editDateItemId

    property var currentDate: new Date()

    readonly property alias yearSpinner: yearSpinner
    readonly property alias monthSpinner: monthSpinner
    readonly property alias daySpinner: daySpinner

    function pad2(n) {
        return n < 10 ? "0" + n : "" + n
    }

    function getValue() {
        return yearSpinner.value + "-" + pad2(monthSpinner.value) + "-" + pad2(daySpinner.value)
    }

    function showDate(objDate) {
        if (!objDate || isNaN(objDate))
            return
        daySpinner.itemCount = LunarJs.getMonthDays(objDate)
        yearSpinner.positionIdx(objDate.getFullYear() - 1900)
        monthSpinner.positionIdx(objDate.getMonth())
        daySpinner.positionIdx(objDate.getDate() - 1)
    }

    // Follows a change of year or month: the day spinner gets the new month's length,
    // and a day beyond it becomes the month's last day.
    function adjustDays() {
        var nDays = LunarJs.getMonthDays(new Date(yearSpinner.value, monthSpinner.value - 1, 1))
        if (nDays === daySpinner.itemCount)
            return
        var nDay = Math.min(daySpinner.value, nDays)
        daySpinner.itemCount = nDays
        daySpinner.positionIdx(nDay - 1)
    }

    onCurrentDateChanged: showDate(currentDate)

    Row {
        anchors.fill: parent
        Item {
            width: parent.width / 3
            height: parent.height
            Spinner {
                id: yearSpinner
                anchors.centerIn: parent
                width: editDateItemId.referWidth * 0.3
                height: editDateItemId.referWidth * 0.5
                label: qsTr("Year")
                startValue: 1900
                itemCount: 200
                onMovementEnded: editDateItemId.adjustDays()
                Component.onCompleted: editDateItemId.showDate(editDateItemId.currentDate)
            }
        }
        Item {
            width: parent.width / 3
            height: parent.height
            Spinner {
                id: monthSpinner
                anchors.centerIn: parent
                width: editDateItemId.referWidth * 0.3
                height: editDateItemId.referWidth * 0.5
                label: qsTr("Month")
                startValue: 1
                itemCount: 12
                onMovementEnded: editDateItemId.adjustDays()
            }
        }
        Item {
            width: parent.width / 3
            height: parent.height
            Spinner {
                id: daySpinner
                anchors.centerIn: parent
                width: editDateItemId.referWidth * 0.3
                height: editDateItemId.referWidth * 0.5
                label: qsTr("Day")
                startValue: 1
                itemCount: 30
            }
        }
    }
}

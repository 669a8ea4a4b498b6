import QtQuick 2.4

// Hour, minute and, while shown, second spinners.
ItemRefer {
    id: editTimeItemId

    property var currentDate: new Date()
    property bool showSecond: true

    readonly property alias hourSpinner: hourSpinner
    readonly property alias minuteSpinner: minuteSpinner

    function pad2(n) {
        return n < 10 ? "0" + n : "" + n
    }

    function secondItem() {
        return secondLoader.item
    }

    function getValue() {
        var strValue = pad2(hourSpinner.value) + ":" + pad2(minuteSpinner.value)
        if (showSecond && secondLoader.item)
            strValue += ":" + pad2(secondLoader.item.value)
        return strValue
    }

    function showTime(objDate) {
        if (!objDate || isNaN(objDate))
            return
        hourSpinner.positionIdx(objDate.getHours())
        minuteSpinner.positionIdx(objDate.getMinutes())
        if (showSecond && secondLoader.item)
            secondLoader.item.positionIdx(objDate.getSeconds())
    }

    onCurrentDateChanged: showTime(currentDate)

    Row {
        anchors.fill: parent
        Item {
            width: parent.width / (editTimeItemId.showSecond ? 3 : 2)
            height: parent.height
            Spinner {
                id: hourSpinner
                anchors.centerIn: parent
                width: editTimeItemId.referWidth * 0.3
                height: editTimeItemId.referWidth * 0.5
                label: qsTr("Hour")
                startValue: 0
                itemCount: 24
                Component.onCompleted: positionIdx(editTimeItemId.currentDate.getHours())
            }
        }
        Item {
            width: parent.width / (editTimeItemId.showSecond ? 3 : 2)
            height: parent.height
            Spinner {
                id: minuteSpinner
                anchors.centerIn: parent
                width: editTimeItemId.referWidth * 0.3
                height: editTimeItemId.referWidth * 0.5
                label: qsTr("Minute")
                startValue: 0
                itemCount: 60
                Component.onCompleted: positionIdx(editTimeItemId.currentDate.getMinutes())
            }
        }
        Loader {
            id: secondLoader
            width: parent.width / 3
            height: parent.height
            active: editTimeItemId.showSecond
            sourceComponent: EditSecondItem {
                referWidth: editTimeItemId.referWidth
                Component.onCompleted: positionIdx(editTimeItemId.currentDate.getSeconds())
            }
        }
    }
}

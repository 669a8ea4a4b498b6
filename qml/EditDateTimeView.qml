import QtQuick 2.4
import "../js/lunar.js" as LunarJs
import "../js/global.js" as GlobalJs

// The date picker: spinners for the day and, optionally, the time of day.
RectangleRefer {
    id: viewDateEdit

    signal saveData(var data)
    signal close()

    property var currentDate: new Date()
    property bool showTime: true
    property bool showSecond: true

    readonly property alias dateItem: dateItem
    readonly property alias timeItem: timeItem

    dRatioWidth: 0.1
    dRatioHeight: 0.1
    color: Theme.pickerBackground

    function setCurrentDate(str) {
        currentDate = LunarJs.parseDateStr(str)
    }

    // Opened: the day's wheel has the keyboard.
    function takeFocus() {
        dateItem.daySpinner.listView.forceActiveFocus()
    }

    function finish() {
        saveData(getValue())
        close()
    }

    Keys.onEscapePressed: close()
    Keys.onReturnPressed: finish()
    Keys.onEnterPressed: finish()

    function getValue() {
        var strValue = dateItem.getValue()
        if (showTime)
            strValue += " " + timeItem.getValue()
        return strValue
    }

    // Swallows clicks so that nothing under the picker reacts.
    MouseArea {
        anchors.fill: parent
    }

    EditDateItem {
        id: dateItem
        anchors.top: parent.top
        anchors.bottom: timeItem.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: parent.width * 0.1
        anchors.rightMargin: parent.width * 0.1
        currentDate: viewDateEdit.currentDate
    }

    EditTimeItem {
        id: timeItem
        anchors.bottom: bottomBar.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: parent.width * 0.1
        anchors.rightMargin: parent.width * 0.1
        height: viewDateEdit.showTime ? viewDateEdit.height * 0.45 : 0
        visible: viewDateEdit.showTime
        showSecond: viewDateEdit.showSecond
        currentDate: viewDateEdit.currentDate
    }

    Item {
        id: bottomBar
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 5
        width: parent.width
        height: viewDateEdit.referFontSize
        PushButton {
            id: btnCancel
            objectName: "btnCancel"
            anchors.left: parent.left
            anchors.leftMargin: 5
            height: parent.height
            width: implicitWidth
            text: qsTr("Cancel")
            onClicked: viewDateEdit.close()
        }
        TextButton {
            id: btnFinish
            objectName: "btnFinish"
            anchors.right: parent.right
            anchors.rightMargin: 5
            height: parent.height
            text: qsTr("Finish")
            onClicked: viewDateEdit.finish()
        }
    }
}

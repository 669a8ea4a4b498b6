import QtQuick 2.4

// The seconds column of the time spinners.
Item {
    id: editSecondItemId

    property alias spinner: secondSpinner
    property alias value: secondSpinner.value
    property real referWidth: Math.min(width, height)

    function positionIdx(nIdx) {
        secondSpinner.positionIdx(nIdx)
    }

    Spinner {
        id: secondSpinner
        anchors.centerIn: parent
        width: editSecondItemId.referWidth * 0.3
        height: editSecondItemId.referWidth * 0.5
        label: qsTr("Second")
        startValue: 0
        itemCount: 60
    }
}

import QtQuick 2.4
import "../js/global.js" as GlobalJs

// A captioned wheel of consecutive numbers from startValue, for the date picker.
ItemRefer {
    id: spinnerId

    property alias currentIdx: listViewId.currentIndex
    property string label: "Spinner"
    property int itemCount: 10
    property int startValue: 0
    property int toIndex: 0
    // While a new position waits for its place, the value is already the new one.
    property int value: startValue + (timerPositionId.running ? toIndex : currentIdx)
    readonly property alias listView: listViewId

    signal movementEnded()

    // Selects entry nIdx once a change of itemCount made at the same time is in place.
    function positionIdx(nIdx) {
        toIndex = nIdx
        timerPositionId.restart()
    }

    // One entry up (-1) or down (1), from the position still to be taken if one waits.
    function step(nBy) {
        if (timerPositionId.running) {
            positionIdx(Math.max(0, Math.min(itemCount - 1, toIndex + nBy)))
        } else if (nBy < 0) {
            listViewId.decrementCurrentIndex()
        } else {
            listViewId.incrementCurrentIndex()
        }
        movementEnded()
    }

    Text {
        id: labelId
        anchors.top: parent.top
        anchors.horizontalCenter: parent.horizontalCenter
        text: spinnerId.label
        visible: spinnerId.referWidth > 0
        color: Theme.text
        font.family: GlobalJs.fontFamily
        font.pixelSize: Math.max(1, spinnerId.referWidth * 0.2)
    }

    Rectangle {
        id: wheelId
        anchors.top: labelId.bottom
        anchors.topMargin: 4
        anchors.horizontalCenter: parent.horizontalCenter
        width: spinnerId.width * 0.8
        height: spinnerId.height * 0.8
        color: "black"
        clip: true

        ListView {
            id: listViewId
            anchors.fill: parent
            clip: true
            model: spinnerId.itemCount
            snapMode: ListView.NoSnap
            highlightRangeMode: ListView.StrictlyEnforceRange
            preferredHighlightBegin: height / 3
            preferredHighlightEnd: height / 3
            onMovementEnded: spinnerId.movementEnded()
            // Reached with Tab; Up and Down turn the wheel by one.
            activeFocusOnTab: true
            Keys.onUpPressed: spinnerId.step(-1)
            Keys.onDownPressed: spinnerId.step(1)

            delegate: Item {
                width: listViewId.width
                height: listViewId.height / 3

                Text {
                    anchors.centerIn: parent
                    text: index + spinnerId.startValue
                    color: "white"
                    font.family: GlobalJs.fontFamily
                    font.pixelSize: Math.max(1, listViewId.width * 0.3)
                }
            }
        }

        Rectangle {
            anchors.fill: parent
            gradient: Gradient {
                GradientStop { position: 0.0; color: "#FF000000" }
                GradientStop { position: 0.4; color: "#00000000" }
                GradientStop { position: 0.6; color: "#00000000" }
                GradientStop { position: 1.0; color: "#FF000000" }
            }
        }
    }

    FocusFrame {
        anchors.fill: wheelId
        shown: listViewId.activeFocus
    }

    Timer {
        id: timerPositionId
        interval: 10
        repeat: false
        onTriggered: {
            listViewId.positionViewAtIndex(spinnerId.toIndex, ListView.Beginning)
            listViewId.currentIndex = spinnerId.toIndex
        }
    }
}

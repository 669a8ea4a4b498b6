import QtQuick 2.4

// The frame around a control that has the keyboard focus.
Rectangle {
    property bool shown: false

    anchors.fill: parent
    anchors.margins: -2
    visible: shown
    color: "transparent"
    radius: 5
    border.width: 2
    border.color: Theme.focusFrame
}

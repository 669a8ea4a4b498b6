import QtQuick 2.4

// The button inside a text field that empties it, shown while the field holds text: on the
// right, 5 pixels in, half the field's height. The field (its parent) has a text and a
// cleared() signal.
PushButton {
    id: clearButtonId

    readonly property Item field: parent

    anchors.right: parent.right
    anchors.rightMargin: 5
    anchors.verticalCenter: parent.verticalCenter
    height: field.height * 0.5
    width: height
    imgSrc: "../res/cross.svg"
    tintIcon: false
    visible: field.text.length > 0
    // Tab goes past it: the field itself is cleared with Escape where its owner wants.
    activeFocusOnTab: false
    Accessible.name: qsTr("Clear")
    onClicked: {
        field.text = ""
        field.forceActiveFocus()
        field.cleared()
    }
}

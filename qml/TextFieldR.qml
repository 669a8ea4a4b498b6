import QtQuick 2.4
import QtQuick.Controls 1.3
import QtQuick.Controls.Styles 1.3

// A text field with a button that empties it, shown while the field holds text.
TextField {
    id: textFieldRId

    readonly property alias clearButton: btnClearId

    // The user emptied the field with its clear button.
    signal cleared()

    // Room for the clear button on the right; no vertical padding, so that a font of
    // most of the field's height still fits inside it.
    style: ThemedFieldStyle {
        padding.right: btnClearId.width + 10
        padding.top: 0
        padding.bottom: 0
    }

    PushButton {
        id: btnClearId
        anchors.right: parent.right
        anchors.rightMargin: 5
        anchors.verticalCenter: parent.verticalCenter
        height: textFieldRId.height * 0.5
        width: height
        imgSrc: "../res/cross.svg"
        tintIcon: false
        visible: textFieldRId.text.length > 0
        // Tab goes past it: the field itself is cleared with Escape where its owner wants.
        activeFocusOnTab: false
        Accessible.name: qsTr("Clear")
        onClicked: {
            textFieldRId.text = ""
            textFieldRId.forceActiveFocus()
            textFieldRId.cleared()
        }
    }
}

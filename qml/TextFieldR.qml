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

    FieldClearButton {
        id: btnClearId
    }
}

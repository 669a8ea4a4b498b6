import QtQuick 2.4
import QtQuick.Controls.Styles 1.3

// The look of the text fields: the theme's colours, a frame that shows the focus.
TextFieldStyle {
    textColor: Theme.text
    placeholderTextColor: Theme.textSecondary
    selectionColor: Theme.focusFrame
    selectedTextColor: Theme.selectedText
    // No size of its own: the field keeps the height of its font.
    background: Rectangle {
        radius: 3
        color: Theme.fieldBackground
        border.color: control.activeFocus ? Theme.focusFrame : Theme.frame
    }
}

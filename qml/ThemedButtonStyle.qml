import QtQuick 2.4
import QtQuick.Controls.Styles 1.3

// The look of the standard buttons: the theme's colours, a frame that shows the focus.
ButtonStyle {
    padding { left: 8; right: 8; top: 3; bottom: 3 }
    background: Rectangle {
        implicitWidth: 80
        implicitHeight: 26
        radius: 3
        color: control.pressed ? Theme.press : (control.hovered ? Theme.hover : Theme.fieldBackground)
        border.color: control.activeFocus ? Theme.focusFrame : Theme.frame
        border.width: control.activeFocus ? 2 : 1
        opacity: control.enabled ? 1 : 0.5
    }
    label: Text {
        text: control.text
        color: Theme.text
        opacity: control.enabled ? 1 : 0.5
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        font.family: Theme.fontFamily
    }
}

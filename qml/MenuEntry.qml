import QtQuick 2.4

// One entry of a PopupMenu: an icon and a text, or a separator line.
Item {
    id: menuEntryId

    property string text: ""
    property string iconSource: ""
    property bool separator: false
    property real fontSize: 16
    // The menu that holds the entry (set by the menu).
    property Item menu: null

    signal triggered()

    function trigger() {
        if (!enabled || separator)
            return
        if (menu)
            menu.close()
        triggered()
    }

    width: parent ? parent.width : implicitWidth
    implicitWidth: separator ? 0 : entryRow.implicitWidth + fontSize * 2
    height: separator ? 9 : fontSize * 2.2
    activeFocusOnTab: !separator && enabled
    Accessible.role: separator ? Accessible.Separator : Accessible.MenuItem
    Accessible.name: text
    Accessible.onPressAction: trigger()
    Keys.onReturnPressed: trigger()
    Keys.onEnterPressed: trigger()
    Keys.onSpacePressed: trigger()

    Rectangle {
        anchors.fill: parent
        visible: !menuEntryId.separator
        color: entryArea.pressed ? Theme.menuPressed
                                 : (entryArea.containsMouse || menuEntryId.activeFocus
                                    ? Theme.hover : Theme.menuBackground)
    }

    Rectangle {
        visible: menuEntryId.separator
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width
        height: 1
        color: Theme.frame
    }

    Row {
        id: entryRow
        visible: !menuEntryId.separator
        anchors.verticalCenter: parent.verticalCenter
        anchors.left: parent.left
        anchors.leftMargin: menuEntryId.fontSize
        spacing: 8

        ThemedIcon {
            anchors.verticalCenter: parent.verticalCenter
            width: menuEntryId.fontSize * 1.1
            height: width
            sourceSize.width: width
            sourceSize.height: height
            source: menuEntryId.iconSource
            visible: menuEntryId.iconSource !== ""
        }

        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: menuEntryId.text
            // An entry that cannot be chosen now (nothing selected to copy) is greyed.
            color: menuEntryId.enabled ? Theme.menuText : Theme.textSecondary
            font.pixelSize: Math.max(1, menuEntryId.fontSize)
            font.family: Theme.fontFamily
        }
    }

    MouseArea {
        id: entryArea
        anchors.fill: parent
        enabled: !menuEntryId.separator
        hoverEnabled: true
        onClicked: menuEntryId.trigger()
    }
}

import QtQuick 2.4

// A 48 x 48 menu button that pops up popMenu (a Controls Menu) when clicked.
Item {
    id: menuButtonId
    width: 48
    height: 48

    property var popMenu: null
    property alias source: iconId.source

    signal clicked()

    IconButton {
        id: iconId
        anchors.fill: parent
        source: "../res/menu.svg"
        onClicked: {
            menuButtonId.clicked()
            if (menuButtonId.popMenu)
                menuButtonId.popMenu.popup()
        }
    }
}

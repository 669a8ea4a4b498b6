import QtQuick 2.4

// A drop-down menu shown under an item of its parent and kept inside the parent: it covers
// the parent while open, and a click beside it or Escape closes it. Up and Down move
// between its entries, Return chooses one.
FocusScope {
    id: popupMenuId

    // The item it drops down from.
    property Item anchorItem: null
    property real fontSize: 16
    readonly property bool opened: visible
    // The entries (MenuEntry), in order.
    default property alias entries: entryColumn.data
    readonly property var items: entryColumn.children
    readonly property alias frame: menuFrame

    signal closed()

    // Where openAt() put it (in the menu's own coordinates); null under its anchor item.
    property var pointOpen: null

    anchors.fill: parent
    visible: false
    z: 100

    function open() {
        visible = true
        var lst = focusableEntries()
        if (lst.length > 0)
            lst[0].forceActiveFocus()
        else
            forceActiveFocus()
    }

    // Opens it with its top left corner at (x, y) of item, as far as it fits: a context
    // menu at the pointer.
    function openAt(item, x, y) {
        pointOpen = item.mapToItem(popupMenuId, x, y)
        open()
    }

    function close() {
        if (!visible)
            return
        visible = false
        pointOpen = null
        closed()
    }

    function focusableEntries() {
        var lst = []
        for (var i = 0; i < entryColumn.children.length; i++) {
            var entry = entryColumn.children[i]
            if (entry.visible && entry.enabled && entry.separator === false)
                lst.push(entry)
        }
        return lst
    }

    function moveFocus(nStep) {
        var lst = focusableEntries()
        if (lst.length === 0)
            return
        var idx = -1
        for (var i = 0; i < lst.length; i++) {
            if (lst[i].activeFocus)
                idx = i
        }
        idx = idx < 0 ? 0 : (idx + nStep + lst.length) % lst.length
        lst[idx].forceActiveFocus()
    }

    Keys.onEscapePressed: close()
    Keys.onUpPressed: moveFocus(-1)
    Keys.onDownPressed: moveFocus(1)
    Keys.onTabPressed: moveFocus(1)
    Keys.onBacktabPressed: moveFocus(-1)

    MouseArea {
        anchors.fill: parent
        onClicked: popupMenuId.close()
        onWheel: wheel.accepted = true
    }

    Rectangle {
        id: menuFrame
        readonly property point anchorPos: popupMenuId.anchorItem && popupMenuId.visible
                                           ? popupMenuId.anchorItem.mapToItem(
                                                 popupMenuId, popupMenuId.anchorItem.width,
                                                 popupMenuId.anchorItem.height)
                                           : Qt.point(0, 0)
        // Right-aligned with its button, never past the parent's edges.
        width: Math.min(popupMenuId.width, Math.max(entryColumn.implicitWidthOfEntries,
                                                    popupMenuId.fontSize * 8))
        height: Math.min(popupMenuId.height - y, entryColumn.height + 2)
        x: Math.max(0, Math.min(popupMenuId.pointOpen ? popupMenuId.pointOpen.x
                                                      : anchorPos.x - width,
                                popupMenuId.width - width))
        y: Math.max(0, Math.min(popupMenuId.pointOpen ? popupMenuId.pointOpen.y : anchorPos.y,
                                popupMenuId.height - entryColumn.height - 2))
        color: Theme.menuBackground
        border.color: Theme.frame
        clip: true

        MouseArea {
            anchors.fill: parent
        }

        Column {
            id: entryColumn
            x: 1
            y: 1
            width: parent.width - 2
            property real implicitWidthOfEntries: {
                var nWidth = 0
                for (var i = 0; i < children.length; i++) {
                    if (children[i].visible)
                        nWidth = Math.max(nWidth, children[i].implicitWidth)
                }
                return nWidth + 2
            }
        }
    }

    Component.onCompleted: {
        for (var i = 0; i < entryColumn.children.length; i++) {
            entryColumn.children[i].menu = popupMenuId
            entryColumn.children[i].fontSize = Qt.binding(function () {
                return popupMenuId.fontSize
            })
        }
    }
}

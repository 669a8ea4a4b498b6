import QtQuick 2.4

// The stack of views that the window shows one at a time: the view on top fills the stack,
// the others are hidden. A pushed view slides in from the right over the one below; a
// popped one slides out to the right. Views are items made by their owner and kept by it:
// popping hides a view, it is not destroyed.
//
//   push(item) or push({"item": item, "properties": {...}, "immediate": true})
//   pop() or pop({"immediate": true})
Item {
    id: stackId

    // The view shown first, at the bottom of the stack.
    property Item initialItem: null
    readonly property Item currentItem: lstItems.length > 0 ? lstItems[lstItems.length - 1] : null
    readonly property int depth: lstItems.length
    // A view is sliding in or out.
    readonly property bool busy: slideId.running

    property var lstItems: []
    property int nDuration: 250

    clip: false

    // Puts the view on top. A view already lower in the stack is taken from its place.
    function push(arg) {
        var item = arg && arg.item !== undefined ? arg.item : arg
        if (!item)
            return null
        var mapProperties = arg.item !== undefined && arg.properties ? arg.properties : {}
        var bImmediate = arg.item !== undefined && arg.immediate === true
        for (var key in mapProperties)
            item[key] = mapProperties[key]
        if (item === currentItem)
            return item
        finishSlide()
        var lst = lstItems.filter(function (other) { return other !== item })
        var previous = lst.length > 0 ? lst[lst.length - 1] : null
        lst.push(item)
        place(item)
        lstItems = lst
        slide(item, previous, true, bImmediate || previous === null)
        return item
    }

    // Takes the view on top off the stack and shows the one below. The bottom view stays.
    function pop(arg) {
        if (lstItems.length < 2)
            return null
        finishSlide()
        var lst = lstItems.slice()
        var item = lst.pop()
        var below = lst[lst.length - 1]
        lstItems = lst
        slide(below, item, false, arg !== undefined && arg !== null && arg.immediate === true)
        return item
    }

    function place(item) {
        item.parent = stackId
        item.width = Qt.binding(function () { return stackId.width })
        item.height = Qt.binding(function () { return stackId.height })
        item.y = 0
    }

    // Shows itemIn and then hides itemOut: sliding in from the right on a push, the view on
    // top sliding out to the right on a pop.
    function slide(itemIn, itemOut, bPush, bImmediate) {
        itemIn.x = bPush && !bImmediate ? stackId.width : 0
        itemIn.z = bPush ? 1 : 0
        itemIn.visible = true
        if (itemOut)
            itemOut.z = bPush ? 0 : 1
        if (bImmediate || !itemOut) {
            if (itemOut)
                hide(itemOut)
            return
        }
        slideId.itemIn = itemIn
        slideId.itemOut = itemOut
        slideId.target = bPush ? itemIn : itemOut
        slideId.from = bPush ? stackId.width : 0
        slideId.to = bPush ? 0 : stackId.width
        slideId.start()
    }

    function hide(item) {
        item.visible = false
        item.x = 0
        item.z = 0
    }

    // A new push or pop first ends the slide under way.
    function finishSlide() {
        if (slideId.running)
            slideId.complete()
    }

    NumberAnimation {
        id: slideId

        property Item itemIn: null
        property Item itemOut: null

        property: "x"
        duration: stackId.nDuration
        easing.type: Easing.OutCubic
        // At the end of a slide, or when the next push or pop ends it early: whichever of
        // the two is not on top now is hidden.
        onRunningChanged: {
            if (running)
                return
            if (itemOut && itemOut !== stackId.currentItem)
                stackId.hide(itemOut)
            if (itemIn && itemIn !== stackId.currentItem)
                stackId.hide(itemIn)
            itemIn = null
            itemOut = null
        }
    }

    Component.onCompleted: {
        if (initialItem)
            push(initialItem)
    }
}

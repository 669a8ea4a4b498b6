import QtQuick 2.4

// An item that slides in from its parent's right (directory 0) or bottom (directory 1)
// edge when shown, and out to it when hidden, over 400 ms.
Item {
    id: itemAnimateId

    property int directory: 0
    property bool bSliding: false

    function startPos() {
        if (!parent)
            return 0
        return directory === 0 ? parent.width : parent.height
    }

    onVisibleChanged: {
        if (bSliding || !parent || !parent.visible)
            return
        animId.stop()
        animId.property = directory === 0 ? "x" : "y"
        if (visible) {
            animId.from = startPos()
            animId.to = 0
            animId.bHide = false
        } else {
            // Stay visible while sliding out; hidden again at the end.
            bSliding = true
            visible = true
            animId.from = directory === 0 ? x : y
            animId.to = startPos()
            animId.bHide = true
        }
        animId.start()
    }

    NumberAnimation {
        id: animId
        property bool bHide: false
        target: itemAnimateId
        duration: 400
        easing.type: Easing.OutCubic
        onStopped: {
            if (!bHide)
                return
            itemAnimateId.visible = false
            itemAnimateId[property] = 0
            itemAnimateId.bSliding = false
            bHide = false
        }
    }
}

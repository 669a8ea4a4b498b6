import QtQuick 2.4
import QtTest 1.0
import "qrc:/qml"

// The controls library: hover feedback, button widths, the clearable field, the message
// bar, the confirmation frame and the spinner.
Item {
    id: rootId
    width: 800
    height: 600

TestCase {
    name: "Controls"
    when: windowShown

    Component {
        id: hoverComp
        HoverMouseArea {
            x: 100
            y: 100
            width: 100
            height: 50
        }
    }

    Component {
        id: pushComp
        PushButton {
            height: 40
            text: "Push me"
        }
    }

    Component {
        id: textFieldComp
        TextFieldR {
            width: 300
            height: 40
        }
    }

    Component {
        id: searchFieldComp
        SearchField {
            width: 300
            height: 40
        }
    }

    Component {
        id: barComp
        Item {
            property alias bar: barId
            width: 800
            height: 600
            BarMsg {
                id: barId
                anchors.left: parent.left
                anchors.bottom: parent.bottom
            }
        }
    }

    Component {
        id: confirmComp
        Item {
            property alias frame: frameId
            ConfirmFrame {
                id: frameId
                textConfirm: "Really?"
            }
            // Something else to focus: Tab must not reach it while the question is open.
            PushButton {
                objectName: "outside"
                width: 50
                height: 20
                text: "outside"
            }
        }
    }

    Component {
        id: spinnerComp
        Spinner {
            width: 120
            height: 240
            itemCount: 31
            startValue: 1
        }
    }

    function test_hoverColours_data() {
        return [
            {tag: "no own colour", bkColor: "", idle: "transparent"},
            {tag: "own colour", bkColor: "white", idle: "white"}
        ]
    }

    function test_hoverColours(data) {
        var area = createTemporaryObject(hoverComp, rootId, {"bkColor": data.bkColor})
        var spyClicked = createTemporaryObject(spyComp, rootId, {"target": area,
                                                   "signalName": "clicked"})
        compare(area.currentBkColor, data.idle)
        mouseMove(rootId, 10, 10)
        mouseMove(area, 50, 25)
        tryCompare(area, "hovered", true)
        compare(area.currentBkColor, "#eee")
        mousePress(area, 50, 25)
        compare(area.currentBkColor, "#ddd")
        verify(area.pressed)
        mouseRelease(area, 50, 25)
        compare(area.currentBkColor, "#eee")
        compare(spyClicked.count, 1)
        mouseMove(rootId, 10, 10)
        tryCompare(area, "hovered", false)
        compare(area.currentBkColor, data.idle)
        // Released outside after a press inside: back to the idle colour, no click.
        mouseMove(area, 50, 25)
        mousePress(area, 50, 25)
        mouseMove(rootId, 10, 10)
        mouseRelease(rootId, 10, 10)
        compare(area.currentBkColor, data.idle)
        compare(spyClicked.count, 1)
    }

    function test_hoverDisabled() {
        var area = createTemporaryObject(hoverComp, rootId, {"enableHover": false})
        mouseMove(rootId, 10, 10)
        mouseMove(area, 50, 25)
        wait(0)
        compare(area.hovered, false)
        compare(area.currentBkColor, "transparent")
        // A press still shows.
        mousePress(area, 50, 25)
        compare(area.currentBkColor, "#ddd")
        mouseRelease(area, 50, 25)
        compare(area.currentBkColor, "transparent")
    }

    Component {
        id: spyComp
        SignalSpy {}
    }

    function findText(item) {
        for (var i = 0; i < item.children.length; i++) {
            var child = item.children[i]
            if (child.hasOwnProperty("text") && child.hasOwnProperty("font")
                    && child.hasOwnProperty("elide"))
                return child
            var found = findText(child)
            if (found)
                return found
        }
        return null
    }

    function findImage(item) {
        for (var i = 0; i < item.children.length; i++) {
            var child = item.children[i]
            if (child.hasOwnProperty("fillMode") && child.hasOwnProperty("sourceSize"))
                return child
            var found = findImage(child)
            if (found)
                return found
        }
        return null
    }

    function test_pushButtonWidth() {
        var btn = createTemporaryObject(pushComp, rootId)
        var txt = findText(btn)
        verify(txt)
        compare(txt.font.pixelSize, 32)
        verify(txt.implicitWidth > 0)
        compare(btn.width, txt.implicitWidth)
        var spy = createTemporaryObject(spyComp, rootId, {"target": btn, "signalName": "clicked"})
        mouseClick(btn)
        compare(spy.count, 1)

        btn.imgSrc = "qrc:/res/ok.svg"
        var img = findImage(btn)
        verify(img)
        tryCompare(img, "status", Image.Ready)
        compare(img.width, 40)
        compare(btn.width, 40 + txt.implicitWidth + 4)
        tryVerify(function() {
            return img.mapToItem(btn, 0, 0).x + img.width <= txt.mapToItem(btn, 0, 0).x
        }, 1000, "the image sits left of the text")
        var ptImg = img.mapToItem(btn, 0, 0)
        var ptTxt = txt.mapToItem(btn, 0, 0)
        verify(ptImg.x >= 0)
        verify(ptTxt.x + txt.width <= btn.width + 0.5)
    }

    // The editing views' field and the main view's search field behave alike.
    function test_textFieldClearButton_data() {
        return [
            { tag: "text field", comp: textFieldComp },
            { tag: "search field", comp: searchFieldComp }
        ]
    }

    function test_textFieldClearButton(data) {
        var field = createTemporaryObject(data.comp, rootId)
        var accepted = createTemporaryObject(acceptedSpyComp, rootId, {"target": field})
        var btn = field.clearButton
        verify(!btn.visible)
        compare(btn.height, 20)
        field.forceActiveFocus()
        keyClick(Qt.Key_A)
        compare(field.text, "a")
        verify(btn.visible)
        // Sits 5 from the right edge, vertically centred.
        var pt = btn.mapToItem(field, 0, 0)
        compare(pt.x + btn.width, field.width - 5)
        compare(pt.y + btn.height / 2, field.height / 2)
        mouseClick(btn)
        compare(field.text, "")
        verify(!btn.visible)
        field.text = "typed elsewhere"
        verify(btn.visible)
        field.text = ""
        verify(!btn.visible)
        keyClick(Qt.Key_B)
        verify(btn.visible)
        keyClick(Qt.Key_Return)
        compare(accepted.count, 1)
        field.selectAll()
        keyClick(Qt.Key_C)
        compare(field.text, "c")
        keyClick(Qt.Key_Backspace)
        verify(!btn.visible)
    }

    // The search field's edit menu: at the pointer or the cursor, entries greyed when they
    // cannot act, and each acting on the selection the field had when the menu opened.
    function test_searchFieldEditMenu() {
        var field = createTemporaryObject(searchFieldComp, rootId, {"x": 100, "y": 50})
        field.forceActiveFocus()
        field.text = "hello world"
        field.input.select(0, 5)
        mouseClick(field, 30, 20, Qt.RightButton)
        var menu = field.editMenu
        verify(menu)
        verify(menu.opened)
        var pt = menu.frame.mapToItem(field, 0, 0)
        fuzzyCompare(pt.x, 30, 1)
        fuzzyCompare(pt.y, 20, 1)
        verify(menu.cutEntry.enabled)
        verify(menu.copyEntry.enabled)
        verify(menu.deleteEntry.enabled)
        verify(!menu.redoEntry.enabled)
        verify(!field.input.activeFocus)
        // The selection stays shown while the menu is open.
        compare(field.input.selectedText, "hello")
        mouseClick(menu.cutEntry)
        verify(!menu.opened)
        compare(field.text, " world")
        verify(field.input.activeFocus)

        // Nothing selected: cut, copy and delete are greyed and skipped by the keyboard.
        field.input.cursorPosition = field.text.length
        mouseClick(field, 30, 20, Qt.RightButton)
        verify(menu.opened)
        verify(!menu.cutEntry.enabled)
        verify(!menu.copyEntry.enabled)
        verify(menu.pasteEntry.enabled)
        mouseClick(menu.cutEntry)
        verify(menu.opened)
        compare(field.text, " world")
        mouseClick(menu.pasteEntry)
        compare(field.text, " worldhello")

        mouseClick(field, 30, 20, Qt.RightButton)
        verify(menu.undoEntry.enabled)
        mouseClick(menu.undoEntry)
        compare(field.text, " world")

        // The menu key and Shift+F10 open it under the cursor; Escape gives the focus back.
        field.input.cursorPosition = 3
        keyClick(Qt.Key_Menu)
        verify(menu.opened)
        var rect = field.input.positionToRectangle(3)
        pt = menu.frame.mapToItem(field.input, 0, 0)
        fuzzyCompare(pt.x, rect.x, 1)
        fuzzyCompare(pt.y, rect.y + rect.height, 1)
        keyClick(Qt.Key_Escape)
        verify(!menu.opened)
        verify(field.input.activeFocus)
        verify(!field.input.persistentSelection)
        compare(field.text, " world")
        keyClick(Qt.Key_F10, Qt.ShiftModifier)
        verify(menu.opened)
        mouseClick(menu.selectAllEntry)
        compare(field.input.selectedText, " world")
        mouseClick(field, 30, 20, Qt.RightButton)
        mouseClick(menu.deleteEntry)
        compare(field.text, "")
        mouseClick(field, 30, 20, Qt.RightButton)
        verify(!menu.selectAllEntry.enabled)
        keyClick(Qt.Key_Escape)
        verify(!menu.opened)
    }

    Component {
        id: acceptedSpyComp
        SignalSpy { signalName: "accepted" }
    }

    Component {
        id: stackComp
        Item {
            width: 400
            height: 300
            property alias stack: stackId
            property alias first: firstId
            property alias second: secondId
            property alias third: thirdId
            ViewStack {
                id: stackId
                anchors.fill: parent
                initialItem: firstId
            }
            Item { id: firstId; property string strName: "" }
            Item { id: secondId; visible: false; property string strName: "" }
            Item { id: thirdId; visible: false; property string strName: "" }
        }
    }

    // Only the view on top is shown once a slide has ended; views fill the stack, take the
    // properties they are pushed with, and are hidden, not destroyed, when popped.
    function test_viewStack() {
        var holder = createTemporaryObject(stackComp, rootId)
        var stack = holder.stack
        compare(stack.depth, 1)
        compare(stack.currentItem, holder.first)
        compare(holder.first.width, 400)

        stack.push({"item": holder.second, "properties": {"strName": "pushed"}})
        compare(stack.depth, 2)
        compare(stack.currentItem, holder.second)
        compare(holder.second.strName, "pushed")
        verify(holder.second.visible)
        tryCompare(stack, "busy", false, 5000)
        verify(!holder.first.visible)
        compare(holder.second.x, 0)
        compare(holder.second.height, 300)

        // A push while the last one still slides ends that slide first.
        stack.push(holder.third)
        stack.pop()
        tryCompare(stack, "busy", false, 5000)
        compare(stack.currentItem, holder.second)
        verify(holder.second.visible)
        verify(!holder.third.visible)
        verify(!holder.first.visible)
        compare(holder.second.x, 0)

        // A view lower in the stack moves to the top instead of standing twice.
        stack.push({"item": holder.third, "immediate": true})
        stack.push({"item": holder.second, "immediate": true})
        compare(stack.depth, 3)
        compare(stack.currentItem, holder.second)
        verify(!holder.third.visible)

        stack.pop({"immediate": true})
        stack.pop({"immediate": true})
        compare(stack.depth, 1)
        compare(stack.pop(), null)
        compare(stack.currentItem, holder.first)
        verify(holder.first.visible)
        verify(!holder.second.visible && !holder.third.visible)
        verify(!stack.busy)
    }

    function messageRows(bar) {
        var lst = []
        var all = findAll(bar, function (item) { return item.objectName === "message" })
        for (var i = 0; i < all.length; i++) {
            if (all[i].visible)
                lst.push(all[i])
        }
        return lst
    }

    function findAll(item, pred) {
        var lst = []
        if (pred(item))
            lst.push(item)
        for (var i = 0; i < item.children.length; i++)
            lst = lst.concat(findAll(item.children[i], pred))
        return lst
    }

    // A long error is read whole and stays until dismissed; information leaves by itself.
    function test_barMessages() {
        var holder = createTemporaryObject(barComp, rootId)
        var bar = holder.bar
        bar.infoTimeout = 400
        verify(!bar.visible)

        var strLong = "Notes cannot be saved: /home/someone/.local/share/Greyfen Software/kelpo"
                + " cannot be opened (disk full). Free some space, then start Kelpo again."
        bar.showError(strLong)
        verify(bar.visible)
        verify(bar.isError)
        compare(bar.text, strLong)
        compare(bar.width, holder.width)
        compare(bar.y + bar.height, holder.height)
        var rows = messageRows(bar)
        compare(rows.length, 1)
        var txt = findChild(rows[0], "messageText")
        compare(txt.text, strLong)
        verify(txt.lineCount > 1 || txt.implicitWidth <= txt.width, "the text wraps")
        verify(!txt.truncated)
        verify(rows[0].height >= txt.implicitHeight, "the row holds every line")

        bar.showInfo("Logged in as carol.")
        compare(bar.text, "Logged in as carol.")
        verify(!bar.isError)
        compare(messageRows(bar).length, 2)
        // The information leaves; the error stays.
        tryVerify(function () { return messageRows(bar).length === 1 }, 5000)
        compare(bar.text, strLong)
        verify(bar.isError)
        wait(bar.infoTimeout + 300)
        verify(bar.visible, "an error is kept until it is dismissed")

        // The same message again is shown once.
        bar.showError(strLong)
        compare(messageRows(bar).length, 1)

        mouseClick(findChild(messageRows(bar)[0], "btnDismiss"))
        verify(!bar.visible)
        compare(bar.count, 0)
    }

    function test_barKeepsErrorsBeforeInfos() {
        var holder = createTemporaryObject(barComp, rootId)
        var bar = holder.bar
        bar.maxMessages = 3
        bar.showError("error one")
        bar.showInfo("info one")
        bar.showError("error two")
        bar.showInfo("info two")
        compare(bar.count, 3)
        var lstTexts = []
        var rows = messageRows(bar)
        for (var i = 0; i < rows.length; i++)
            lstTexts.push(findChild(rows[i], "messageText").text)
        compare(lstTexts, ["error one", "error two", "info two"])
        bar.clear()
        verify(!bar.visible)
    }

    function test_confirmFrame_data() {
        return [
            {tag: "wide", w: 800, h: 400, s: 400},
            {tag: "tall", w: 300, h: 900, s: 300}
        ]
    }

    function test_confirmFrame(data) {
        var holder = createTemporaryObject(confirmComp, rootId, {"width": data.w, "height": data.h})
        var frame = holder.frame
        compare(frame.width, data.w)
        compare(frame.height, data.h)
        var ok = frame.okButton
        var cancel = frame.cancelButton
        compare(ok.width, data.s * 0.5)
        compare(cancel.width, data.s * 0.5)
        compare(ok.height, data.s * 0.15)
        compare(cancel.height, data.s * 0.15)
        fuzzyCompare(ok.y, data.h - data.s * 0.4, 0.01)
        fuzzyCompare(cancel.y, data.h - data.s * 0.2, 0.01)
        fuzzyCompare(ok.x + ok.width / 2, data.w / 2, 0.01)
        fuzzyCompare(cancel.x + cancel.width / 2, data.w / 2, 0.01)
        // The question is readable and stands clear above the buttons.
        var question = frame.confirmText
        verify(question.font.pixelSize >= 14)
        var pos = question.mapToItem(frame, 0, 0)
        verify(pos.y + question.height <= ok.y, "question ends above \"Ok\"")
        verify(pos.x >= 0 && pos.x + question.width <= data.w)
        // A long answer still fits its button.
        frame.textCancel = "Keep editing"
        verify(cancel.implicitWidth <= cancel.width, cancel.implicitWidth + " > " + cancel.width)

        var spyOk = createTemporaryObject(spyComp, rootId, {"target": frame, "signalName": "ok"})
        var spyCancel = createTemporaryObject(spyComp, rootId, {"target": frame,
                                                  "signalName": "cancel"})
        mouseClick(ok)
        compare(spyOk.count, 1)
        compare(spyCancel.count, 0)
        mouseClick(cancel)
        compare(spyCancel.count, 1)
        compare(spyOk.count, 1)

        // The keyboard: "Cancel" has the focus when shown, Escape cancels.
        frame.visible = false
        frame.visible = true
        verify(cancel.activeFocus)
        keyClick(Qt.Key_Escape)
        compare(spyCancel.count, 2)
        keyClick(Qt.Key_Tab)
        verify(ok.activeFocus)
        keyClick(Qt.Key_Tab)
        verify(cancel.activeFocus, "Tab stays with the question")
        keyClick(Qt.Key_Tab)
        keyClick(Qt.Key_Return)
        compare(spyOk.count, 2)
    }

    function test_spinnerPosition() {
        var spinner = createTemporaryObject(spinnerComp, rootId)
        compare(spinner.referWidth, 120)
        compare(spinner.value, spinner.startValue + spinner.currentIdx)
        spinner.positionIdx(20)
        compare(spinner.toIndex, 20)
        tryCompare(spinner, "currentIdx", 20)
        compare(spinner.value, 21)
        // A shorter list and a position in it, set together.
        spinner.itemCount = 28
        spinner.positionIdx(27)
        tryCompare(spinner, "currentIdx", 27)
        compare(spinner.value, 28)
        spinner.positionIdx(0)
        tryCompare(spinner, "currentIdx", 0)
        compare(spinner.value, 1)
    }

    Component {
        id: referComp
        RectangleRefer {
            width: 400
            height: 300
        }
    }

    function test_referSizes() {
        var rect = createTemporaryObject(referComp, rootId)
        compare(rect.referWidth, 300)
        compare(rect.referFontSize, 3)
        rect.dRatioWidth = 0.04
        rect.dRatioHeight = 0.8
        compare(rect.referFontSize, 16)
        rect.height = 10
        compare(rect.referWidth, 10)
        compare(rect.referFontSize, 8)
    }
    Component {
        id: animComp
        Item {
            property alias slider: sliderId
            width: 400
            height: 300
            ItemAnimate {
                id: sliderId
                width: 400
                height: 300
            }
        }
    }

    function test_itemAnimate_data() {
        return [
            {tag: "horizontal", directory: 0, property: "x", edge: 400},
            {tag: "vertical", directory: 1, property: "y", edge: 300}
        ]
    }

    function test_itemAnimate(data) {
        var holder = createTemporaryObject(animComp, rootId)
        var slider = holder.slider
        slider.directory = data.directory
        slider.visible = false
        // Slides out while still shown, then hides and returns to its place.
        verify(slider.visible)
        tryVerify(function() { return slider[data.property] > data.edge / 2 }, 2000)
        tryCompare(slider, "visible", false, 2000)
        compare(slider[data.property], 0)
        // Slides in from the parent's edge.
        slider.visible = true
        verify(slider[data.property] > 0)
        tryCompare(slider, data.property, 0, 2000)
        verify(slider.visible)
    }

    Component {
        id: tipComp
        Item {
            property alias tip: tipId
            property alias target: targetId
            width: 400
            height: 300
            Rectangle {
                id: targetId
                x: 50
                y: 40
                width: 200
                height: 100
            }
            ToolTip {
                id: tipId
                target: targetId
                text: "A long explanation that wraps anywhere"
            }
        }
    }

    function test_toolTipFollowsPointer() {
        var holder = createTemporaryObject(tipComp, rootId)
        var tip = holder.tip
        verify(!tip.shown)
        mouseMove(rootId, 10, 10)
        mouseMove(holder.target, 30, 20)
        tryCompare(tip, "shown", true)
        var box = tip.tipItem
        var pt = box.mapToItem(holder, 0, 0)
        compare(pt.x, 80)
        compare(pt.y, 40 + 20 + 5)
        mouseMove(holder.target, 60, 50)
        pt = box.mapToItem(holder, 0, 0)
        compare(pt.x, 110)
        compare(pt.y, 40 + 50 + 5)
        verify(box.width <= tip.maxWidth + 10)
        mouseMove(rootId, 10, 10)
        tryCompare(tip, "shown", false)
    }
}
}

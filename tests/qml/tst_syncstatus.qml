import QtQuick 2.4
import QtTest 1.0
import NoteMgt 1.0
import "qrc:/qml"

// The sync state under the main view's toolbar: the real component on a real SyncStatus
// for every state, and in the main window, fed by the real note manager.
Item {
    id: rootId
    width: 800
    height: 600

    // The login's states as the note manager hands them over.
    readonly property int loginOut: 0
    readonly property int loginConnecting: 2
    readonly property int loginOnline: 3
    readonly property int loginOffline: 4

    Component {
        id: statusComp
        SyncStatus {}
    }

    Component {
        id: barComp
        SyncStatusBar {
            width: 480
            fontSize: 16
        }
    }

    Component {
        id: spyComp
        SignalSpy {}
    }

    TestCase {
        name: "SyncStatus"
        when: windowShown

        function makeBar() {
            var status = createTemporaryObject(statusComp, rootId)
            var bar = createTemporaryObject(barComp, rootId, {"status": status})
            verify(bar)
            return bar
        }

        function child(item, strName) {
            if (!item)
                return null
            if (item.objectName === strName)
                return item
            for (var i = 0; i < item.children.length; i++) {
                var found = child(item.children[i], strName)
                if (found)
                    return found
            }
            return null
        }

        function test_states_data() {
            return [
                { tag: "nobody", steps: [], shown: false, text: "", detail: false,
                  login: false },
                { tag: "connecting", steps: [["login", loginConnecting, "", false]],
                  shown: true, text: "Connecting to the note service as carol", detail: false,
                  login: false },
                { tag: "syncing with progress",
                  steps: [["login", loginOnline, "", false], ["progress", 312, 3400]],
                  shown: true, text: "carol: synchronising, 312 of 3,400", detail: false,
                  login: false },
                { tag: "up to date",
                  steps: [["login", loginOnline, "", false], ["idle"]],
                  shown: true, text: "carol: up to date, last synchronised", detail: false,
                  login: false },
                { tag: "offline",
                  steps: [["login", loginOffline, "Connection refused", true]],
                  shown: true, text: "carol: offline", detail: true, login: false },
                { tag: "too many attempts",
                  steps: [["login", loginOffline, "Too many attempts. Try again later.", false]],
                  shown: true, text: "carol: not synchronised", detail: true, login: false },
                { tag: "password changed elsewhere",
                  steps: [["login", loginOut, "Wrong name or password.", false]],
                  shown: true, text: "carol: logged out", detail: true, login: true }
            ]
        }

        function test_states(data) {
            var bar = makeBar()
            for (var i = 0; i < data.steps.length; i++) {
                var step = data.steps[i]
                if (step[0] === "login")
                    bar.status.setLogin(step[1], step[1] === loginOut && step[2] === ""
                                        ? "" : "carol", true, step[2], step[3])
                else if (step[0] === "progress")
                    bar.status.setProgress(step[1], step[2])
                else
                    bar.status.setIdle()
            }
            compare(bar.visible, data.shown)
            if (!data.shown) {
                compare(bar.height, 0)
                return
            }
            waitForRendering(bar)
            var line = child(bar, "syncText")
            verify(line.text.indexOf(data.text) === 0, line.text)
            verify(line.width > 0 && line.x >= 0 && line.x + line.width <= bar.width,
                   "the line lies inside the bar")
            var detail = child(bar, "syncDetail")
            compare(detail.visible, data.detail)
            if (data.detail) {
                verify(detail.text.length > 20, detail.text)
                // The whole detail shows: it wraps, and the bar grows with it.
                compare(detail.truncated, false)
                verify(bar.height >= detail.y + detail.height, "the detail fits in the bar")
            }
            var btn = child(bar, "btnSyncLogin")
            compare(btn.visible, data.login)
            if (data.login) {
                var spy = createTemporaryObject(spyComp, rootId, {"target": bar,
                                                    "signalName": "loginRequested"})
                mouseClick(btn)
                compare(spy.count, 1)
                compare(spy.signalArguments[0][0], "carol")
            }
        }

        // The same status moves on: the bar follows without being rebuilt.
        function test_followsChanges() {
            var bar = makeBar()
            var line = child(bar, "syncText")
            bar.status.setLogin(loginOnline, "carol", true, "", false)
            bar.status.setProgress(1, 2)
            compare(line.text, "carol: synchronising, 1 of 2")
            bar.status.setIdle()
            verify(line.text.indexOf("up to date") > 0, line.text)
            bar.status.serviceFailed("Connection refused", true)
            verify(child(bar, "syncDetail").visible)
            bar.status.serviceAnswered()
            verify(!child(bar, "syncDetail").visible)
            bar.status.setLogin(loginOut, "", false, "", false)
            verify(!bar.visible)
        }

        // In the window: the main view shows the real note manager's status. The service
        // of this test run cannot be reached, so a login waits for it and says so, and the
        // message says what happened.
        function test_inMainWindow() {
            var comp = Qt.createComponent("qrc:/qml/main.qml")
            compare(comp.status, Component.Ready, comp.errorString())
            var main = createTemporaryObject(comp, rootId, {"width": 800, "height": 600})
            waitForRendering(main)
            var bar = main.noteView.syncStatusBar
            compare(bar.status, noteMgt.syncStatus)
            noteMgt.logout()
            verify(!bar.visible)
            main.msgBar.clear()
            main.expectLogin("yolanda")
            noteMgt.login("yolanda", "pw")
            tryVerify(function () { return bar.visible && noteMgt.syncStatus.state === SyncStatus.Offline },
                      10000, "offline: " + noteMgt.syncStatus.text)
            verify(child(bar, "syncText").text.indexOf("yolanda") === 0, child(bar, "syncText").text)
            verify(child(bar, "syncDetail").text.indexOf("every minute") > 0)
            // The bar sits under the toolbar, over the calendar.
            verify(bar.mapToItem(main, 0, 0).y >= main.noteView.toolBarRect.height - 1)
            tryVerify(function () { return main.msgBar.text.indexOf("Login as yolanda failed: the note service cannot be reached") === 0 },
                      10000, main.msgBar.text)
            noteMgt.logout()
            verify(!bar.visible)
        }
    }
}

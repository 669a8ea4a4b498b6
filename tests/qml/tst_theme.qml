import QtQuick 2.4
import QtTest 1.0
import "qrc:/qml"

// Every view drawn in the chosen theme: in the dark one no view (nor a text area or a
// standard button in it) is left light, in the light one none is left dark. The views are
// shown by the real main window, on the real note manager.
Item {
    id: root
    width: 800
    height: 600

    TestCase {
        id: testCase
        name: "Theme"
        when: windowShown

        property var main: null

        function initTestCase() {
            var component = Qt.createComponent("qrc:/qml/main.qml")
            compare(component.status, Component.Ready, component.errorString())
            main = component.createObject(root, { "width": 800, "height": 600 })
            verify(main)
            waitForRendering(main)
        }

        function cleanupTestCase() {
            if (main)
                main.destroy()
        }

        function cleanup() {
            while (main.stackView.depth > 1)
                main.stackView.pop({ "immediate": true })
            tryCompare(main.stackView, "busy", false)
            main.noteView.state = "calendar"
        }

        // Shows the view of that name ("" for the calendar, "list" for the list mode).
        function show(strView) {
            if (strView === "list") {
                main.noteView.state = "list"
            } else if (strView === "noteEditView") {
                main.editNote("2026-12-01", "<p>Low tide at six; a long walk on the shore.</p>", "")
            } else if (strView === "noteDayListView") {
                main.showNoteList([
                    { "uuid": "{a}", "set_at": "2026-12-01 00:00:00", "title": "Tides",
                      "content": "<p>Low tide</p>" },
                    { "uuid": "{b}", "set_at": "2026-12-01 00:00:00", "title": "Walk",
                      "content": "<p>Shore</p>" }
                ])
            } else if (strView !== "") {
                main.pushView(main.getView(strView), {})
            }
            var view = strView === "" || strView === "list" ? main.noteView
                                                            : main.getView(strView)
            tryVerify(function () {
                return main.stackView.currentItem === view && !main.stackView.busy
            }, 5000, "view was not shown")
            waitForRendering(main)
        }

        // Share of a grid of points whose lightness lies on the wrong side of the theme.
        function wrongShare(image, nWidth, nHeight, bDark) {
            var nWrong = 0
            var nAll = 0
            for (var y = 4; y < nHeight; y += 12) {
                for (var x = 4; x < nWidth; x += 12) {
                    var c = image.pixel(x, y)
                    var dLight = (c.r + c.g + c.b) / 3
                    if (bDark ? dLight > 0.6 : dLight < 0.4)
                        ++nWrong
                    ++nAll
                }
            }
            return nWrong / nAll
        }

        function test_viewsFollowTheTheme_data() {
            var lstViews = ["", "list", "noteEditView", "noteDayListView", "loginView",
                            "registerView", "forgotPwdView", "aboutView", "optionsView"]
            var lstRows = []
            for (var i = 0; i < lstViews.length; ++i) {
                var strName = lstViews[i] === "" ? "calendar" : lstViews[i]
                lstRows.push({ "tag": strName + " dark", "view": lstViews[i], "dark": true })
                lstRows.push({ "tag": strName + " light", "view": lstViews[i], "dark": false })
            }
            return lstRows
        }

        function test_viewsFollowTheTheme(data) {
            Theme.dark = data.dark
            show(data.view)
            // Texts, icons and marks are on the other side; the surfaces must not be.
            var dShare = wrongShare(grabImage(main), main.width, main.height, data.dark)
            verify(dShare < 0.2, "share of points in the other theme's colours: " + dShare)
        }
    }
}

import QtQuick 2.4
import QtQuick.Controls 1.3
import QtQuick.Controls.Styles 1.3
import "../js/global.js" as GlobalJs
import "../js/lunar.js" as LunarJs

// The main view: a toolbar over the calendar or the list of all notes.
Item {
    id: viewNote

    signal addNote(var objDate)
    signal login()
    signal logout()
    signal about()
    signal options()

    property bool bSearch: false

    readonly property alias toolBarRect: toolBarRect
    readonly property alias calendarView: calendarView
    readonly property alias noteListView: noteListView
    readonly property alias contentMenu: contentMenu
    readonly property alias backButton: backButton
    readonly property alias txtYear: txtYear
    readonly property alias labelToday: labelToday
    readonly property alias btnMenu: btnMenu
    readonly property alias btnCalendarList: btnCalendarList
    readonly property alias btnAdd: btnAdd
    readonly property alias btnSearch: btnSearch
    readonly property alias textSearch: textSearch

    state: "calendar"

    states: [
        State {
            name: "calendar"
            PropertyChanges { target: calendarView; visible: true }
            PropertyChanges { target: noteListView; visible: false }
            PropertyChanges { target: btnCalendarList; source: "../res/calendar.svg" }
        },
        State {
            name: "list"
            PropertyChanges { target: calendarView; visible: false }
            PropertyChanges { target: noteListView; visible: true }
            PropertyChanges { target: btnCalendarList; source: "../res/list.png" }
        }
    ]

    // Calls obj[strFunc](args...) when the view offers that function.
    function callView(obj, strFunc) {
        if (!obj || typeof obj[strFunc] !== "function")
            return undefined
        return obj[strFunc].apply(obj, Array.prototype.slice.call(arguments, 2))
    }

    function getCurrentDate() {
        if (state === "calendar")
            return callView(calendarView, "getCurrentDate")
        if (state === "list")
            return callView(noteListView, "getCurrentDate")
        return ""
    }

    function setNoteCount(set_at, note_count) {
        callView(calendarView, "setNoteCount", set_at, note_count)
    }

    function setNoteCountByMonth(set_at, lst_note_count) {
        callView(calendarView, "setNoteCountByMonth", set_at, lst_note_count)
    }

    function refresh() {
        callView(calendarView, "refresh")
    }

    function refreshBackBtn() {
        backButton.visible = state === "calendar" && calendarView.state !== "years"
    }

    function listClearData() {
        callView(noteListView, "clearData")
    }

    function listAppendData(data) {
        callView(noteListView, "appendData", data)
    }

    function listAppendMapData(mapData) {
        callView(noteListView, "appendMapData", mapData)
    }

    function listRemoveItem(strUuid) {
        callView(noteListView, "removeItem", strUuid)
    }

    function textSearchWidth() {
        var nSpace = width - backButton.width - labelToday.width - btnMenu.width
                - btnCalendarList.width - btnAdd.width - btnSearch.width - 40
        return Math.max(0, Math.min(nSpace / 2, width / 2))
    }

    function toggleMode() {
        if (state === "calendar") {
            state = "list"
            settings.initType = 1
        } else {
            state = "calendar"
            settings.initType = 0
        }
        refreshBackBtn()
    }

    function addClicked() {
        if (bSearch || textSearch.text === "") {
            bSearch = false
            addNote(new Date())
            return
        }
        // Typed text without a search becomes a note of today at once. It is saved as the
        // editor saves a new note: with its own UUID, so that the list keeps it apart from
        // other quick notes, and sent on to the note service.
        noteMgt.upateNoteItem({"uuid": "", "set_at": LunarJs.getDateStr(new Date()),
                                  "content": textSearch.text})
        textSearch.text = ""
    }

    function search() {
        bSearch = textSearch.text !== ""
        callView(noteListView, "getNoteList", textSearch.text)
        if (state !== "list") {
            state = "list"
            refreshBackBtn()
        }
    }

    Rectangle {
        id: toolBarRect
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: viewNote.height * 0.08
        color: "#fafafa"

        Item {
            id: backButton
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            height: parent.height * 0.8
            width: imgPrev.width + txtYear.implicitWidth

            Image {
                id: imgPrev
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                width: backButton.height * 0.6
                height: width
                sourceSize.width: width
                sourceSize.height: height
                source: "../res/prev.svg"
            }

            Text {
                id: txtYear
                anchors.left: imgPrev.right
                anchors.verticalCenter: parent.verticalCenter
                text: "2016"
                color: "red"
                font.pixelSize: Math.max(1, backButton.height * 0.6)
                font.family: GlobalJs.fontFamily
            }

            HoverMouseArea {
                anchors.fill: parent
                onClicked: {
                    if (viewNote.state === "calendar")
                        viewNote.callView(calendarView, "toYears", txtYear.text)
                }
            }
        }

        Text {
            id: labelToday
            anchors.left: backButton.visible ? backButton.right : parent.left
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: parent.height * 0.8
            verticalAlignment: Text.AlignVCenter
            text: qsTr("Today")
            color: GlobalJs.textColor
            font.pixelSize: txtYear.font.pixelSize
            font.family: GlobalJs.fontFamily

            HoverMouseArea {
                anchors.fill: parent
                onClicked: {
                    if (viewNote.state === "calendar")
                        viewNote.callView(calendarView, "toToday")
                    else
                        viewNote.callView(noteListView, "toToday")
                }
            }
        }

        // The menu button: a plain item rather than a Controls button, which would cost the
        // window's start a style of its own. It drops the menu down from its lower edge.
        Rectangle {
            id: btnMenu
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            height: parent.height * 0.8
            width: height
            radius: 4
            color: menuMouseArea.pressed || contentMenu.__popupVisible
                   ? GlobalJs.PressColor
                   : (menuMouseArea.containsMouse ? GlobalJs.hoverColor : "transparent")

            Image {
                anchors.fill: parent
                anchors.margins: 3
                fillMode: Image.PreserveAspectFit
                sourceSize.width: width
                sourceSize.height: height
                source: "../res/menu.svg"
            }

            MouseArea {
                id: menuMouseArea
                anchors.fill: parent
                hoverEnabled: true
                // As the Controls button does: the menu opens just after the press.
                onPressed: menuTimer.start()
            }

            Timer {
                id: menuTimer
                interval: 10
                onTriggered: contentMenu.__popup(Qt.rect(0, btnMenu.height, 0, 0), 0)
            }
        }

        IconButton {
            id: btnCalendarList
            anchors.right: btnMenu.left
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: parent.height * 0.8
            width: height
            source: "../res/calendar.svg"
            onClicked: viewNote.toggleMode()
        }

        IconButton {
            id: btnAdd
            anchors.right: btnCalendarList.left
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: parent.height * 0.8
            width: height
            source: "../res/add.svg"
            onClicked: viewNote.addClicked()
        }

        IconButton {
            id: btnSearch
            anchors.right: btnAdd.left
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: parent.height * 0.8
            width: height
            source: "../res/search.svg"
            onClicked: viewNote.search()
        }

        TextFieldR {
            id: textSearch
            anchors.right: btnSearch.left
            anchors.verticalCenter: parent.verticalCenter
            height: btnSearch.height
            width: viewNote.textSearchWidth()
            // 80% of the field's height, or less where the font's lines are taller than
            // that leaves room for (Chinese and Japanese fonts): the cursor stays inside.
            font.pixelSize: Math.max(1, Math.min(height * 0.8,
                                                 Math.floor(height * 0.92 * 100
                                                            / searchMetrics.height)))
            // Return or Enter searches. Losing the focus does not: opening the editor
            // would otherwise switch the main view to the list behind the user's back.
            onAccepted: viewNote.search()
        }
    }

    FontMetrics {
        id: searchMetrics
        font.family: textSearch.font.family
        font.pixelSize: 100
    }

    ViewCalendar {
        id: calendarView
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: toolBarRect.bottom
        anchors.bottom: parent.bottom
        z: -1
    }

    // The calendar's first weekday follows the settings.
    Binding {
        target: calendarView
        property: "nFirstWeekDay"
        value: settings.firstDay
        when: "nFirstWeekDay" in calendarView
    }

    Connections {
        target: calendarView
        ignoreUnknownSignals: true
        function onSetYearNum(_yearNum) { txtYear.text = _yearNum }
        function onStateChanged() { viewNote.refreshBackBtn() }
        function onAddNote(objDate) { viewNote.addNote(objDate) }
        function onClickDay(objDate) { noteMgt.getNoteListByDay(objDate) }
    }

    ViewNoteList {
        id: noteListView
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: toolBarRect.bottom
        anchors.bottom: parent.bottom
        z: -1
        bIsDayList: false
    }

    Menu {
        id: contentMenu
        __visualItem: btnMenu
        __minimumWidth: btnMenu.width

        style: MenuStyle {
            frame: Rectangle {
                color: "white"
                border.color: "gray"
            }
            itemDelegate.background: Rectangle {
                color: styleData.pressed ? GlobalJs.menuPressedColor : GlobalJs.menuBkColor
            }
            // Rows twice as tall as their text, icon and text centred in them.
            itemDelegate.label: Item {
                implicitWidth: rowLabel.implicitWidth
                implicitHeight: menuText.implicitHeight * 2

                Row {
                    id: rowLabel
                    anchors.centerIn: parent
                    spacing: 8

                    Image {
                        anchors.verticalCenter: parent.verticalCenter
                        width: menuText.implicitHeight * 0.8
                        height: width
                        sourceSize.width: width
                        sourceSize.height: height
                        source: styleData.iconSource
                        visible: styleData.iconSource != ""
                    }

                    Text {
                        id: menuText
                        anchors.verticalCenter: parent.verticalCenter
                        text: styleData.text
                        color: "#333"
                        font.pixelSize: 24
                        font.family: GlobalJs.fontFamily
                        horizontalAlignment: Text.AlignHCenter
                    }
                }
            }
        }

        MenuItem {
            id: menuAbout
            text: qsTr("About")
            iconSource: "../res/about.svg"
            onTriggered: viewNote.about()
        }

        MenuSeparator {}

        MenuItem {
            id: menuLogin
            text: qsTr("Login")
            iconSource: "../res/login.svg"
            visible: !noteMgt.isLogin
            onTriggered: viewNote.login()
        }

        MenuItem {
            id: menuLogout
            text: qsTr("Logout") + "(" + (noteMgt.loginName !== undefined ? noteMgt.loginName : "")
                  + ")"
            iconSource: "../res/logout.svg"
            visible: noteMgt.isLogin === true
            onTriggered: {
                noteMgt.logout()
                viewNote.logout()
            }
        }

        MenuSeparator {}

        MenuItem {
            id: menuOptions
            text: qsTr("Backup, export and import")
            iconSource: "../res/list.png"
            onTriggered: viewNote.options()
        }
    }
}

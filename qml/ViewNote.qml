import QtQuick 2.5
import "../js/global.js" as GlobalJs
import "../js/lunar.js" as LunarJs

// The main view: a toolbar over the calendar or the list of all notes. Keyboard: Ctrl+N a
// new note for the selected day, Ctrl+F search, Ctrl+L calendar or list, Escape leaves
// the search field (emptying it first), Tab walks the toolbar and the body.
Item {
    id: viewNote

    signal addNote(var objDate)
    signal login()
    signal logout()
    signal about()
    signal options()
    // Log in as the named owner of notes on this computer.
    signal loginAs(string strName)
    // A day's notes were asked for (a click on the day, or Return).
    signal dayOpening(var objDate)

    property bool bSearch: false
    // The text of the search that the list shows ("" for none).
    property string strFilter: ""
    // Whether this view is the one on top: its shortcuts act only then.
    property bool bCurrent: true
    // Accounts that own notes here while nobody is logged in ({"name", "note_count"}).
    property var lstNoteOwners: []
    property bool bOwnersHintClosed: false
    // Quick notes on their way to the store: their texts by note uuid.
    property var mapQuickNotes: ({})

    readonly property alias toolBarRect: toolBarRect
    readonly property alias calendarView: calendarView
    readonly property alias noteListView: noteListView
    // The menu (PopupMenu), made the first time it is wanted: see menu().
    property Item contentMenu: null
    readonly property alias backButton: backButton
    readonly property alias txtYear: txtYear
    readonly property alias labelToday: labelToday
    readonly property alias btnMenu: btnMenu
    readonly property alias btnCalendarList: btnCalendarList
    readonly property alias btnAdd: btnAdd
    readonly property alias btnSearch: btnSearch
    readonly property alias textSearch: textSearch
    readonly property alias ownersHint: ownersHint
    readonly property alias filterBar: filterBar
    readonly property alias syncStatusBar: syncStatusBar

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

    function getCurrentDate() {
        if (state === "calendar")
            return calendarView.getCurrentDate()
        if (state === "list")
            return noteListView.getCurrentDate ? noteListView.getCurrentDate() : ""
        return ""
    }

    function setNoteCount(set_at, note_count) {
        calendarView.setNoteCount(set_at, note_count)
    }

    function setNoteCountByMonth(set_at, lst_note_count) {
        calendarView.setNoteCountByMonth(set_at, lst_note_count)
    }

    function refresh() {
        calendarView.refresh()
    }

    function refreshBackBtn() {
        backButton.visible = state === "calendar" && calendarView.state !== "years"
    }

    function listClearData() {
        noteListView.clearData()
    }

    function listAppendData(data) {
        noteListView.appendData(data)
    }

    // The text the list is filtered by ("" for every note): a page asked for another
    // search is not shown.
    function listSearch() {
        return noteListView.strSearch
    }

    // The list asked for again, with the filter it shows (after notes changed in bulk).
    function reloadList() {
        noteListView.getNoteList(noteListView.strSearch)
    }

    function listAppendMapData(mapData) {
        noteListView.appendMapData(mapData)
    }

    function listRemoveItem(strUuid) {
        noteListView.removeItem(strUuid)
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
        // Until it is stored its text is kept here: a note that cannot be stored comes back
        // into the field (the message bar says why).
        var strText = textSearch.text
        var strUuid = noteMgt.saveNoteItem({"uuid": "", "set_at": LunarJs.getDateStr(new Date()),
                                            "content": noteMgt.plainTextContent(strText)})
        if (strUuid !== "")
            mapQuickNotes[strUuid] = strText
        textSearch.text = ""
    }

    function quickNoteSaved(strUuid) {
        delete mapQuickNotes[strUuid]
    }

    function quickNoteFailed(strUuid) {
        if (!(strUuid in mapQuickNotes))
            return
        var strText = mapQuickNotes[strUuid]
        delete mapQuickNotes[strUuid]
        textSearch.text = textSearch.text === "" ? strText : strText + " " + textSearch.text
    }

    function search() {
        bSearch = textSearch.text !== ""
        strFilter = textSearch.text
        noteListView.getNoteList(textSearch.text)
        if (state !== "list") {
            state = "list"
            refreshBackBtn()
        }
    }

    // Shows every note again: the field is emptied and the list reloaded unfiltered.
    function clearSearch() {
        textSearch.text = ""
        if (strFilter !== "" || bSearch) {
            bSearch = false
            strFilter = ""
            noteListView.getNoteList("")
        }
    }

    // The day a new note goes to: the calendar's selected day, today in the list.
    function newNoteDate() {
        if (state === "calendar")
            return LunarJs.createDate(calendarView.selectedDate)
        return new Date()
    }

    function toToday() {
        if (state === "calendar")
            calendarView.toToday()
        else
            noteListView.toToday()
    }

    function focusBody() {
        if (state === "calendar")
            calendarView.forceActiveFocus()
        else
            noteListView.focusList()
    }

    function openMenu() {
        menu().open()
    }

    function ownersText() {
        var lstNames = []
        for (var i = 0; i < lstNoteOwners.length; i++)
            lstNames.push(lstNoteOwners[i]["name"])
        if (lstNames.length === 1)
            return qsTr("Your notes belong to %1 — log in to see them.").arg(lstNames[0])
        return qsTr("Notes on this computer belong to %1 — log in to see them.")
                .arg(lstNames.join(", "))
    }

    onVisibleChanged: {
        if (visible && bCurrent)
            focusBody()
    }
    Component.onCompleted: focusBody()
    onBCurrentChanged: {
        if (bCurrent && visible)
            focusBody()
    }
    onStateChanged: {
        if (bCurrent && !textSearch.activeFocus)
            focusBody()
    }

    Shortcut {
        sequence: StandardKey.New
        enabled: viewNote.bCurrent
        onActivated: viewNote.addNote(viewNote.newNoteDate())
    }
    Shortcut {
        sequence: StandardKey.Find
        enabled: viewNote.bCurrent
        onActivated: {
            textSearch.forceActiveFocus()
            textSearch.selectAll()
        }
    }
    Shortcut {
        sequence: "Ctrl+L"
        enabled: viewNote.bCurrent
        onActivated: viewNote.toggleMode()
    }

    Rectangle {
        id: toolBarRect
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: viewNote.height * 0.08
        color: Theme.toolBar

        Item {
            id: backButton
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            height: parent.height * 0.8
            width: imgPrev.width + txtYear.implicitWidth
            activeFocusOnTab: true
            Accessible.role: Accessible.Button
            Accessible.name: qsTr("Years")
            Keys.onReturnPressed: backMouse.clicked()
            Keys.onEnterPressed: backMouse.clicked()
            Keys.onSpacePressed: backMouse.clicked()

            FocusFrame {
                shown: backButton.activeFocus
            }

            ThemedIcon {
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
                // The year of today until the calendar tells the one it shows.
                text: new Date().getFullYear()
                color: Theme.accent
                font.pixelSize: Math.max(1, backButton.height * 0.6)
                font.family: GlobalJs.fontFamily
            }

            HoverMouseArea {
                id: backMouse
                anchors.fill: parent
                onClicked: {
                    if (viewNote.state === "calendar")
                        calendarView.toYears(txtYear.text)
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
            color: Theme.text
            font.pixelSize: txtYear.font.pixelSize
            font.family: GlobalJs.fontFamily
            activeFocusOnTab: true
            Accessible.role: Accessible.Button
            Accessible.name: text
            Keys.onReturnPressed: viewNote.toToday()
            Keys.onEnterPressed: viewNote.toToday()
            Keys.onSpacePressed: viewNote.toToday()

            FocusFrame {
                shown: labelToday.activeFocus
            }

            HoverMouseArea {
                anchors.fill: parent
                onClicked: viewNote.toToday()
            }
        }

        // The menu button: it drops the menu down from its lower edge.
        IconButton {
            id: btnMenu
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            height: parent.height * 0.8
            width: height
            source: "../res/menu.svg"
            toolTip: qsTr("Menu")
            onClicked: viewNote.openMenu()
        }

        IconButton {
            id: btnCalendarList
            anchors.right: btnMenu.left
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: parent.height * 0.8
            width: height
            source: "../res/calendar.svg"
            toolTip: viewNote.state === "calendar" ? qsTr("Show the list") : qsTr("Show the calendar")
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
            toolTip: qsTr("New note")
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
            toolTip: qsTr("Search")
            onClicked: viewNote.search()
        }

        SearchField {
            id: textSearch
            Accessible.name: qsTr("Search")
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
            onCleared: viewNote.clearSearch()
            Keys.onEscapePressed: {
                if (text !== "" || viewNote.strFilter !== "")
                    viewNote.clearSearch()
                viewNote.focusBody()
            }
            Keys.onDownPressed: viewNote.focusBody()
        }
    }

    // Under the toolbar: the sync state, whose notes are on this computer while nobody is logged in, and
    // the search that filters the list.
    Column {
        id: stripColumn
        anchors.top: toolBarRect.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        z: 1
        readonly property real fontSize: Math.max(12, Math.min(20, viewNote.height * 0.028))

        SyncStatusBar {
            id: syncStatusBar
            objectName: "syncStatusBar"
            width: parent.width
            status: noteMgt.syncStatus
            fontSize: stripColumn.fontSize
            onLoginRequested: viewNote.loginAs(strName)
        }

        Rectangle {
            id: ownersHint
            objectName: "ownersHint"
            width: parent.width
            visible: !noteMgt.isLogin && viewNote.lstNoteOwners.length > 0
                     && !viewNote.bOwnersHintClosed
            height: visible ? Math.max(ownersText.implicitHeight, btnLoginAs.height)
                              + stripColumn.fontSize * 0.6 : 0
            color: Theme.hintBackground

            Text {
                id: ownersText
                objectName: "ownersText"
                anchors.left: parent.left
                anchors.leftMargin: stripColumn.fontSize * 0.6
                anchors.right: btnLoginAs.left
                anchors.rightMargin: stripColumn.fontSize * 0.6
                anchors.verticalCenter: parent.verticalCenter
                wrapMode: Text.Wrap
                text: viewNote.ownersText()
                color: Theme.text
                font.family: GlobalJs.fontFamily
                font.pixelSize: stripColumn.fontSize
            }
            PushButton {
                id: btnLoginAs
                objectName: "btnLoginAs"
                anchors.right: btnCloseHint.left
                anchors.rightMargin: stripColumn.fontSize * 0.4
                anchors.verticalCenter: parent.verticalCenter
                height: stripColumn.fontSize * 1.4
                width: implicitWidth + height
                text: qsTr("Log in")
                textClr: Theme.positive
                bkColor: Theme.hintButton
                onClicked: viewNote.loginAs(viewNote.lstNoteOwners.length > 0
                                            ? viewNote.lstNoteOwners[0]["name"] : "")
            }
            TextButton {
                id: btnCloseHint
                anchors.right: parent.right
                anchors.rightMargin: stripColumn.fontSize * 0.4
                anchors.verticalCenter: parent.verticalCenter
                height: stripColumn.fontSize * 1.4
                width: height
                text: "\u00d7"
                Accessible.name: qsTr("Close")
                onClicked: viewNote.bOwnersHintClosed = true
            }
        }

        Rectangle {
            id: filterBar
            objectName: "filterBar"
            width: parent.width
            visible: viewNote.state === "list" && viewNote.strFilter !== ""
            height: visible ? Math.max(filterText.implicitHeight, btnClearFilter.height)
                              + stripColumn.fontSize * 0.5 : 0
            color: Theme.filterBackground

            Text {
                id: filterText
                objectName: "filterText"
                anchors.left: parent.left
                anchors.leftMargin: stripColumn.fontSize * 0.6
                anchors.right: btnClearFilter.left
                anchors.verticalCenter: parent.verticalCenter
                elide: Text.ElideRight
                textFormat: Text.PlainText
                text: qsTr("Only notes containing “%1”").arg(viewNote.strFilter)
                color: Theme.text
                font.family: GlobalJs.fontFamily
                font.pixelSize: stripColumn.fontSize
            }
            PushButton {
                id: btnClearFilter
                objectName: "btnClearFilter"
                anchors.right: parent.right
                anchors.rightMargin: stripColumn.fontSize * 0.4
                anchors.verticalCenter: parent.verticalCenter
                height: stripColumn.fontSize * 1.4
                width: implicitWidth + height
                imgSrc: "../res/cross.svg"
                tintIcon: false
                text: qsTr("Show all")
                onClicked: viewNote.clearSearch()
            }
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
        anchors.top: stripColumn.bottom
        anchors.bottom: parent.bottom
        z: -1
    }

    // The calendar's first weekday follows the settings.
    Binding {
        target: calendarView
        property: "nFirstWeekDay"
        value: settings.firstDay
    }

    Connections {
        target: noteMgt
        ignoreUnknownSignals: true
        function onNoteSaved(strNoteUuid) { viewNote.quickNoteSaved(strNoteUuid) }
        function onNoteSaveFailed(strNoteUuid, strMessage) { viewNote.quickNoteFailed(strNoteUuid) }
    }

    Connections {
        target: calendarView
        function onSetYearNum(_yearNum) { txtYear.text = _yearNum }
        function onStateChanged() { viewNote.refreshBackBtn() }
        function onAddNote(objDate) { viewNote.addNote(objDate) }
        function onClickDay(objDate) {
            noteMgt.getNoteListByDay(objDate)
            viewNote.dayOpening(objDate)
        }
    }

    ViewNoteList {
        id: noteListView
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: stripColumn.bottom
        anchors.bottom: parent.bottom
        z: -1
        bIsDayList: false
    }

    // The menu is made when it is first opened: the window's first frame does not wait for it.
    function menu() {
        if (!contentMenu)
            contentMenu = compMenu.createObject(viewNote)
        return contentMenu
    }

    Component {
        id: compMenu

        PopupMenu {
            anchorItem: btnMenu
            fontSize: Math.max(12, Math.min(22, toolBarRect.height * 0.4))
            onClosed: btnMenu.forceActiveFocus()

            MenuEntry {
                id: menuAbout
                text: qsTr("About")
                iconSource: "../res/about.svg"
                onTriggered: viewNote.about()
            }

            MenuEntry {
                separator: true
            }

            MenuEntry {
                id: menuLogin
                text: qsTr("Login")
                iconSource: "../res/login.svg"
                visible: !noteMgt.isLogin
                onTriggered: viewNote.login()
            }

            MenuEntry {
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

            MenuEntry {
                separator: true
            }

            MenuEntry {
                id: menuOptions
                text: qsTr("Backup, export and import")
                iconSource: "../res/list.png"
                onTriggered: viewNote.options()
            }
        }
    }
}

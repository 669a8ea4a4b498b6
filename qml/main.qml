import QtQuick 2.4
import QtQuick.Controls 1.3
import NoteMgt 1.0
import "../js/lunar.js" as LunarJs

// Root of the window: one instance of every view, the stack that shows one of them at a
// time, the message bar, and the note manager's signals routed to the views. The main view
// is made with the window; each view over it is made the first time it is needed (so the
// window comes up without them) and then kept, hidden while not on the stack, for the life
// of the window.
Item {
    id: mainId
    width: 800
    height: 600

    property string strEditDay: ""

    readonly property alias stackView: stackView
    readonly property alias noteView: noteView
    // null until first used; getView() makes them.
    readonly property alias noteEditView: views.noteEditView
    readonly property alias noteDayListView: views.noteDayListView
    readonly property alias loginView: views.loginView
    readonly property alias registerView: views.registerView
    readonly property alias forgotPwdView: views.forgotPwdView
    readonly property alias aboutView: views.aboutView
    readonly property alias msgBar: msgBar

    // The view of that name ("noteEditView", "loginView", ...), made on first use.
    function getView(strName) {
        if (!(strName in views.components))
            return null
        if (!views[strName])
            views[strName] = views.components[strName].createObject(mainId, {"visible": false})
        return views[strName]
    }

    // Calls obj[strFunc](args...) when the view offers that function.
    function callView(obj, strFunc) {
        if (!obj || typeof obj[strFunc] !== "function")
            return undefined
        return obj[strFunc].apply(obj, Array.prototype.slice.call(arguments, 2))
    }

    // Pushes a view, handing it those of mapProperties that it declares. A view that is
    // already on top (two days clicked in quick succession) only takes the new properties:
    // each view exists once and cannot stand in the stack twice.
    function pushView(view, mapProperties) {
        var mapKnown = {}
        for (var key in mapProperties) {
            if (key in view)
                mapKnown[key] = mapProperties[key]
        }
        if (stackView.currentItem === view) {
            for (key in mapKnown)
                view[key] = mapKnown[key]
            return
        }
        stackView.push({"item": view, "properties": mapKnown})
    }

    function onDataReceived(data) {
        if (!data || data["error"] !== undefined)
            return
        var result = data["result"]
        switch (data["type"]) {
        case "day_note_count_by_month":
            if (result)
                noteView.setNoteCountByMonth(result["date"], result["result"])
            break
        case "day_note_count":
            if (result)
                noteView.setNoteCount(result["set_at"], result["note_count"])
            break
        case "note_list_by_day":
            if (!result || result.length === 0)
                addNote(LunarJs.parseDateStr(data["date"]))
            else if (result.length === 1)
                editNote(result[0]["set_at"], result[0]["content"], result[0]["uuid"],
                         result[0]["title"])
            else
                showNoteList(result)
            break
        case "get_note_list_by_offset":
            if (Number(data["offset"]) === 0)
                noteView.listClearData()
            noteView.listAppendData(result ? result : [])
            break
        default:
            break
        }
    }

    function onRefresh() {
        noteView.refresh()
    }

    function showError(strErr) {
        msgBar.showError(strErr)
    }

    function showInfo(strInfo) {
        msgBar.showInfo(strInfo)
    }

    function hideError() {
        msgBar.visible = false
    }

    function addNote(objDate) {
        if (objDate === undefined || objDate === null)
            objDate = new Date()
        editNote(LunarJs.getDateStr(objDate), "", "")
    }

    function editNote(strDate, strContent, strUuid, strTitle) {
        strEditDay = String(strDate).split(" ")[0]
        pushView(getView("noteEditView"), {"date": strEditDay, "content": strContent,
                                           "uuid": strUuid, "title": strTitle === undefined ? "" : strTitle})
    }

    function showNoteList(lstNotes) {
        pushView(getView("noteDayListView"), {"lstItems": lstNotes})
    }

    function appendNoteItemToList(data) {
        noteView.listAppendMapData(data)
    }

    function removeNoteItemToList(strUuid) {
        noteView.listRemoveItem(strUuid)
    }

    function popView() {
        stackView.pop()
    }

    Rectangle {
        anchors.fill: parent
        color: "white"
    }

    StackView {
        id: stackView
        anchors.fill: parent
        initialItem: noteView
    }

    ViewNote {
        id: noteView
        onAddNote: mainId.addNote(objDate)
        onLogin: mainId.pushView(mainId.getView("loginView"), {})
        // A login view not made yet has nothing to clear.
        onLogout: mainId.callView(mainId.loginView, "clear")
        onAbout: mainId.pushView(mainId.getView("aboutView"), {})
        onOptions: mainId.pushView(mainId.getView("optionsView"), {})
        Component.onCompleted: {
            state = settings.initType === 0 ? "calendar" : "list"
            refreshBackBtn()
        }
    }

    QtObject {
        id: views

        property Item noteEditView: null
        property Item noteDayListView: null
        property Item loginView: null
        property Item registerView: null
        property Item forgotPwdView: null
        property Item aboutView: null
        property Item optionsView: null

        readonly property var components: ({
            "noteEditView": compNoteEdit,
            "noteDayListView": compNoteDayList,
            "loginView": compLogin,
            "registerView": compRegister,
            "forgotPwdView": compForgotPwd,
            "aboutView": compAbout,
            "optionsView": compOptions
        })
    }

    Component { id: compNoteEdit; ViewNoteEdit {} }
    Component { id: compNoteDayList; ViewNoteList {} }
    Component { id: compLogin; ViewLogin {} }
    Component { id: compRegister; ViewRegister {} }
    Component { id: compForgotPwd; ViewForgotPwd {} }
    Component { id: compAbout; ViewAbout {} }
    Component { id: compOptions; ViewOptions {} }

    Connections {
        target: mainId.loginView
        ignoreUnknownSignals: true
        function onForgotPwd() {
            mainId.popView()
            mainId.pushView(mainId.getView("forgotPwdView"), {})
        }
        function onRegisteUser() {
            mainId.popView()
            var view = mainId.getView("registerView")
            mainId.callView(view, "clearText")
            mainId.pushView(view, {})
        }
    }

    BarMsg {
        id: msgBar
        anchors.left: parent.left
        anchors.bottom: parent.bottom
        z: 10
    }

    Connections {
        target: noteMgt
        ignoreUnknownSignals: true
        function onDataReceived(data) { mainId.onDataReceived(data) }
        function onUserIdChanged() { mainId.onRefresh() }
        function onNetLogin() { mainId.onRefresh() }
        function onCurrentDateChanged() { mainId.onRefresh() }
        function onShowInfo(strInfo) { mainId.showInfo(strInfo) }
        function onShowError(strErr) { mainId.showError(strErr) }
        function onAppendNoteItemToList(data) { mainId.appendNoteItemToList(data) }
        function onRemoveNoteItemToList(strUuid) { mainId.removeNoteItemToList(strUuid) }
    }
}

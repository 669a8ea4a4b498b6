import QtQuick 2.4
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
    // Accounts that own notes on this computer ({"name", "note_count"}), while nobody is
    // logged in: the main view tells the user whose notes these are.
    property var lstNoteOwners: []
    // Name of a login the user asked for, until its outcome has been told.
    property string strLoginAttempt: ""
    property string strRegisterAttempt: ""

    property bool bWasLogin: false
    property string strLastLoginName: ""
    // The day whose notes a click asked for, when, and whether they were shown: a double
    // click that follows starts a new note instead. A day whose answer is to be dropped.
    property string strDayOpening: ""
    property real tDayOpening: 0
    property bool bDayOpened: false
    property string strDayDropped: ""

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
        if (!views[strName]) {
            // By file, not by type: a view's imports (dialogs, layouts) are loaded when the
            // view is first wanted, not with the window.
            var component = Qt.createComponent(views.components[strName])
            if (component.status !== Component.Ready) {
                console.warn(component.errorString())
                return null
            }
            views[strName] = component.createObject(mainId, {"visible": false})
        }
        return views[strName]
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
        if (!data)
            return
        accountResult(data)
        if (data["error"] !== undefined)
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
            if (strDayDropped !== "" && data["date"] === strDayDropped) {
                strDayDropped = ""
                break
            }
            // A day answered late, while the editor holds typed text or waits for its save:
            // the text is not replaced, nor covered by the day's list.
            if (editorHoldsChanges())
                break
            if (data["date"] === strDayOpening)
                bDayOpened = true
            if (!result || result.length === 0)
                addNote(LunarJs.parseDateStr(data["date"]))
            else if (result.length === 1)
                editNote(result[0]["set_at"], result[0]["content"], result[0]["uuid"],
                         result[0]["title"], result[0])
            else
                showNoteList(result)
            break
        case "note_owners":
            lstNoteOwners = noteMgt.isLogin || !result ? [] : result
            break
        case "get_note_list_by_offset":
            // A page of an earlier search (or of the unfiltered list) is late: dropped.
            if (String(data["search_string"] || "") !== noteView.listSearch())
                break
            if (Number(data["offset"]) === 0)
                noteView.listClearData()
            noteView.listAppendData(result ? result : [])
            break
        default:
            break
        }
    }

    // The editor is shown with changes not stored yet (or with its save on the way).
    function editorHoldsChanges() {
        var editor = views.noteEditView
        return editor !== null && stackView.currentItem === editor
                && (editor.bSaving || editor.isModified())
    }

    function onRefresh() {
        noteView.refresh()
    }

    // Tells the outcome of what the user did with an account: a login that the note
    // service could not confirm, a registration, a password reminder. Rejected credentials
    // are told by the note manager itself.
    function accountResult(data) {
        var strError = data["error"] !== undefined ? String(data["error"]) : ""
        switch (data["type"]) {
        case "login_server":
            if (strLoginAttempt === "")
                return
            var strName = strLoginAttempt
            strLoginAttempt = ""
            if (strError === "")
                return
            // Says what happened: unreachable, too many attempts, an unusable answer.
            // Rejected credentials are told by the note manager ("" here).
            showError(noteMgt.syncStatus.loginFailureText(strName, strError,
                                                          data["network_error"] === true,
                                                          noteMgt.isLogin === true))
            break
        case "register_user":
            if (strRegisterAttempt === "")
                return
            var strRegistered = strRegisterAttempt
            strRegisterAttempt = ""
            if (strError !== "")
                showError(qsTr("The account could not be registered: %1").arg(strError))
            else
                showInfo(qsTr("The account %1 is registered.").arg(strRegistered))
            break
        case "forgot_pwd":
            if (strError !== "")
                showError(qsTr("The password reset mail could not be sent: %1").arg(strError))
            break
        default:
            break
        }
    }

    // A login started by the user (login view, automatic login at start).
    function expectLogin(strName) {
        strLoginAttempt = String(strName).toLowerCase()
    }

    function expectRegistration(strName) {
        strRegisterAttempt = String(strName)
    }

    function onUserIdChanged() {
        var bLogin = noteMgt.isLogin === true
        if (bLogin && !bWasLogin)
            showInfo(qsTr("Logged in as %1.").arg(noteMgt.loginName))
        if (bLogin)
            strLastLoginName = noteMgt.loginName
        bWasLogin = bLogin
        refreshNoteOwners()
        onRefresh()
    }

    function refreshNoteOwners() {
        if (noteMgt.isLogin)
            lstNoteOwners = []
        else
            noteMgt.getNoteOwners()
    }

    // The user logged out from the menu.
    function onLoggedOut() {
        if (loginView)
            loginView.clear()
        showInfo(strLastLoginName !== ""
                 ? qsTr("Logged out. The notes of %1 stay on this computer; log in to see them again.")
                   .arg(strLastLoginName)
                 : qsTr("Logged out."))
    }

    // Opens the login view, with a user name filled in when one is given.
    function showLogin(strName) {
        var view = getView("loginView")
        pushView(view, {})
        if (strName !== undefined && strName !== "")
            view.prefill(strName)
    }

    function showError(strErr) {
        msgBar.showError(strErr)
    }

    function showInfo(strInfo) {
        msgBar.showInfo(strInfo)
    }

    function hideError() {
        msgBar.clear()
    }

    function addNote(objDate) {
        if (objDate === undefined || objDate === null)
            objDate = new Date()
        editNote(LunarJs.getDateStr(objDate), "", "")
    }

    function onDayOpening(objDate) {
        strDayOpening = LunarJs.getDateStr(objDate)
        tDayOpening = Date.now()
        bDayOpened = false
    }

    // A new note from the main view. Right after a click on the same day this is the
    // second click of a double click: the day that the first click opened is left.
    function addNoteFromMain(objDate) {
        var strDay = objDate ? LunarJs.getDateStr(objDate) : ""
        if (strDay !== "" && strDay === strDayOpening
                && Date.now() - tDayOpening < Qt.styleHints.mouseDoubleClickInterval + 1000) {
            if (bDayOpened) {
                while (stackView.depth > 1)
                    stackView.pop({"immediate": true})
            } else {
                strDayDropped = strDay
            }
            strDayOpening = ""
        }
        addNote(objDate)
    }

    // mapVersion: the note's "updated_at" and "md5" as shown, the version the editor's
    // change is made from.
    function editNote(strDate, strContent, strUuid, strTitle, mapVersion) {
        // A note whose text has not come from the note service yet is not opened empty:
        // what would be typed there would replace the text it has. Its text is asked for.
        if (strUuid && !strContent && mapVersion && Number(mapVersion["content_size"]) > 0) {
            noteMgt.downloadNoteItem(strUuid)
            showInfo(qsTr("The text of this note has not come from the note service yet. Open it again once it has."))
            return
        }
        strEditDay = String(strDate).split(" ")[0]
        pushView(getView("noteEditView"), {"date": strEditDay, "content": strContent,
                                           "uuid": strUuid, "title": strTitle === undefined ? "" : strTitle,
                                           "strOpenedAt": mapVersion && mapVersion["updated_at"]
                                                          ? String(mapVersion["updated_at"]) : "",
                                           "strOpenedMd5": mapVersion && mapVersion["md5"]
                                                           ? String(mapVersion["md5"]) : ""})
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
        color: Theme.background
    }

    ViewStack {
        id: stackView
        anchors.fill: parent
        initialItem: noteView
    }

    ViewNote {
        id: noteView
        bCurrent: stackView.currentItem === noteView
        lstNoteOwners: mainId.lstNoteOwners
        onLoginAs: mainId.showLogin(strName)
        onDayOpening: mainId.onDayOpening(objDate)
        onAddNote: mainId.addNoteFromMain(objDate)
        onLogin: mainId.showLogin()
        // A login view not made yet has nothing to clear.
        onLogout: mainId.onLoggedOut()
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
            "noteEditView": "ViewNoteEdit.qml",
            "noteDayListView": "ViewNoteList.qml",
            "loginView": "ViewLogin.qml",
            "registerView": "ViewRegister.qml",
            "forgotPwdView": "ViewForgotPwd.qml",
            "aboutView": "ViewAbout.qml",
            "optionsView": "ViewOptions.qml"
        })
    }

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
            view.clearText()
            mainId.pushView(view, {})
        }
    }

    BarMsg {
        id: msgBar
        anchors.left: parent.left
        anchors.bottom: parent.bottom
        z: 10
    }

    Component.onCompleted: {
        bWasLogin = noteMgt.isLogin === true
        // The automatic login at start is the user's own: its outcome is told too.
        if (settings.autoLogin && settings.userName !== "")
            expectLogin(settings.userName)
        refreshNoteOwners()
    }

    Connections {
        target: noteMgt
        ignoreUnknownSignals: true
        function onDataReceived(data) { mainId.onDataReceived(data) }
        function onUserIdChanged() { mainId.onUserIdChanged() }
        function onNetLogin() { mainId.onRefresh() }
        function onCurrentDateChanged() { mainId.onRefresh() }
        function onShowInfo(strInfo) { mainId.showInfo(strInfo) }
        function onShowError(strErr) { mainId.showError(strErr) }
        function onAppendNoteItemToList(data) { mainId.appendNoteItemToList(data) }
        function onRemoveNoteItemToList(strUuid) { mainId.removeNoteItemToList(strUuid) }
    }
}

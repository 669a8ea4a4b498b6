import QtQuick 2.7
import NoteMgt 1.0
import "../js/global.js" as GlobalJs

// A list of notes, newest day first. As the main view's list body it is paged in from
// the note manager and filtered by the search text; as the day list it shows the notes
// of one day over the main view.
Rectangle {
    id: noteListViewId
    color: Theme.behindList

    property var lstItems: []
    property bool bIsDayList: true
    property string strSearch: ""
    // Whether the first page of the current list has arrived (so that an empty list means
    // that nothing matches), and whether it is still to be shown from its top.
    property bool bLoaded: bIsDayList
    property bool bToTop: false

    readonly property alias emptyText: emptyText

    readonly property alias model: lstResultModel
    readonly property alias listView: lstViewId
    // Line height per pixel of font size of the titles. A title may fall back to another
    // font for its script: the sample holds Latin, Chinese and Japanese letters, and its
    // height is that of the tallest of their fonts. Measured once per list, when it first
    // has rows, so that a list never shown loads no fallback font.
    readonly property real titleLineRatio: titleMetrics.item
                                           ? titleMetrics.item.implicitHeight / 100 : 1.3
    property bool bFirstPageAsked: false

    function getNoteList(search) {
        lstResultModel.clear()
        strSearch = search === undefined || search === null ? "" : String(search)
        // This is the first page: being shown does not ask for another, unfiltered one.
        bFirstPageAsked = true
        bLoaded = false
        bToTop = true
        noteMgt.getNoteListByOffset(0, strSearch)
    }

    // A first page follows: it is shown from its top.
    function clearData() {
        lstResultModel.clear()
        bToTop = true
    }

    // A page of notes; those marked deleted are left out.
    function appendData(lstResults) {
        if (lstResults)
            lstResultModel.appendList(lstResults)
        bLoaded = true
        if (bToTop) {
            bToTop = false
            lstViewId.currentIndex = lstResultModel.count > 0 ? 0 : -1
            lstViewId.positionViewAtBeginning()
        }
    }

    // One note, merged by uuid and day; while a search is shown, kept only when it holds
    // the search text.
    function appendMapData(mapData) {
        if (mapData)
            lstResultModel.appendMapData(mapData)
    }

    function removeItem(strUuid) {
        lstResultModel.removeUuid(strUuid)
    }

    // Shows the notes of today: the first row of today or an earlier day at the top.
    function toToday() {
        var strToday = Qt.formatDate(new Date(), "yyyy-MM-dd")
        for (var i = 0; i < lstResultModel.count; i++) {
            if (lstResultModel.get(i)._set_at <= strToday) {
                lstViewId.currentIndex = i
                lstViewId.positionViewAtIndex(i, ListView.Beginning)
                return
            }
        }
        if (lstResultModel.count > 0) {
            lstViewId.currentIndex = lstResultModel.count - 1
            lstViewId.positionViewAtEnd()
        }
    }

    // Opens the note of the keyboard's row.
    function openCurrent() {
        var idx = lstViewId.currentIndex
        if (idx < 0 || idx >= lstResultModel.count)
            return
        var row = lstResultModel.get(idx)
        if (bIsDayList)
            mainId.popView()
        mainId.editNote(row._set_at, row._content, row._uuid, row._title,
                        {"updated_at": row._updated_at, "md5": row._md5,
                         "content_size": row._content_size})
    }

    function focusList() {
        lstViewId.forceActiveFocus()
    }

    onVisibleChanged: {
        askFirstPage()
        if (visible && bIsDayList) {
            lstViewId.currentIndex = lstResultModel.count > 0 ? 0 : -1
            lstViewId.forceActiveFocus()
        }
    }

    onLstItemsChanged: lstResultModel.setItems(lstItems ? lstItems : [])

    // The main view's list asks for its first page when it is first shown (not while the
    // calendar hides it); a day list is handed its notes.
    function askFirstPage() {
        if (bIsDayList || !visible || bFirstPageAsked)
            return
        bFirstPageAsked = true
        noteMgt.getNoteListByOffset(0, strSearch)
    }
    Component.onCompleted: askFirstPage()

    Loader {
        id: titleMetrics
        active: lstViewId.count > 0
        sourceComponent: Text {
            visible: false
            text: "Ag\u6d77\u3042"
            font.family: GlobalJs.fontFamily
            font.pixelSize: 100
        }
    }

    Rectangle {
        anchors.fill: lstViewId
        color: Theme.background
    }

    Text {
        id: emptyText
        objectName: "emptyText"
        anchors.centerIn: lstViewId
        width: lstViewId.width * 0.8
        z: 1
        visible: noteListViewId.bLoaded && lstResultModel.count === 0 && text !== ""
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        textFormat: Text.PlainText
        text: noteListViewId.strSearch !== ""
              ? qsTr("No notes found for “%1”.").arg(noteListViewId.strSearch)
              : (noteListViewId.bIsDayList ? "" : qsTr("No notes yet. Ctrl+N writes one."))
        color: Theme.textSecondary
        font.family: Theme.fontFamily
        font.pixelSize: Math.max(14, Math.min(24, lstViewId.height * 0.04))
    }

    ListView {
        id: lstViewId
        objectName: "lstViewId"
        anchors.centerIn: parent
        width: noteListViewId.bIsDayList ? parent.width * 0.6 : parent.width
        height: noteListViewId.bIsDayList ? parent.height * 0.8 : parent.height
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        activeFocusOnTab: true
        keyNavigationEnabled: true
        currentIndex: -1
        highlightMoveDuration: 0
        highlight: Rectangle {
            color: "transparent"
            border.width: 2
            border.color: Theme.focusFrame
            visible: lstViewId.activeFocus
            z: 2
        }
        Keys.onReturnPressed: noteListViewId.openCurrent()
        Keys.onEnterPressed: noteListViewId.openCurrent()
        Keys.onEscapePressed: {
            if (noteListViewId.bIsDayList)
                mainId.popView()
            else
                event.accepted = false
        }
        model: NoteListModel {
            id: lstResultModel
            searchText: noteListViewId.strSearch
        }
        delegate: ListNoteItem {
            width: lstViewId.width
            height: lstViewId.height * 0.1
            uuid: _uuid
            title: _title
            set_at: _set_at
            content: _content
            updated_at: _updated_at
            md5: _md5
            content_size: _content_size
            snippet: _snippet
            search: noteListViewId.strSearch
            titleMarked: _title_marked
            snippetMarked: _snippet_marked
            my_index: index
            titleLineRatio: noteListViewId.titleLineRatio
        }

        onMovementEnded: {
            if (noteListViewId.bIsDayList)
                return
            var idx = indexAt(width / 2, contentY + 5)
            if (idx < 0)
                idx = 0
            if (count - idx - 1 < 20)
                noteMgt.getNoteListByOffset(count, noteListViewId.strSearch)
        }

        Rectangle {
            anchors.right: parent.right
            width: 6
            color: Theme.frame
            opacity: 0.5
            visible: lstViewId.visibleArea.heightRatio < 1
            y: lstViewId.visibleArea.yPosition * lstViewId.height
            height: Math.max(10, lstViewId.visibleArea.heightRatio * lstViewId.height)
        }
    }

    // Around the day list: a click beside it closes it.
    MouseArea {
        visible: noteListViewId.bIsDayList
        anchors.left: parent.left
        width: parent.width * 0.2
        height: parent.height
        onClicked: mainId.popView()
    }
    MouseArea {
        visible: noteListViewId.bIsDayList
        anchors.right: parent.right
        width: parent.width * 0.2
        height: parent.height
        onClicked: mainId.popView()
    }
    MouseArea {
        visible: noteListViewId.bIsDayList
        anchors.top: parent.top
        width: parent.width
        height: parent.height * 0.1
        onClicked: mainId.popView()
    }
    MouseArea {
        visible: noteListViewId.bIsDayList
        anchors.bottom: parent.bottom
        width: parent.width
        height: parent.height * 0.1
        onClicked: mainId.popView()
    }
}

import QtQuick 2.4

// A list of notes, newest day first. As the main view's list body it is paged in from
// the note manager and filtered by the search text; as the day list it shows the notes
// of one day over the main view.
Rectangle {
    id: noteListViewId
    color: "gray"

    property var lstItems: []
    property bool bIsDayList: true
    property string strSearch: ""

    readonly property alias model: lstResultModel
    readonly property alias listView: lstViewId

    function getNoteList(search) {
        lstResultModel.clear()
        strSearch = search === undefined || search === null ? "" : String(search)
        noteMgt.getNoteListByOffset(0, strSearch)
    }

    function clearData() {
        lstResultModel.clear()
    }

    function appendData(lstResults) {
        if (!lstResults)
            return
        for (var i = 0; i < lstResults.length; i++) {
            if (parseInt(lstResults[i]["deleted"]) !== 1)
                appendMapData(lstResults[i])
        }
    }

    function text(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    function matchesSearch(mapData) {
        if (strSearch === "")
            return true
        var strTitle = text(mapData["title"])
        if (strTitle !== "")
            return strTitle.indexOf(strSearch) >= 0 || text(mapData["content"]).indexOf(strSearch) >= 0
        return text(mapData["content"]).indexOf(strSearch) >= 0
    }

    function appendMapData(mapData) {
        if (!mapData || !matchesSearch(mapData))
            return
        var strUuid = text(mapData["uuid"])
        var strSetAt = text(mapData["set_at"]).split(" ")[0]
        var entry = {
            "_uuid": strUuid,
            "_title": text(mapData["title"]),
            "_set_at": strSetAt,
            "_content": text(mapData["content"])
        }
        var nPos = 0
        for (var j = 0; j < lstResultModel.count; j++) {
            var row = lstResultModel.get(j)
            if (nPos === j && strSetAt < row._set_at)
                nPos = j + 1
            if (row._uuid === strUuid) {
                lstResultModel.set(j, entry)
                return
            }
        }
        lstResultModel.insert(nPos, entry)
    }

    function removeItem(strUuid) {
        for (var i = 0; i < lstResultModel.count; i++) {
            if (lstResultModel.get(i)._uuid === strUuid) {
                lstResultModel.remove(i)
                return
            }
        }
    }

    function toToday() {
    }

    onLstItemsChanged: {
        lstResultModel.clear()
        if (!lstItems)
            return
        for (var i = 0; i < lstItems.length; i++) {
            var mapData = lstItems[i]
            lstResultModel.append({
                "_uuid": text(mapData["uuid"]),
                "_title": text(mapData["title"]),
                "_set_at": text(mapData["set_at"]).split(" ")[0],
                "_content": text(mapData["content"])
            })
        }
    }

    // The main view's list asks for its first page; a day list is handed its notes.
    Component.onCompleted: {
        if (!bIsDayList)
            noteMgt.getNoteListByOffset()
    }

    Rectangle {
        anchors.fill: lstViewId
        color: "white"
    }

    ListView {
        id: lstViewId
        objectName: "lstViewId"
        anchors.centerIn: parent
        width: noteListViewId.bIsDayList ? parent.width * 0.6 : parent.width
        height: noteListViewId.bIsDayList ? parent.height * 0.8 : parent.height
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        model: ListModel { id: lstResultModel }
        delegate: ListNoteItem {
            width: lstViewId.width
            height: lstViewId.height * 0.1
            uuid: _uuid
            title: _title
            set_at: _set_at
            content: _content
            my_index: index
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
            color: "gray"
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

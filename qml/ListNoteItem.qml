import QtQuick 2.4
import "../js/global.js" as GlobalJs

// One row of a note list: the title over the day. A click opens the note.
Item {
    id: listNoteItemId

    property string uuid: ""
    property string set_at: ""
    property string title: ""
    property string content: ""
    property int my_index: 0

    Rectangle {
        anchors.fill: parent
        color: listNoteItemId.my_index % 2 === 0 ? Theme.rowAlternate : "transparent"
    }

    // Line height per pixel of font size of the two fonts: the title and the day are sized
    // so that their lines, not just their pixel sizes, share the row's height. Chinese and
    // Japanese fonts have much taller lines than Latin ones for the same pixel size.
    // A title may fall back to another font for its script: the sample line holds Latin,
    // Chinese and Japanese letters, and its height is that of the tallest of their fonts.
    Text {
        id: titleMetrics
        visible: false
        text: "Ag\u6d77\u3042"
        font.family: GlobalJs.fontFamily
        font.pixelSize: 100
    }
    FontMetrics {
        id: dateMetrics
        font.pixelSize: 100
    }

    Column {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        spacing: 0
        Text {
            objectName: "titleText"
            width: parent.width
            height: listNoteItemId.height * 0.62
            text: listNoteItemId.title
            textFormat: Text.PlainText
            color: Theme.text
            elide: Text.ElideRight
            maximumLineCount: 1
            verticalAlignment: Text.AlignVCenter
            font.family: GlobalJs.fontFamily
            font.pixelSize: Math.max(1, Math.min(listNoteItemId.height * 0.56,
                                                 Math.floor(height * 0.95 * 100
                                                            / titleMetrics.implicitHeight)))
        }
        Text {
            objectName: "dateText"
            width: parent.width
            height: listNoteItemId.height * 0.38
            text: listNoteItemId.set_at
            color: Theme.textSecondary
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: Math.max(1, Math.min(listNoteItemId.height * 0.27,
                                                 Math.floor(height * 0.9 * 100
                                                            / dateMetrics.height)))
        }
    }

    HoverMouseArea {
        anchors.fill: parent
        onClicked: {
            mainId.popView()
            mainId.editNote(listNoteItemId.set_at, listNoteItemId.content, listNoteItemId.uuid,
                            listNoteItemId.title)
        }
    }
}

import QtQuick 2.4

// An image button with hover feedback.
Item {
    id: iconButtonId
    width: 100
    height: 62

    property alias source: imageId.source
    property int margin: 3

    signal clicked()

    HoverMouseArea {
        id: hoverId
        anchors.fill: parent
        onClicked: iconButtonId.clicked()
    }

    Image {
        id: imageId
        anchors.fill: parent
        anchors.margins: iconButtonId.margin
        fillMode: Image.PreserveAspectFit
        sourceSize.width: Math.max(1, width)
        sourceSize.height: Math.max(1, height)
        smooth: true
    }
}

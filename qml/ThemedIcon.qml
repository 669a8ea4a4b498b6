import QtQuick 2.4

// An icon of the views. The drawings are dark, for a light background: where the theme is
// dark they are drawn in the theme's icon colour instead.
Item {
    id: themedIconId

    // The drawing, as a file name relative to the view ("../res/add.svg"). The program's own
    // drawings are drawn by the "icon" image provider, other addresses are loaded as they are.
    property url source
    property alias sourceSize: imageId.sourceSize
    property alias fillMode: imageId.fillMode
    readonly property alias status: imageId.status
    // false for drawings in colours of their own, readable on both backgrounds.
    property bool tint: true
    readonly property bool tinted: tint && Theme.dark

    Image {
        id: imageId
        source: {
            var str = themedIconId.source.toString()
            return str.indexOf("qrc:/") === 0 ? "image://icon/" + str.substring(5) : str
        }
        anchors.fill: parent
        fillMode: Image.PreserveAspectFit
        smooth: true
        visible: !themedIconId.tinted
    }

    // By file: the graphical effects are loaded only where a dark theme needs them.
    Loader {
        anchors.fill: imageId
        active: themedIconId.tinted
        source: "ThemedIconTint.qml"
        onLoaded: item.source = imageId
    }
}

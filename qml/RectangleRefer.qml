import QtQuick 2.4

// A rectangle that offers a reference size and a reference font size derived from
// its own geometry.
Rectangle {
    property int referWidth: Math.min(width, height)
    property real dRatioWidth: 0.02
    property real dRatioHeight: 0.01
    property int referFontSize: Math.min(width * dRatioWidth, height * dRatioHeight)
}

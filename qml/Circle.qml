import QtQuick 2.4

// A circle of radius c_radius; set a border or a fill colour.
Rectangle {
    property real c_radius: 10
    width: 2 * c_radius
    height: 2 * c_radius
    radius: c_radius
    color: "transparent"
}

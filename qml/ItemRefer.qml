import QtQuick 2.4

// An item that offers the smaller of its sides as a reference size.
Item {
    property int referWidth: Math.min(width, height)
}

import QtQuick 2.4

Rectangle {
    id: mainId
    width: 1024
    height: 768
    color: "white"
}

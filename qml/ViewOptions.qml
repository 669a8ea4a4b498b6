import QtQuick 2.4

// Room for the options; nothing leads here yet.
Rectangle {
    width: 100
    height: 62
}

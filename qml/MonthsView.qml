import QtQuick 2.4

Item {
}

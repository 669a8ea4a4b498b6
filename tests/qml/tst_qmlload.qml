import QtQuick 2.4
import QtTest 1.0

// The real main.qml comes up inside a test window with the real back end.
TestCase {
    name: "MainLoad"
    when: windowShown
    width: 1024
    height: 768

    function test_mainLoads() {
        var component = Qt.createComponent("qrc:/qml/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        var main = createTemporaryObject(component, this)
        verify(main !== null)
        verify(main.width > 0)
    }
}

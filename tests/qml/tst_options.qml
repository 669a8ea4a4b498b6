import QtQuick 2.4
import QtTest 1.0

// The options view on the real back end: a backup made from it appears in its list.
TestCase {
    name: "Options"
    when: windowShown
    width: 800
    height: 600

    SignalSpy {
        id: spyBackup
        target: backup
        signalName: "backupFinished"
    }

    function test_backupNowIsListed() {
        var component = Qt.createComponent("qrc:/qml/ViewOptions.qml")
        compare(component.status, Component.Ready, component.errorString())
        var view = createTemporaryObject(component, this, {"width": 800, "height": 600})
        verify(view !== null)
        var nBefore = view.backupList.count
        verify(!backup.busy)
        backup.backUpNow()
        spyBackup.wait(60000)
        tryCompare(view.backupList, "count", Math.max(1, nBefore), 10000)
        compare(view.exportProgress.visible, false)
    }
}

pragma Singleton
import QtQuick 2.4
import "../js/global.js" as GlobalJs

// Every colour of the views, in one place. The theme follows the system's palette: a dark
// window colour gives the dark set. `dark` may be set to choose one regardless.
QtObject {
    id: themeId

    property SystemPalette systemPalette: SystemPalette { colorGroup: SystemPalette.Active }
    property bool dark: systemPalette.window.hslLightness < 0.5

    readonly property string fontFamily: GlobalJs.fontFamily

    // Surfaces.
    readonly property color background: dark ? "#1f1f1f" : "white"
    readonly property color toolBar: dark ? "#2b2b2b" : "#fafafa"
    readonly property color rowAlternate: dark ? "#2a2a2a" : "#e0e0e0"
    readonly property color line: dark ? "#3c3c3c" : "#eee"
    readonly property color frame: dark ? "#6a6a6a" : "gray"
    readonly property color dim: dark ? "#000000" : "gray"
    readonly property color behindList: dark ? "#121212" : "gray"

    // Controls.
    readonly property string hover: dark ? "#3a3a3a" : GlobalJs.hoverColor
    readonly property string press: dark ? "#4a4a4a" : GlobalJs.PressColor
    readonly property string idle: GlobalJs.normalColor
    readonly property color menuBackground: dark ? "#2f2f2f" : GlobalJs.menuBkColor
    readonly property color menuPressed: dark ? "#454545" : GlobalJs.menuPressedColor
    readonly property color menuText: dark ? "#e8e8e8" : "#333"
    readonly property color focusFrame: dark ? "#8ab4f8" : "#1a56c4"
    readonly property color fieldBackground: dark ? "#2b2b2b" : "white"
    readonly property color selectedText: dark ? "#1f1f1f" : "white"
    readonly property color checkMark: dark ? "#bbb" : "#555"
    readonly property color checkMarkFrame: dark ? "#ddd" : "#333"
    // The strips above the calendar and list: whose notes are here, the active filter.
    readonly property color hintBackground: dark ? "#3a3320" : "#fff4cc"
    readonly property color hintButton: dark ? "#4a4230" : "#ffe9a0"
    readonly property color filterBackground: dark ? "#20324a" : "#dde8f8"
    // The icons' colour where the theme is dark (they are dark drawings otherwise).
    readonly property color icon: "#d8d8d8"
    readonly property color tipBackground: dark ? "#3a3a3a" : "#ffffe0"
    readonly property color pickerBackground: dark ? "#2b2b2b" : "white"

    // Texts.
    readonly property color text: dark ? "#e8e8e8" : GlobalJs.textColor
    readonly property color textSecondary: dark ? "#a0a0a0" : "gray"
    readonly property color accent: dark ? "#ff7a70" : "red"
    readonly property color positive: dark ? "#7fd08a" : "green"
    readonly property color link: dark ? "#e8e8e8" : "black"

    // Sync state under the toolbar: offline and error on a tint of their own.
    readonly property color syncOfflineBackground: dark ? "#33302a" : "#f1efe8"
    readonly property color syncErrorBackground: dark ? "#45262a" : "#fde7e6"

    // A failure shown inside a view (the editor's failed save).
    readonly property color failureBackground: dark ? "#45262a" : "#fdecea"
    readonly property color failureFrame: dark ? "#ff7a70" : "#d93025"
    readonly property color failureText: dark ? "#ffb4ab" : "#a50e0e"

    // Message bar: white on a strong colour, readable in both themes.
    readonly property color errorBackground: "#b3261e"
    readonly property color infoBackground: "#2e6b34"
    readonly property color messageText: "white"
}

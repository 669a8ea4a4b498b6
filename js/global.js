.pragma library

// Font and colours shared by every view and control.
var fontFamily = "Courier";
var hoverColor = "#eee";
var PressColor = "#ddd";
var normalColor = "transparent";
var textColor = "black";
var menuBkColor = "#eee";
var menuPressedColor = "white";

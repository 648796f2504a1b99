#ifndef BUTTONSTYLE_H
#define BUTTONSTYLE_H

// The three-rule style of "Open File" and of every row's Upload button: hover, plain, pressed.
inline constexpr const char ButtonStyleSheet[] =
    "QPushButton:hover{background-color: qconicalgradient(cx:0.5, cy:0.522909, angle:179.9, "
    "stop:0.494318 rgba(2, 225, 250, 255), stop:0.5 rgba(2, 242, 251, 255));}"
    "QPushButton{background-color:transparent;border: 1px solid rgb(124, 124, 124);border-radius:5px;}"
    "QPushButton:pressed{background-color:yellow;border: 1px solid rgb(124, 124, 124);}";

// The style of each row's board box: transparent, hovered or not. A transparent box without a
// border of its own is painted solid black by Qt's Fusion style (the style on Linux), hiding the
// board name, so it gets the buttons' border.
inline constexpr const char BoardBoxStyleSheet[] =
    "QComboBox:hover{background-color:transparent;}"
    "QComboBox{background-color:transparent;border: 1px solid rgb(124, 124, 124);border-radius:5px;}";

#endif // BUTTONSTYLE_H

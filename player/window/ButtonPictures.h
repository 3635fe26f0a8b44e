#pragma once

#include <QIcon>

// The pictures on the main window's buttons and in its menus, drawn here in the sixteen colours
// of the folder and drive pictures, and the program's own picture, built in as pixels: no icon
// theme or image file is read for any of them.
namespace buttonpictures {

enum class Picture {
    Add, // an arrow towards the play list
    AddAll, // a double arrow towards the play list
    Remove, // an arrow back from the play list
    RemoveAll,
    Play,
    Stop,
    Pause,
    Skip,
    Exit,
    Open, // an open folder
    Save, // a floppy disk
    About,
    Help,
};

// A 16 x 16 picture; drawn anew on each call. UI thread only.
QIcon icon(Picture picture);

// The program's own picture (the window's and the about window's), 64 x 64, built in as pixels.
QIcon programIcon();

} // namespace buttonpictures

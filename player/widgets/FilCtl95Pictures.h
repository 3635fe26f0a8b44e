#pragma once

#include <QImage>
#include <QPixmap>

// The browser's small pictures, drawn by the program itself at first use: five drive kinds, three
// folder roles and the audio-file symbol of the file view.
namespace filctl95 {

enum class Picture {
    Floppy, // removable drives
    Fixed,
    Network,
    CdRom,
    Ram,
    OpenFolder, // the drive's root and each folder above the current one
    ClosedFolder, // a sub-folder of the current folder
    CurrentFolder,
    AudioFile, // every item of the file view
};

// Side of every picture, in pixels.
constexpr int kPictureSize = 16;

// The picture as a 16x16 image of at most 16 colours (the VGA palette). Its bottom-left pixel
// holds the colour that stands for "transparent". Any thread; each call draws anew.
QImage pictureImage(Picture picture);

// The picture ready to draw, with its bottom-left colour made transparent. UI thread only (it
// is a QPixmap); drawn anew on each call, so callers keep what they use.
QPixmap picturePixmap(Picture picture);

} // namespace filctl95

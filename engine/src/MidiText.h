#pragma once

#include "tunedeck/MidiFile.h"
#include "tunedeck/SongText.h"

namespace tunedeck {

// What a song's meta events say about it; `firstTrackName` is the first track's name event in
// a format 0 or 1 file (the song's title), or null.
SongText readMidiText(const MidiFile &file, const MidiEvent *firstTrackName);

} // namespace tunedeck

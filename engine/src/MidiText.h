#pragma once

#include "tunedeck/MidiFile.h"
#include "tunedeck/SongText.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tunedeck {

// The texts of an RMID file's INFO list, as stored (name, artist, copyright; empty when absent).
struct RiffInfo {
    std::vector<std::uint8_t> title, artist, copyright;
};

// What a song's meta events say about it; `firstTrackName` is the first track's name event in
// a format 0 or 1 file (the song's title), or null; `trackPayloads` where each track's payload
// starts in the file's, in order (so which track a meta event is on). `karaokeName`: the file is
// named as a karaoke file, whose text events are its words when it has no lyric events, even
// without the karaoke header. `info` gives the title, artist and copyright the events do not.
SongText readMidiText(const MidiFile &file, const MidiEvent *firstTrackName,
    std::span<const std::uint32_t> trackPayloads, bool karaokeName = false,
    const RiffInfo &info = {});

} // namespace tunedeck

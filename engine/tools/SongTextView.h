#pragma once

// tdplay's views of what files say about themselves, and its reading of play lists.
#include "tunedeck/SongText.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tdplay {

// `name` (a file name, or an entry of a play list) as it may be printed on a terminal: control
// bytes are written as \xNN, so a name cannot move the cursor, retitle the window or clear it.
std::string shown(std::string_view name);

// For --info -v: the title (else the file's own name), artist, copyright, markers with their
// times, the lyrics a line each with the time it starts, and any note, each line indented.
void printSongText(const tunedeck::SongText &text, const char *file);

// The lyric line sung at `positionMs` for the line under the status line, at most `columns`
// characters wide: the part already sung in bold, the rest plain. Empty when there are no
// lyrics.
std::string karaokeLine(const tunedeck::SongText &text, std::uint32_t positionMs, int columns);

// `name` followed by `tail` on a line of a terminal `columns` wide, in fewer columns than that
// (the last would wrap it): a name too long gives way from its start to "...", then the tail from
// its end.
std::string statusLine(const std::string &name, const std::string &tail, int columns);

// The width of the terminal on stderr, 80 when it cannot be told.
int terminalColumns();

// The files to play: names as given, with each play list of another player (.m3u, .m3u8, .pls,
// .xspf) replaced by its entries. A list that cannot be read or names no file, and entries that
// are no local file, are reported on stderr and set `failed`.
std::vector<std::string> expandPlayLists(std::span<const char *const> names, bool &failed);

} // namespace tdplay

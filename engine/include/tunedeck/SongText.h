#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tunedeck {

class MidiFile;

// One piece of sung text and when it is sung. A piece that starts a line (or a paragraph, which
// also starts a line) carries the flag; the text itself holds no line-break marks.
struct Syllable {
    std::int64_t timeUs = 0;
    std::string text;
    bool lineStart = false;
    bool paragraphStart = false;
};

// A marker event: a named place in the song.
struct Marker {
    std::int64_t timeUs = 0;
    std::string text;
};

// What a file says about itself, in UTF-8. Empty fields are absent from the file.
struct SongText {
    std::string title;
    std::string artist;
    std::string copyright;
    std::vector<Marker> markers;
    std::vector<Syllable> lyrics; // in time order
    // Something about the file worth telling a listener who asks (e.g. a bank that was not used).
    std::string note;
};

// The current line of the lyrics at `timeUs`: the part already sung and the part still to come.
// Before the first syllable it is the first line, nothing sung yet; empty when there are no
// lyrics.
struct LyricLine {
    std::string sung;
    std::string rest;
    // Index of the line's first syllable in SongText::lyrics (0 when there are none).
    std::size_t first = 0;
};

// The code page of a file's text where it is not UTF-8: most older files use Windows-1252,
// Japanese ones Shift-JIS (as Windows' code page 932 has it).
enum class CodePage { Windows1252, ShiftJis };

// Text bytes from a file as UTF-8: kept when they are valid UTF-8, else read in `page`.
// Control characters (except tab), a leading byte-order mark and trailing NULs are dropped.
std::string textFromBytes(
    std::span<const std::uint8_t> bytes, CodePage page = CodePage::Windows1252);

// The code page of the song's text: Shift-JIS when every text event that is not UTF-8 reads as
// Shift-JIS and they hold two full-width kana at least (Japanese words seldom lack them, and
// Windows-1252 text hardly ever forms one), else Windows-1252.
CodePage codePageOf(const MidiFile &song);

// The whole lyrics as text: lines separated by '\n', paragraphs by an empty line.
std::string lyricsText(const SongText &text);

LyricLine lyricLineAt(const SongText &text, std::int64_t timeUs);

} // namespace tunedeck

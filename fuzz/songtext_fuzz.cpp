// Feeds arbitrary bytes to the MIDI reader and, when a song comes out, checks what it says about
// itself: every text valid UTF-8 without control characters, lyrics and markers in time order,
// the current lyric line made of the lyrics' own text at any time. The bytes also go through
// the text decoder alone.
#include "Require.h"
#include "tunedeck/MidiFile.h"
#include "tunedeck/SongText.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// Valid UTF-8 (no overlong forms, surrogates or code points past U+10FFFF), no control bytes
// but tab and, where lines are allowed, line feeds.
void requireText(const std::string &text, bool lines = false)
{
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[at]);
        if (lead < 0x80) {
            require(lead >= 0x20 || lead == '\t' || (lines && lead == '\n'));
            require(lead != 0x7F);
            ++at;
            continue;
        }
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        require(lead >= 0xC2 && lead <= 0xF4 && at + length <= text.size());
        char32_t code = lead & (0x7F >> length);
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<std::uint8_t>(text[at + i]);
            require((next & 0xC0) == 0x80);
            code = code << 6 | (next & 0x3F);
        }
        require(code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF));
        require(length == 2 || code >= (length == 3 ? 0x800u : 0x10000u));
        at += length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    for (const auto page : { tunedeck::CodePage::Windows1252, tunedeck::CodePage::ShiftJis }) {
        const std::string decoded = tunedeck::textFromBytes({ data, size }, page);
        requireText(decoded);
        require(decoded.size() <= 3 * size);
    }

    const auto result = tunedeck::MidiFile::parse({ data, size });
    if (!result.ok())
        return 0;
    const tunedeck::SongText &text = result.value().text();
    for (const std::string *field : { &text.title, &text.artist, &text.copyright })
        requireText(*field);
    std::int64_t last = 0;
    for (const auto &marker : text.markers) {
        requireText(marker.text);
        require(marker.timeUs >= last);
        last = marker.timeUs;
    }
    last = 0;
    std::size_t letters = 0;
    for (const auto &syllable : text.lyrics) {
        requireText(syllable.text);
        require(!syllable.text.empty() && syllable.timeUs >= last);
        last = syllable.timeUs;
        letters += syllable.text.size();
    }
    const std::string all = tunedeck::lyricsText(text);
    requireText(all, true);
    require(all.size() >= letters);
    for (const std::int64_t at : { std::int64_t { -1 }, std::int64_t { 0 }, last / 2, last }) {
        const tunedeck::LyricLine line = tunedeck::lyricLineAt(text, at);
        require(all.find(line.sung + line.rest) != std::string::npos);
        require(text.lyrics.empty() || line.first < text.lyrics.size());
    }
    return 0;
}

#include "tunedeck/SongText.h"

#include "MidiText.h"

#include <algorithm>
#include <array>
#include <map>

namespace tunedeck {

namespace {

// Windows-1252's bytes 0x80..0x9F; 0 where the code page leaves a byte undefined.
constexpr std::array<char16_t, 32> kWindows1252High = { 0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026,
    0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C,
    0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178 };

// The length of the UTF-8 sequence starting at `at`, or 0 when it is not a valid one (overlong
// forms, surrogates and code points beyond U+10FFFF are not).
std::size_t utf8SequenceAt(std::span<const std::uint8_t> bytes, std::size_t at)
{
    const std::uint8_t lead = bytes[at];
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    if (bytes[at + 1] < low || bytes[at + 1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (bytes[at + i] < 0x80 || bytes[at + i] > 0xBF)
            return 0;
    }
    return length;
}

bool isValidUtf8(std::span<const std::uint8_t> bytes)
{
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = utf8SequenceAt(bytes, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

void appendUtf8(std::string &out, char32_t code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | code >> 6);
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xE0 | code >> 12);
        out += char(0x80 | (code >> 6 & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

bool isDropped(std::uint8_t byte)
{
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
}

bool startsLine(const SongText &text, std::size_t index)
{
    return index == 0 || text.lyrics[index].lineStart || text.lyrics[index].paragraphStart;
}

std::string joined(const SongText &text, std::size_t from, std::size_t to)
{
    std::string line;
    for (std::size_t i = from; i < to; ++i)
        line += text.lyrics[i].text;
    return line;
}

std::string trimmed(std::string text)
{
    const auto space = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && space(text.back()))
        text.pop_back();
    const auto first = std::find_if_not(text.begin(), text.end(), space);
    text.erase(text.begin(), first);
    return text;
}

constexpr std::uint8_t kMetaText = 0x01;
constexpr std::uint8_t kMetaCopyright = 0x02;
constexpr std::uint8_t kMetaLyric = 0x05;
constexpr std::uint8_t kMetaMarker = 0x06;
constexpr std::string_view kKaraokeHeader = "@KMIDI KARAOKE FILE";

// Gathers syllables with their line marks: '/' or a line feed before a syllable starts a line,
// '\' a paragraph; a line feed after one starts a line with the next.
class SyllableList {
public:
    void add(std::span<const std::uint8_t> bytes, std::int64_t timeUs)
    {
        while (!bytes.empty()
            && (bytes.front() == '/' || bytes.front() == '\\' || bytes.front() == '\r'
                || bytes.front() == '\n')) {
            (bytes.front() == '\\' ? m_paragraph : m_line) = true;
            bytes = bytes.subspan(1);
        }
        bool lineAfter = false;
        while (
            !bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n' || bytes.back() == 0)) {
            lineAfter = lineAfter || bytes.back() != 0;
            bytes = bytes.first(bytes.size() - 1);
        }
        std::string text = textFromBytes(bytes);
        if (!text.empty()) {
            m_syllables.push_back({ timeUs, std::move(text), m_line, m_paragraph });
            m_line = m_paragraph = false;
        }
        m_line = m_line || lineAfter;
    }
    bool empty() const { return m_syllables.empty(); }
    std::size_t size() const { return m_syllables.size(); }
    std::vector<Syllable> take() { return std::move(m_syllables); }

private:
    std::vector<Syllable> m_syllables;
    bool m_line = false;
    bool m_paragraph = false;
};

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view prefix)
{
    return bytes.size() >= prefix.size()
        && std::equal(prefix.begin(), prefix.end(), bytes.begin(),
            [](char a, std::uint8_t b) { return std::uint8_t(a) == b; });
}

} // namespace

std::string textFromBytes(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty() && bytes.back() == 0)
        bytes = bytes.first(bytes.size() - 1);
    std::string text;
    text.reserve(bytes.size());
    if (isValidUtf8(bytes)) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            // C1 controls (U+0080 to U+009F) start escape sequences in some terminals.
            if (bytes[i] == 0xC2 && i + 1 < bytes.size() && bytes[i + 1] < 0xA0)
                ++i;
            else if (!isDropped(bytes[i]))
                text += char(bytes[i]);
        }
        return text;
    }
    for (std::uint8_t byte : bytes) {
        if (byte >= 0x80 && byte < 0xA0) {
            if (const char16_t code = kWindows1252High[byte - 0x80])
                appendUtf8(text, code);
        } else if (!isDropped(byte)) {
            appendUtf8(text, byte);
        }
    }
    return text;
}

std::string lyricsText(const SongText &text)
{
    std::string all;
    for (std::size_t i = 0; i < text.lyrics.size(); ++i) {
        if (i > 0 && text.lyrics[i].paragraphStart)
            all += "\n\n";
        else if (i > 0 && text.lyrics[i].lineStart)
            all += '\n';
        all += text.lyrics[i].text;
    }
    return all;
}

LyricLine lyricLineAt(const SongText &text, std::int64_t timeUs)
{
    const auto &lyrics = text.lyrics;
    if (lyrics.empty())
        return {};
    const auto after = std::upper_bound(lyrics.begin(), lyrics.end(), timeUs,
        [](std::int64_t time, const Syllable &syllable) { return time < syllable.timeUs; });
    const auto sung = static_cast<std::size_t>(after - lyrics.begin());
    std::size_t first = sung == 0 ? 0 : sung - 1;
    while (!startsLine(text, first))
        --first;
    std::size_t end = std::max(first + 1, sung);
    while (end < lyrics.size() && !startsLine(text, end))
        ++end;
    return { joined(text, first, sung), joined(text, std::max(first, sung), end), first };
}

// Track names, copyright and markers come from meta events; the lyrics from lyric events, or
// in a karaoke file (.kar) from the text events after its header on one track (the one with the
// most: other tracks' text events are about their parts), where "@T" lines give the title and
// then the artist and other '@' lines are about the file.
SongText readMidiText(const MidiFile &file, const MidiEvent *firstTrackName,
    std::span<const std::uint32_t> trackPayloads)
{
    SongText text;
    if (firstTrackName)
        text.title = trimmed(textFromBytes(file.payloadOf(*firstTrackName)));
    bool karaoke = false;
    int titleLines = 0;
    std::map<std::size_t, SyllableList> fromText; // by track
    const auto trackOf = [trackPayloads](const MidiEvent &event) { // numbered from 1
        const auto after = std::upper_bound(trackPayloads.begin(), trackPayloads.end(), event.ref);
        return std::size_t(after - trackPayloads.begin());
    };
    SyllableList fromLyrics;
    for (const MidiEvent &event : file.events()) {
        if (!event.isMeta())
            continue;
        const auto bytes = file.payloadOf(event);
        switch (event.metaType) {
        case kMetaText:
            if (startsWith(bytes, kKaraokeHeader)) {
                karaoke = true;
            } else if (karaoke && startsWith(bytes, "@")) {
                if (startsWith(bytes, "@T") && titleLines < 2) {
                    std::string line = trimmed(textFromBytes(bytes.subspan(2)));
                    if (!line.empty())
                        (titleLines++ == 0 ? text.title : text.artist) = std::move(line);
                }
            } else if (karaoke) {
                fromText[trackOf(event)].add(bytes, file.timeUsOf(event));
            }
            break;
        case kMetaCopyright:
            if (text.copyright.empty())
                text.copyright = trimmed(textFromBytes(bytes));
            break;
        case kMetaLyric:
            fromLyrics.add(bytes, file.timeUsOf(event));
            break;
        case kMetaMarker:
            text.markers.push_back({ file.timeUsOf(event), trimmed(textFromBytes(bytes)) });
            break;
        default:
            break;
        }
    }
    SyllableList *words = nullptr;
    for (auto &[track, syllables] : fromText) {
        if (!syllables.empty() && (!words || syllables.size() > words->size()))
            words = &syllables;
    }
    text.lyrics = words ? words->take() : fromLyrics.take();
    return text;
}

} // namespace tunedeck

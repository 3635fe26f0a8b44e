#include "tunedeck/SongText.h"

#include "MidiText.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

#include <iconv.h>

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

// A conversion from Windows' code page 932 to UTF-8, one per thread, opened when first needed.
class FromShiftJis {
public:
    ~FromShiftJis()
    {
        if (m_cd != iconv_t(-1))
            iconv_close(m_cd);
    }

    // `bytes` as UTF-8, or nothing when they are not Shift-JIS (or the C library cannot convert).
    std::optional<std::string> convert(std::span<const std::uint8_t> bytes)
    {
        if (m_cd == iconv_t(-1))
            m_cd = iconv_open("UTF-8", "CP932");
        if (m_cd == iconv_t(-1))
            return std::nullopt;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        std::string out(bytes.size() * 3 + 4, '\0'); // a half-width kana takes three
        auto *in = reinterpret_cast<char *>(const_cast<std::uint8_t *>(bytes.data()));
        std::size_t inLeft = bytes.size();
        char *to = out.data();
        std::size_t outLeft = out.size();
        if (iconv(m_cd, &in, &inLeft, &to, &outLeft) == std::size_t(-1))
            return std::nullopt;
        out.resize(out.size() - outLeft);
        return out;
    }

private:
    iconv_t m_cd = iconv_t(-1);
};

std::optional<std::string> fromShiftJis(std::span<const std::uint8_t> bytes)
{
    thread_local FromShiftJis conversion;
    return conversion.convert(bytes);
}

// Whether `bytes` are Shift-JIS (single bytes and lead-trail pairs), and how many full-width
// hiragana and katakana they hold: Japanese words seldom lack them, and Windows-1252 text
// hardly ever forms one (its 0x82 and 0x83 are a low quote and the florin sign, which no letter
// follows). Kanji and half-width katakana alone tell nothing: accented letters form them too.
struct ShiftJisScan {
    bool valid = true;
    int kana = 0;
};
ShiftJisScan scanShiftJis(std::span<const std::uint8_t> bytes)
{
    ShiftJisScan scan;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        const std::uint8_t lead = bytes[at];
        if (lead < 0x80 || (lead >= 0xA1 && lead <= 0xDF))
            continue; // ASCII, half-width katakana
        const bool leads = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
        const std::uint8_t trail = at + 1 < bytes.size() ? bytes[at + 1] : 0;
        if (!leads || trail < 0x40 || trail == 0x7F || trail > 0xFC)
            return { false, 0 };
        scan.kana
            += (lead == 0x82 && trail >= 0x9F && trail <= 0xF1) || (lead == 0x83 && trail <= 0x96);
        ++at;
    }
    return scan;
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

// Gathers syllables with their line marks: '/' or a line break before a syllable starts a line,
// '\' a paragraph; a line break after one, or inside it, starts a line with what follows. A
// syllable that another track already has at the same time (a copy of the words beside the
// melody) is not added again.
class SyllableList {
public:
    void add(std::span<const std::uint8_t> bytes, std::int64_t timeUs, CodePage page,
        std::size_t track = 0)
    {
        for (;;) {
            const auto lineEnd = std::find_if(bytes.begin(), bytes.end(),
                [](std::uint8_t byte) { return byte == '\r' || byte == '\n'; });
            addPiece(bytes.first(std::size_t(lineEnd - bytes.begin())), timeUs, page, track);
            if (lineEnd == bytes.end())
                return;
            m_line = true;
            bytes = bytes.subspan(std::size_t(lineEnd - bytes.begin()) + 1);
        }
    }
    bool empty() const { return m_syllables.empty(); }
    std::size_t size() const { return m_syllables.size(); }
    std::vector<Syllable> take() { return std::move(m_syllables); }

private:
    void addPiece(
        std::span<const std::uint8_t> bytes, std::int64_t timeUs, CodePage page, std::size_t track)
    {
        bool line = m_line;
        bool paragraph = m_paragraph;
        while (!bytes.empty() && (bytes.front() == '/' || bytes.front() == '\\')) {
            (bytes.front() == '\\' ? paragraph : line) = true;
            bytes = bytes.subspan(1);
        }
        std::string text = textFromBytes(bytes, page);
        if (text.empty()) {
            m_line = line;
            m_paragraph = paragraph;
            return;
        }
        for (auto at = m_syllables.size(); at > 0 && m_syllables[at - 1].timeUs == timeUs; --at) {
            if (m_tracks[at - 1] != track && m_syllables[at - 1].text == text)
                return;
        }
        m_syllables.push_back({ timeUs, std::move(text), line, paragraph });
        m_tracks.push_back(track);
        m_line = m_paragraph = false;
    }

    std::vector<Syllable> m_syllables;
    std::vector<std::size_t> m_tracks; // each syllable's
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

std::string textFromBytes(std::span<const std::uint8_t> bytes, CodePage page)
{
    while (!bytes.empty() && bytes.back() == 0)
        bytes = bytes.first(bytes.size() - 1);
    // A UTF-8 byte-order mark says nothing a reader sees, before UTF-8 text or any other.
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        bytes = bytes.subspan(3);
    std::string text;
    text.reserve(bytes.size());
    std::optional<std::string> converted;
    if (page == CodePage::ShiftJis && !isValidUtf8(bytes)) {
        converted = fromShiftJis(bytes);
        if (converted
            && isValidUtf8(
                { reinterpret_cast<const std::uint8_t *>(converted->data()), converted->size() }))
            bytes
                = { reinterpret_cast<const std::uint8_t *>(converted->data()), converted->size() };
    }
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

namespace {

// The code page of the song's text events and of `info`'s texts (see codePageOf()).
CodePage codePageOf(const MidiFile &song, const RiffInfo &info)
{
    int kana = 0;
    // Whether `bytes` may be Shift-JIS (counting its kana), as far as they tell.
    const auto mayBeShiftJis = [&kana](std::span<const std::uint8_t> bytes) {
        if (isValidUtf8(bytes))
            return true;
        const ShiftJisScan scan = scanShiftJis(bytes);
        kana += scan.kana;
        return scan.valid;
    };
    for (const MidiEvent &event : song.events()) {
        if (event.isMeta() && event.metaType >= 0x01 && event.metaType <= 0x07
            && !mayBeShiftJis(song.payloadOf(event)))
            return CodePage::Windows1252;
    }
    for (const auto *stored : { &info.title, &info.artist, &info.copyright }) {
        if (!mayBeShiftJis(*stored))
            return CodePage::Windows1252;
    }
    return kana >= 2 ? CodePage::ShiftJis : CodePage::Windows1252;
}

} // namespace

CodePage codePageOf(const MidiFile &song)
{
    return codePageOf(song, RiffInfo {});
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
// then the artist and other '@' lines are about the file. A file named .kar without the header,
// and without lyric events, has its words in its text events all the same.
SongText readMidiText(const MidiFile &file, const MidiEvent *firstTrackName,
    std::span<const std::uint32_t> trackPayloads, bool karaokeName, const RiffInfo &info)
{
    SongText text;
    const CodePage page = codePageOf(file, info);
    if (firstTrackName)
        text.title = trimmed(textFromBytes(file.payloadOf(*firstTrackName), page));
    bool karaoke = false;
    int titleLines = 0;
    std::map<std::size_t, SyllableList> fromText; // by track
    std::map<std::size_t, SyllableList> unmarked; // by track: a .kar file's, with no header
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
            } else if ((karaoke || karaokeName) && startsWith(bytes, "@")) {
                if (startsWith(bytes, "@T") && titleLines < 2) {
                    std::string line = trimmed(textFromBytes(bytes.subspan(2), page));
                    if (!line.empty())
                        (titleLines++ == 0 ? text.title : text.artist) = std::move(line);
                }
            } else if (karaoke) {
                fromText[trackOf(event)].add(bytes, file.timeUsOf(event), page);
            } else if (karaokeName) {
                unmarked[trackOf(event)].add(bytes, file.timeUsOf(event), page);
            }
            break;
        case kMetaCopyright:
            if (text.copyright.empty())
                text.copyright = trimmed(textFromBytes(bytes, page));
            break;
        case kMetaLyric:
            fromLyrics.add(bytes, file.timeUsOf(event), page, trackOf(event));
            break;
        case kMetaMarker:
            text.markers.push_back({ file.timeUsOf(event), trimmed(textFromBytes(bytes, page)) });
            break;
        default:
            break;
        }
    }
    const auto most = [](std::map<std::size_t, SyllableList> &byTrack) {
        SyllableList *words = nullptr;
        for (auto &[track, syllables] : byTrack) {
            if (!syllables.empty() && (!words || syllables.size() > words->size()))
                words = &syllables;
        }
        return words;
    };
    SyllableList *words = most(fromText);
    if (!words && fromLyrics.empty())
        words = most(unmarked);
    text.lyrics = words ? words->take() : fromLyrics.take();
    for (auto [field, stored] : { std::pair { &text.title, &info.title },
             { &text.artist, &info.artist }, { &text.copyright, &info.copyright } }) {
        if (field->empty())
            *field = trimmed(textFromBytes(*stored, page));
    }
    return text;
}

} // namespace tunedeck

#include "SongTextView.h"

#include "tunedeck/PlayLists.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cwchar>
#include <locale.h>
#include <utility>
#include <vector>
#include <wchar.h>

namespace tdplay {

namespace {

std::string clock(std::int64_t us)
{
    const std::int64_t ms = us / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld.%01lld", static_cast<long long>(ms / 60000),
        static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms / 100 % 10));
    return text;
}

bool startsLine(const tunedeck::Syllable &syllable)
{
    return syllable.lineStart || syllable.paragraphStart;
}

// Calls `each(at, width)` for each character of UTF-8 `text` in turn (`at` its first byte,
// `width` the terminal columns it takes: a Chinese or Japanese character two, a combining mark
// none) until it returns false. Widths are the C.UTF-8 locale's, whatever the program's locale
// is; without it every character takes one.
template<typename Each> void forEachCharacter(const std::string &text, Each each)
{
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t {});
    const locale_t before = utf8 ? ::uselocale(utf8) : locale_t {};
    std::mbstate_t state {};
    std::size_t at = 0;
    while (at < text.size()) {
        wchar_t character = 0;
        std::size_t length
            = utf8 ? std::mbrtowc(&character, text.data() + at, text.size() - at, &state) : 0;
        int width = 1;
        if (length == 0 || length > text.size() - at) { // no locale, or not UTF-8 here
            length = 1;
            while (at + length < text.size()
                && (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80)
                ++length;
            state = {};
        } else if (const int columns = ::wcwidth(character); columns >= 0) {
            width = columns;
        } // else a character the C library does not know, which a terminal shows in one column
        if (!each(at, width))
            break;
        at += length;
    }
    if (utf8)
        ::uselocale(before);
}

// As much of the start of `text` as fills `columns` terminal columns; `columns` goes down by
// those taken.
std::string firstColumns(const std::string &text, int &columns)
{
    std::size_t end = text.size();
    forEachCharacter(text, [&](std::size_t at, int width) {
        if (width > columns) {
            end = at;
            return false;
        }
        columns -= width;
        return true;
    });
    return text.substr(0, end);
}

// The terminal columns `text` takes.
int widthOf(const std::string &text)
{
    int width = 0;
    forEachCharacter(text, [&width](std::size_t, int columns) {
        width += columns;
        return true;
    });
    return width;
}

// As much of the end of `text` as fills `columns` terminal columns.
std::string lastColumns(const std::string &text, int columns)
{
    std::vector<std::pair<std::size_t, int>> characters;
    forEachCharacter(text, [&characters](std::size_t at, int width) {
        characters.emplace_back(at, width);
        return true;
    });
    std::size_t start = text.size();
    for (auto it = characters.rbegin(); it != characters.rend() && it->second <= columns; ++it) {
        columns -= it->second;
        start = it->first;
    }
    return text.substr(start);
}

} // namespace

std::string shown(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    const auto escape = [&out](unsigned char byte) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(byte));
        out += escaped;
    };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        if (byte == 0xC2 && next >= 0x80 && next < 0xA0) { // a C1 control (U+0080 to U+009F)
            escape(byte);
            escape(next);
            ++i;
        } else if (byte < 0x20 || byte == 0x7F) {
            escape(byte);
        } else {
            out += name[i];
        }
    }
    return out;
}

void printSongText(const tunedeck::SongText &text, const char *file)
{
    const std::string name = text.title.empty() ? shown(file) : text.title;
    std::printf("  title: %s\n", name.c_str());
    if (!text.artist.empty())
        std::printf("  artist: %s\n", text.artist.c_str());
    if (!text.copyright.empty())
        std::printf("  copyright: %s\n", text.copyright.c_str());
    for (const tunedeck::Marker &marker : text.markers)
        std::printf("  marker %s: %s\n", clock(marker.timeUs).c_str(), marker.text.c_str());
    std::string line;
    std::int64_t lineUs = 0;
    const auto flush = [&line, &lineUs] {
        if (!line.empty())
            std::printf("  lyrics %s: %s\n", clock(lineUs).c_str(), line.c_str());
        line.clear();
    };
    for (std::size_t i = 0; i < text.lyrics.size(); ++i) {
        if (i == 0 || startsLine(text.lyrics[i])) {
            flush();
            lineUs = text.lyrics[i].timeUs;
        }
        line += text.lyrics[i].text;
    }
    flush();
    if (!text.note.empty())
        std::printf("  note: %s\n", text.note.c_str());
}

std::string karaokeLine(const tunedeck::SongText &text, std::uint32_t positionMs, int columns)
{
    if (text.lyrics.empty())
        return {};
    tunedeck::LyricLine line = tunedeck::lyricLineAt(text, std::int64_t { positionMs } * 1000);
    // A tab would take the terminal to its next stop, as wide as it happens to be there.
    std::replace(line.sung.begin(), line.sung.end(), '\t', ' ');
    std::replace(line.rest.begin(), line.rest.end(), '\t', ' ');
    const int room = columns - 1;
    const int sungWidth = widthOf(line.sung);
    if (sungWidth + widthOf(line.rest) <= room)
        return "\x1b[1m" + line.sung + "\x1b[0m" + line.rest;
    // Too wide: the words being sung stay in sight. What is to come takes the columns the part
    // sung leaves, and half of them at least; the part sung gives way from its start to "...".
    int restLeft = std::max(room - sungWidth, room / 2);
    const int restRoom = restLeft;
    const std::string rest = firstColumns(line.rest, restLeft);
    const int sungRoom = room - (restRoom - restLeft);
    const std::string sung = sungWidth <= sungRoom ? line.sung
        : sungRoom > 3                             ? "..." + lastColumns(line.sung, sungRoom - 3)
                                                   : lastColumns(line.sung, sungRoom);
    return "\x1b[1m" + sung + "\x1b[0m" + rest;
}

std::string statusLine(const std::string &name, const std::string &tail, int columns)
{
    const int room = columns - 1;
    int left = room;
    if (std::string line = firstColumns(name + tail, left);
        line.size() == name.size() + tail.size())
        return line;
    left = room - 3;
    const std::string end = firstColumns(tail, left);
    if (end.size() < tail.size() || left <= 0)
        return end;
    return "..." + lastColumns(name, left) + tail;
}

int terminalColumns()
{
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        return size.ws_col;
    return 80;
}

std::vector<std::string> expandPlayLists(std::span<const char *const> names, bool &failed)
{
    std::vector<std::string> files;
    for (const char *name : names) {
        if (!tunedeck::playlists::formatOf(name)) {
            files.emplace_back(name);
            continue;
        }
        std::string why;
        const auto entries = tunedeck::playlists::read(name, &why);
        if (!entries) {
            std::fprintf(stderr, "tdplay: %s: %s\n", shown(name).c_str(), why.c_str());
            failed = true;
            continue;
        }
        if (entries->files.empty() && entries->refused.empty()) {
            std::fprintf(stderr, "tdplay: %s: the list names no file\n", shown(name).c_str());
            failed = true;
        }
        for (const auto &file : entries->files)
            files.push_back(file.string());
        for (const std::string &refused : entries->refused)
            std::fprintf(stderr, "tdplay: %s: %s is no local file\n", shown(name).c_str(),
                shown(refused).c_str());
        if (entries->truncated)
            std::fprintf(stderr, "tdplay: %s: only the first %zu entries are read\n",
                shown(name).c_str(), tunedeck::playlists::kMaxEntries);
        failed = failed || !entries->refused.empty() || entries->truncated;
    }
    return files;
}

} // namespace tdplay

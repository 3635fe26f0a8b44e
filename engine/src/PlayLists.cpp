#include "tunedeck/PlayLists.h"

#include "tunedeck/SongText.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <optional>
#include <queue>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace tunedeck::playlists {

namespace {

using Text = std::string_view;

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool startsWithNoCase(Text text, Text prefix)
{
    return text.size() >= prefix.size()
        && std::equal(prefix.begin(), prefix.end(), text.begin(),
            [](char a, char b) { return lower(a) == lower(b); });
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

Text trimmedFront(Text text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    return text;
}

Text trimmed(Text text)
{
    text = trimmedFront(text);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string percentDecoded(Text text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0
            && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) << 4 | hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Whether `text` is the URI of another scheme than file: a scheme (a letter, then letters,
// digits, '+', '-' or '.'), then "://". As other players do, a name with a colon and no "//"
// after it is a file name ("Bach: Air.mid", "12:30.mid"), and "C:" a drive letter.
bool isOtherUri(Text text)
{
    const std::size_t colon = text.find("://");
    if (colon == Text::npos || colon < 2)
        return false;
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto schemeChar = [&letter](char c) {
        return letter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    };
    return letter(text.front())
        && std::all_of(text.begin(), text.begin() + std::ptrdiff_t(colon), schemeChar);
}

// The local file name `entry` stands for (`uri`: it is a URI reference, as XSPF's are), or none
// for another scheme's URI or another host's file.
std::optional<std::string> localName(Text entry, bool uri)
{
    if (startsWithNoCase(entry, "file:")) {
        Text rest = entry.substr(5);
        if (rest.starts_with("//")) {
            rest.remove_prefix(2);
            // file://host/path: only the local host's names are files here.
            if (!rest.starts_with('/') && !startsWithNoCase(rest, "localhost/"))
                return std::nullopt;
            rest.remove_prefix(rest.find('/'));
        }
        // file:/path, the short form, or the path of file:///path.
        if (!rest.starts_with('/'))
            return std::nullopt;
        return percentDecoded(rest);
    }
    if (isOtherUri(entry))
        return std::nullopt;
    return uri ? percentDecoded(entry) : std::string(entry);
}

class Collector {
public:
    Collector(const std::filesystem::path &folder)
        : m_folder(folder)
    { }

    bool full() const { return m_entries.files.size() + m_entries.refused.size() >= kMaxEntries; }
    // An entry past the limit was met: reading can stop.
    bool truncated() const { return m_entries.truncated; }

    // One entry as written: a file name, or a URI when `uri` (XSPF), starts with "file:" or
    // is another scheme's (see localName()).
    void add(Text entry, bool uri)
    {
        entry = trimmed(entry);
        if (entry.empty())
            return;
        if (full()) {
            m_entries.truncated = true;
            return;
        }
        if (entry.size() > kMaxNameBytes) {
            m_entries.refused.emplace_back(entry.substr(0, 64));
            m_entries.refused.back() += "...";
            return;
        }
        auto name = localName(entry, uri);
        if (!name || name->empty() || name->find('\0') != std::string::npos) {
            m_entries.refused.emplace_back(entry);
            return;
        }
        std::filesystem::path path(std::move(*name));
        m_entries.files.push_back(path.is_absolute() ? path : m_folder / path);
    }

    // Whether `entry` names a local file (see add()).
    static bool local(Text entry, bool uri) { return localName(trimmed(entry), uri).has_value(); }

    Entries take() { return std::move(m_entries); }

private:
    const std::filesystem::path &m_folder;
    Entries m_entries;
};

// Calls `line` for each line of `text` (without its line end) until it returns false. A line
// ends at LF, CR LF or a lone CR (lists written on old Macs); the empty line between a CR and its
// LF is skipped with the other empty lines.
template<typename Fn> void forEachLine(Text text, Fn line)
{
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        if (!line(text.substr(0, end)) || end == Text::npos)
            return;
        text.remove_prefix(end + 1);
    }
}

Text withoutBom(Text text)
{
    return text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text;
}

void parseM3u(Text text, Collector &out)
{
    forEachLine(withoutBom(text), [&out](Text line) {
        line = trimmed(line);
        if (!line.empty() && line.front() != '#')
            out.add(line, false);
        return !out.truncated();
    });
}

// [playlist] FileN=entry lines, in the order of their numbers (N from 1; lines without a number
// keep their place after the numbered ones). Of a list too long, those of the lowest numbers are
// kept, in whatever order the lines come.
void parsePls(Text text, Collector &out)
{
    // (number, line) pairs: the line keeps equal numbers in their order. At most one more than
    // is kept, the highest first to go.
    using Numbered = std::pair<std::pair<unsigned long, std::size_t>, Text>;
    const auto byKey = [](const Numbered &a, const Numbered &b) { return a.first < b.first; };
    std::priority_queue<Numbered, std::vector<Numbered>, decltype(byKey)> lowest(byKey);
    std::size_t lines = 0;
    forEachLine(withoutBom(text), [&](Text line) {
        line = trimmed(line);
        if (!startsWithNoCase(line, "file"))
            return true;
        const std::size_t equals = line.find('=');
        if (equals == Text::npos)
            return true;
        const Text digits = trimmed(line.substr(4, equals - 4));
        unsigned long number = digits.empty() ? ULONG_MAX : 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return true;
            number = std::min<unsigned long>(number * 10 + unsigned(c - '0'), 1'000'000'000);
        }
        lowest.push({ { number, lines++ }, line.substr(equals + 1) });
        if (lowest.size() > kMaxEntries + 1)
            lowest.pop();
        return true;
    });
    std::vector<Text> entries(lowest.size());
    for (auto slot = entries.rbegin(); slot != entries.rend(); ++slot, lowest.pop())
        *slot = lowest.top().second;
    for (const Text entry : entries)
        out.add(entry, false);
}

// XML character references and the five named entities; anything else stays as written.
std::string xmlDecoded(Text text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A reference is short: its end is looked for in the next few bytes only, else a
        // location of ampersands alone takes minutes.
        const std::size_t length = text[i] == '&' ? text.substr(i, 12).find(';') : Text::npos;
        if (length == Text::npos || length > 10) {
            out += text[i];
            continue;
        }
        const std::size_t semicolon = i + length;
        const Text name = text.substr(i + 1, semicolon - i - 1);
        static constexpr std::pair<Text, char> kNamed[]
            = { { "amp", '&' }, { "lt", '<' }, { "gt", '>' }, { "quot", '"' }, { "apos", '\'' } };
        const auto named = std::find_if(std::begin(kNamed), std::end(kNamed),
            [name](const auto &entity) { return entity.first == name; });
        char32_t code = 0;
        bool ok = false;
        if (named != std::end(kNamed)) {
            code = char32_t(named->second);
            ok = true;
        } else if (name.starts_with('#') && name.size() > 1) {
            const bool hex = name.size() > 2 && lower(name[1]) == 'x';
            ok = true;
            for (char c : name.substr(hex ? 2 : 1)) {
                const int digit = hex ? hexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
                ok = ok && digit >= 0;
                code = ok ? std::min<char32_t>(code * (hex ? 16 : 10) + char32_t(digit), 0x110000)
                          : 0;
            }
            ok = ok && code != 0 && code < 0x110000 && (code < 0xD800 || code > 0xDFFF);
        }
        if (!ok) {
            out += text[i];
            continue;
        }
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | code >> 6);
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | code >> 12);
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | code >> 18);
            out += char(0x80 | (code >> 12 & 0x3F));
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
        i = semicolon;
    }
    return out;
}

// Whether `rest` begins with the tag `name` ("<track", "</track"): the name, then '>', '/' or
// white space.
bool startsTag(Text rest, Text name)
{
    if (rest.size() <= name.size() || !rest.starts_with(name))
        return false;
    const char next = rest[name.size()];
    return next == '>' || next == '/' || isSpace(next);
}

// A location's text: references decoded, and CDATA sections taken as they are written.
std::string locationText(Text raw)
{
    std::string out;
    for (;;) {
        const std::size_t cdata = raw.find("<![CDATA[");
        out += xmlDecoded(raw.substr(0, cdata));
        if (cdata == Text::npos)
            return out;
        const std::size_t end = raw.find("]]>", cdata + 9);
        out += raw.substr(cdata + 9, end == Text::npos ? Text::npos : end - cdata - 9);
        if (end == Text::npos)
            return out;
        raw.remove_prefix(end + 3);
    }
}

// Where the tag `name` ("<trackList") first opens outside a comment, or npos.
std::size_t findTag(Text text, Text name)
{
    for (std::size_t at = 0;;) {
        const std::size_t open = text.find('<', at);
        if (open == Text::npos)
            return Text::npos;
        if (text.substr(open).starts_with("<!--")) {
            const std::size_t end = text.find("-->", open + 4);
            if (end == Text::npos)
                return Text::npos;
            at = end + 3;
            continue;
        }
        if (startsTag(text.substr(open), name))
            return open;
        at = open + 1;
    }
}

// The start tag that opens at `open`, up to its '>' (or the end of `text`).
Text startTag(Text text, std::size_t open)
{
    const std::size_t close = text.find('>', open);
    return text.substr(open, close == Text::npos ? Text::npos : close - open);
}

// The value of the attribute `name` in the start tag `tag`, references decoded, or none.
std::optional<std::string> attribute(Text tag, Text name)
{
    for (std::size_t at = tag.find(name); at != Text::npos; at = tag.find(name, at + 1)) {
        if (at == 0 || !isSpace(tag[at - 1]))
            continue;
        Text rest = trimmedFront(tag.substr(at + name.size()));
        if (!rest.starts_with('='))
            continue;
        rest = trimmedFront(rest.substr(1));
        if (rest.empty() || (rest.front() != '"' && rest.front() != '\''))
            continue;
        const std::size_t end = rest.find(rest.front(), 1);
        if (end == Text::npos)
            return std::nullopt;
        return xmlDecoded(rest.substr(1, end - 1));
    }
    return std::nullopt;
}

// `ref`, a URI reference, resolved against the base URI `base` (XML Base: the xml:base of an
// element and of those around it). Dot segments stay: the file system takes them as the same
// folders. With no base, the reference stays as written, so that one naming no file: URI is a
// name beside the list.
std::string resolved(Text base, Text ref)
{
    ref = trimmed(ref);
    base = trimmed(base);
    if (base.empty() || startsWithNoCase(ref, "file:") || isOtherUri(ref))
        return std::string(ref);
    if (ref.empty())
        return std::string(base);
    const bool baseUri = startsWithNoCase(base, "file:") || isOtherUri(base);
    const std::size_t pathAt = !baseUri ? 0
        : base.substr(base.find(':') + 1).starts_with("//")
        ? std::min(base.find('/', base.find(':') + 3), base.size())
        : base.find(':') + 1;
    if (ref.starts_with("//"))
        return std::string(base.substr(0, base.find(':') + 1)) += ref;
    if (ref.starts_with('/'))
        return std::string(base.substr(0, pathAt)) += ref;
    const std::size_t slash = base.rfind('/');
    if (slash != Text::npos && slash >= pathAt)
        return std::string(base.substr(0, slash + 1)) += ref;
    // A base with no path: the reference beside it, at the root of its host if it names one
    // ("http://host" and "a" make "http://host/a").
    std::string joined(base.substr(0, pathAt));
    if (pathAt > 0 && base[pathAt - 1] != ':')
        joined += '/';
    return joined += ref;
}

// One <location> of each <track>, in order: a track's locations name the same song in other
// places, tried in turn, and one song plays once. The first that names a local file is the
// track's; a track with none is refused by its first. A location is taken against the xml:base
// of its own tag, its track's, the track list's and the play list's. Not a full XML reader:
// comments are skipped, the rest is found by its tags, which may hold white space and attributes.
void parseXspf(Text text, Collector &out)
{
    std::size_t at = findTag(text, "<trackList");
    const auto baseOf = [&text](std::size_t open, Text outer) {
        const auto own = attribute(startTag(text, open), "xml:base");
        return own ? resolved(outer, *own) : std::string(outer);
    };
    const std::size_t playlist = findTag(text, "<playlist");
    const std::string listBase = at == Text::npos
        ? std::string()
        : baseOf(at, playlist < at ? baseOf(playlist, {}) : std::string());
    std::string trackBase = listBase;
    bool inTrack = false;
    bool located = false; // the track has had its location
    std::string elsewhere; // the track's first location, if it names no local file
    const auto endTrack = [&] {
        if (inTrack && !located && !elsewhere.empty())
            out.add(elsewhere, true);
        inTrack = false;
        located = false;
        elsewhere.clear();
        trackBase = listBase;
    };
    while (at != Text::npos && !out.truncated()) {
        const std::size_t open = text.find('<', at);
        if (open == Text::npos)
            break;
        const Text rest = text.substr(open);
        if (rest.starts_with("<!--") || rest.starts_with("<![CDATA[")) {
            const std::size_t end = text.find(rest[2] == '-' ? "-->" : "]]>", open);
            at = end == Text::npos ? end : end + 3;
            continue;
        }
        at = open + 1;
        if (startsTag(rest, "<track") || startsTag(rest, "</track")) {
            endTrack();
            inTrack = rest[1] != '/';
            if (inTrack)
                trackBase = baseOf(open, listBase);
            continue;
        }
        if (!startsTag(rest, "<location"))
            continue;
        const std::size_t begin = text.find('>', open);
        if (begin == Text::npos)
            break;
        at = begin + 1;
        if (text[begin - 1] == '/')
            continue; // <location/>: none
        const std::size_t end = text.find("</location", begin);
        const std::size_t close = end == Text::npos ? Text::npos : text.find('>', end);
        if (close == Text::npos)
            break;
        at = close + 1;
        if (located)
            continue;
        std::string location = locationText(text.substr(begin + 1, end - begin - 1));
        if (!trimmed(location).empty())
            location = resolved(baseOf(open, trackBase), location);
        if (!inTrack || Collector::local(location, true)) {
            out.add(location, true);
            located = inTrack;
        } else if (elsewhere.empty()) {
            elsewhere = std::move(location);
        }
    }
    endTrack();
}

} // namespace

std::optional<Format> formatOf(const std::filesystem::path &path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), lower);
    if (extension == ".m3u" || extension == ".m3u8")
        return Format::M3u;
    if (extension == ".pls")
        return Format::Pls;
    if (extension == ".xspf")
        return Format::Xspf;
    return std::nullopt;
}

Entries parse(
    Format format, std::span<const std::uint8_t> bytes, const std::filesystem::path &folder)
{
    const Text text(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    Collector out(folder);
    switch (format) {
    case Format::M3u:
        parseM3u(text, out);
        break;
    case Format::Pls:
        parsePls(text, out);
        break;
    case Format::Xspf:
        parseXspf(text, out);
        break;
    }
    return out.take();
}

std::optional<Entries> read(const std::filesystem::path &path, std::string *why)
{
    const auto fail = [why](std::string reason) -> std::optional<Entries> {
        if (why)
            *why = std::move(reason);
        return std::nullopt;
    };
    const auto format = formatOf(path);
    if (!format)
        return fail("not a play list by its name");
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return fail("not a readable file");
    const auto listed = std::filesystem::file_size(path, error);
    if (!error && listed > kMaxBytes)
        return fail("larger than any play list can be");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail("cannot be opened");
    // Read in blocks up to one byte past the limit, whatever size the file is listed with.
    constexpr std::size_t kBlockBytes = 64 * 1024;
    std::string bytes;
    std::size_t got = 0;
    while (in && got <= kMaxBytes) {
        bytes.resize(got + kBlockBytes);
        in.read(bytes.data() + got, std::streamsize(kBlockBytes));
        got += std::size_t(in.gcount());
    }
    if (in.bad())
        return fail("cannot be read");
    bytes.resize(got);
    if (got > kMaxBytes)
        return fail("larger than any play list can be");
    if (bytes.find('\0') != std::string::npos)
        return fail("not text");
    std::filesystem::path folder = std::filesystem::absolute(path, error).parent_path();
    Entries entries = parse(
        *format, { reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size() }, folder);
    // Lists written on Windows separate folders with backslashes, which are part of a name here,
    // and an .m3u from there is in the Windows code page: an entry that names no file as written
    // is read with slashes for the backslashes, then as Windows-1252 text (where it is not
    // UTF-8), where that names one. Only what the list wrote is read again: the list's own
    // folder, in front of a relative entry, is named as the file system names it.
    const std::string within = (folder / "").string();
    for (std::filesystem::path &file : entries.files) {
        if (std::filesystem::exists(file, error))
            continue;
        const std::string whole = file.string();
        const std::size_t from = whole.starts_with(within) ? within.size() : 0;
        const std::string folderPart = whole.substr(0, from);
        const std::string written = whole.substr(from);
        std::string slashed = written;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        // Only bytes past ASCII are read again; the decoding would also drop control characters.
        const bool eightBit = std::any_of(slashed.begin(), slashed.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80;
        }) && std::none_of(slashed.begin(), slashed.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20;
        });
        std::vector<std::string> candidates;
        if (slashed != written)
            candidates.push_back(folderPart + slashed);
        if (eightBit)
            candidates.push_back(folderPart
                + textFromBytes(
                    { reinterpret_cast<const std::uint8_t *>(slashed.data()), slashed.size() }));
        for (std::string &candidate : candidates) {
            if (std::filesystem::exists(candidate, error)) {
                file = std::move(candidate);
                break;
            }
        }
    }
    return entries;
}

} // namespace tunedeck::playlists

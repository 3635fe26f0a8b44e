#include "keysweep/Hive.h"

#include "keysweep/KeyName.h"

#include <algorithm>
#include <cstdio>

namespace keysweep {

namespace {

// FILETIME counts 100 ns ticks from 1601; Unix time counts from 1970.
constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000;
constexpr std::int64_t kTicksPerSecond = 10000000;
// The longest level of a key's name the loader takes, in UTF-16 units.
constexpr std::size_t kMaxLevelLength = 256;

// Wine's loader skips leading white space (isspace) before it looks at a line.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// isspace() in the C locale, as the loader reads values.
bool isSpace(char c)
{
    return isBlank(c) || c == '\n';
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::size_t skipSpaces(std::string_view text, std::size_t at)
{
    while (at < text.size() && isSpace(text[at]))
        ++at;
    return at;
}

// Whether hex data read from `at` in `line` goes on to the next line, as Wine's loader reads it:
// bytes of hex digits (strtoul's, so "0x" may start one), each followed by white space, a comma
// or both, then a backslash, after white space; whatever follows the backslash is not read.
// Data that ends in anything but the line's end is refused with its value, and goes on no
// further; so is a byte over 0xff.
bool hexGoesOn(std::string_view line, std::size_t at)
{
    while (at < line.size() && isHexDigit(line[at])) {
        if (line[at] == '0' && at + 2 < line.size() && (line[at + 1] == 'x' || line[at + 1] == 'X')
            && isHexDigit(line[at + 2]))
            at += 2;
        unsigned value = 0;
        for (; at < line.size() && isHexDigit(line[at]); ++at) {
            value = value * 16
                + unsigned(line[at] <= '9' ? line[at] - '0' : (line[at] | 0x20) - 'a' + 10);
            if (value > 0xff)
                return false;
        }
        at = skipSpaces(line, at);
        if (at < line.size() && line[at] == ',')
            at = skipSpaces(line, at + 1);
    }
    at = skipSpaces(line, at);
    return at < line.size() && line[at] == '\\';
}

// Whether `line` (from its first non-blank character, its line end cut), a value of a key, holds
// hex data that goes on to the next line: "name" or @, '=' (white space around it), "hex:" or
// "hex(type):", then the bytes. Wine then reads the next line as more of that data, whatever it
// holds.
bool hexValueGoesOn(std::string_view line)
{
    std::size_t at = 1;
    if (line.starts_with('"')) {
        while (at < line.size() && line[at] != '"')
            at += line[at] == '\\' ? 2 : 1;
        ++at; // past the closing quote
    } else if (!line.starts_with('@')) {
        return false;
    }
    at = skipSpaces(line, at);
    if (at >= line.size() || line[at] != '=')
        return false;
    at = skipSpaces(line, at + 1);
    const std::string_view data = line.substr(at);
    if (data.starts_with("hex:"))
        return hexGoesOn(line, at + 4);
    if (!data.starts_with("hex("))
        return false;
    // The type as strtoul reads it (white space, a sign, "0x", digits), then "):".
    std::size_t end = skipSpaces(line, at + 4);
    if (end < line.size() && (line[end] == '+' || line[end] == '-'))
        ++end;
    if (end + 2 < line.size() && line[end] == '0' && (line[end + 1] | 0x20) == 'x'
        && isHexDigit(line[end + 2]))
        end += 2;
    const std::size_t digits = end;
    while (end < line.size() && isHexDigit(line[end]))
        ++end;
    if (end == digits)
        end = at + 4; // no number: strtoul reads nothing
    return line.substr(end).starts_with("):") && hexGoesOn(line, end + 2);
}

} // namespace

Result<std::unique_ptr<Hive>> Hive::parse(std::string bytes)
{
    std::unique_ptr<Hive> hive(new Hive);
    hive->m_bytes = std::move(bytes);
    const std::string_view text = hive->m_bytes;

    const std::size_t firstEnd = std::min(text.find('\n'), text.size());
    std::string_view first = text.substr(0, firstEnd);
    if (!first.empty() && first.back() == '\r') {
        first.remove_suffix(1);
        hive->m_lineEnd = "\r\n";
    }
    if (first != kHiveHeader)
        return Error { Error::Code::NotAHive, {} };
    hive->m_keys.emplace_back(); // the root

    // A section runs from the end of the last non-blank line before its header (so the blank
    // lines before a header are its own) to the end of its own last non-blank line.
    std::size_t contentEnd = std::min(firstEnd + 1, text.size());
    bool continued = false; // the line before was hex data going on to this one
    bool inKey = false; // the last header named a key the loader takes (its values are read)
    for (std::size_t lineStart = contentEnd; lineStart < text.size();) {
        const std::size_t lineEnd = std::min(text.find('\n', lineStart), text.size());
        const std::size_t next = std::min(lineEnd + 1, text.size());
        std::size_t firstChar = lineStart;
        while (firstChar < lineEnd && isBlank(text[firstChar]))
            ++firstChar;
        std::string_view line = text.substr(firstChar, lineEnd - firstChar);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const bool header = !continued && line.starts_with('[');
        continued = continued ? hexGoesOn(line, 0) : inKey && hexValueGoesOn(line);
        if (header) {
            if (!hive->m_sections.empty())
                hive->m_sections.back().chunkEnd = contentEnd;
            HiveKey *key
                = hive->keyFor(text.substr(firstChar + 1, lineEnd - firstChar - 1), firstChar + 1);
            inKey = key != nullptr;
            if (key != nullptr)
                key->sections.push_back(hive->m_sections.size());
            hive->m_sections.push_back(Section { contentEnd, next, key });
        }
        if (firstChar < lineEnd)
            contentEnd = next;
        lineStart = next;
    }
    if (!hive->m_sections.empty())
        hive->m_sections.back().chunkEnd = contentEnd;

    for (HiveKey &key : hive->m_keys) {
        std::sort(key.children.begin(), key.children.end(),
            [](const HiveKey *a, const HiveKey *b) { return a->lowered < b->lowered; });
    }
    return hive;
}

// The key a header names (the text after its '[', found at `offset` in the file), created with
// any missing level; null for a header the loader rejects. Empty levels are skipped, as Wine
// skips them, so a header that names no level at all is the root's.
HiveKey *Hive::keyFor(std::string_view header, std::size_t offset)
{
    auto path = decodeKeyPath(header, ']');
    if (!path)
        return nullptr;
    HiveKey *key = root();
    for (PathComponent &component : path->components) {
        // The loader refuses the key at a level longer than this, after the levels before it.
        if (component.name.size() > kMaxLevelLength)
            return nullptr;
        std::u16string lowered = lowerCase(component.name);
        if (const auto found = key->byLoweredName.find(lowered);
            found != key->byLoweredName.end()) {
            key = found->second;
            continue;
        }
        HiveKey &created = m_keys.emplace_back();
        created.name = std::move(component.name);
        created.lowered = lowered;
        created.parent = key;
        created.rawOffset = offset + component.rawBegin;
        created.rawLength = component.rawEnd - component.rawBegin;
        key->children.push_back(&created);
        key->byLoweredName.emplace(std::move(lowered), &created);
        key = &created;
    }
    return key;
}

HiveKey *Hive::child(const HiveKey *parent, std::u16string_view name) const
{
    const auto found = parent->byLoweredName.find(lowerCase(name));
    return found == parent->byLoweredName.end() ? nullptr : found->second;
}

bool Hive::remove(HiveKey *key)
{
    if (key == nullptr || key->parent == nullptr || key->removed || !key->children.empty())
        return false;
    key->removed = true;
    std::size_t anchor = key->removedAnchor;
    for (const std::size_t index : key->sections) {
        m_sections[index].removed = true;
        anchor = std::min(anchor, m_sections[index].chunkBegin);
    }
    HiveKey *parent = key->parent;
    // The tree is taken apart from the highest index down, so the key is usually the last one.
    const auto found = std::find(parent->children.rbegin(), parent->children.rend(), key);
    parent->children.erase(std::next(found).base());
    parent->byLoweredName.erase(key->lowered);
    parent->removedAnchor = std::min(parent->removedAnchor, anchor);
    m_touchedParents.push_back(parent);
    m_changed = true;
    return true;
}

std::string Hive::bareSection(
    const HiveKey *key, std::chrono::system_clock::time_point writeTime) const
{
    std::vector<std::string_view> levels;
    for (const HiveKey *level = key; level->parent != nullptr; level = level->parent)
        levels.push_back(std::string_view(m_bytes).substr(level->rawOffset, level->rawLength));
    std::string path;
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
        if (!path.empty())
            path += "\\\\";
        path += *level;
    }

    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, kTicksPerSecond>>;
    const std::int64_t unixTicks
        = std::chrono::duration_cast<Ticks>(writeTime.time_since_epoch()).count();
    const std::int64_t fileTime = unixTicks + kTicksFrom1601To1970;
    const std::int64_t seconds = unixTicks >= 0
        ? unixTicks / kTicksPerSecond
        : -((-unixTicks + kTicksPerSecond - 1) / kTicksPerSecond);
    char hex[32];
    std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(fileTime));

    std::string section(m_lineEnd);
    section += '[';
    section += path;
    section += "] ";
    section += std::to_string(seconds);
    section += m_lineEnd;
    section += "#time=";
    section += hex;
    section += m_lineEnd;
    return section;
}

std::string Hive::serialize(std::chrono::system_clock::time_point writeTime) const
{
    // A parent that kept neither a section nor a sub-key would vanish when Wine loads the file;
    // a bare section keeps it, written where its removed sub-tree began.
    std::vector<HiveKey *> parents = m_touchedParents;
    std::sort(parents.begin(), parents.end());
    parents.erase(std::unique(parents.begin(), parents.end()), parents.end());
    std::vector<std::pair<std::size_t, std::string>> inserts;
    for (const HiveKey *parent : parents) {
        if (!parent->removed && parent->parent != nullptr && parent->sections.empty()
            && parent->children.empty() && parent->removedAnchor != SIZE_MAX)
            inserts.emplace_back(parent->removedAnchor, bareSection(parent, writeTime));
    }
    std::sort(inserts.begin(), inserts.end());

    const std::string_view text = m_bytes;
    std::string out;
    out.reserve(text.size());
    std::size_t cursor = 0;
    std::size_t nextInsert = 0;
    for (const Section &section : m_sections) {
        if (!section.removed)
            continue;
        if (section.chunkBegin > cursor)
            out += text.substr(cursor, section.chunkBegin - cursor);
        while (nextInsert < inserts.size() && inserts[nextInsert].first <= section.chunkBegin)
            out += inserts[nextInsert++].second;
        cursor = section.chunkEnd;
    }
    while (nextInsert < inserts.size())
        out += inserts[nextInsert++].second;
    if (cursor < text.size())
        out += text.substr(cursor);
    return out;
}

} // namespace keysweep

#include "keysweep/Hive.h"

#include "keysweep/KeyName.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace keysweep {

namespace {

// FILETIME counts 100 ns ticks from 1601; Unix time counts from 1970.
constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000;
constexpr std::int64_t kTicksPerSecond = 10000000;

// Keys are made in blocks of this many, so a hive of many keys costs few allocations.
constexpr std::size_t kKeysPerBlock = 1024;

// Windows allows keys 512 levels deep. A header naming a deeper key is left to no key, which
// also bounds the depth of every walk over the tree (the deletion recurses once per level).
constexpr std::size_t kMaxDepth = 512;

// Wine's loader skips leading white space (isspace) before it looks at a line.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Where the last line with a non-blank character before `at` ends (just past its line end), or
// `floor` when there is none after it. `at` is the start of a line or the end of the text; the
// blank lines before a header belong to that header's section.
std::size_t endOfContentBefore(std::string_view text, std::size_t at, std::size_t floor)
{
    std::size_t end = at;
    while (end > floor) {
        std::size_t i = text[end - 1] == '\n' ? end - 1 : end;
        while (i > floor && isBlank(text[i - 1]))
            --i;
        if (i > floor && text[i - 1] != '\n')
            return end;
        end = i;
    }
    return floor;
}

std::size_t hashOf(const HiveKey *parent, std::u16string_view folded)
{
    std::size_t hash = std::hash<std::u16string_view> {}(folded);
    hash ^= std::hash<const void *> {}(parent) + 0x9e3779b97f4a7c15u + (hash << 6) + (hash >> 2);
    return hash;
}

// Finds a key by parent and folded name while the file is read: open addressing over the keys
// themselves, so an entry costs one pointer and the index frees in one piece.
class KeyIndex {
public:
    explicit KeyIndex(std::size_t expected)
    {
        std::size_t size = 64;
        while (size < expected * 2)
            size <<= 1;
        m_slots.assign(size, Slot {});
    }

    HiveKey *find(const HiveKey *parent, std::u16string_view folded, std::size_t hash) const
    {
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot &slot = m_slots[i];
            if (slot.key == nullptr)
                return nullptr;
            if (slot.hash == hash && slot.key->parent == parent && slot.key->folded == folded)
                return slot.key;
        }
    }

    void insert(HiveKey *key, std::size_t hash)
    {
        if ((m_count + 1) * 2 > m_slots.size()) {
            std::vector<Slot> old(m_slots.size() * 2, Slot {});
            old.swap(m_slots);
            for (const Slot &moved : old) {
                if (moved.key != nullptr)
                    place(moved.key, moved.hash);
            }
        }
        place(key, hash);
        ++m_count;
    }

private:
    void place(HiveKey *key, std::size_t hash)
    {
        const std::size_t mask = m_slots.size() - 1;
        std::size_t i = hash & mask;
        while (m_slots[i].key != nullptr)
            i = (i + 1) & mask;
        m_slots[i] = Slot { hash, key };
    }

    // The hash is kept so a probe rarely has to look at a key itself.
    struct Slot {
        std::size_t hash = 0;
        HiveKey *key = nullptr;
    };
    std::vector<Slot> m_slots; // a power of two long, at most half full
    std::size_t m_count = 0;
};

bool foldedLess(const HiveKey *a, const HiveKey *b)
{
    return a->folded < b->folded;
}

// The length toUtf8 would give, without building the string.
std::size_t utf8Length(std::u16string_view units)
{
    std::size_t length = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit < 0x80)
            length += 1;
        else if (unit < 0x800)
            length += 2;
        else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00
            && units[i + 1] <= 0xDFFF) {
            length += 4;
            ++i;
        } else
            length += 3;
    }
    return length;
}

} // namespace

Result<std::unique_ptr<Hive>> Hive::parse(std::string_view bytes, std::span<const std::u16string> focus)
{
    return parse(Bytes::copyOf(bytes), focus);
}

Result<std::unique_ptr<Hive>> Hive::parse(Bytes bytes, std::span<const std::u16string> focus)
{
    std::unique_ptr<Hive> hive(new Hive);
    hive->m_bytes = std::move(bytes);
    const std::string_view text = hive->m_bytes.view();

    const std::size_t firstEnd = text.find('\n');
    std::string_view first = text.substr(0, firstEnd);
    if (!first.empty() && first.back() == '\r') {
        first.remove_suffix(1);
        hive->m_lineEnd = "\r\n";
    }
    if (first != kHiveHeader)
        return Error { Error::Code::NotAHive, {} };

    HiveKey *const root = &hive->newKey();
    // Sized for one key per section of ten lines or so, and grown when there are more: a table
    // much larger than the keys would spread its lookups over memory the caches do not hold.
    KeyIndex known(text.size() / 1024);
    DecodedPath path; // reused for every header

    // Sections come grouped by path, so a header mostly repeats the previous one's first levels
    // byte for byte. Those levels are taken from the previous header's chain of keys; only the
    // text after them is decoded, folded and looked up. A level boundary is a clean cut for the
    // decoder: the separator before it ends any escape.
    std::string_view lastHeader;
    std::vector<std::size_t> lastBegins; // where each level of lastHeader begins in it
    std::vector<HiveKey *> lastChain; // the key of each of those levels that has one
    // The level at which lastHeader left the focus (SIZE_MAX: it did not). Its levels before
    // that one have keys; a header sharing that level with it leaves the focus there too, which
    // is known without decoding it.
    std::size_t lastLeftAt = SIZE_MAX;

    // The key a header names, or null for a header the loader rejects or one outside the focus.
    // `header` is the text after the '[' up to the line end, found at `base` in the file.
    const auto keyFor = [&](std::string_view header, std::size_t base) -> HiveKey * {
        const std::size_t common = std::size_t(
            std::mismatch(header.begin(), header.end(), lastHeader.begin(), lastHeader.end()).first
            - header.begin());
        std::size_t reused = 0;
        while (reused + 1 < lastBegins.size() && lastBegins[reused + 1] <= common)
            ++reused;
        if (lastLeftAt < reused)
            return nullptr;
        const std::size_t from = reused == 0 ? 0 : lastBegins[reused];
        // A separator at the start of the whole path makes the loader reject it; after reused
        // levels it is only a doubled separator, whose empty level is dropped.
        if (!decodeKeyPath(header.substr(from), ']', path) || (reused == 0 && path.leadingSeparator)
            || reused + path.components.size() > kMaxDepth)
            return nullptr;
        HiveKey *key = reused == 0 ? root : lastChain[reused - 1];
        lastChain.resize(reused);
        lastBegins.resize(reused);
        lastHeader = header;
        lastLeftAt = SIZE_MAX;
        for (const PathComponent &component : path.components) {
            const std::size_t level = lastBegins.size();
            lastBegins.push_back(from + component.rawBegin);
            if (lastLeftAt != SIZE_MAX)
                continue; // only the levels' places are wanted now
            std::u16string folded = foldCase(component.name);
            if (level < focus.size() && folded != focus[level]) {
                lastLeftAt = level;
                continue;
            }
            const std::size_t hash = hashOf(key, folded);
            if (HiveKey *found = known.find(key, folded, hash)) {
                key = found;
            } else {
                HiveKey &created = hive->newKey();
                created.name = component.name;
                created.folded = std::move(folded);
                created.utf8Length = utf8Length(created.name);
                created.parent = key;
                created.rawOffset = base + lastBegins.back();
                created.rawLength = component.rawEnd - component.rawBegin;
                key->children.push_back(&created);
                known.insert(&created, hash);
                key = &created;
            }
            lastChain.push_back(key);
        }
        return lastLeftAt == SIZE_MAX ? key : nullptr;
    };

    // A header is a line whose first non-blank character is '['; such a '[' is searched for
    // directly, so the lines between headers are passed over many bytes at a time. `pos` is
    // always the start of a line.
    const std::size_t floor = firstEnd == std::string_view::npos ? text.size() : firstEnd + 1;
    std::size_t pos = floor;
    while (pos < text.size()) {
        const void *hit = std::memchr(text.data() + pos, '[', text.size() - pos);
        if (hit == nullptr)
            break;
        const std::size_t bracket = std::size_t(static_cast<const char *>(hit) - text.data());
        std::size_t lineStart = bracket;
        while (lineStart > pos && isBlank(text[lineStart - 1]))
            --lineStart;
        const std::size_t lineEnd = std::min(text.find('\n', bracket), text.size());
        const std::size_t next = lineEnd == text.size() ? lineEnd : lineEnd + 1;
        if (lineStart == pos || text[lineStart - 1] == '\n') {
            const std::size_t chunkBegin = endOfContentBefore(text, lineStart, floor);
            if (!hive->m_sections.empty())
                hive->m_sections.back().chunkEnd = chunkBegin;
            Section section { chunkBegin, next, nullptr };
            section.key = keyFor(text.substr(bracket + 1, lineEnd - bracket - 1), bracket + 1);
            if (section.key != nullptr)
                section.key->sections.push_back(std::uint32_t(hive->m_sections.size()));
            hive->m_sections.push_back(section);
        }
        pos = next;
    }
    if (!hive->m_sections.empty())
        hive->m_sections.back().chunkEnd = endOfContentBefore(text, text.size(), floor);

    for (std::size_t block = 0; block < hive->m_keyBlocks.size(); ++block) {
        const std::size_t count
            = block + 1 == hive->m_keyBlocks.size() ? hive->m_keysInLastBlock : kKeysPerBlock;
        for (std::size_t i = 0; i < count; ++i) {
            HiveKey &key = hive->m_keyBlocks[block][i];
            std::sort(key.children.begin(), key.children.end(), foldedLess);
        }
    }
    return hive;
}

HiveKey &Hive::newKey()
{
    if (m_keyBlocks.empty() || m_keysInLastBlock == kKeysPerBlock) {
        m_keyBlocks.push_back(std::make_unique<HiveKey[]>(kKeysPerBlock));
        m_keysInLastBlock = 0;
    }
    return m_keyBlocks.back()[m_keysInLastBlock++];
}

HiveKey *Hive::child(const HiveKey *parent, std::u16string_view name) const
{
    const std::u16string folded = foldCase(name);
    const auto &children = parent->children;
    const auto found = std::lower_bound(children.begin(), children.end(), folded,
        [](const HiveKey *key, const std::u16string &wanted) { return key->folded < wanted; });
    if (found == children.end() || (*found)->folded != folded)
        return nullptr;
    return *found;
}

bool Hive::remove(HiveKey *key)
{
    if (key == nullptr || key->parent == nullptr || key->removed || !key->children.empty())
        return false;
    key->removed = true;
    std::size_t anchor = key->removedAnchor;
    for (std::size_t i = 0; i < key->sections.size(); ++i) {
        const std::uint32_t index = key->sections[i];
        m_sections[index].removed = true;
        anchor = std::min(anchor, m_sections[index].chunkBegin);
    }
    HiveKey *parent = key->parent;
    // The tree is taken apart from the highest index down, so the key is usually the last one.
    const auto found = std::find(parent->children.rbegin(), parent->children.rend(), key);
    parent->children.erase(std::next(found).base());
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
        levels.push_back(m_bytes.view().substr(level->rawOffset, level->rawLength));
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

void Hive::write(std::chrono::system_clock::time_point writeTime,
    const std::function<void(std::string_view)> &sink) const
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

    const std::string_view text = m_bytes.view();
    std::size_t cursor = 0;
    std::size_t nextInsert = 0;
    for (const Section &section : m_sections) {
        if (!section.removed)
            continue;
        if (section.chunkBegin > cursor)
            sink(text.substr(cursor, section.chunkBegin - cursor));
        while (nextInsert < inserts.size() && inserts[nextInsert].first <= section.chunkBegin)
            sink(inserts[nextInsert++].second);
        cursor = section.chunkEnd;
    }
    while (nextInsert < inserts.size())
        sink(inserts[nextInsert++].second);
    if (cursor < text.size())
        sink(text.substr(cursor));
}

std::string Hive::serialize(std::chrono::system_clock::time_point writeTime) const
{
    std::string out;
    out.reserve(m_bytes.size());
    write(writeTime, [&](std::string_view piece) { out += piece; });
    return out;
}

} // namespace keysweep

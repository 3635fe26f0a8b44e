#pragma once

#include "keysweep/Bytes.h"
#include "keysweep/Result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace keysweep {

// The first line every Wine hive file starts with; anything else is not a hive.
inline constexpr std::string_view kHiveHeader = "WINE REGISTRY Version 2";

// Indices of a key's own sections. Nearly every key has exactly one, so the first is held in
// place and only further ones (duplicate or case-variant headers) take an allocation.
class SectionList {
public:
    void push_back(std::uint32_t index)
    {
        if (m_count++ == 0)
            m_first = index;
        else
            m_more.push_back(index);
    }
    std::size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    std::uint32_t operator[](std::size_t i) const { return i == 0 ? m_first : m_more[i - 1]; }

private:
    std::uint32_t m_first = 0;
    std::uint32_t m_count = 0;
    std::vector<std::uint32_t> m_more;
};

// One key of a hive. A key exists when a section names it or any key below it, so keys with no
// section of their own ("implicit" keys) are found too. Owned by its Hive; never freed before it.
struct HiveKey {
    std::u16string name; // as first spelled in the file; empty for the root
    std::u16string folded; // foldCase(name): the identity among siblings
    std::size_t utf8Length = 0; // bytes of the name in UTF-8
    HiveKey *parent = nullptr;
    std::vector<HiveKey *> children; // live sub-keys, ordered by folded name
    SectionList sections; // this key's own sections (duplicates merge)
    std::size_t rawOffset = 0; // the escaped name as first written in the file
    std::size_t rawLength = 0;
    std::size_t removedAnchor = SIZE_MAX; // first byte of the earliest removed section below
    bool removed = false;
};

// A hive file held as its bytes plus the tree of keys its section headers name. Removing a key
// only marks its sections; writing copies every other byte exactly as read, so nothing but the
// removed sections changes (plus a bare section for a parent that would otherwise vanish).
// Not thread-safe: one thread uses a Hive at a time.
class Hive {
public:
    // Reads a hive from its bytes. Fails with Error::Code::NotAHive when the first line (without
    // its line end) is not kHiveHeader. Any later line is taken as Wine's loader takes it; a line
    // it would skip, or a header naming a key more than 512 levels deep, is kept untouched and
    // belongs to no key.
    //
    // `focus` (folded levels, see foldCase) limits the keys made to those on its path and below
    // it: a section whose path leaves it is kept untouched like a rejected one, and its keys are
    // absent from the tree. Deleting a key needs only its parent's part of the hive, and a large
    // hive is read several times faster so. Empty: every key.
    [[nodiscard]] static Result<std::unique_ptr<Hive>> parse(
        Bytes bytes, std::span<const std::u16string> focus = {});
    // The same over a copy of `bytes` (tests and the fuzzer).
    [[nodiscard]] static Result<std::unique_ptr<Hive>> parse(
        std::string_view bytes, std::span<const std::u16string> focus = {});

    Hive(const Hive &) = delete;
    Hive &operator=(const Hive &) = delete;

    // The branch root: the key the file's paths are relative to. It can never be removed.
    HiveKey *root() { return &m_keyBlocks.front()[0]; }

    // The live sub-key of `parent` with this name (compared case-insensitively), or null.
    HiveKey *child(const HiveKey *parent, std::u16string_view name) const;

    // Removes a key that has no sub-keys left; fails (returns false) for the root, a key with
    // sub-keys and a key already removed.
    bool remove(HiveKey *key);

    // True once any key was removed.
    bool changed() const { return m_changed; }

    // Hands the new file's bytes to `sink` in order, as views valid during the call.
    // A parent left with neither a section nor a sub-key gets a bare section stamped `writeTime`.
    void write(std::chrono::system_clock::time_point writeTime,
        const std::function<void(std::string_view)> &sink) const;

    // The new file's bytes as one string (tests and the fuzzer).
    std::string serialize(std::chrono::system_clock::time_point writeTime) const;

private:
    struct Section {
        std::size_t chunkBegin; // from the blank lines before the header ...
        std::size_t chunkEnd; // ... to the end of the section's last non-blank line
        HiveKey *key; // null for a header the loader rejects
        bool removed = false;
    };

    Hive() = default;
    std::string bareSection(
        const HiveKey *key, std::chrono::system_clock::time_point writeTime) const;

    HiveKey &newKey();

    Bytes m_bytes;

    // Keys live in blocks that never move, so pointers to them stay valid; the first key of the
    // first block is the root.
    std::vector<std::unique_ptr<HiveKey[]>> m_keyBlocks;
    std::size_t m_keysInLastBlock = 0;
    std::vector<Section> m_sections; // in file order
    std::vector<HiveKey *> m_touchedParents;
    std::string_view m_lineEnd = "\n";
    bool m_changed = false;
};

} // namespace keysweep

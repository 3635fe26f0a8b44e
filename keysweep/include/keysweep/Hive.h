#pragma once

#include "keysweep/Result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace keysweep {

// The first line every Wine hive file starts with; anything else is not a hive.
inline constexpr std::string_view kHiveHeader = "WINE REGISTRY Version 2";

// One key of a hive. A key exists when a section names it or any key below it, so keys with no
// section of their own ("implicit" keys) are found too. Owned by its Hive; never freed before it.
struct HiveKey {
    std::u16string name; // as first spelled in the file; empty for the root
    std::u16string lowered; // lowerCase(name): the identity among siblings
    HiveKey *parent = nullptr;
    std::vector<HiveKey *> children; // live sub-keys, ordered by lowered name
    std::unordered_map<std::u16string, HiveKey *> byLoweredName; // the same, for lookups
    std::vector<std::size_t> sections; // this key's own sections (duplicates merge)
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
    // it would skip is kept untouched and belongs to no key. Keys may lie at any depth.
    [[nodiscard]] static Result<std::unique_ptr<Hive>> parse(std::string bytes);

    Hive(const Hive &) = delete;
    Hive &operator=(const Hive &) = delete;

    // The branch root: the key the file's paths are relative to. It can never be removed.
    HiveKey *root() { return &m_keys.front(); }

    // The live sub-key of `parent` with this name (compared as Wine compares), or null.
    HiveKey *child(const HiveKey *parent, std::u16string_view name) const;

    // Removes a key that has no sub-keys left; fails (returns false) for the root, a key with
    // sub-keys and a key already removed.
    bool remove(HiveKey *key);

    // True once any key was removed.
    bool changed() const { return m_changed; }

    // The new file's bytes. A parent left with neither a section nor a sub-key gets a bare
    // section stamped `writeTime`.
    std::string serialize(std::chrono::system_clock::time_point writeTime) const;

private:
    struct Section {
        std::size_t chunkBegin; // from the blank lines before the header ...
        std::size_t chunkEnd; // ... to the end of the section's last non-blank line
        HiveKey *key; // null for a header the loader rejects
        bool removed = false;
    };

    Hive() = default;
    HiveKey *keyFor(std::string_view header, std::size_t offset);
    std::string bareSection(
        const HiveKey *key, std::chrono::system_clock::time_point writeTime) const;

    std::string m_bytes;
    std::deque<HiveKey> m_keys; // never moves its elements; the first is the root
    std::vector<Section> m_sections; // in file order
    std::vector<HiveKey *> m_touchedParents;
    std::string_view m_lineEnd = "\n";
    bool m_changed = false;
};

} // namespace keysweep

#pragma once

#include "keysweep/Result.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace keysweep {

class Hive;
struct HiveKey;

// An open key, or one of the two predefined roots. 0 is never a key.
using KeyHandle = std::uint32_t;
inline constexpr KeyHandle kCurrentUser = 0x80000001; // $WINEPREFIX/user.reg
inline constexpr KeyHandle kLocalMachine = 0x80000002; // $WINEPREFIX/system.reg

// What an open handle may do. A key opens with full access only when its hive can be rewritten.
enum class Access { Read, All };

// What a key's query returns.
struct KeyInfo {
    std::uint32_t subKeyCount = 0;
    std::uint32_t longestSubKeyName = 0; // in UTF-16 units, without a terminator
};

// Registry operations over the hive files of one Wine prefix: open, query, enumerate, delete and
// close keys by handle, as the Windows registry offers them. Names are UTF-16. Each hive is read
// on the first use of its root; deletions stay in memory until commit() writes the changed hives
// back. userdef.reg is never opened. Not thread-safe: one thread owns a KeyStore.
//
// A hive that is missing or cannot be read holds no keys. One that is not a regular file (a FIFO,
// a folder), or whose first line is not the hive header, holds no keys either and is recorded in
// problems(); it is never waited on. One that is read-only
// (no write permission, or no owner write bit, as a read-only file on Windows) or whose folder
// cannot take a new file opens for reading only.
class KeyStore {
public:
    explicit KeyStore(std::filesystem::path prefix);
    ~KeyStore();
    KeyStore(const KeyStore &) = delete;
    KeyStore &operator=(const KeyStore &) = delete;

    // Opens `path` below `base`: levels separated by backslashes, compared case-insensitively;
    // doubled or trailing separators are ignored. A path that starts with a backslash or names
    // no level at all opens nothing, so the root itself is never handed out for deletion.
    std::optional<KeyHandle> openKey(KeyHandle base, std::u16string_view path, Access access);

    // The count of a key's sub-keys and the length of the longest name; nothing for a bad handle.
    std::optional<KeyInfo> queryInfoKey(KeyHandle key) const;

    // The name of sub-key `index` (in the order of lower-cased names) if it fits, with a
    // terminator, in `capacity` units; nothing for a bad handle, an index past the end or a name
    // too long.
    std::optional<std::u16string> enumKey(
        KeyHandle key, std::uint32_t index, std::size_t capacity) const;

    // Deletes the key at `path` below `base` if it has no sub-keys and its hive can be written.
    bool deleteKey(KeyHandle base, std::u16string_view path);

    // Releases a handle; the predefined roots and unknown handles are ignored.
    void closeKey(KeyHandle key);

    // Writes every changed hive back atomically (see replaceFileAtomically). Every hive is tried;
    // the errors of those that could not be written are returned, and those files are unchanged
    // (but for Error::Code::NotSynced: replaced, with the folder not synced).
    std::vector<Error> commit();

    // Hives refused when read (not a regular file, not a Wine hive), in the order met.
    const std::vector<Error> &problems() const { return m_problems; }

    // The file behind a predefined root.
    std::filesystem::path hivePath(KeyHandle root) const;

private:
    struct Branch;
    struct OpenKey {
        Branch *branch;
        HiveKey *key;
        Access access;
    };

    Branch *branchFor(KeyHandle root) const;
    std::optional<OpenKey> resolve(KeyHandle base) const;
    HiveKey *find(Branch &branch, HiveKey *from, std::u16string_view path) const;

    std::filesystem::path m_prefix;
    // user, machine; a branch is read on first use, also by a query, hence mutable.
    mutable std::vector<std::unique_ptr<Branch>> m_branches;
    std::unordered_map<KeyHandle, OpenKey> m_open;
    KeyHandle m_nextHandle = 1;
    mutable std::vector<Error> m_problems;
};

} // namespace keysweep

#pragma once

#include "keysweep/KeyStore.h"

#include <optional>
#include <string_view>

namespace keysweep {

// The registry accessor: a root key and a current key over a KeyStore. The current key is none
// except while a key's sub-keys are being deleted, when it is that key. A path that begins with
// a backslash is absolute (taken from the root, the one backslash dropped); any other path is
// relative to the current key, or to the root when there is none. Used from one thread.
class TRegistry {
public:
    // Starts at the current-user root with no current key. `store` must outlive the accessor.
    explicit TRegistry(KeyStore &store);
    ~TRegistry();
    TRegistry(const TRegistry &) = delete;
    TRegistry &operator=(const TRegistry &) = delete;

    KeyHandle rootKey() const { return m_rootKey; }
    // Changes the root; closes any current key.
    void setRootKey(KeyHandle root);
    // The current key, or 0 for none.
    KeyHandle currentKey() const { return m_currentKey; }

    // Opens `path` with full access, leaving the current key as it is; nothing when the key is
    // absent or cannot be opened with full access. Close the handle with closeKey().
    std::optional<KeyHandle> openKey(std::u16string_view path);
    void closeKey(KeyHandle key);

    // Deletes the key at `path` with every key below it: depth first, the sub-keys of each key
    // from the highest index down to 0, each in turn made the current key while its own sub-keys
    // go. Sub-keys that cannot be read, opened or deleted are skipped. True when the key itself
    // was deleted at the end. The walk keeps its levels on the heap, so any depth is fine.
    bool deleteKey(std::u16string_view path);

private:
    // The key a path is taken from, and the path without its leading backslash.
    KeyHandle baseFor(std::u16string_view &path) const;

    KeyStore &m_store;
    KeyHandle m_rootKey = kCurrentUser;
    KeyHandle m_currentKey = 0;
};

} // namespace keysweep

#include "keysweep/TRegistry.h"

#include <string>
#include <vector>

namespace keysweep {

TRegistry::TRegistry(KeyStore &store)
    : m_store(store)
{ }

TRegistry::~TRegistry()
{
    setRootKey(m_rootKey);
}

void TRegistry::setRootKey(KeyHandle root)
{
    if (m_currentKey != 0) {
        m_store.closeKey(m_currentKey);
        m_currentKey = 0;
    }
    m_rootKey = root;
}

KeyHandle TRegistry::baseFor(std::u16string_view &path) const
{
    if (!path.empty() && path.front() == u'\\') {
        path.remove_prefix(1);
        return m_rootKey;
    }
    return m_currentKey != 0 ? m_currentKey : m_rootKey;
}

std::optional<KeyHandle> TRegistry::openKey(std::u16string_view path)
{
    const KeyHandle base = baseFor(path);
    return m_store.openKey(base, path, Access::All);
}

void TRegistry::closeKey(KeyHandle key)
{
    m_store.closeKey(key);
}

bool TRegistry::deleteKey(std::u16string_view path)
{
    // One entry per level being deleted: the recursion of the classic algorithm, held on the
    // heap so a key thousands of levels deep cannot overflow the stack.
    struct Level {
        std::u16string path; // relative to `base`, as given
        KeyHandle base = 0;
        KeyHandle key = 0; // 0 when the key could not be opened
        KeyHandle previous = 0; // the current key before this one
        std::uint32_t nextIndex = 0; // sub-keys still to visit are those below it
        std::size_t capacity = 0;
    };
    std::vector<Level> levels;
    const auto enter = [&](std::u16string_view name) {
        Level level;
        level.base = baseFor(name);
        level.path = name;
        if (const auto key = m_store.openKey(level.base, level.path, Access::All)) {
            level.key = *key;
            level.previous = m_currentKey;
            m_currentKey = *key;
            if (const auto info = m_store.queryInfoKey(*key)) {
                level.nextIndex = info->subKeyCount;
                level.capacity = std::size_t(info->longestSubKeyName) + 1;
            }
        }
        levels.push_back(std::move(level));
    };

    bool deleted = false;
    enter(path);
    while (!levels.empty()) {
        Level &level = levels.back();
        if (level.nextIndex > 0) {
            // Highest index first: removing the last sub-key leaves the lower indices valid.
            if (const auto name = m_store.enumKey(level.key, --level.nextIndex, level.capacity))
                enter(*name);
            continue;
        }
        if (level.key != 0) {
            m_currentKey = level.previous;
            m_store.closeKey(level.key);
        }
        // Relative paths are taken from the current key, now the parent's again.
        deleted = m_store.deleteKey(level.base, level.path);
        levels.pop_back();
    }
    return deleted;
}

} // namespace keysweep

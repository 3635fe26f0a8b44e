#include "keysweep/TRegistry.h"

#include <string>

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

KeyHandle TRegistry::baseFor(std::string_view &path) const
{
    if (!path.empty() && path.front() == '\\') {
        path.remove_prefix(1);
        return m_rootKey;
    }
    return m_currentKey != 0 ? m_currentKey : m_rootKey;
}

std::optional<KeyHandle> TRegistry::openKey(std::string_view path)
{
    const KeyHandle base = baseFor(path);
    return m_store.openKey(base, path, Access::All);
}

void TRegistry::closeKey(KeyHandle key)
{
    m_store.closeKey(key);
}

bool TRegistry::deleteKey(std::string_view path)
{
    const KeyHandle base = baseFor(path);
    const auto key = m_store.openKey(base, path, Access::All);
    if (key) {
        const KeyHandle previous = m_currentKey;
        m_currentKey = *key;
        if (const auto info = m_store.queryInfoKey(*key)) {
            // Highest index first: removing the last sub-key leaves the lower indices valid.
            const std::size_t capacity = std::size_t(info->longestSubKeyName) + 1;
            for (std::uint32_t index = info->subKeyCount; index-- > 0;) {
                if (const auto name = m_store.enumKey(*key, index, capacity))
                    deleteKey(*name);
            }
        }
        m_currentKey = previous;
        m_store.closeKey(*key);
    }
    // Relative paths are taken from the current key, now the parent's again.
    return m_store.deleteKey(base, path);
}

} // namespace keysweep

#include "keysweep/KeyStore.h"

#include "keysweep/Hive.h"
#include "keysweep/HiveFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

namespace keysweep {

struct KeyStore::Branch {
    std::filesystem::path path;
    std::unique_ptr<Hive> hive; // null when the branch holds no keys
    bool writable = false;
};

namespace {

// Full access means the file can be replaced: it must be writable and not marked read-only,
// and the folder it really lives in must take the temporary file and the rename.
bool canRewrite(const std::filesystem::path &path, const struct stat &info)
{
    if ((info.st_mode & S_IWUSR) == 0 || ::access(path.c_str(), W_OK) != 0)
        return false;
    std::error_code error;
    const auto real = std::filesystem::canonical(path, error);
    if (error)
        return false;
    return ::access(real.parent_path().c_str(), W_OK | X_OK) == 0;
}

// Which branch a predefined root names: 0 user, 1 machine, -1 neither.
int branchIndex(KeyHandle root)
{
    return root == kCurrentUser ? 0 : root == kLocalMachine ? 1 : -1;
}

} // namespace

KeyStore::KeyStore(std::filesystem::path prefix)
    : m_prefix(std::move(prefix))
{
    m_branches.resize(2);
}

KeyStore::~KeyStore() = default;

std::filesystem::path KeyStore::hivePath(KeyHandle root) const
{
    if (root == kCurrentUser)
        return m_prefix / "user.reg";
    if (root == kLocalMachine)
        return m_prefix / "system.reg";
    return {};
}

KeyStore::Branch *KeyStore::branchFor(KeyHandle root) const
{
    const int index = branchIndex(root);
    if (index < 0)
        return nullptr;
    auto &branch = m_branches[std::size_t(index)];
    if (branch)
        return branch.get();

    branch = std::make_unique<Branch>();
    branch->path = hivePath(root);
    struct stat info { };
    if (::stat(branch->path.c_str(), &info) != 0)
        return branch.get(); // missing: an empty branch
    if (!mayFollow(branch->path)) {
        m_problems.push_back(Error { Error::Code::NotAFile,
            branch->path.string()
                + " is a symbolic link of another owner than the file it names; it was left "
                  "untouched" });
        return branch.get();
    }
    auto bytes = readWholeFile(branch->path);
    if (!bytes) {
        if (bytes.error().code == Error::Code::NotAFile)
            m_problems.push_back(
                Error { Error::Code::NotAFile, bytes.error().detail + "; it was left untouched" });
        return branch.get(); // unreadable: as good as no keys for a full-access open
    }
    auto hive = Hive::parse(std::move(bytes).value());
    if (!hive) {
        m_problems.push_back(Error { hive.error().code,
            branch->path.string() + " is not a Wine registry file (its first line is not \""
                + std::string(kHiveHeader) + "\"); it was left untouched" });
        return branch.get();
    }
    branch->hive = std::move(hive).value();
    branch->writable = canRewrite(branch->path, info);
    return branch.get();
}

std::optional<KeyStore::OpenKey> KeyStore::resolve(KeyHandle base) const
{
    if (base == kCurrentUser || base == kLocalMachine) {
        Branch *branch = branchFor(base);
        if (branch == nullptr || !branch->hive)
            return std::nullopt;
        return OpenKey { branch, branch->hive->root(), Access::All };
    }
    const auto found = m_open.find(base);
    if (found == m_open.end() || found->second.key->removed)
        return std::nullopt;
    return found->second;
}

HiveKey *KeyStore::find(Branch &branch, HiveKey *from, std::u16string_view units) const
{
    if (!units.empty() && units.front() == u'\\')
        return nullptr;
    HiveKey *key = from;
    bool namedALevel = false;
    std::size_t start = 0;
    while (start <= units.size()) {
        const std::size_t end = std::min(units.find(u'\\', start), units.size());
        if (end > start) {
            key = branch.hive->child(key, units.substr(start, end - start));
            if (key == nullptr)
                return nullptr;
            namedALevel = true;
        }
        start = end + 1;
    }
    return namedALevel ? key : nullptr;
}

std::optional<KeyHandle> KeyStore::openKey(KeyHandle base, std::u16string_view path, Access access)
{
    const auto from = resolve(base);
    if (!from)
        return std::nullopt;
    if (access == Access::All && !from->branch->writable)
        return std::nullopt;
    HiveKey *key = find(*from->branch, from->key, path);
    if (key == nullptr)
        return std::nullopt;
    const KeyHandle handle = m_nextHandle++;
    m_open.emplace(handle, OpenKey { from->branch, key, access });
    return handle;
}

std::optional<KeyInfo> KeyStore::queryInfoKey(KeyHandle key) const
{
    const auto open = resolve(key);
    if (!open)
        return std::nullopt;
    KeyInfo info;
    info.subKeyCount = std::uint32_t(open->key->children.size());
    for (const HiveKey *child : open->key->children)
        info.longestSubKeyName
            = std::max(info.longestSubKeyName, std::uint32_t(child->name.size()));
    return info;
}

std::optional<std::u16string> KeyStore::enumKey(
    KeyHandle key, std::uint32_t index, std::size_t capacity) const
{
    const auto open = resolve(key);
    if (!open || index >= open->key->children.size())
        return std::nullopt;
    const std::u16string &name = open->key->children[index]->name;
    if (name.size() + 1 > capacity)
        return std::nullopt;
    return name;
}

bool KeyStore::deleteKey(KeyHandle base, std::u16string_view path)
{
    const auto from = resolve(base);
    if (!from || !from->branch->writable)
        return false;
    HiveKey *key = find(*from->branch, from->key, path);
    return key != nullptr && from->branch->hive->remove(key);
}

void KeyStore::closeKey(KeyHandle key)
{
    m_open.erase(key);
}

std::vector<Error> KeyStore::commit()
{
    std::vector<Error> errors;
    const auto now = std::chrono::system_clock::now();
    for (const auto &branch : m_branches) {
        if (!branch || !branch->hive || !branch->hive->changed())
            continue;
        auto written = replaceFileAtomically(branch->path, branch->hive->serialize(now));
        if (!written)
            errors.push_back(written.error());
    }
    return errors;
}

} // namespace keysweep

// Feeds arbitrary bytes to the hive reader. For a file it accepts, one key chosen from the bytes
// is removed with everything below it, and the written file must read back as a hive in which
// that key is gone and its parent is still there. Read again holding only the key's parent and
// below (as keysweep reads it), the same removal must write the same bytes.
#include "keysweep/Hive.h"
#include "keysweep/KeyName.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace keysweep;

void collect(HiveKey *key, std::vector<HiveKey *> &keys)
{
    keys.push_back(key);
    for (HiveKey *child : key->children)
        collect(child, keys);
}

void removeTree(Hive &hive, HiveKey *key)
{
    while (!key->children.empty())
        removeTree(hive, key->children.back());
    if (!hive.remove(key))
        __builtin_trap();
}

HiveKey *walk(Hive &hive, const std::vector<std::u16string> &names)
{
    HiveKey *key = hive.root();
    for (const auto &name : names) {
        key = hive.child(key, name);
        if (key == nullptr)
            return nullptr;
    }
    return key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string bytes(reinterpret_cast<const char *>(data), size);
    auto parsed = Hive::parse(bytes);
    if (!parsed)
        return 0;
    Hive &hive = *parsed.value();

    std::vector<HiveKey *> keys;
    collect(hive.root(), keys);
    if (keys.size() < 2)
        return 0;
    std::uint32_t choice = 2166136261u; // FNV-1a over the input picks the key
    for (std::size_t i = 0; i < size; ++i)
        choice = (choice ^ data[i]) * 16777619u;
    HiveKey *chosen = keys[1 + choice % (keys.size() - 1)];

    std::vector<std::u16string> path;
    for (HiveKey *key = chosen; key->parent != nullptr; key = key->parent)
        path.insert(path.begin(), key->name);
    removeTree(hive, chosen);

    std::vector<std::u16string> focus;
    for (std::size_t level = 0; level + 1 < path.size(); ++level)
        focus.push_back(foldCase(path[level]));
    auto focused = Hive::parse(bytes, focus);
    if (!focused)
        __builtin_trap();
    HiveKey *again = walk(*focused.value(), path);
    if (again == nullptr)
        __builtin_trap();
    removeTree(*focused.value(), again);

    const auto writeTime = std::chrono::system_clock::time_point(std::chrono::seconds(1796688663));
    const std::string written = hive.serialize(writeTime);
    if (focused.value()->serialize(writeTime) != written)
        __builtin_trap();
    auto reread = Hive::parse(written);
    if (!reread)
        __builtin_trap();
    if (walk(*reread.value(), path) != nullptr)
        __builtin_trap();
    path.pop_back();
    if (walk(*reread.value(), path) == nullptr)
        __builtin_trap();
    return 0;
}

// Feeds arbitrary bytes to the hive reader. For a file it accepts, one key chosen from the bytes
// is removed with everything below it, and the written file must read back as a hive in which
// that key is gone and its parent is still there.
#include "keysweep/Hive.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace keysweep;

// Every key, parents before children; without recursion, since keys lie at any depth.
std::vector<HiveKey *> collect(HiveKey *root)
{
    std::vector<HiveKey *> keys { root };
    for (std::size_t i = 0; i < keys.size(); ++i)
        keys.insert(keys.end(), keys[i]->children.begin(), keys[i]->children.end());
    return keys;
}

// Removes a key and everything below it, children first.
void removeTree(Hive &hive, HiveKey *top)
{
    std::vector<HiveKey *> keys = collect(top);
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        if (!hive.remove(*key))
            __builtin_trap();
    }
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
    auto parsed = Hive::parse(std::string(reinterpret_cast<const char *>(data), size));
    if (!parsed)
        return 0;
    Hive &hive = *parsed.value();

    const std::vector<HiveKey *> keys = collect(hive.root());
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

    const auto writeTime = std::chrono::system_clock::time_point(std::chrono::seconds(1796688663));
    const std::string written = hive.serialize(writeTime);
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

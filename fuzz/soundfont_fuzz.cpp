// Feeds arbitrary bytes to the soundfont preset reader. Beyond the sanitizers' checks it traps
// when an accepted file breaks what loading relies on: written with every preset, the preset part
// is the file's own; written with some, it is read back with the same presets and written again
// unchanged.
#include "Require.h"
#include "SoundfontPresets.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto font = tunedeck::SoundfontPresets::read(std::span(data, size));
    if (!font)
        return 0;
    require(font->pdtaOffset() < size);
    const auto all = font->pdta([](std::size_t) { return true; });
    require(std::equal(all.begin(), all.end(), data + font->pdtaOffset(), data + size));

    const auto some = font->pdta([](std::size_t preset) { return preset % 2 == 0; });
    std::vector<std::uint8_t> file(data, data + font->pdtaOffset());
    file.insert(file.end(), some.begin(), some.end());
    for (int i = 0; i < 4; ++i)
        file[4 + std::size_t(i)] = std::uint8_t((file.size() - 8) >> (8 * i));
    const auto partial = tunedeck::SoundfontPresets::read(std::span(file));
    require(partial.has_value() && partial->presetCount() == font->presetCount());
    for (std::size_t i = 0; i < font->presetCount(); ++i)
        require(partial->bank(i) == font->bank(i) && partial->program(i) == font->program(i));
    require(partial->pdta([](std::size_t) { return true; }) == some);
    return 0;
}

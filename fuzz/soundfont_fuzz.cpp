// Feeds arbitrary bytes to the soundfont preset reader. Beyond the sanitizers' checks it traps
// when an accepted file breaks what loading relies on: written with every preset or with some,
// the preset part is read back with the same presets and written again unchanged (so what was
// cut, instruments no kept preset plays, stays cut), and with every preset it is no longer than
// the file's own.
#include "Require.h"
#include "SoundfontPresets.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto font = tunedeck::SoundfontPresets::read(std::span(data, size));
    if (!font)
        return 0;
    require(font->pdtaOffset() < size);
    const auto writtenBack = [&](const std::function<bool(std::size_t)> &keep) {
        const auto pdta = font->pdta(keep);
        std::vector<std::uint8_t> file(data, data + font->pdtaOffset());
        file.insert(file.end(), pdta.begin(), pdta.end());
        for (int i = 0; i < 4; ++i)
            file[4 + std::size_t(i)] = std::uint8_t((file.size() - 8) >> (8 * i));
        const auto again = tunedeck::SoundfontPresets::read(std::span(file));
        require(again.has_value() && again->presetCount() == font->presetCount());
        for (std::size_t i = 0; i < font->presetCount(); ++i)
            require(again->bank(i) == font->bank(i) && again->program(i) == font->program(i));
        require(again->pdta([](std::size_t) { return true; }) == pdta);
        return pdta;
    };
    const auto all = writtenBack([](std::size_t) { return true; });
    require(all.size() <= size - font->pdtaOffset());
    writtenBack([](std::size_t preset) { return preset % 2 == 0; });
    writtenBack([](std::size_t) { return false; });
    return 0;
}

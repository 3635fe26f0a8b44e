// Feeds arbitrary bytes to the soundfont preset reader. Beyond the sanitizers' checks it traps
// when an accepted file breaks what loading relies on: written with every preset or with some,
// or with only the zones some notes reach, the preset part is read back with the same presets
// and written again unchanged (so what was cut, zones no note reaches and instruments no kept
// zone plays, stays cut), and with every preset it is no longer than the file's own.
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
    using Presets = tunedeck::SoundfontPresets;
    using Keep = std::function<bool(std::size_t)>;
    const auto writtenBack = [&](const Keep &keep, const Presets::Reaches &reaches) {
        const auto pdta = font->pdta(keep, reaches);
        std::vector<std::uint8_t> file(data, data + font->pdtaOffset());
        file.insert(file.end(), pdta.begin(), pdta.end());
        for (int i = 0; i < 4; ++i)
            file[4 + std::size_t(i)] = std::uint8_t((file.size() - 8) >> (8 * i));
        const auto again = Presets::read(std::span(file));
        require(again.has_value() && again->presetCount() == font->presetCount());
        for (std::size_t i = 0; i < font->presetCount(); ++i)
            require(again->bank(i) == font->bank(i) && again->program(i) == font->program(i));
        require(again->pdta([](std::size_t) { return true; }) == pdta);
        return pdta;
    };
    const auto all = writtenBack([](std::size_t) { return true; }, {});
    require(all.size() <= size - font->pdtaOffset());
    writtenBack([](std::size_t preset) { return preset % 2 == 0; }, {});
    writtenBack([](std::size_t) { return false; }, {});
    writtenBack([](std::size_t) { return true; },
        [](std::size_t preset, const Presets::NoteBox &box) {
            return box.keyLo <= box.keyHi && box.velLo <= box.velHi
                && (preset + std::size_t(box.keyLo) + std::size_t(box.velHi)) % 3 != 0;
        });
    return 0;
}

#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Writes small SoundFont 2 files for test fixtures: each preset one zone playing the one
// instrument, whose one zone plays a short tone. The preset part's sub-chunks are public, so a
// test can break them before writing.
namespace testsupport {

class SoundfontWriter {
public:
    struct Preset {
        int bank = 0;
        int program = 0;
    };
    explicit SoundfontWriter(const std::vector<Preset> &presets);

    // The `LIST pdta` sub-chunks in order: phdr, pbag, pmod, pgen, inst, ibag, imod, igen, shdr.
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> pdta;
    // Top-level chunks written after the preset part, id and body.
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> after;

    std::vector<std::uint8_t> bytes() const;
};

} // namespace testsupport

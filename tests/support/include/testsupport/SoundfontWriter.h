#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Writes small SoundFont 2 files for test fixtures: each preset one zone playing the one
// instrument, whose one zone plays a short (silent) sample. The preset part's sub-chunks are
// public, so a test can break them before writing.
namespace testsupport {

class SoundfontWriter {
public:
    // Presets by bank and program.
    explicit SoundfontWriter(const std::vector<std::pair<int, int>> &presets);

    // The `LIST pdta` sub-chunks in order, id and body: phdr, pbag, pmod, pgen, inst, ibag,
    // imod, igen, shdr.
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> pdta;
    // The sample's 1000 frames (and the 46 of silence after), 16-bit little-endian: silent
    // unless a test writes a sound there.
    std::vector<std::uint8_t> smpl = std::vector<std::uint8_t>(2 * 1046, 0);

    std::vector<std::uint8_t> bytes() const;
};

} // namespace testsupport

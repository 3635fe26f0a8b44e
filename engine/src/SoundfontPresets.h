#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace tunedeck {

// The preset part of a SoundFont 2 (or 3) file: its `LIST pdta` chunk, which must be the file's
// last top-level chunk. From it, pdta() writes a replacement in which every preset is still listed
// (so a synthesiser resolves banks, programs and fall-backs as with the whole file) but only the
// chosen ones keep their zones, and only the instruments those zones play are kept (when the
// instrument part is consistent; else it is passed through for the synthesiser to judge). Zones no
// note of the song can reach may be left out too. Sample headers are passed through unchanged, so
// sample offsets still point into the real file.
class SoundfontPresets {
public:
    // The largest preset part accepted: real ones are a few hundred kilobytes.
    static constexpr std::uint64_t kMaxPdtaBytes = 64u << 20;

    // Reads `count` bytes at `offset` of the file into `out`; false when it cannot.
    using ReadAt = std::function<bool(std::uint64_t offset, std::uint8_t *out, std::size_t count)>;

    // Walks the file's RIFF chunks and checks its preset part; nullopt for anything else than a
    // soundfont whose preset part comes last and holds consistent preset records.
    [[nodiscard]] static std::optional<SoundfontPresets> read(
        const ReadAt &readAt, std::uint64_t fileSize);
    [[nodiscard]] static std::optional<SoundfontPresets> read(std::span<const std::uint8_t> file);
    [[nodiscard]] static std::optional<SoundfontPresets> read(const std::filesystem::path &file);

    // Where the `LIST pdta` chunk starts in the file.
    std::uint64_t pdtaOffset() const { return m_pdtaOffset; }
    // Presets, without the terminal record.
    std::size_t presetCount() const { return m_presets.size(); }
    int bank(std::size_t preset) const { return m_presets[preset].bank; }
    int program(std::size_t preset) const { return m_presets[preset].program; }

    // Keys and velocities, both bounds included.
    struct NoteBox {
        int keyLo = 0, keyHi = 127, velLo = 0, velHi = 127;
    };
    // Whether a note played with preset `preset` (by index) can fall in the box.
    using Reaches = std::function<bool(std::size_t preset, const NoteBox &)>;

    // The whole `LIST pdta` chunk with only the presets `keep` is true for (by index) keeping
    // their zones, generators and modulators, and the instruments they play; the others have none.
    // With `reaches`, a kept preset's zones and its instruments' zones that no note of it reaches
    // (by their key and velocity ranges, as the synthesiser reads them) are left out as well.
    std::vector<std::uint8_t> pdta(
        const std::function<bool(std::size_t)> &keep, const Reaches &reaches = {}) const;

private:
    struct Preset {
        int bank = 0;
        int program = 0;
        std::uint16_t firstBag = 0;
    };
    struct Range {
        std::size_t begin = 0; // of the record data, in m_pdta
        std::size_t size = 0;
    };
    enum Chunk { Phdr, Pbag, Pmod, Pgen, Inst, Ibag, Imod, Igen, Shdr, ChunkCount };

    // The range the generators of bag `index` (of Pbag or Ibag) give its zone, and the
    // instrument (Pbag) or sample (Ibag) it plays, if any.
    struct Zone {
        NoteBox box;
        std::optional<std::uint32_t> plays;
    };
    Zone zone(Chunk bag, std::size_t index) const;

    std::uint64_t m_pdtaOffset = 0;
    std::vector<std::uint8_t> m_pdta; // the chunk as in the file, header included
    Range m_chunks[ChunkCount];
    std::vector<Preset> m_presets;
    // Each instrument's first bag, without the terminal record; empty when the instrument part
    // is not consistent enough to be cut and is passed through whole.
    std::vector<std::uint16_t> m_instrumentBags;
};

} // namespace tunedeck

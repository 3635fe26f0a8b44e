#pragma once

#include <cstdint>

namespace tunedeck {

// What the listener has set on a device (key, tempo, channels, loops), as the render thread
// reads it once per block. Travels from the owner's thread in one atomic word (pack/unpack).
struct PlayControls {
    int transpose = 0; // semitones, -12..12
    int tempoPercent = 100; // 25..400
    std::uint16_t muted = 0; // bit n: MIDI channel n (0..15) is muted
    std::uint16_t soloed = 0; // bit n: channel n is soloed; when any is, only those sound
    int loopCount = 1; // times the song (or its marked loop) plays; 0 for ever

    // Channels that sound: the soloed ones if any, less the muted ones.
    std::uint16_t audible() const
    {
        return static_cast<std::uint16_t>((soloed != 0 ? soloed : 0xFFFFu) & ~unsigned(muted));
    }
    bool operator==(const PlayControls &) const = default;

    // transpose + 12 (5 bits), tempo (9 bits), muted and soloed (16 bits each), loops (16 bits).
    std::uint64_t pack() const
    {
        return std::uint64_t(transpose + 12) | std::uint64_t(tempoPercent) << 5
            | std::uint64_t(muted) << 14 | std::uint64_t(soloed) << 30
            | std::uint64_t(loopCount) << 46;
    }
    static PlayControls unpack(std::uint64_t word)
    {
        PlayControls controls;
        controls.transpose = int(word & 0x1F) - 12;
        controls.tempoPercent = int(word >> 5 & 0x1FF);
        controls.muted = std::uint16_t(word >> 14);
        controls.soloed = std::uint16_t(word >> 30);
        controls.loopCount = int(word >> 46 & 0xFFFF);
        return controls;
    }
};

} // namespace tunedeck

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tunedeck {

namespace detail {
// Exact tick times need more than 64 bits (ticks × microseconds × sample rate).
__extension__ typedef unsigned __int128 Uint128;
} // namespace detail

// A Set Tempo event placed on the song's merged tick line.
struct TempoChange {
    std::uint64_t tick = 0; // absolute tick where the new tempo starts
    std::uint32_t usPerQuarter = 500'000; // microseconds per quarter note (24 bits in a file)
};

// Turns ticks into exact times. A tick's time is a rational number of microseconds; every
// conversion computes it afresh from the segment it falls in (128-bit integers), so no rounding
// ever accumulates: results are the floor of the exact value, saturated at the type's maximum.
// Immutable once built, so any thread may read it.
class TempoMap {
public:
    // 120 beats per minute at 480 ticks per quarter note.
    TempoMap();
    // Metrical time: `ticksPerQuarter` (0 is treated as 1) with the given tempo changes, in any
    // order. Before the first change the tempo is 120 beats per minute; of several changes on
    // one tick the one listed last wins.
    TempoMap(std::uint16_t ticksPerQuarter, std::span<const TempoChange> changes);
    // SMPTE time: `framesPerSecond` is 24, 25, 29 (30 drop frame, 29.97 frames per second) or
    // 30, each frame divided into `ticksPerFrame` ticks. Tempo changes do not affect it.
    // Out-of-range arguments are a programmer's error; the reader rejects such files first.
    [[nodiscard]] static TempoMap smpte(int framesPerSecond, int ticksPerFrame);

    bool isSmpte() const { return m_smpte; }

    // Time of `tick` in microseconds from the start of the song, floor of the exact value.
    std::int64_t tickToUs(std::uint64_t tick) const;
    // Time of `tick` in whole milliseconds, truncated; saturates at 2^32 - 1.
    std::uint32_t tickToMs(std::uint64_t tick) const;
    // The sample frame at which `tick` sounds at `sampleRate` frames per second: floor of the
    // exact time times the rate, so events never drift against the audio clock.
    std::uint64_t tickToFrame(std::uint64_t tick, std::uint32_t sampleRate) const;
    // The last tick whose time is at or before `us` (0 for negative times). Should the song
    // end on a tempo of 0, time stands still there and the first tick of that span is returned.
    std::uint64_t usToTick(std::int64_t us) const;
    // The tempo in force at `tick`, in microseconds per quarter note (500 000 under SMPTE).
    std::uint32_t usPerQuarterAt(std::uint64_t tick) const;

    // The effective changes, ordered by tick, one per tick.
    std::span<const TempoChange> changes() const { return m_changes; }

    // Converts ticks asked for in non-decreasing order in constant time each (amortised), with
    // the same results as the map's own functions: for walking a song's events in order. Holds
    // a reference to the map, which must outlive it; one walker per thread.
    class Walker {
    public:
        explicit Walker(const TempoMap &map)
            : m_map(&map)
        { }
        std::int64_t tickToUs(std::uint64_t tick);
        std::uint64_t tickToFrame(std::uint64_t tick, std::uint32_t sampleRate);

    private:
        detail::Uint128 numeratorAt(std::uint64_t tick);

        const TempoMap *m_map;
        std::size_t m_segment = 0;
    };

private:
    // A stretch of constant speed. Times are kept as numerators over m_denominator, in
    // microseconds: time(tick) = (startNumerator + (tick - startTick) * perTick) / m_denominator.
    struct Segment {
        std::uint64_t startTick = 0;
        detail::Uint128 startNumerator = 0;
        std::uint64_t perTick = 0;
    };

    const Segment &segmentAt(std::uint64_t tick) const;
    detail::Uint128 numeratorAt(std::uint64_t tick) const;
    std::int64_t usFromNumerator(detail::Uint128 numerator) const;
    std::uint64_t frameFromNumerator(detail::Uint128 numerator, std::uint32_t sampleRate) const;

    std::vector<Segment> m_segments; // never empty; the first starts at tick 0
    std::vector<TempoChange> m_changes;
    std::uint64_t m_denominator = 480;
    bool m_smpte = false;
};

} // namespace tunedeck

#include "tunedeck/TempoMap.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace tunedeck {

namespace {

using detail::Uint128;

// Standard MIDI files start at 120 beats per minute until a Set Tempo says otherwise.
constexpr std::uint32_t kDefaultUsPerQuarter = 500'000;
constexpr std::uint16_t kDefaultTicksPerQuarter = 480;
constexpr std::uint64_t kUsPerSecond = 1'000'000;

template<typename T> T saturate(Uint128 value)
{
    constexpr auto max = std::numeric_limits<T>::max();
    return value > static_cast<Uint128>(max) ? max : static_cast<T>(value);
}

} // namespace

TempoMap::TempoMap()
    : TempoMap(kDefaultTicksPerQuarter, {})
{ }

TempoMap::TempoMap(std::uint16_t ticksPerQuarter, std::span<const TempoChange> changes)
    : m_changes(changes.begin(), changes.end())
    , m_denominator(std::max<std::uint16_t>(ticksPerQuarter, 1))
{
    // Stable, so that of several changes on one tick the last listed stays last and wins.
    std::stable_sort(m_changes.begin(), m_changes.end(),
        [](const TempoChange &a, const TempoChange &b) { return a.tick < b.tick; });
    auto kept = m_changes.begin();
    for (auto it = m_changes.begin(); it != m_changes.end(); ++it) {
        if (kept != m_changes.begin() && std::prev(kept)->tick == it->tick)
            *std::prev(kept) = *it;
        else
            *kept++ = *it;
    }
    m_changes.erase(kept, m_changes.end());

    m_segments.reserve(m_changes.size() + 1);
    m_segments.push_back({ 0, 0, kDefaultUsPerQuarter });
    for (const TempoChange &change : m_changes) {
        if (change.tick == m_segments.back().startTick) {
            m_segments.back().perTick = change.usPerQuarter;
            continue;
        }
        m_segments.push_back({ change.tick, numeratorAt(change.tick), change.usPerQuarter });
    }
}

TempoMap TempoMap::smpte(int framesPerSecond, int ticksPerFrame)
{
    assert(ticksPerFrame > 0);
    assert(framesPerSecond == 24 || framesPerSecond == 25 || framesPerSecond == 29
        || framesPerSecond == 30);
    // 29 stands for 30 drop frame: 30000 frames every 1001 seconds.
    const std::uint64_t frameNumerator = framesPerSecond == 29 ? 30'000 : framesPerSecond;
    const std::uint64_t frameDenominator = framesPerSecond == 29 ? 1'001 : 1;

    TempoMap map;
    map.m_smpte = true;
    map.m_changes.clear();
    map.m_denominator = frameNumerator * static_cast<std::uint64_t>(ticksPerFrame);
    map.m_segments = { { 0, 0, kUsPerSecond * frameDenominator } };
    return map;
}

const TempoMap::Segment &TempoMap::segmentAt(std::uint64_t tick) const
{
    // The last segment starting at or before `tick`; the first one starts at 0.
    const auto after = std::upper_bound(m_segments.begin(), m_segments.end(), tick,
        [](std::uint64_t t, const Segment &segment) { return t < segment.startTick; });
    return *std::prev(after);
}

detail::Uint128 TempoMap::numeratorAt(std::uint64_t tick) const
{
    const Segment &segment = segmentAt(tick);
    return segment.startNumerator
        + static_cast<Uint128>(tick - segment.startTick) * segment.perTick;
}

std::int64_t TempoMap::usFromNumerator(Uint128 numerator) const
{
    // A 128-bit division costs several times a 64-bit one; any real song fits 64 bits.
    if (numerator >> 64 == 0)
        return saturate<std::int64_t>(static_cast<std::uint64_t>(numerator) / m_denominator);
    return saturate<std::int64_t>(numerator / m_denominator);
}

std::uint64_t TempoMap::frameFromNumerator(Uint128 numerator, std::uint32_t sampleRate) const
{
    return saturate<std::uint64_t>(
        numerator * sampleRate / (static_cast<Uint128>(m_denominator) * kUsPerSecond));
}

std::int64_t TempoMap::tickToUs(std::uint64_t tick) const
{
    return usFromNumerator(numeratorAt(tick));
}

std::uint32_t TempoMap::tickToMs(std::uint64_t tick) const
{
    return saturate<std::uint32_t>(
        numeratorAt(tick) / (static_cast<Uint128>(m_denominator) * 1000));
}

std::uint64_t TempoMap::tickToFrame(std::uint64_t tick, std::uint32_t sampleRate) const
{
    return frameFromNumerator(numeratorAt(tick), sampleRate);
}

std::uint64_t TempoMap::usToTick(std::int64_t us) const
{
    if (us < 0)
        return 0;
    // The largest numerator whose floor division still gives `us` or less.
    const Uint128 limit = (static_cast<Uint128>(us) + 1) * m_denominator - 1;
    const auto after = std::upper_bound(m_segments.begin(), m_segments.end(), limit,
        [](Uint128 n, const Segment &segment) { return n < segment.startNumerator; });
    const Segment &segment = *std::prev(after);
    if (segment.perTick == 0)
        return segment.startTick;
    const Uint128 ticks = (limit - segment.startNumerator) / segment.perTick;
    return saturate<std::uint64_t>(segment.startTick + ticks);
}

std::uint32_t TempoMap::usPerQuarterAt(std::uint64_t tick) const
{
    if (m_smpte)
        return kDefaultUsPerQuarter;
    return static_cast<std::uint32_t>(segmentAt(tick).perTick);
}

detail::Uint128 TempoMap::Walker::numeratorAt(std::uint64_t tick)
{
    const auto &segments = m_map->m_segments;
    // Ticks asked for in order walk on from the last one's segment; any other (a seek) is
    // looked up, which in a song of a million tempo changes is the difference between a few
    // steps and milliseconds.
    if (tick < segments[m_segment].startTick
        || (m_segment + 2 < segments.size() && segments[m_segment + 2].startTick <= tick))
        m_segment = std::size_t(&m_map->segmentAt(tick) - segments.data());
    while (m_segment + 1 < segments.size() && segments[m_segment + 1].startTick <= tick)
        ++m_segment;
    const Segment &segment = segments[m_segment];
    return segment.startNumerator
        + static_cast<Uint128>(tick - segment.startTick) * segment.perTick;
}

std::int64_t TempoMap::Walker::tickToUs(std::uint64_t tick)
{
    return m_map->usFromNumerator(numeratorAt(tick));
}

std::uint64_t TempoMap::Walker::tickToFrame(std::uint64_t tick, std::uint32_t sampleRate)
{
    return m_map->frameFromNumerator(numeratorAt(tick), sampleRate);
}

} // namespace tunedeck

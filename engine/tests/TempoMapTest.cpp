// Exact time: ticks to microseconds, milliseconds and sample frames through tempo changes,
// without accumulated rounding, and song lengths as the reader computes them.
#include "tunedeck/TempoMap.h"
#include "tunedeck/MidiFile.h"

#include "testsupport/MidiWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using namespace tunedeck;
using testsupport::SmfWriter;
using testsupport::TrackWriter;

namespace {

// Each TempoChange is (tick, microseconds per quarter note).
struct TickCase {
    const char *name;
    std::vector<TempoChange> changes;
    std::uint64_t tick;
    std::uint32_t ms;
};

class TickToMs : public ::testing::TestWithParam<TickCase> { };

MidiFile parsed(const testsupport::Bytes &bytes)
{
    auto result = MidiFile::parse(bytes);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().detail);
    return result.ok() ? std::move(result).value() : MidiFile {};
}

} // namespace

// At 480 ticks per quarter, each span between tempo changes counts at its own tempo.
TEST_P(TickToMs, CountsEachSpanAtItsOwnTempo)
{
    EXPECT_EQ(TempoMap(480, GetParam().changes).tickToMs(GetParam().tick), GetParam().ms);
}

INSTANTIATE_TEST_SUITE_P(TempoMap, TickToMs,
    ::testing::Values(TickCase { "DefaultTempoIs120Bpm", {}, 960, 1000 },
        TickCase { "ChangeMidSong", { { 480, 1'000'000 } }, 960, 1500 },
        TickCase { "ChangeAtTickZeroReplacesTheDefault", { { 0, 250'000 } }, 960, 500 },
        TickCase { "LaterChangeOnSameTickWins", { { 0, 1'000'000 }, { 0, 250'000 } }, 480, 250 },
        TickCase { "ChangesGivenOutOfOrderAreOrdered", { { 960, 2'000'000 }, { 480, 1'000'000 } },
            1440, 500 + 1000 + 2000 },
        TickCase { "TickBeforeAnyChangeUsesTheDefault", { { 960, 2'000'000 } }, 480, 500 },
        TickCase { "MillisecondsAreTruncatedNotRounded", { { 0, 999'999 } }, 1, 2 }),
    [](const auto &testCase) { return std::string(testCase.param.name); });

// A tick of 1/3 of 500 000 µs is not a whole number of microseconds; times computed afresh
// from the exact value stay exact where summing rounded steps would drift.
TEST(TempoMapExactness, TimesDoNotAccumulateRounding)
{
    std::vector<TempoChange> everyTick;
    for (std::uint64_t tick = 0; tick < 3000; ++tick)
        everyTick.push_back({ tick, 500'000 }); // a "change" on every tick, all the same
    const TempoMap map(3, everyTick);

    EXPECT_EQ(map.tickToUs(1), 166'666);
    EXPECT_EQ(map.tickToUs(2), 333'333);
    EXPECT_EQ(map.tickToUs(3), 500'000);
    EXPECT_EQ(map.tickToUs(3000), 500'000'000);
    EXPECT_EQ(map.tickToUs(3001), 500'166'666);
}

// Sample frames come from the exact time, not from the microseconds rounded down.
TEST(TempoMapExactness, FramesComeFromTheExactTime)
{
    const TempoMap map(3, {});
    EXPECT_EQ(map.tickToFrame(1, 6), 1u); // exactly 1/6 s; 166 666 µs would give 0
    EXPECT_EQ(map.tickToFrame(480 * 3, 44'100), 480u * 22'050);
    const TempoMap defaults;
    EXPECT_EQ(defaults.tickToFrame(480, 44'100), 22'050u);
    EXPECT_EQ(defaults.tickToFrame(1, 48'000), 50u); // 1/960 s at 48 kHz
}

// SMPTE drop frame: 30 000 frames in 1001 seconds, exact in frames as well.
TEST(TempoMapExactness, SmpteDropFrameIsExactInSampleFrames)
{
    const TempoMap map = TempoMap::smpte(29, 4);
    EXPECT_TRUE(map.isSmpte());
    EXPECT_EQ(map.tickToFrame(120'000, 48'000), 1001u * 48'000);
    EXPECT_EQ(map.tickToFrame(1, 48'000), 400u); // 1001/120 000 s = 400.4 frames
    EXPECT_EQ(map.tickToUs(4), 33'366); // one frame: 1001/30 ms
}

// From a time back to the tick: the last tick at or before it, through tempo changes.
TEST(TempoMapExactness, UsToTickInvertsTickToUs)
{
    const std::vector<TempoChange> changes { { 100, 1'000'000 }, { 300, 125'000 },
        { 700, 600'000 } };
    const TempoMap map(480, changes);
    for (const std::uint64_t tick : { 0, 1, 99, 100, 101, 299, 300, 301, 699, 700, 5000 })
        EXPECT_EQ(map.usToTick(map.tickToUs(tick)), tick) << "tick " << tick;
    EXPECT_EQ(map.usToTick(map.tickToUs(300) - 1), 299u);
    EXPECT_EQ(map.usToTick(-1), 0u);
    EXPECT_EQ(map.usPerQuarterAt(99), 500'000u);
    EXPECT_EQ(map.usPerQuarterAt(300), 125'000u);
    EXPECT_EQ(map.usPerQuarterAt(100'000), 600'000u);
}

// A time that cannot be represented saturates instead of wrapping round.
TEST(TempoMapExactness, HugeTicksSaturate)
{
    const std::vector<TempoChange> slowest { { 0, 0xFF'FFFF } };
    const TempoMap map(1, slowest);
    const std::uint64_t huge = std::uint64_t { 1 } << 62;
    EXPECT_EQ(map.tickToUs(huge), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(map.tickToMs(huge), std::numeric_limits<std::uint32_t>::max());
    EXPECT_GT(map.tickToUs(1000), map.tickToUs(999));
}

// In format 1 a tempo change in any track applies to the events of every track.
TEST(SongTiming, TempoChangesOfAllTracksAreMerged)
{
    TrackWriter notes;
    notes.noteOn(0, 0, 60, 90).noteOff(960, 0, 60).endOfTrack(0);
    TrackWriter tempo;
    tempo.tempo(480, 1'000'000).endOfTrack(0);
    const MidiFile file = parsed(SmfWriter(1, 480).track(notes).track(tempo).bytes());

    ASSERT_EQ(file.events().size(), 5u);
    EXPECT_EQ(
        file.timeUsOf(file.events()[3]), 1'500'000); // the note off, after the change in track 2
    EXPECT_EQ(file.lengthMs(), 1500u);
    EXPECT_EQ(file.tempoMap().changes().size(), 1u);
}

// The length runs to the last End of Track of all tracks, past the last note.
TEST(SongTiming, LengthIncludesTheLastEndOfTrack)
{
    TrackWriter notes;
    notes.noteOn(0, 0, 60, 90).noteOff(480, 0, 60).endOfTrack(0);
    TrackWriter silence;
    silence.text(0, 0x03, "Silence").endOfTrack(1920);
    const MidiFile file = parsed(SmfWriter(1, 480).track(notes).track(silence).bytes());
    EXPECT_EQ(file.lengthMs(), 2000u);
    EXPECT_EQ(file.lengthUs(), 2'000'000);
}

// Tempo changes mid-song give the exact length: 2 quarters at 120 bpm, 1 at 80 bpm, 3 at
// 2 400 000 µs per quarter with a tick count that does not divide evenly.
TEST(SongTiming, TempoChangesMidSongGiveExactLengths)
{
    TrackWriter track;
    track.noteOn(0, 0, 60, 90).tempo(960, 750'000).tempo(480, 2'400'000).noteOff(7, 0, 60);
    track.endOfTrack(0);
    const MidiFile file = parsed(SmfWriter(0, 480).track(track).bytes());
    // 1000 ms + 750 ms + 7/480 × 2.4 s = 1785 ms exactly
    EXPECT_EQ(file.lengthUs(), 1'785'000);
    EXPECT_EQ(file.lengthMs(), 1785u);
}

// Each event's time agrees with the frame helper the synthesiser schedules by.
TEST(SongTiming, EventFramesMatchTheirTimes)
{
    TrackWriter track;
    track.tempo(0, 600'000).noteOn(0, 0, 60, 90).noteOff(100, 0, 60).tempo(100, 300'000);
    track.noteOn(333, 0, 62, 90).endOfTrack(5);
    const MidiFile file = parsed(SmfWriter(0, 96).track(track).bytes());
    for (const MidiEvent &event : file.events()) {
        const std::uint64_t frame = file.frameOf(event, 1'000'000); // one frame per µs
        EXPECT_EQ(frame, static_cast<std::uint64_t>(file.timeUsOf(event)))
            << "tick " << event.tick();
    }
    EXPECT_EQ(file.timeUsOf(file.events().back()), (200 * 600'000 + 338 * 300'000) / 96);
}

// Walking ticks in order gives the map's own answers, and going back restarts the walk.
TEST(TempoMapExactness, WalkerAgreesWithTheMap)
{
    const std::vector<TempoChange> changes { { 10, 1'000'001 }, { 11, 3 }, { 500, 777'777 } };
    const TempoMap map(7, changes);
    TempoMap::Walker walker(map);
    for (const std::uint64_t tick : { 0, 0, 9, 10, 11, 12, 499, 500, 501, 100'000, 5, 11, 600 }) {
        EXPECT_EQ(walker.tickToUs(tick), map.tickToUs(tick)) << "tick " << tick;
        EXPECT_EQ(walker.tickToFrame(tick, 44'100), map.tickToFrame(tick, 44'100))
            << "tick " << tick;
    }
}

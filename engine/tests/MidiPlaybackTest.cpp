// The MIDI source as heard through an offline device: events at their exact frames, seeking
// that restores every channel's state, and the lenient files that other players accept.

#include "DeviceTestSupport.h"
#include "testsupport/MidiWriter.h"
#include "testsupport/ScratchDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

using namespace devicetest;
using testsupport::SmfWriter;
using testsupport::TrackWriter;
using tunedeck::Device;
using tunedeck::OutputMode;

namespace {

constexpr std::uint16_t kTicksPerQuarter = 480; // 500 ms per quarter at the default tempo
constexpr std::size_t kRate = 44100;

class MidiPlayback : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string &name, const testsupport::Bytes &bytes)
    {
        const auto path = m_dir / name;
        EXPECT_TRUE(testsupport::writeFile(path, bytes));
        return path;
    }

    const testsupport::ScratchDir m_scratch;
    const std::filesystem::path &m_dir = m_scratch.path();
};

// Channel 0 changes program, volume and pitch bend at 2 s with its sustain pedal down from the
// start (and a note held under it); channel 2 plays one note from 3 s to 3.5 s; the song ends
// at 4 s.
testsupport::Bytes stateSong()
{
    TrackWriter track;
    track.program(0, 0, 40)
        .controller(0, 0, 7, 90)
        .controller(0, 0, 10, 30)
        .controller(0, 0, 64, 127)
        .controller(0, 0, 101, 0) // RPN 0: pitch bend range ...
        .controller(0, 0, 100, 0)
        .controller(0, 0, 6, 12) // ... 12 semitones
        .controller(0, 0, 38, 0)
        .program(0, 1, 10)
        .noteOn(0, 0, 64, 100)
        .program(1920, 0, 50)
        .controller(0, 0, 7, 60)
        .pitchBend(0, 0, 1000)
        .controller(0, 0, 66, 127)
        .noteOn(960, 2, 60, 100)
        .noteOff(480, 2, 60)
        .noteOff(480, 0, 64)
        .endOfTrack(0);
    return SmfWriter(0, kTicksPerQuarter).track(track).bytes();
}

} // namespace

// After a seek, each channel holds the program, controllers and pitch bend (with its range) of
// that point in the song, while the pedals are released so nothing hangs.
TEST_F(MidiPlayback, SeekRestoresEveryChannelsStateWithPedalsReleased)
{
    Device device(nullptr, OutputMode::Offline);
    ASSERT_TRUE(device.open(write("state.mid", stateSong())));
    pumpFrames(device, kBlockFrames);

    ASSERT_TRUE(device.seekMs(2500));
    pumpFrames(device, kBlockFrames);
    auto channel0 = device.channelState(0);
    EXPECT_EQ(channel0.program, 50);
    EXPECT_EQ(channel0.controllers[7], 60);
    EXPECT_EQ(channel0.controllers[10], 30);
    EXPECT_EQ(channel0.pitchBend, 1000);
    EXPECT_EQ(channel0.pitchBendRangeSemitones, 12);
    EXPECT_EQ(channel0.controllers[64], 0);
    EXPECT_EQ(channel0.controllers[66], 0);
    EXPECT_EQ(device.channelState(1).program, 10);

    // Backwards: the later changes are undone.
    ASSERT_TRUE(device.seekMs(1000));
    pumpFrames(device, kBlockFrames);
    channel0 = device.channelState(0);
    EXPECT_EQ(channel0.program, 40);
    EXPECT_EQ(channel0.controllers[7], 90);
    EXPECT_EQ(channel0.pitchBend, 8192);
    EXPECT_EQ(channel0.pitchBendRangeSemitones, 12);
}

// Seeking anywhere leaves every channel exactly as playing through to that point does, however
// the song mixes controllers, resets, bank selects, RPN and NRPN data entry and bends (pedals
// aside: a seek releases them).
TEST_F(MidiPlayback, SeekMatchesPlayingThroughOnABusySong)
{
    std::uint32_t random = 12345;
    const auto next = [&random](std::uint32_t range) {
        random = random * 1103515245u + 12345u;
        return (random >> 16) % range;
    };
    TrackWriter track;
    const int controllers[] = { 1, 7, 10, 11, 64, 66, 91, 93, 0, 32, 121 };
    for (int i = 0; i < 1500; ++i) {
        const int channel = int(next(16));
        const std::uint32_t delta = next(3) == 0 ? next(40) : 0;
        switch (next(8)) {
        case 0:
            track.controller(
                delta, channel, controllers[next(std::size(controllers))], int(next(128)));
            break;
        case 1:
            track.program(delta, channel, int(next(128)));
            break;
        case 2:
            track.pitchBend(delta, channel, int(next(16384)));
            break;
        case 3: // RPN 0..2 with data entry
            track.controller(delta, channel, 101, 0)
                .controller(0, channel, 100, int(next(3)))
                .controller(0, channel, 6, int(next(24)))
                .controller(0, channel, 38, int(next(128)));
            break;
        case 4: // an NRPN, then the selection back to none
            track.controller(delta, channel, 99, 1)
                .controller(0, channel, 98, int(next(128)))
                .controller(0, channel, 6, int(next(128)))
                .controller(0, channel, 101, 127)
                .controller(0, channel, 100, 127);
            break;
        case 5:
            track.channelMessage(delta, std::uint8_t(0xD0 | channel), int(next(128)));
            break;
        default: {
            const int key = 40 + int(next(40));
            track.noteOn(delta, channel, key, 1 + int(next(127))).noteOff(next(20), channel, key);
            break;
        }
        }
    }
    track.endOfTrack(480);
    const auto path = write("busy.mid", SmfWriter(0, kTicksPerQuarter).track(track).bytes());

    Device through(nullptr, OutputMode::Offline);
    Device sought(nullptr, OutputMode::Offline);
    ASSERT_TRUE(through.open(path));
    ASSERT_TRUE(sought.open(path));
    through.play();
    std::uint32_t playedMs = 0;
    const std::uint32_t lengthMs = sought.lengthMs();
    ASSERT_GT(lengthMs, 3000u);
    for (const std::uint32_t targetMs :
        { 990u, lengthMs / 30 * 10, lengthMs / 20 * 10, lengthMs / 10 * 10 }) {
        pumpFrames(through, (targetMs - playedMs) * kRate / 1000);
        playedMs = targetMs;
        ASSERT_TRUE(sought.seekMs(targetMs));
        std::vector<float> none; // a block of no frames applies the seek and plays nothing
        sought.pump(none);
        for (int channel = 0; channel < 16; ++channel) {
            SCOPED_TRACE(
                "at " + std::to_string(targetMs) + " ms, channel " + std::to_string(channel));
            const auto expected = through.channelState(channel);
            const auto actual = sought.channelState(channel);
            EXPECT_EQ(actual.bank, expected.bank);
            EXPECT_EQ(actual.program, expected.program);
            EXPECT_EQ(actual.pitchBend, expected.pitchBend);
            EXPECT_EQ(actual.pitchBendRangeSemitones, expected.pitchBendRangeSemitones);
            for (int number = 0; number < 128; ++number) {
                if (number == 64 || number == 66)
                    continue;
                EXPECT_EQ(actual.controllers[number], expected.controllers[number])
                    << "CC " << number;
            }
        }
    }
}

// Before a seek's target, more order-dependent messages than the seek replays (data entry on
// one channel, here) leave the other channels' programs, banks and controllers as they were, and
// a part made a drum part by a system exclusive message before them.
TEST_F(MidiPlayback, SeekPastManyDependentMessagesKeepsEveryChannel)
{
    TrackWriter track;
    const std::uint8_t gsRhythmPart5[]
        = { 0x41, 0x7F, 0x42, 0x12, 0x40, 0x15, 0x15, 0x01, 0x15, 0xF7 };
    track.sysex(0, gsRhythmPart5).program(0, 4, 0);
    track.controller(0, 1, 0, 1).program(0, 1, 40).controller(0, 1, 7, 90).program(0, 3, 19);
    track.controller(0, 2, 101, 0).controller(0, 2, 100, 0);
    for (int i = 0; i < 70'000; ++i)
        track.controller(i % 16 == 0 ? 1 : 0, 2, 6, i % 24);
    track.noteOn(960, 4, 38, 100).noteOff(480, 4, 38).endOfTrack(0);
    const auto path = write("dense.mid", SmfWriter(0, kTicksPerQuarter).track(track).bytes());
    Device device(nullptr, OutputMode::Offline);
    ASSERT_TRUE(device.open(path));
    ASSERT_TRUE(device.seekMs(device.lengthMs() - 600)); // before the last note
    std::vector<float> none;
    for (int call = 0; call < 100; ++call) // the seek takes a few calls to replay all this
        device.pump(none);
    EXPECT_EQ(device.channelState(1).bank, 1);
    EXPECT_EQ(device.channelState(1).program, 40);
    EXPECT_EQ(device.channelState(1).controllers[7], 90);
    EXPECT_EQ(device.channelState(3).program, 19);
    // As a melodic part, channel 5 would play an instrument none of whose notes were read.
    device.play();
    EXPECT_GT(peak(pumpFrames(device, kRate / 2)), 0.01f) << "channel 5's drum is heard";
}

// A seek between notes is silent: the note held since the start is not left sounding.
TEST_F(MidiPlayback, SeekLeavesNoHangingNotes)
{
    Device device(nullptr, OutputMode::Offline);
    ASSERT_TRUE(device.open(write("state.mid", stateSong())));
    device.play();
    const auto playing = pumpFrames(device, kRate / 2);
    ASSERT_GT(peak(playing), 0.01f); // The held note sounds before the seek.

    // What remains is at most the reverb's fading tail, far below a note.
    ASSERT_TRUE(device.seekMs(2500));
    device.play();
    EXPECT_LT(peak(pumpFrames(device, kRate / 4)), peak(playing) / 10);
}

// A note that starts exactly at the seek target is played.
TEST_F(MidiPlayback, NoteStartingAtTheSeekTargetSounds)
{
    Device device(nullptr, OutputMode::Offline);
    ASSERT_TRUE(device.open(write("state.mid", stateSong())));
    ASSERT_TRUE(device.seekMs(3000));
    device.play();
    EXPECT_GT(peak(pumpFrames(device, kBlockFrames)), 0.01f);
}

// At the end of the song the pedals are released and the notes stop: the sound dies away.
TEST_F(MidiPlayback, EndOfSongReleasesPedalsAndNotes)
{
    Device device(nullptr, OutputMode::Offline);
    TrackWriter track;
    track.controller(0, 0, 64, 127).noteOn(0, 0, 60, 100).endOfTrack(960); // no note off
    ASSERT_TRUE(
        device.open(write("held.mid", SmfWriter(0, kTicksPerQuarter).track(track).bytes())));
    renderToEnd(device);
    EXPECT_EQ(device.channelState(0).controllers[64], 0);
    pumpFrames(device, kRate * 2); // release and reverb tails
    EXPECT_LT(peak(pumpFrames(device, kBlockFrames)), 1e-3f);
}

// Each span between tempo changes plays at its own tempo: the song renders exactly as many
// frames as its length says, from the start and from a seek into the middle.
TEST_F(MidiPlayback, TempoChangesGiveExactFrameCounts)
{
    TrackWriter conductor;
    conductor.tempo(0, 500'000).tempo(960, 1'000'000).tempo(960, 250'000).endOfTrack(960);
    TrackWriter notes;
    notes.noteOn(0, 0, 60, 90).noteOff(2880, 0, 60).endOfTrack(0);
    const auto path
        = write("tempo.mid", SmfWriter(1, kTicksPerQuarter).track(conductor).track(notes).bytes());

    Device device(nullptr, OutputMode::Offline);
    ASSERT_TRUE(device.open(path));
    EXPECT_EQ(device.lengthMs(), 1000u + 2000u + 500u);
    EXPECT_EQ(renderToEnd(device), 3500 * kRate / 1000);
    EXPECT_EQ(device.positionMs(), 3500u);

    ASSERT_TRUE(device.seekMs(2000)); // inside the slow span
    EXPECT_EQ(renderToEnd(device), 1500 * kRate / 1000);
}

struct ContainerCase {
    const char *name;
    testsupport::Bytes bytes;
    tunedeck::MediaKind kind;
    std::uint32_t lengthMs;
};

class MidiContainers : public MidiPlayback, public ::testing::WithParamInterface<ContainerCase> { };

// Every container and time division plays for exactly its length and reports its end.
TEST_P(MidiContainers, PlaysForItsLengthAndReportsTheEnd)
{
    const auto path = write(std::string(GetParam().name) + ".mid", GetParam().bytes);
    NoticeCatcher notices;
    Device device(notices.listener(), OutputMode::Offline);
    ASSERT_TRUE(device.open(path));
    EXPECT_EQ(device.kind(), GetParam().kind);
    EXPECT_EQ(device.lengthMs(), GetParam().lengthMs);
    EXPECT_EQ(renderToEnd(device), std::size_t(GetParam().lengthMs) * kRate / 1000);
    const auto notice = notices.waitFor(0);
    ASSERT_TRUE(notice.has_value());
    EXPECT_EQ(notice->kind, tunedeck::Notice::Kind::Finished);
    EXPECT_EQ(notice->runId, device.runId());
}

namespace {

using tunedeck::MediaKind;

// A note held for one second (960 ticks at 480 per quarter and 120 bpm).
TrackWriter oneSecondTrack(
    testsupport::RunningStatus runningStatus = testsupport::RunningStatus::Off,
    bool endOfTrack = true)
{
    TrackWriter track(runningStatus);
    track.noteOn(0, 0, 60, 90).noteOn(0, 0, 64, 90).noteOff(960, 0, 60).noteOff(0, 0, 64);
    if (endOfTrack)
        track.endOfTrack(0);
    return track;
}

std::vector<ContainerCase> containerCases()
{
    const auto smf0 = SmfWriter(0, kTicksPerQuarter).track(oneSecondTrack()).bytes();
    const std::uint8_t unknownBody[] = { 1, 2, 3, 4, 5 };
    const std::uint8_t extraHeader[] = { 0, 0, 0, 0 };
    TrackWriter smpteTrack; // 25 frames of 40 ticks: 1000 ticks a second
    smpteTrack.noteOn(0, 0, 60, 90).noteOff(1000, 0, 60).endOfTrack(0);
    const auto cutShort = oneSecondTrack();
    return {
        { "Format0", smf0, MediaKind::Smf0, 1000 },
        { "Format1TracksPlayTogether",
            SmfWriter(1, kTicksPerQuarter).track(oneSecondTrack()).track(oneSecondTrack()).bytes(),
            MediaKind::Smf1, 1000 },
        { "Format2TracksPlayInTurn",
            SmfWriter(2, kTicksPerQuarter).track(oneSecondTrack()).track(oneSecondTrack()).bytes(),
            MediaKind::Smf2, 2000 },
        { "RmiWrapper", testsupport::wrapRmi(smf0), MediaKind::Rmi, 1000 },
        { "SmpteDivision", SmfWriter::smpte(0, 25, 40).track(smpteTrack).bytes(), MediaKind::Smf0,
            1000 },
        { "RunningStatus",
            SmfWriter(0, kTicksPerQuarter)
                .track(oneSecondTrack(testsupport::RunningStatus::On))
                .bytes(),
            MediaKind::Smf0, 1000 },
        { "LenientMissingEndOfTrack",
            SmfWriter(0, kTicksPerQuarter)
                .track(oneSecondTrack(testsupport::RunningStatus::Off, false))
                .bytes(),
            MediaKind::Smf0, 1000 },
        { "LenientTrackLengthPastTheEnd",
            SmfWriter(0, kTicksPerQuarter)
                .trackWithLength(cutShort, std::uint32_t(cutShort.bytes().size() + 100))
                .bytes(),
            MediaKind::Smf0, 1000 },
        { "LenientUnknownChunkSkipped",
            SmfWriter(0, kTicksPerQuarter)
                .chunk("XTRA", unknownBody)
                .track(oneSecondTrack())
                .bytes(),
            MediaKind::Smf0, 1000 },
        { "LenientLongHeader",
            SmfWriter(0, kTicksPerQuarter).headerExtra(extraHeader).track(oneSecondTrack()).bytes(),
            MediaKind::Smf0, 1000 },
    };
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Files, MidiContainers, ::testing::ValuesIn(containerCases()),
    [](const auto &testCase) { return std::string(testCase.param.name); });

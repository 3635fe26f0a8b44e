// The MIDI file reader: containers and formats, event encodings, the leniency real files need,
// and the refusal of everything that is not a MIDI file.
#include "tunedeck/MidiFile.h"

#include "testsupport/MidiWriter.h"
#include "testsupport/ScratchDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tunedeck;
using testsupport::Bytes;
using testsupport::RunningStatus;
using testsupport::SmfWriter;
using testsupport::TrackWriter;

namespace {

Result<MidiFile> parse(const Bytes &bytes)
{
    return MidiFile::parse(bytes);
}

std::string describe(const Result<MidiFile> &result)
{
    if (result.ok())
        return "parsed";
    return std::string(errorText(result.error().code)) + ": " + result.error().detail + " at byte "
        + std::to_string(result.error().offset);
}

// (tick, status) of every event, for comparing orders (each track of these songs plays on a
// channel of its own, so the status tells the track).
struct Placed {
    std::uint64_t tick;
    int status;
    bool operator==(const Placed &) const = default;
};

std::vector<Placed> placed(const MidiFile &file)
{
    std::vector<Placed> out;
    for (const MidiEvent &event : file.events())
        out.push_back({ event.tick(), event.status });
    return out;
}

std::string payloadText(const MidiFile &file, const MidiEvent &event)
{
    const auto bytes = file.payloadOf(event);
    return std::string(bytes.begin(), bytes.end());
}

// A two-track song with notes, a tempo change and an end, used where any valid song will do.
Bytes shortSong()
{
    TrackWriter conductor;
    conductor.text(0, 0x03, "Conductor").tempo(0, 400'000).tempo(960, 600'000).endOfTrack(960);
    TrackWriter piano(RunningStatus::On);
    piano.program(0, 0, 0).noteOn(0, 0, 60, 90).noteOn(480, 0, 60, 0).noteOn(0, 0, 64, 90);
    piano.noteOn(480, 0, 64, 0).noteOn(0, 0, 67, 90).noteOn(960, 0, 67, 0).endOfTrack(0);
    return SmfWriter(1, 480).track(conductor).track(piano).bytes();
}

} // namespace

// Format 0: one track, its events in file order with their absolute ticks and data bytes.
TEST(MidiFormats, FormatZeroKeepsEventsInOrderWithAbsoluteTicks)
{
    TrackWriter track;
    track.program(0, 3, 41).noteOn(10, 3, 62, 100).noteOff(470, 3, 62, 64).pitchBend(5, 3, 0x2001);
    track.endOfTrack(5);
    const auto result = parse(SmfWriter(0, 96).track(track).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    const MidiFile &file = result.value();

    EXPECT_EQ(file.kind(), MidiKind::Smf0);
    EXPECT_EQ(file.ticksPerQuarter(), 96);
    const std::vector<Placed> expected { { 0, 0xC3 }, { 10, 0x93 }, { 480, 0x83 }, { 485, 0xE3 },
        { 490, 0xFF } };
    EXPECT_EQ(placed(file), expected);
    const auto events = file.events();
    EXPECT_EQ(events[0].data1(), 41);
    EXPECT_EQ(events[0].data2(), 0); // program change has one data byte
    EXPECT_EQ(events[2].data1(), 62);
    EXPECT_EQ(events[2].data2(), 64);
    EXPECT_EQ(events[3].data1(), 0x01); // pitch bend: low seven bits first
    EXPECT_EQ(events[3].data2(), 0x40);
    EXPECT_EQ(events[4].metaType, kMetaEndOfTrack);
}

// Format 1: the tracks sound together, merged by tick; on equal ticks the earlier track comes
// first, then the order within the track.
TEST(MidiFormats, FormatOneMergesTracksByTickWithTiesInTrackOrder)
{
    TrackWriter first;
    first.tempo(0, 500'000).noteOn(480, 0, 60, 90).endOfTrack(480);
    TrackWriter second;
    second.noteOn(0, 1, 50, 90).program(0, 1, 5).noteOn(480, 1, 52, 90).endOfTrack(0);
    TrackWriter third;
    third.noteOn(240, 2, 40, 90).endOfTrack(240);
    const auto result = parse(SmfWriter(1, 480).track(first).track(second).track(third).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);

    EXPECT_EQ(result.value().kind(), MidiKind::Smf1);
    EXPECT_EQ(result.value().trackCount(), 3);
    const std::vector<Placed> expected { { 0, 0xFF }, { 0, 0x91 }, { 0, 0xC1 }, { 240, 0x92 },
        { 480, 0x90 }, { 480, 0x91 }, { 480, 0xFF }, { 480, 0xFF }, { 960, 0xFF } };
    EXPECT_EQ(placed(result.value()), expected);
}

// Format 2: each track starts where the previous one ended, and the tempo set by one goes on
// into the next, as when the patterns are played one after another.
TEST(MidiFormats, FormatTwoPlaysTracksOneAfterAnother)
{
    TrackWriter first;
    first.tempo(0, 1'000'000).noteOn(0, 0, 60, 90).noteOff(480, 0, 60).endOfTrack(0);
    TrackWriter second;
    second.noteOn(0, 0, 62, 90).noteOff(240, 0, 62).endOfTrack(240);
    const auto result = parse(SmfWriter(2, 480).track(first).track(second).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    const MidiFile &file = result.value();

    EXPECT_EQ(file.kind(), MidiKind::Smf2);
    const std::vector<Placed> expected { { 0, 0xFF }, { 0, 0x90 }, { 480, 0x80 }, { 480, 0xFF },
        { 480, 0x90 }, { 720, 0x80 }, { 960, 0xFF } };
    EXPECT_EQ(placed(file), expected);
    EXPECT_EQ(file.lengthMs(), 2000u); // one quarter each at 60 bpm, the tempo carried on
}

// An RMI file is a RIFF RMID wrapper whose data chunk holds the song; a pad byte follows each
// odd-sized chunk, and INFO lists and DISP chunks may come first.
TEST(MidiFormats, RmiWrapperHoldsTheSongInItsDataChunk)
{
    Bytes smf = shortSong();
    if (smf.size() % 2 == 0) { // make the data chunk odd so the pad byte is exercised
        TrackWriter extra;
        extra.text(0, 0x01, "x").endOfTrack();
        smf = SmfWriter(1, 480).track(TrackWriter().endOfTrack()).track(extra).bytes();
    }
    ASSERT_EQ(smf.size() % 2, 1u);
    const auto plain = parse(smf);
    const Bytes display { 1, 0, 0 }; // an odd chunk before the data: its pad byte is skipped
    const auto wrapped = parse(testsupport::wrapRmi(smf, "Song", display));
    ASSERT_TRUE(plain.ok()) << describe(plain);
    ASSERT_TRUE(wrapped.ok()) << describe(wrapped);

    EXPECT_EQ(wrapped.value().kind(), MidiKind::Rmi);
    EXPECT_EQ(wrapped.value().format(), 1);
    EXPECT_EQ(placed(wrapped.value()), placed(plain.value()));
    EXPECT_EQ(wrapped.value().lengthUs(), plain.value().lengthUs());
}

// The reader looks at the bytes: an RMI file named .mid and an SMF named .rmi read as what
// they are.
TEST(MidiFormats, KindIsDecidedByContentNotByName)
{
    const testsupport::ScratchDir dir;
    const Bytes smf = shortSong();
    ASSERT_TRUE(testsupport::writeFile(dir.path() / "song.rmi", smf));
    ASSERT_TRUE(testsupport::writeFile(dir.path() / "wrapped.mid", testsupport::wrapRmi(smf)));

    const auto asRmi = MidiFile::read(dir.path() / "song.rmi");
    const auto asMid = MidiFile::read(dir.path() / "wrapped.mid");
    ASSERT_TRUE(asRmi.ok()) << describe(asRmi);
    ASSERT_TRUE(asMid.ok()) << describe(asMid);
    EXPECT_EQ(asRmi.value().kind(), MidiKind::Smf1);
    EXPECT_EQ(asMid.value().kind(), MidiKind::Rmi);
    EXPECT_TRUE(MidiFile::looksLikeMidi(smf));
    EXPECT_TRUE(MidiFile::looksLikeMidi(testsupport::wrapRmi(smf)));
    const Bytes wave { 'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E' };
    EXPECT_FALSE(MidiFile::looksLikeMidi(wave));
}

// A missing file and a folder are told apart from each other and from bad content.
TEST(MidiFormats, ReadTellsMissingFilesFromUnreadableOnes)
{
    const testsupport::ScratchDir dir;
    const auto missing = MidiFile::read(dir.path() / "nothing.mid");
    const auto folder = MidiFile::read(dir.path());
    ASSERT_FALSE(missing.ok());
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(missing.error().code, Error::Code::FileNotFound);
    EXPECT_EQ(folder.error().code, Error::Code::Io);
}

// Reading that is given up (the song is no longer wanted) stops, at the file or in its events;
// not given up, the same song reads whole.
TEST(MidiFormats, ReadingGivenUpStops)
{
    testsupport::TrackWriter track;
    for (int i = 0; i < 40'000; ++i)
        track.noteOn(1, 0, 60, 100).noteOff(1, 0, 60);
    const Bytes song = testsupport::SmfWriter(0, 480).track(track.endOfTrack(0)).bytes();
    const testsupport::ScratchDir dir;
    ASSERT_TRUE(testsupport::writeFile(dir.path() / "long.mid", song));
    std::atomic<bool> cancel { false };
    const auto read = MidiFile::read(dir.path() / "long.mid", &cancel);
    ASSERT_TRUE(read.ok()) << describe(read);
    EXPECT_EQ(read.value().events().size(), 80'001u);
    cancel = true;
    const auto atTheFile = MidiFile::read(dir.path() / "long.mid", &cancel);
    const auto inTheEvents = MidiFile::parse(Bytes(song), &cancel);
    ASSERT_FALSE(atTheFile.ok());
    ASSERT_FALSE(inTheEvents.ok());
    EXPECT_EQ(atTheFile.error().code, Error::Code::Io);
    EXPECT_EQ(inTheEvents.error().code, Error::Code::Io);
}

// Running status leaves out repeated status bytes; the events are the same either way.
TEST(MidiEvents, RunningStatusGivesTheSameEventsAsFullStatusBytes)
{
    const auto build = [](RunningStatus mode) {
        TrackWriter track(mode);
        track.noteOn(0, 0, 60, 90).noteOn(100, 0, 64, 90).noteOn(100, 0, 60, 0);
        track.controller(0, 0, 7, 100).controller(10, 0, 10, 30).noteOn(0, 0, 64, 0);
        track.program(0, 1, 5).program(5, 1, 6).endOfTrack();
        return SmfWriter(0, 480).track(track).bytes();
    };
    const Bytes full = build(RunningStatus::Off);
    const Bytes running = build(RunningStatus::On);
    ASSERT_LT(running.size(), full.size());

    const auto a = parse(full);
    const auto b = parse(running);
    ASSERT_TRUE(a.ok()) << describe(a);
    ASSERT_TRUE(b.ok()) << describe(b);
    ASSERT_EQ(a.value().events().size(), b.value().events().size());
    for (std::size_t i = 0; i < a.value().events().size(); ++i) {
        const MidiEvent &x = a.value().events()[i];
        const MidiEvent &y = b.value().events()[i];
        EXPECT_EQ(std::make_tuple(x.tick(), x.status, x.data1(), x.data2()),
            std::make_tuple(y.tick(), y.status, y.data1(), y.data2()))
            << "event " << i;
    }
}

// Many files go on with running status after a meta or sysex event; the reader plays them.
TEST(MidiEvents, RunningStatusCarriesAcrossMetaAndSysexEvents)
{
    TrackWriter track;
    const Bytes body { 0x00, 0x91, 60, 90, //
        0x00, 0xFF, 0x01, 0x01, 'a', //
        0x10, 62, 91, // running status after a meta event
        0x00, 0xF0, 0x02, 0x7E, 0xF7, //
        0x10, 64, 92 }; // ... and after a sysex event
    track.raw(body).endOfTrack();
    const auto result = parse(SmfWriter(0, 480).track(track).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    const auto events = result.value().events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(std::make_tuple(events[2].status, events[2].data1(), events[2].data2()),
        std::make_tuple(std::uint8_t { 0x91 }, std::uint8_t { 62 }, std::uint8_t { 91 }));
    EXPECT_EQ(std::make_tuple(events[4].status, events[4].data1(), events[4].data2()),
        std::make_tuple(std::uint8_t { 0x91 }, std::uint8_t { 64 }, std::uint8_t { 92 }));
    EXPECT_EQ(events[4].tick(), 0x20u);
}

// Sysex: F0 events keep their bytes after the F0; F7 escapes keep theirs as they are.
TEST(MidiEvents, SysexEventsKeepTheirPayloads)
{
    const Bytes gmOn { 0x7E, 0x7F, 0x09, 0x01, 0xF7 };
    const Bytes firstPart { 0x43, 0x10, 0x4C };
    const Bytes secondPart { 0x00, 0x00, 0x7E, 0x00, 0xF7 };
    const Bytes escape { 0xF8 }; // a real-time byte sent through an escape
    TrackWriter track;
    track.sysex(0, gmOn).sysex(10, firstPart).sysexEscape(5, secondPart).sysexEscape(5, escape);
    track.endOfTrack();
    const auto result = parse(SmfWriter(0, 480).track(track).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    const MidiFile &file = result.value();
    const auto events = file.events();
    ASSERT_EQ(events.size(), 5u);

    const auto bytesOf = [&](std::size_t i) {
        const auto span = file.payloadOf(events[i]);
        return Bytes(span.begin(), span.end());
    };
    EXPECT_EQ(events[0].status, 0xF0);
    EXPECT_EQ(bytesOf(0), gmOn);
    EXPECT_EQ(bytesOf(1), firstPart);
    EXPECT_EQ(events[2].status, 0xF7);
    EXPECT_EQ(bytesOf(2), secondPart);
    EXPECT_EQ(bytesOf(3), escape);
    EXPECT_EQ(events[3].tick(), 20u);
}

// Every meta event is kept with its type and bytes, known types and unknown ones alike.
TEST(MidiEvents, MetaEventsKeepTypeAndPayload)
{
    const Bytes keySignature { 0xFD, 0x01 }; // three flats, minor
    const Bytes timeSignature { 6, 3, 24, 8 };
    const Bytes sequencerSpecific { 0x00, 0x00, 0x41, 0x01 };
    TrackWriter track;
    track.text(0, 0x03, "Melody").text(0, 0x02, "(c) nobody").text(0, 0x05, "la");
    track.meta(0, 0x59, keySignature).meta(0, 0x58, timeSignature).text(0, 0x06, "Verse");
    track.meta(0, 0x7F, sequencerSpecific).text(0, 0x60, "unknown type").endOfTrack(1);
    const auto result = parse(SmfWriter(0, 480).track(track).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    const MidiFile &file = result.value();
    const auto events = file.events();
    ASSERT_EQ(events.size(), 9u);

    EXPECT_EQ(events[0].metaType, 0x03);
    EXPECT_EQ(payloadText(file, events[0]), "Melody");
    EXPECT_EQ(payloadText(file, events[2]), "la");
    const auto key = file.payloadOf(events[3]);
    EXPECT_EQ(Bytes(key.begin(), key.end()), keySignature);
    EXPECT_EQ(events[6].metaType, 0x7F);
    EXPECT_EQ(file.payloadOf(events[6]).size(), 4u);
    EXPECT_EQ(events[7].metaType, 0x60);
    EXPECT_EQ(payloadText(file, events[7]), "unknown type");
    EXPECT_EQ(file.payloadOf(events[8]).size(), 0u);
}

// SMPTE division counts frames and ticks per frame; tempo events do not change the time.
TEST(MidiEvents, SmpteDivisionCountsTimeInFrames)
{
    TrackWriter track;
    track.tempo(0, 250'000).noteOn(0, 0, 60, 90).noteOff(1000, 0, 60).endOfTrack(500);
    const auto result = parse(SmfWriter::smpte(0, 25, 40).track(track).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    const MidiFile &file = result.value();

    EXPECT_EQ(file.ticksPerQuarter(), 0);
    EXPECT_EQ(file.smpteFramesPerSecond(), 25);
    EXPECT_EQ(file.ticksPerFrame(), 40);
    EXPECT_EQ(file.timeUsOf(file.events()[2]), 1'000'000); // 25 × 40 ticks a second: a tick is 1 ms
    EXPECT_EQ(file.lengthMs(), 1500u);
}

// 29 stands for 30 drop frame: 29.97 frames per second.
TEST(MidiEvents, SmpteDropFrameRunsAt2997FramesPerSecond)
{
    TrackWriter track;
    track.noteOn(0, 0, 60, 90).noteOff(30'000, 0, 60).endOfTrack(0);
    const auto result = parse(SmfWriter::smpte(0, 29, 1).track(track).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    EXPECT_EQ(result.value().lengthUs(), 1'001'000'000);
    EXPECT_EQ(result.value().timeUsOf(result.value().events()[1]), 1'001'000'000);
}

// A track without End of Track ends after its last complete event.
TEST(MidiLeniency, MissingEndOfTrackEndsAfterTheLastEvent)
{
    TrackWriter first;
    first.noteOn(0, 0, 60, 90).noteOff(960, 0, 60);
    TrackWriter second;
    second.noteOn(0, 1, 60, 90).noteOff(480, 1, 60).endOfTrack();
    const auto result = parse(SmfWriter(1, 480).track(first).track(second).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    EXPECT_EQ(result.value().events().size(), 5u);
    EXPECT_EQ(result.value().lengthMs(), 1000u);
}

// A track chunk whose length runs past the end of the file keeps the events that are there;
// an event cut in half is dropped, not invented.
TEST(MidiLeniency, TrackCutByTheEndOfTheFileKeepsWhatIsThere)
{
    TrackWriter track;
    track.noteOn(0, 0, 60, 90).noteOff(480, 0, 60).text(0, 0x01, "a long text that is cut");
    Bytes bytes = SmfWriter(0, 480).trackWithLength(track, 100'000).bytes();
    const auto whole = parse(bytes);
    ASSERT_TRUE(whole.ok()) << describe(whole);
    EXPECT_EQ(whole.value().events().size(), 3u);

    bytes.resize(bytes.size() - 5); // into the text's bytes
    const auto cut = parse(bytes);
    ASSERT_TRUE(cut.ok()) << describe(cut);
    EXPECT_EQ(cut.value().events().size(), 2u);
    EXPECT_EQ(cut.value().lengthMs(), 500u);
}

// Chunks of unknown kinds, before and between tracks, are skipped.
TEST(MidiLeniency, UnknownChunksAreSkipped)
{
    const Bytes junk { 1, 2, 3, 0x90, 0xFF, 0 };
    TrackWriter track;
    track.noteOn(0, 0, 60, 90).endOfTrack(480);
    const Bytes bytes = SmfWriter(1, 480)
                            .declaredTracks(2)
                            .chunk("XFIH", junk)
                            .track(track)
                            .chunk("JUNK", {})
                            .track(track)
                            .bytes();
    const auto result = parse(bytes);
    ASSERT_TRUE(result.ok()) << describe(result);
    EXPECT_EQ(result.value().trackCount(), 2);
    EXPECT_EQ(result.value().events().size(), 4u);
}

// A header chunk longer than six bytes: the extra bytes are skipped.
TEST(MidiLeniency, ExtraHeaderBytesAreSkipped)
{
    const Bytes extra { 0x4D, 0x54, 0x72, 0x6B, 0x00 }; // even bytes that look like a chunk
    TrackWriter track;
    track.noteOn(0, 0, 60, 90).endOfTrack(480);
    const auto result = parse(SmfWriter(0, 480).headerExtra(extra).track(track).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    EXPECT_EQ(result.value().events().size(), 2u);
    EXPECT_EQ(result.value().lengthMs(), 500u);
}

// The header's track count and the chunks present disagree: the tracks that are there play,
// and no more than the header declares are read.
TEST(MidiLeniency, TrackCountFollowsTheChunksPresentUpToTheDeclaredCount)
{
    TrackWriter track;
    track.noteOn(0, 0, 60, 90).endOfTrack(480);
    const auto fewer = parse(SmfWriter(1, 480).declaredTracks(4).track(track).bytes());
    ASSERT_TRUE(fewer.ok()) << describe(fewer);
    EXPECT_EQ(fewer.value().trackCount(), 1);

    TrackWriter longer;
    longer.noteOn(0, 0, 60, 90).endOfTrack(4800);
    const auto more = parse(SmfWriter(1, 480).declaredTracks(1).track(track).track(longer).bytes());
    ASSERT_TRUE(more.ok()) << describe(more);
    EXPECT_EQ(more.value().trackCount(), 1);
    EXPECT_EQ(more.value().lengthMs(), 500u);
}

// Whatever follows End of Track inside its chunk is not part of the track.
TEST(MidiLeniency, BytesAfterEndOfTrackAreIgnored)
{
    TrackWriter track;
    const Bytes garbage { 0x00, 0xF4, 0x12, 0x99 };
    track.noteOn(0, 0, 60, 90).endOfTrack(480).raw(garbage);
    const auto result = parse(SmfWriter(0, 480).track(track).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    EXPECT_EQ(result.value().events().size(), 2u);
}

// A meta event claiming 256 MB in a small file is a cut-off event: it is dropped and nothing
// the size of its claim is allocated.
TEST(MidiLeniency, LyingEventLengthIsNotTrusted)
{
    TrackWriter track;
    const Bytes lying { 0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b' };
    track.noteOn(0, 0, 60, 90).raw(lying);
    const Bytes bytes = SmfWriter(0, 480).trackWithLength(track, 0xFFFF'FFFF).bytes();
    const auto result = parse(bytes);
    ASSERT_TRUE(result.ok()) << describe(result);
    EXPECT_EQ(result.value().events().size(), 1u);
    EXPECT_LE(result.value().payload().size(), bytes.size());
}

// A Set Tempo of fewer than three bytes is kept as an event but changes nothing.
TEST(MidiLeniency, ShortSetTempoIsIgnoredForTiming)
{
    TrackWriter track;
    const Bytes shortTempo { 0x01, 0x00 };
    track.meta(0, kMetaSetTempo, shortTempo).noteOn(480, 0, 60, 90).endOfTrack();
    const auto result = parse(SmfWriter(0, 480).track(track).bytes());
    ASSERT_TRUE(result.ok()) << describe(result);
    EXPECT_EQ(result.value().events().size(), 3u);
    EXPECT_EQ(result.value().lengthMs(), 500u);
}

// Every prefix of a song either fails cleanly (before the first track's header is complete)
// or gives the events it holds, never more and never later than the whole song.
TEST(MidiLeniency, EveryPrefixOfASongParsesOrFailsCleanly)
{
    const Bytes song = shortSong();
    const auto whole = parse(song);
    ASSERT_TRUE(whole.ok()) << describe(whole);
    constexpr std::size_t kFirstTrackBody = 14 + 8; // MThd chunk, then the MTrk chunk header

    for (std::size_t size = 0; size < song.size(); ++size) {
        const Bytes prefix(song.begin(), song.begin() + static_cast<std::ptrdiff_t>(size));
        const auto result = parse(prefix);
        if (size < kFirstTrackBody) {
            EXPECT_FALSE(result.ok()) << size << " bytes";
            continue;
        }
        ASSERT_TRUE(result.ok()) << size << " bytes: " << describe(result);
        EXPECT_LE(result.value().events().size(), whole.value().events().size());
        EXPECT_LE(result.value().lengthUs(), whole.value().lengthUs());
    }
}

struct RejectCase {
    const char *name;
    Bytes bytes;
    Error::Code code;
    const char *detailPart; // words of the detail that tells this fault from the others
};

class MidiRejects : public ::testing::TestWithParam<RejectCase> { };

// What is not a MIDI file at all is refused, each fault with its own code and detail.
TEST_P(MidiRejects, RefusedWithItsOwnError)
{
    const auto result = parse(GetParam().bytes);
    ASSERT_FALSE(result.ok()) << "accepted";
    EXPECT_EQ(result.error().code, GetParam().code) << describe(result);
    EXPECT_NE(result.error().detail.find(GetParam().detailPart), std::string::npos)
        << describe(result);
    EXPECT_LE(result.error().offset, GetParam().bytes.size());
}

namespace {

Bytes header(std::uint16_t format, std::uint16_t tracks, std::uint16_t division)
{
    return { 'M', 'T', 'h', 'd', 0, 0, 0, 6, static_cast<std::uint8_t>(format >> 8),
        static_cast<std::uint8_t>(format), static_cast<std::uint8_t>(tracks >> 8),
        static_cast<std::uint8_t>(tracks), static_cast<std::uint8_t>(division >> 8),
        static_cast<std::uint8_t>(division) };
}

Bytes withTrack(std::uint16_t format, std::uint16_t tracks, std::uint16_t division)
{
    TrackWriter track;
    track.noteOn(0, 0, 60, 90).endOfTrack(480);
    return SmfWriter(format, 480).declaredTracks(tracks).division(division).track(track).bytes();
}

Bytes trackOf(std::vector<std::uint8_t> body)
{
    return SmfWriter(0, 480).track(TrackWriter().raw(body)).bytes();
}

Bytes riff(std::string_view form, Bytes chunks)
{
    Bytes out { 'R', 'I', 'F', 'F' };
    const auto size = static_cast<std::uint32_t>(chunks.size() + 4);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(size >> shift));
    out.insert(out.end(), form.begin(), form.end());
    out.insert(out.end(), chunks.begin(), chunks.end());
    return out;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(MidiFile, MidiRejects,
    ::testing::Values(RejectCase { "EmptyFile", {}, Error::Code::NotMidi, "empty" },
        RejectCase { "Text", { 'n', 'o', 't', ' ', 'a', ' ', 'm', 'i', 'd', 'i' },
            Error::Code::NotMidi, "no MThd" },
        RejectCase { "CutInsideTheMagic", { 'M', 'T', 'h' }, Error::Code::Truncated, "header" },
        RejectCase { "CutInsideTheHeader", { 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1 },
            Error::Code::Truncated, "MThd" },
        RejectCase { "HeaderShorterThanSixBytes",
            { 'M', 'T', 'h', 'd', 0, 0, 0, 4, 0, 0, 0, 1, 1, 0xE0 }, Error::Code::Malformed,
            "4 bytes" },
        RejectCase { "FormatThree", withTrack(3, 1, 480), Error::Code::Malformed, "format 3" },
        RejectCase {
            "NoTracksDeclared", withTrack(1, 0, 480), Error::Code::Malformed, "no tracks" },
        RejectCase {
            "FormatZeroWithTwoTracks", withTrack(0, 2, 480), Error::Code::Malformed, "format 0" },
        RejectCase {
            "DivisionOfZero", withTrack(1, 1, 0), Error::Code::Malformed, "division of 0" },
        RejectCase { "SmpteAt23FramesPerSecond", withTrack(0, 1, 0xE9'28), Error::Code::Malformed,
            "23 frames" },
        RejectCase { "SmpteWithoutTicksPerFrame", withTrack(0, 1, 0xE7'00), Error::Code::Malformed,
            "0 ticks per frame" },
        RejectCase { "HeaderOnly", header(1, 3, 384), Error::Code::Truncated, "no track chunk" },
        RejectCase { "DataByteWithoutStatus", trackOf({ 0x00, 0x3C, 0x40 }), Error::Code::Malformed,
            "data byte 0x3C" },
        RejectCase { "UndefinedStatusByte", trackOf({ 0x00, 0xF4, 0x01 }), Error::Code::Malformed,
            "0xF4 is not" },
        RejectCase { "StatusByteInsideAMessage", trackOf({ 0x00, 0x90, 0x3C, 0x90 }),
            Error::Code::Malformed, "inside a channel message" },
        RejectCase { "DeltaTimeOfFiveBytes", trackOf({ 0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 1, 1 }),
            Error::Code::Malformed, "delta time" },
        RejectCase { "MetaLengthOfFiveBytes",
            trackOf({ 0x00, 0xFF, 0x01, 0x81, 0x80, 0x80, 0x80, 0x00 }), Error::Code::Malformed,
            "event length" },
        RejectCase { "RiffWave", riff("WAVE", { 'f', 'm', 't', ' ', 0, 0, 0, 0 }),
            Error::Code::NotMidi, "'WAVE'" },
        RejectCase { "RmidWithoutDataChunk", riff("RMID", { 'L', 'I', 'S', 'T', 0, 0, 0, 0 }),
            Error::Code::Truncated, "no data chunk" },
        RejectCase { "RmidDataNotASong",
            riff("RMID", { 'd', 'a', 't', 'a', 4, 0, 0, 0, 1, 2, 3, 4 }), Error::Code::NotMidi,
            "data chunk" }),
    [](const auto &testCase) { return std::string(testCase.param.name); });

// The Device as its owner sees it: opening by content with a distinct error per fault, the run
// and position rules of play, pause, stop and seek, end-of-file notices on the null and offline
// outputs, and the shared real media.

#include "DeviceTestSupport.h"
#include "testsupport/MidiWriter.h"
#include "testsupport/ScratchDir.h"
#include "testsupport/WaveWriter.h"
#include "tunedeck/Synth.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace devicetest;
using testsupport::SmfWriter;
using testsupport::TrackWriter;
using tunedeck::Device;
using tunedeck::Error;
using tunedeck::MediaKind;
using tunedeck::Notice;
using tunedeck::OutputMode;

namespace {

constexpr std::size_t kRate = 44100;

class DeviceTest : public ::testing::Test {
protected:
    // A song of one held chord lasting `ms` (a multiple of 250) at 120 bpm.
    std::filesystem::path song(const std::string &name, std::uint32_t ms)
    {
        TrackWriter track;
        track.program(0, 0, 0).noteOn(0, 0, 60, 100).noteOn(0, 0, 67, 100);
        track.noteOff(ms * 480 / 500, 0, 60).noteOff(0, 0, 67).endOfTrack(0);
        return bytesFile(name, SmfWriter(0, 480).track(track).bytes());
    }

    // A 16-bit mono tone lasting `ms`.
    std::filesystem::path tone(const std::string &name, std::uint32_t ms)
    {
        const auto path = m_dir / name;
        EXPECT_TRUE(testsupport::writeTone(
            path, { .rate = int(kRate), .frames = testsupport::framesOf(int(kRate), ms) }));
        return path;
    }

    std::filesystem::path bytesFile(const std::string &name, const testsupport::Bytes &bytes)
    {
        const auto path = m_dir / name;
        EXPECT_TRUE(testsupport::writeFile(path, bytes));
        return path;
    }

    std::filesystem::path textFile(const std::string &name, const std::string &text)
    {
        const auto path = m_dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    const testsupport::ScratchDir m_scratch;
    const std::filesystem::path &m_dir = m_scratch.path();
};

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

} // namespace

// Each kind of bad file fails with its own code, and leaves the device closed even when a good
// file was open before.
TEST_F(DeviceTest, OpenRejectsEachFaultWithItsOwnCode)
{
    std::filesystem::create_directory(m_dir / "folder.mid");
    const struct {
        std::filesystem::path path;
        Error::Code code;
    } cases[] = {
        { m_dir / "missing.mid", Error::Code::FileNotFound },
        { m_dir / "folder.mid", Error::Code::Io },
        { textFile("notes.txt", "just some words, no music"), Error::Code::UnknownFormat },
        { textFile("words.mid", "just some words, no music"), Error::Code::NotMidi },
        { textFile("header-only.mid", std::string("MThd\0\0\0\6\0\0\0\1\1\xE0", 14)),
            Error::Code::Truncated },
        { textFile("garbage.wav", std::string("RIFF\x20\0\0\0WAVEjunkjunkjunkjunkjunk", 32)),
            Error::Code::NotWave },
        { textFile("cut.wav", "RIFF"), Error::Code::Truncated },
        { textFile("empty.wav", ""), Error::Code::Truncated },
    };
    Device device(nullptr, OutputMode::Offline);
    for (const auto &testCase : cases) {
        SCOPED_TRACE(testCase.path.filename().string());
        ASSERT_TRUE(device.open(song("good.mid", 1000)));
        const auto opened = device.open(testCase.path);
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.error().code, testCase.code) << opened.error().detail;
        EXPECT_FALSE(device.isOpen());
        EXPECT_EQ(device.lengthMs(), 0u);
        EXPECT_EQ(device.positionMs(), 0u);

        const auto probed = Device::probe(testCase.path);
        ASSERT_FALSE(probed);
        EXPECT_EQ(probed.error().code, testCase.code);
    }
}

// The kind comes from the content, not the name: a wave file called .mid plays as a wave file
// and a song called .wav as a song.
TEST_F(DeviceTest, OpenChoosesByContent)
{
    const auto wave = tone("tone.wav", 500);
    const auto song = this->song("song.mid", 1000);
    std::filesystem::rename(wave, m_dir / "tone.mid");
    std::filesystem::rename(song, m_dir / "song.wav");
    Device device(nullptr, OutputMode::Offline);
    ASSERT_TRUE(device.open(m_dir / "tone.mid"));
    EXPECT_EQ(device.kind(), MediaKind::Wave);
    EXPECT_EQ(device.lengthMs(), 500u);
    ASSERT_TRUE(device.open(m_dir / "song.wav"));
    EXPECT_EQ(device.kind(), MediaKind::Smf0);
    EXPECT_EQ(device.lengthMs(), 1000u);
}

// Without a soundfont songs cannot open, with their own error saying what was looked for,
// while wave files still play; once a soundfont is there, the same device plays songs.
TEST_F(DeviceTest, MissingSoundfontFailsSongsOnlyUntilOneIsThere)
{
    const auto real = tunedeck::findSoundfont();
    std::optional<ScopedEnv> soundfont;
    soundfont.emplace("TUNEDECK_SOUNDFONT", "/nonexistent/none.sf2");
    Device device(nullptr, OutputMode::Offline);
    const auto song = this->song("song.mid", 1000);
    const auto opened = device.open(song);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().code, Error::Code::NoSoundfont);
    EXPECT_NE(opened.error().detail.find("$TUNEDECK_SOUNDFONT = /nonexistent/none.sf2"),
        std::string::npos)
        << opened.error().detail;
    EXPECT_TRUE(device.open(tone("tone.wav", 250)));

    if (!real)
        GTEST_SKIP() << "no soundfont on this machine: " << real.error().detail;
    soundfont.reset();
    soundfont.emplace("TUNEDECK_SOUNDFONT", real.value().c_str());
    EXPECT_TRUE(device.open(song));
    EXPECT_GT(renderToEnd(device), 0u);
}

// A soundfont file replaced while the program runs (as an upgrade of its package does) still
// gives later songs the instruments they choose from the font that was loaded (they were read
// from the new file at the old places, and the font was lost).
TEST_F(DeviceTest, ReplacedSoundfontStillServesLaterSongs)
{
    const auto real = tunedeck::findSoundfont();
    if (!real)
        GTEST_SKIP() << "no soundfont on this machine: " << real.error().detail;
    const auto copy = m_dir / "font.sf2";
    std::filesystem::copy_file(real.value(), copy);
    ScopedEnv soundfont("TUNEDECK_SOUNDFONT", copy.c_str());
    Device device(nullptr, OutputMode::Offline);
    ASSERT_TRUE(device.open(song("piano.mid", 500)));
    renderToEnd(device);
    textFile("replacement", "not the font that was loaded");
    std::filesystem::rename(m_dir / "replacement", copy);
    TrackWriter violin;
    violin.program(0, 0, 40).noteOn(0, 0, 72, 100).noteOff(480, 0, 72).endOfTrack(0);
    ASSERT_TRUE(device.open(bytesFile("violin.mid", SmfWriter(0, 480).track(violin).bytes())));
    std::vector<float> sound;
    renderToEnd(device, &sound);
    EXPECT_GT(peak(sound), 0.01f) << "the violin is heard";
}

// Without a sound device nothing pretends to play: unless the null output is asked for, opening
// fails with NoOutput and the audio library's own reason, and the device stays closed.
TEST_F(DeviceTest, MissingSoundCardFailsOpenWithTheReason)
{
    ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    ScopedEnv output("TUNEDECK_OUTPUT", "");
    for (const auto mode : { OutputMode::Auto, OutputMode::Sdl }) {
        NoticeCatcher notices;
        Device device(notices.listener(), mode);
        EXPECT_EQ(device.outputMode(), OutputMode::Sdl);
        for (const auto &path : { tone("tone.wav", 250), song("song.mid", 250) }) {
            SCOPED_TRACE(path.filename().string());
            const auto opened = device.open(path);
            ASSERT_FALSE(opened);
            EXPECT_EQ(opened.error().code, Error::Code::NoOutput);
            EXPECT_NE(opened.error().detail.find("no-such-driver"), std::string::npos)
                << opened.error().detail;
            EXPECT_FALSE(device.isOpen());
            device.play();
            EXPECT_FALSE(device.isPlaying());
        }
    }
    // Asked for by name, the null output needs no sound card.
    ScopedEnv null("TUNEDECK_OUTPUT", "null");
    Device device(nullptr);
    EXPECT_EQ(device.outputMode(), OutputMode::Null);
    EXPECT_TRUE(device.open(tone("tone.wav", 250)));
}

// On the clock-driven null output a song and a wave file each play to their end in real time,
// report it once, and stand at their length.
TEST_F(DeviceTest, NullOutputReportsTheEndOfEachFile)
{
    NoticeCatcher notices;
    Device device(notices.listener(), OutputMode::Null);
    std::size_t index = 0;
    for (const auto &path : { song("short.mid", 250), tone("short.wav", 300) }) {
        SCOPED_TRACE(path.filename().string());
        ASSERT_TRUE(device.open(path));
        device.play();
        const auto notice = notices.waitFor(index++);
        ASSERT_TRUE(notice.has_value());
        EXPECT_EQ(notice->kind, Notice::Kind::Finished);
        EXPECT_EQ(notice->runId, device.runId());
        EXPECT_FALSE(device.isPlaying());
        EXPECT_EQ(device.positionMs(), device.lengthMs());
    }
}

// Pause keeps the position and the run: after resuming, the end is reported for the same run.
TEST_F(DeviceTest, PauseKeepsPositionAndRun)
{
    NoticeCatcher notices;
    Device device(notices.listener(), OutputMode::Offline);
    ASSERT_TRUE(device.open(song("song.mid", 2000)));
    device.play();
    pumpFrames(device, kRate / 2);
    const auto run = device.runId();
    device.pause();
    const auto position = device.positionMs();
    EXPECT_EQ(position, 500u);
    const auto paused = pumpFrames(device, kRate / 2);
    EXPECT_EQ(device.positionMs(), position);
    EXPECT_LT(peak(std::span(paused).subspan(paused.size() / 2)), 0.01f); // silent once cut

    renderToEnd(device);
    const auto notice = notices.waitFor(0);
    ASSERT_TRUE(notice.has_value());
    EXPECT_EQ(notice->runId, run);
    EXPECT_EQ(device.runId(), run);
}

// The volume scales what the output receives from the next block on: two devices in step on
// the same file, one turned down to half, then to silence.
TEST_F(DeviceTest, VolumeScalesFromTheNextBlock)
{
    const auto wave = tone("tone.wav", 2000);
    Device steady([](Notice) {}, OutputMode::Offline);
    Device turned([](Notice) {}, OutputMode::Offline);
    ASSERT_TRUE(steady.open(wave));
    ASSERT_TRUE(turned.open(wave));
    steady.play();
    turned.play();
    float loudest = 0.0f;
    for (int block = 0; block < 120; ++block) {
        if (block == 40)
            turned.setVolume(0.5f);
        if (block == 80)
            turned.setVolume(0.0f);
        const float scale = block < 40 ? 1.0f : block < 80 ? 0.5f : 0.0f;
        const auto loud = pumpFrames(steady, 512);
        const auto quiet = pumpFrames(turned, 512);
        for (std::size_t i = 0; i < loud.size(); ++i)
            ASSERT_EQ(quiet[i], loud[i] * scale) << "block " << block;
        loudest = std::max(loudest, peak(loud));
    }
    EXPECT_GT(loudest, 0.2f);
}

// Stop keeps the position but ends the run; playing on starts a new run that reports the end.
TEST_F(DeviceTest, StopEndsTheRunAndKeepsThePosition)
{
    NoticeCatcher notices;
    Device device(notices.listener(), OutputMode::Offline);
    ASSERT_TRUE(device.open(song("song.mid", 1000)));
    device.play();
    pumpFrames(device, kRate / 4);
    const auto run = device.runId();
    device.stop();
    EXPECT_NE(device.runId(), run);
    EXPECT_FALSE(device.isPlaying());
    pumpFrames(device, kRate);
    EXPECT_EQ(device.positionMs(), 250u);
    EXPECT_EQ(notices.count(), 0u);

    EXPECT_EQ(renderToEnd(device), kRate * 3 / 4);
    const auto notice = notices.waitFor(0);
    ASSERT_TRUE(notice.has_value());
    EXPECT_EQ(notice->runId, device.runId());
}

// A seek reads back exactly, leaves the device stopped, and a seek past the end changes nothing.
TEST_F(DeviceTest, SeekReadsBackExactlyAndStops)
{
    Device device(nullptr, OutputMode::Null);
    ASSERT_TRUE(device.open(song("long.mid", 40000)));
    device.play();
    ASSERT_TRUE(device.seekMs(30000));
    EXPECT_EQ(device.positionMs(), 30000u);
    EXPECT_FALSE(device.isPlaying());

    const auto refused = device.seekMs(40001);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, Error::Code::InvalidArgument);
    EXPECT_EQ(device.positionMs(), 30000u);
}

// Playing a file that stands at its end finishes at once with a new notice.
TEST_F(DeviceTest, PlayAtTheEndFinishesAtOnce)
{
    NoticeCatcher notices;
    Device device(notices.listener(), OutputMode::Offline);
    ASSERT_TRUE(device.open(tone("tone.wav", 250)));
    renderToEnd(device);
    ASSERT_TRUE(notices.waitFor(0).has_value());
    EXPECT_EQ(renderToEnd(device), 0u);
    ASSERT_TRUE(notices.waitFor(1).has_value());
}

// Opening another file while one plays stops the first: its run ends without a notice and the
// position and length are the new file's.
TEST_F(DeviceTest, OpeningAnotherFileStopsTheFirst)
{
    NoticeCatcher notices;
    Device device(notices.listener(), OutputMode::Null);
    ASSERT_TRUE(device.open(song("first.mid", 500)));
    device.play();
    const auto firstRun = device.runId();
    ASSERT_TRUE(device.open(tone("second.wav", 1500)));
    EXPECT_FALSE(device.isPlaying());
    EXPECT_EQ(device.lengthMs(), 1500u);
    EXPECT_EQ(device.positionMs(), 0u);
    device.play();
    const auto notice = notices.waitFor(0);
    ASSERT_TRUE(notice.has_value());
    EXPECT_NE(notice->runId, firstRun); // the first file never reported an end
    EXPECT_EQ(notice->runId, device.runId());
}

// Destroying a device in the middle of playing joins its threads; the listener is not called
// afterwards (the sanitizers would catch a call into the destroyed catcher).
TEST_F(DeviceTest, DestroyingWhilePlayingIsClean)
{
    for (int round = 0; round < 5; ++round) {
        auto notices = std::make_unique<NoticeCatcher>();
        auto device = std::make_unique<Device>(notices->listener(), OutputMode::Null);
        ASSERT_TRUE(device->open(tone("tone.wav", 20)));
        device->play();
        device.reset();
        notices.reset();
    }
}

namespace {

struct ManifestRow {
    std::string file;
    std::string kind;
    double expectedMs = 0;
    bool play = false;
};

std::vector<ManifestRow> readManifest(const std::filesystem::path &dir)
{
    std::vector<ManifestRow> rows;
    std::ifstream in(dir / "manifest.tsv");
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        ManifestRow row;
        std::string expected;
        std::string expect;
        std::getline(fields, row.file, '\t');
        std::getline(fields, row.kind, '\t');
        std::getline(fields, expected, '\t');
        std::getline(fields, expect, '\t');
        row.expectedMs = expected.empty() ? 0 : std::stod(expected);
        row.play = expect == "play";
        if (!row.file.empty())
            rows.push_back(row);
    }
    return rows;
}

} // namespace

// The shared real songs and wave files: each playable one reports its kind and length, plays
// from the start and from a seek; each broken one is refused.
TEST_F(DeviceTest, RealMediaPlaysOrIsRefused)
{
    const auto dir = mediaDir();
    if (dir.empty() || !std::filesystem::exists(dir / "manifest.tsv"))
        GTEST_SKIP() << "TUNEDECK_MEDIA_DIR holds no manifest.tsv";
    const auto rows = readManifest(dir);
    ASSERT_FALSE(rows.empty());
    Device device(nullptr, OutputMode::Offline);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        const auto opened = device.open(dir / row.file);
        if (!row.play) {
            EXPECT_FALSE(opened);
            continue;
        }
        ASSERT_TRUE(opened) << opened.error().detail;
        EXPECT_EQ(tunedeck::mediaKindName(device.kind()), row.kind);
        EXPECT_EQ(device.lengthMs(), std::uint32_t(std::floor(row.expectedMs)));
        device.play();
        std::vector<float> sound(kBlockFrames * 2);
        std::size_t frames = 0;
        for (int block = 0; block < 40 && device.isPlaying(); ++block)
            frames += device.pump(sound);
        EXPECT_GT(frames, 0u);
        ASSERT_TRUE(device.seekMs(device.lengthMs() / 2));
        EXPECT_EQ(device.positionMs(), device.lengthMs() / 2);
        device.play();
        EXPECT_GT(device.pump(sound), 0u);
    }
}

namespace {

// The figure `wanted` (e.g. "syscr:") of a /proc io file; nullopt when the kernel does not count
// it.
std::optional<long> ioFigure(const std::filesystem::path &file, std::string_view wanted)
{
    std::ifstream io(file);
    for (std::string key; io >> key;) {
        long value = 0;
        io >> value;
        if (key == wanted)
            return value;
    }
    return std::nullopt;
}

// Read system calls made so far by the thread of this process named `name`; nullopt when there
// is none or the kernel does not count them.
std::optional<long> readCallsOfThread(const std::string &name)
{
    std::error_code error;
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm == name)
            return ioFigure(task.path() / "io", "syscr:");
    }
    return std::nullopt;
}

// A song of a quarter note (500 ms at 120 bpm) on each of `programs`, one channel each.
testsupport::Bytes programsSong(std::initializer_list<int> programs)
{
    TrackWriter track;
    int channel = 0;
    for (const int program : programs)
        track.program(0, channel, program).noteOn(0, channel, 60, 100), ++channel;
    track.noteOff(480, 0, 60).endOfTrack(0);
    return SmfWriter(0, 480).track(track).bytes();
}

} // namespace

// A song read ahead while another plays is opened without reading its samples again, and sounds;
// what was read ahead is let go once taken over, and when another file (or none) is read ahead
// instead: that song's samples are then read again. Closing the device keeps them. Offline, all
// of it happens on this thread, whose reads the kernel counts.
TEST_F(DeviceTest, ReadAheadSongOpensWithoutReadingItsSamples)
{
    if (auto found = tunedeck::findSoundfont(); !found)
        GTEST_SKIP() << "no soundfont on this machine: " << found.error().detail;
    if (!ioFigure("/proc/thread-self/io", "rchar:"))
        GTEST_SKIP() << "the kernel does not count this thread's reads here";
    const auto first = bytesFile("first.mid", programsSong({ 24 }));
    const auto next = bytesFile("next.mid", programsSong({ 40, 56, 73 }));
    Device device(nullptr, OutputMode::Offline);
    // Bytes read while `next` is opened after `first`, once `before` has been done.
    const auto bytesOpeningNext = [&](const std::function<void()> &before) {
        EXPECT_TRUE(device.open(first));
        before();
        const long start = *ioFigure("/proc/thread-self/io", "rchar:");
        EXPECT_TRUE(device.open(next));
        return *ioFigure("/proc/thread-self/io", "rchar:") - start;
    };
    const long readAhead = bytesOpeningNext([&] { device.prefetch(next); });
    std::vector<float> sound;
    renderToEnd(device, &sound);
    EXPECT_GT(peak(sound), 0.01f) << "the song read ahead is heard";
    // Taken over by the song it was read for: once that is closed, nothing holds them.
    const long takenOver = bytesOpeningNext([] {});
    const long replaced = bytesOpeningNext([&] {
        device.prefetch(next);
        device.prefetch(first);
    });
    const long none = bytesOpeningNext([&] {
        device.prefetch(next);
        device.prefetch({});
    });
    for (const long again : { takenOver, replaced, none })
        EXPECT_GT(again, 8 * readAhead) << "read ahead: " << readAhead << " bytes";
    const long closed = bytesOpeningNext([&] {
        device.prefetch(next);
        device.close();
    });
    EXPECT_LE(closed, 2 * readAhead) << "kept through close()";
}

// Reading ahead beside a song that plays on the null output's render thread: the next song
// starts when its worker has taken over what was read (or is still being read) for it, and one
// read ahead but never opened is let go by close() and the destructor.
TEST_F(DeviceTest, ReadAheadBesidePlaying)
{
    if (auto found = tunedeck::findSoundfont(); !found)
        GTEST_SKIP() << "no soundfont on this machine: " << found.error().detail;
    const auto first = bytesFile("first.mid", programsSong({ 24 }));
    const auto next = bytesFile("next.mid", programsSong({ 40, 56, 73 }));
    NoticeCatcher notices;
    Device device(notices.listener(), OutputMode::Null);
    std::size_t index = 0;
    const auto playToEnd = [&](const std::filesystem::path &path, const auto &meanwhile) {
        SCOPED_TRACE(path.filename().string());
        ASSERT_TRUE(device.open(path));
        device.play();
        meanwhile();
        const auto notice = notices.waitFor(index++);
        ASSERT_TRUE(notice.has_value());
        EXPECT_EQ(notice->kind, Notice::Kind::Finished);
        EXPECT_EQ(device.positionMs(), device.lengthMs());
        EXPECT_GT(device.lengthMs(), 0u);
    };
    // Read ahead while the first plays; then read ahead and opened at once.
    playToEnd(first, [&] { device.prefetch(next); });
    playToEnd(next, [] {});
    device.prefetch(first);
    playToEnd(first, [] {});
    // Read ahead and opened while the first still plays on the device's synthesiser (a skip).
    ASSERT_TRUE(device.open(first));
    device.play();
    device.prefetch(next);
    playToEnd(next, [] {});
    device.prefetch(next);
    device.close();
    device.prefetch(first);
}

// A song that changes programs (banks and drum kits included) plays and is sought across its
// changes, on the null output's render thread, without that thread reading any file: the
// samples of the presets it chooses were read before it started.
TEST_F(DeviceTest, RenderThreadReadsNoFileWhileProgramsChange)
{
    if (auto found = tunedeck::findSoundfont(); !found)
        GTEST_SKIP() << "no soundfont on this machine: " << found.error().detail;
    TrackWriter track;
    const std::uint8_t gmOn[] = { 0x7E, 0x7F, 0x09, 0x01, 0xF7 };
    track.sysex(0, gmOn).controller(0, 1, 0, 8).program(0, 1, 4).program(0, 9, 25);
    // A quarter note (500 ms at 120 bpm) per program, on a melodic channel and the drums.
    const int programs[][2] = { { 0, 0 }, { 19, 48 }, { 56, 40 }, { 73, 16 } };
    for (const auto &[melodic, kit] : programs) {
        track.program(0, 0, melodic).program(0, 9, kit);
        track.noteOn(0, 0, 60, 100).noteOn(0, 1, 64, 100).noteOn(0, 9, 38, 100);
        track.noteOff(480, 0, 60).noteOff(0, 1, 64).noteOff(0, 9, 38);
    }
    const auto path
        = bytesFile("programs.mid", SmfWriter(0, 480).track(track.endOfTrack(0)).bytes());

    NoticeCatcher notices;
    Device device(notices.listener(), OutputMode::Null);
    ASSERT_TRUE(device.open(path));
    std::size_t index = 0;
    // Into the last program, back into the second, then the whole song.
    for (const std::uint32_t from : { 1600u, 700u, 0u }) {
        SCOPED_TRACE(from);
        ASSERT_TRUE(device.seekMs(from));
        device.play();
        const auto notice = notices.waitFor(index++);
        ASSERT_TRUE(notice.has_value());
        ASSERT_EQ(notice->kind, Notice::Kind::Finished);
    }
    const auto reads = readCallsOfThread("td-render");
    if (!reads)
        GTEST_SKIP() << "the kernel does not count a thread's reads here";
    EXPECT_EQ(*reads, 0);
}

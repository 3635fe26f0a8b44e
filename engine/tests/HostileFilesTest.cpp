// The device under files built to hurt it: every call returns (a hang guard, not a timing
// check; bench/engine_hostile.sh measures), nothing crashes, probe and open agree, and each file
// is played or refused as listed.

#include "testsupport/HostileFiles.h"
#include "DeviceTestSupport.h"
#include "testsupport/MidiWriter.h"
#include "tunedeck/MidiFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

using namespace devicetest;
using tunedeck::Device;
using tunedeck::Error;
using tunedeck::OutputMode;

namespace {

constexpr std::size_t kRate500ms = 44100 / 2;

// Ends the whole test program when a call has not returned in time: a call stuck behind the
// render thread would otherwise hang the run for minutes.
class HangGuard {
public:
    explicit HangGuard(std::string what, std::chrono::seconds limit = std::chrono::seconds(5))
        : m_what(std::move(what))
        , m_thread([this, limit] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                std::fprintf(stderr, "HANG: %s did not return\n", m_what.c_str());
                std::fflush(stderr);
                std::_Exit(1);
            }
        })
    { }
    ~HangGuard()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::string m_what;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

template<typename Call> auto guarded(const std::string &what, Call &&call)
{
    HangGuard guard(what);
    return call();
}

// Reading a file of millions of events takes its time, more so in a sanitizer build; the guard
// is only against never returning.
template<typename Call> auto guardedRead(const std::string &what, Call &&call)
{
    HangGuard guard(what, std::chrono::seconds(180));
    return call();
}

// What the device does with each file of the set.
struct Expected {
    bool plays = true;
    std::uint32_t lengthMs = 0; // when it plays; 0 where the test does not fix it
    Error::Code refusal = Error::Code::InvalidArgument; // when it does not
};

Expected expectationFor(const std::string &name)
{
    static const std::map<std::string, Expected> table {
        { "burst", { true, 0, {} } },
        { "tracks", { true, 65535u * 16 * 500 / 480, {} } },
        { "tempo flood", { true, 0, {} } },
        { "tempo 0", { true, 1000, {} } }, // the Set Tempo of 0 is ignored: 120 bpm holds
        { "longest delta", { true, std::uint32_t(0x0FFFFFFFull * 500 / 480), {} } },
        { "1 MB sysex", { true, 500, {} } },
        { "1 Hz", { true, 8000, {} } },
        { "100 Hz", { true, 3000, {} } },
        { "1 GHz", { false, 0, Error::Code::WaveRate } },
        { "192 kHz", { true, 1000, {} } },
        { "64 channels", { true, 1000, {} } },
        { "lying header", { true, 100, {} } },
        { "over 2 hours", { true, (2 * 3600 + 600) * 1000u, {} } },
    };
    return table.at(name);
}

std::string describe(const Error &error)
{
    return std::string(tunedeck::errorText(error.code)) + " (" + error.detail + ")";
}

// A large song is still being read when open() returns; its length shows once it is read.
void awaitLength(const Device &device, std::uint32_t lengthMs)
{
    guardedRead("reading the song", [&] {
        while (device.lengthMs() != lengthMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    });
}

class HostileFiles : public ::testing::TestWithParam<OutputMode> {
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::filesystem::temp_directory_path()
            / ("tunedeck-hostile-" + std::to_string(::getpid()));
        std::filesystem::create_directories(s_dir);
        s_files = testsupport::writeHostileSet(s_dir);
        testsupport::TrackWriter track;
        track.noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack(0);
        s_small = s_dir / "small.mid";
        testsupport::writeFile(s_small, testsupport::SmfWriter(0, 480).track(track).bytes());
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(s_dir); }

    static const testsupport::HostileFile &file(const std::string &name)
    {
        for (const auto &entry : s_files) {
            if (entry.name == name)
                return entry;
        }
        throw std::out_of_range(name);
    }

    static inline std::filesystem::path s_dir;
    static inline std::filesystem::path s_small;
    static inline std::vector<testsupport::HostileFile> s_files;
};

// Without a render thread the burst shows plainly: a block that had to send ten million
// events would take more than a minute.
TEST_F(HostileFiles, ABurstAtOneTickIsSentBlockByBlock)
{
    ASSERT_FALSE(s_files.empty()) << "the set cannot be written to " << s_dir;
    Device device(nullptr, OutputMode::Offline);
    ASSERT_TRUE(device.open(file("burst").path));
    device.play();
    std::vector<float> block(kBlockFrames * 2);
    for (int i = 0; i < 4; ++i)
        guarded("a block of the burst", [&] { return device.pump(block); });
    // What the blocks could not send goes on in the next ones: late, but nothing is dropped.
    EXPECT_TRUE(device.isPlaying());
    EXPECT_TRUE(guarded("seek during the burst", [&] { return device.seekMs(0); }));
    ASSERT_TRUE(guarded("open after the burst", [&] { return device.open(s_small); }));
    EXPECT_EQ(renderToEnd(device), kRate500ms);
}

// Wave files are read as they play: one cut short meanwhile fails the run with its reason (and
// plays again once it can be read again), and one longer than any decoded buffer could hold
// plays and seeks like a short one.
TEST_F(HostileFiles, WaveFilesAreReadWhilePlaying)
{
    ASSERT_FALSE(s_files.empty()) << "the set cannot be written to " << s_dir;
    NoticeCatcher notices;
    Device device(notices.listener(), OutputMode::Null);

    const auto cut = s_dir / "cut.wav";
    ASSERT_TRUE(testsupport::writeWave(cut, 44'100, 2, 44'100 * 30));
    const auto whole = std::filesystem::file_size(cut);
    ASSERT_TRUE(device.open(cut));
    std::filesystem::resize_file(cut, 4096);
    device.play();
    const auto failed = notices.waitFor(0);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->kind, tunedeck::Notice::Kind::Failed);
    EXPECT_EQ(failed->reason, Error::Code::Truncated);
    EXPECT_EQ(failed->runId, device.runId());
    std::filesystem::resize_file(cut, whole); // its frames back (silent ones)
    ASSERT_TRUE(device.seekMs(device.lengthMs() - 300));
    device.play();
    const auto replayed = notices.waitFor(1);
    ASSERT_TRUE(replayed.has_value());
    EXPECT_EQ(replayed->kind, tunedeck::Notice::Kind::Finished);

    const auto &longWave = file("over 2 hours").path;
    ASSERT_TRUE(device.open(longWave));
    ASSERT_TRUE(device.seekMs(device.lengthMs() - 300));
    device.play();
    const auto finished = notices.waitFor(2);
    ASSERT_TRUE(finished.has_value());
    EXPECT_EQ(finished->kind, tunedeck::Notice::Kind::Finished);
    EXPECT_EQ(device.positionMs(), device.lengthMs());
}

// A song over a megabyte is read on a thread of its own: open() returns at once, the song plays
// once read, a fault found late fails the first run with the reason probe gives, and a reading
// abandoned by the next open, or by the device's end, leaves nothing behind.
TEST_F(HostileFiles, ALargeSongIsReadAfterOpenReturns)
{
    const auto good = s_dir / "large.mid";
    const auto bad = s_dir / "large-bad.mid";
    ASSERT_TRUE(testsupport::writeTempoFloodSong(good, 200'000));
    ASSERT_GT(std::filesystem::file_size(good), std::uintmax_t { 1 } << 20);
    // The same song with its End of Track turned into a status no file may hold.
    std::filesystem::copy_file(good, bad);
    {
        std::fstream file(bad, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(-3, std::ios::end);
        file.put(char(0xF4));
    }
    const auto probed = Device::probe(good);
    ASSERT_TRUE(probed.ok());
    const auto refused = Device::probe(bad);
    ASSERT_FALSE(refused.ok());
    ASSERT_EQ(refused.error().code, Error::Code::Malformed);

    NoticeCatcher notices;
    std::optional<Device> device;
    device.emplace(notices.listener(), OutputMode::Null);
    ASSERT_TRUE(device->open(bad)) << "only what the first bytes show is refused at once";
    EXPECT_EQ(device->kind(), tunedeck::MediaKind::Smf0);
    device->play();
    const auto failed = notices.waitFor(0);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->kind, tunedeck::Notice::Kind::Failed);
    EXPECT_EQ(failed->reason, Error::Code::Malformed);
    EXPECT_EQ(device->lastFailure().code, Error::Code::Malformed);
    EXPECT_EQ(device->lastFailure().detail, refused.error().detail);

    ASSERT_TRUE(device->open(good));
    awaitLength(*device, probed.value().lengthMs);
    ASSERT_TRUE(device->seekMs(device->lengthMs() - 200));
    device->play();
    const auto finished = notices.waitFor(1);
    ASSERT_TRUE(finished.has_value());
    EXPECT_EQ(finished->kind, tunedeck::Notice::Kind::Finished);
    EXPECT_EQ(finished->runId, device->runId());

    // Over the size limit (a sparse file): refused by both at once, without being read.
    const auto huge = s_dir / "huge.mid";
    std::filesystem::copy_file(good, huge);
    std::filesystem::resize_file(huge, tunedeck::MidiFile::kMaxBytes + 1);
    const auto hugeProbed = Device::probe(huge);
    ASSERT_FALSE(hugeProbed.ok());
    EXPECT_EQ(hugeProbed.error().code, Error::Code::Malformed);
    const auto hugeOpened = device->open(huge);
    ASSERT_FALSE(hugeOpened.ok());
    EXPECT_EQ(hugeOpened.error().detail, hugeProbed.error().detail);

    // Abandoned readings: by the next file, then by the device's end.
    ASSERT_TRUE(device->open(good));
    ASSERT_TRUE(device->open(s_small));
    EXPECT_EQ(device->lengthMs(), 500u);
    ASSERT_TRUE(device->open(bad));
    device->play();
    device.reset();
}

TEST_P(HostileFiles, EveryCallReturnsAndProbeAgreesWithOpen)
{
    ASSERT_FALSE(s_files.empty()) << "the set cannot be written to " << s_dir;
    NoticeCatcher notices;
    std::optional<Device> device;
    guarded("starting the device", [&] { return &device.emplace(notices.listener(), GetParam()); });
    if (auto small = device->open(s_small); !small) {
        if (small.error().code == Error::Code::NoOutput)
            GTEST_SKIP() << "no SDL audio device; SDL_AUDIODRIVER=dummy provides one";
        GTEST_SKIP() << "cannot play MIDI here: " << describe(small.error());
    }
    for (const auto &entry : s_files) {
        SCOPED_TRACE(entry.name);
        const Expected expected = expectationFor(entry.name);
        const auto probed
            = guardedRead("probe " + entry.name, [&] { return Device::probe(entry.path); });
        const auto opened
            = guardedRead("open " + entry.name, [&] { return device->open(entry.path); });
        ASSERT_EQ(probed.ok(), opened.ok())
            << (probed ? describe(opened.error()) : describe(probed.error()));
        if (!expected.plays) {
            ASSERT_FALSE(opened.ok());
            EXPECT_EQ(opened.error().code, expected.refusal) << describe(opened.error());
            EXPECT_EQ(probed.error().code, opened.error().code) << describe(probed.error());
            continue;
        }
        ASSERT_TRUE(opened.ok()) << describe(opened.error());
        EXPECT_EQ(probed.value().kind, device->kind());
        awaitLength(*device, probed.value().lengthMs);
        if (expected.lengthMs != 0) {
            EXPECT_EQ(device->lengthMs(), expected.lengthMs);
        }

        const std::size_t before = notices.count();
        guarded("play " + entry.name, [&] {
            device->play();
            return 0;
        });
        notices.waitFor(before, std::chrono::milliseconds(300)); // plays a while, or to its end
        EXPECT_TRUE(
            guarded("seek " + entry.name, [&] { return device->seekMs(device->lengthMs() / 2); }));
        guarded("play again " + entry.name, [&] {
            device->play();
            return 0;
        });
        notices.waitFor(before + 1, std::chrono::milliseconds(100));
        guarded("stop " + entry.name, [&] {
            device->stop();
            return 0;
        });
        guarded("play once more " + entry.name, [&] {
            device->play();
            return 0;
        });
        EXPECT_TRUE(guarded("skip from " + entry.name, [&] { return device->open(s_small); }));
        ASSERT_TRUE(guardedRead("reopen " + entry.name, [&] { return device->open(entry.path); }));
        guarded("play after reopening " + entry.name, [&] {
            device->play();
            return 0;
        });
        guarded("close " + entry.name, [&] {
            device->close();
            return 0;
        });
    }
    ASSERT_TRUE(device->open(file("burst").path));
    device->play();
    guarded("ending the program while the burst plays", [&] {
        device.reset();
        return 0;
    });
}

INSTANTIATE_TEST_SUITE_P(Outputs, HostileFiles,
    ::testing::Values(OutputMode::Null, OutputMode::Sdl),
    [](const auto &param) { return param.param == OutputMode::Null ? "Null" : "Sdl"; });

} // namespace

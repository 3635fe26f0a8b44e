// The SDL output against a real sound server: a private PulseAudio with a null sink, whose
// monitor is recorded with parec. Songs and wave files are heard for their whole length, a
// server that dies mid-song fails the run with its reason, and the next play reaches the server
// started after it. Skips when no PulseAudio server can be started here.

#include "DeviceTestSupport.h"
#include "testsupport/MidiWriter.h"
#include "testsupport/PrivatePulse.h"
#include "testsupport/ScratchDir.h"
#include "testsupport/WaveWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

using namespace devicetest;
using testsupport::capture;
using testsupport::PrivateServer;
using testsupport::sinkInputs;
using testsupport::SmfWriter;
using testsupport::TrackWriter;
using testsupport::waitUntil;
using tunedeck::Device;
using tunedeck::Error;
using tunedeck::Notice;
using tunedeck::OutputMode;

namespace {

constexpr int kRate = 44100;
// parec recording the null sink's monitor into a raw file of float stereo frames.
class Recorder {
public:
    explicit Recorder(std::filesystem::path file)
        : m_file(std::move(file))
    { }
    ~Recorder() { stop(); }

    bool start()
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(
            &actions, STDOUT_FILENO, m_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const char *argv[] = { "parec", "-d", "null.monitor", "--raw", "--format=float32le",
            "--rate=44100", "--channels=2", "--latency-msec=20", nullptr };
        const int spawned = posix_spawnp(
            &m_pid, "parec", &actions, nullptr, const_cast<char *const *>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            m_pid = 0;
            return false;
        }
        // Recording has begun once the server lists parec's stream.
        return waitUntil([] {
            const auto outputs = capture("pactl list short source-outputs");
            return outputs && !outputs->empty();
        });
    }

    std::vector<float> samples() const
    {
        std::ifstream in(m_file, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<float> out(bytes.size() / sizeof(float));
        std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
        return out;
    }

    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGINT);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = 0;
    }

private:
    std::filesystem::path m_file;
    pid_t m_pid = 0;
};

// Frame indices where the left channel's level crosses `threshold`: the first frame above it
// after at least `gapFrames` below it (or from the start).
std::vector<std::size_t> onsets(
    const std::vector<float> &sound, float threshold, std::size_t gapFrames)
{
    std::vector<std::size_t> found;
    std::size_t quiet = gapFrames;
    for (std::size_t frame = 0; frame < sound.size() / 2; ++frame) {
        if (std::fabs(sound[2 * frame]) > threshold) {
            if (quiet >= gapFrames)
                found.push_back(frame);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

// How long the left channel is heard above `threshold`, in 5 ms windows. Silence the server
// plays when a stream runs dry (a machine too busy to run the server in time) is not counted:
// what is measured is how much of the sound came out, not when.
double heardMs(const std::vector<float> &sound, float threshold)
{
    constexpr std::size_t kWindow = kRate / 200;
    std::size_t loud = 0;
    for (std::size_t start = 0; start < sound.size() / 2; start += kWindow) {
        for (std::size_t frame = start; frame < std::min(start + kWindow, sound.size() / 2);
             ++frame) {
            if (std::fabs(sound[2 * frame]) > threshold) {
                ++loud;
                break;
            }
        }
    }
    return 5.0 * double(loud);
}

// Heard for `ms`: not cut short, and not played twice. A busy server can hand its monitor a
// stretch of sound a second time after a late block (45 and 105 ms more were seen with the
// machine loaded), so the bound above is a loose one.
void expectHeardFor(const std::vector<float> &sound, float threshold, double ms)
{
    const double heard = heardMs(sound, threshold);
    EXPECT_GE(heard, ms - 100.0);
    EXPECT_LE(heard, ms * 1.25);
}

// The last frame above `threshold`, or 0.
std::size_t lastLoud(const std::vector<float> &sound, float threshold)
{
    for (std::size_t frame = sound.size() / 2; frame-- > 0;)
        if (std::fabs(sound[2 * frame]) > threshold)
            return frame;
    return 0;
}

class PulseOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string missing = testsupport::missingSoundServerTools(); !missing.empty())
            GTEST_SKIP() << missing;
        m_server.emplace(m_dir / "server");
        std::string failure;
        if (!m_server->start(failure))
            GTEST_SKIP() << "no private PulseAudio server: " << failure;
    }
    void TearDown() override { m_server.reset(); }

    // A steady 440 Hz tone of `ms`, 16-bit stereo at 44.1 kHz.
    std::filesystem::path tone(const std::string &name, std::uint32_t ms)
    {
        const auto path = m_dir / name;
        EXPECT_TRUE(testsupport::writeTone(path,
            { .rate = int(kRate),
                .channels = 2,
                .frames = testsupport::framesOf(int(kRate), ms) }));
        return path;
    }

    // A song of `ms` (a multiple of 100): an organ note held from its start to its end.
    std::filesystem::path heldNote(const std::string &name, std::uint32_t ms)
    {
        TrackWriter track;
        const std::uint32_t ticksPer100Ms = 96; // 120 bpm, 480 ticks a quarter
        track.program(0, 0, 19).noteOn(0, 0, 60, 110);
        track.noteOff(ticksPer100Ms * (ms / 100), 0, 60).endOfTrack(0);
        const auto path = m_dir / name;
        EXPECT_TRUE(testsupport::writeFile(path, SmfWriter(0, 480).track(track).bytes()));
        return path;
    }

    // Plays `path` to its end through a new Device while parec records the sink.
    std::vector<float> record(const std::filesystem::path &path)
    {
        Recorder recorder(m_dir / (path.filename().string() + ".raw"));
        if (!recorder.start()) {
            ADD_FAILURE() << "parec did not start recording";
            return {};
        }
        NoticeCatcher notices;
        Device device(notices.listener(), OutputMode::Sdl);
        const auto opened = device.open(path);
        EXPECT_TRUE(opened) << (opened ? "" : opened.error().detail);
        device.play();
        const auto notice = notices.waitFor(0);
        EXPECT_TRUE(notice && notice->kind == Notice::Kind::Finished);
        device.close();
        // The sink hands its last blocks to the monitor shortly after the stream ends: wait
        // for a stretch of silence after the sound.
        waitUntil([&] {
            const auto sound = recorder.samples();
            const auto last = lastLoud(sound, 0.01f);
            return last > 0 && sound.size() / 2 > last + kRate / 4;
        });
        recorder.stop();
        return recorder.samples();
    }

    const testsupport::ScratchDir m_scratch;
    const std::filesystem::path &m_dir = m_scratch.path();
    std::optional<PrivateServer> m_server;
};

} // namespace

// A wave file and a song are heard through the server, each for its own length (the length of
// sound that comes out, however late a busy machine lets the server play it).
TEST_F(PulseOutputTest, SongsAndWavesAreHeardForTheirLength)
{
    {
        SCOPED_TRACE("wave");
        const auto sound = record(tone("tone.wav", 1500));
        ASSERT_GT(peak(sound), 0.1f) << "the recording is silent";
        const float threshold = peak(sound) / 10;
        EXPECT_EQ(onsets(sound, threshold, kRate / 5).size(), 1u);
        expectHeardFor(sound, threshold, 1500.0);
    }
    {
        SCOPED_TRACE("song");
        const auto sound = record(heldNote("held note.mid", 2000));
        ASSERT_GT(peak(sound), 0.02f) << "the recording is silent";
        const float threshold = peak(sound) / 10;
        EXPECT_EQ(onsets(sound, threshold, kRate / 5).size(), 1u);
        expectHeardFor(sound, threshold, 2000.0);
    }
}

// The stream shows in the server's mixer as Tunedeck's, and plays the next file too, also after
// a Stop (closing a stream waits for the server: half a second here, which a change of song or
// a Play after Stop would spend). When the server dies mid-song the run fails and says why; a
// play while it is down fails with the audio library's reason; once a server is back, the next
// play reaches it without a new device.
TEST_F(PulseOutputTest, LostServerFailsThePlayAndTheNextPlayFindsTheNewOne)
{
    NoticeCatcher notices;
    Device device(notices.listener(), OutputMode::Sdl);
    ASSERT_TRUE(device.open(tone("long song.wav", 8000)));
    device.play();
    ASSERT_TRUE(waitUntil([] { return !sinkInputs().empty(); })) << "no stream reached the server";
    const std::string inputs = sinkInputs();
    EXPECT_NE(inputs.find("media.name = \"Tunedeck\""), std::string::npos) << inputs;
    EXPECT_NE(inputs.find("application.name = \"Tunedeck\""), std::string::npos) << inputs;
    EXPECT_NE(inputs.find("application.icon_name = \"tunedeck\""), std::string::npos) << inputs;
    const auto streams = [] { return capture("pactl list short sink-inputs | cut -f1"); };
    const auto first = streams();
    ASSERT_TRUE(device.open(tone("next song.wav", 8000)));
    device.play();
    EXPECT_EQ(streams(), first);
    // A Stop and a Play soon after it, as the same.
    device.close();
    ASSERT_TRUE(device.open(tone("after stop.wav", 8000)));
    device.play();
    EXPECT_EQ(streams(), first);

    m_server->kill();
    auto notice = notices.waitFor(0);
    ASSERT_TRUE(notice.has_value()) << "no notice after the server died";
    EXPECT_EQ(notice->kind, Notice::Kind::Failed);
    EXPECT_EQ(notice->runId, device.runId());
    EXPECT_FALSE(device.isPlaying());
    EXPECT_EQ(device.lastFailure().code, Error::Code::OutputLost);
    EXPECT_NE(device.lastFailure().detail.find("sound server"), std::string::npos);

    device.play();
    notice = notices.waitFor(1);
    ASSERT_TRUE(notice.has_value()) << "play without a server did not fail";
    EXPECT_EQ(notice->kind, Notice::Kind::Failed);
    EXPECT_EQ(device.lastFailure().code, Error::Code::NoOutput);
    EXPECT_NE(device.lastFailure().detail.find("SDL audio"), std::string::npos)
        << device.lastFailure().detail;
    EXPECT_FALSE(device.isPlaying());

    std::string failure;
    ASSERT_TRUE(m_server->start(failure)) << failure;
    device.play();
    EXPECT_TRUE(device.isPlaying());
    EXPECT_TRUE(waitUntil([] { return !sinkInputs().empty(); }))
        << "the play after the restart did not reach the new server";
    EXPECT_EQ(notices.count(), 2u);
    device.close();
    EXPECT_TRUE(waitUntil([] { return sinkInputs().empty(); })) << "close left the stream open";
}

// The stream goes to whatever device is the default: when the default changes while a file
// plays, the stream moves with it.
TEST_F(PulseOutputTest, StreamFollowsTheDefaultDevice)
{
    const auto loaded = capture("pactl load-module module-null-sink sink_name=second");
    ASSERT_TRUE(loaded) << "cannot add a second sink";
    const auto sinks = capture("pactl list short sinks").value_or("");
    const auto line = sinks.find("\tsecond\t");
    ASSERT_NE(line, std::string::npos) << sinks;
    const std::string secondIndex
        = sinks.substr(sinks.rfind('\n', line) + 1, line - (sinks.rfind('\n', line) + 1));
    const auto onSink = [](const std::string &index) {
        // The second column of the short list is the sink each stream plays on.
        const auto used = capture("pactl list short sink-inputs | cut -f2").value_or("");
        return ("\n" + used).find("\n" + index + "\n") != std::string::npos;
    };

    Device device(nullptr, OutputMode::Sdl);
    ASSERT_TRUE(device.open(tone("long.wav", 8000)));
    device.play();
    ASSERT_TRUE(waitUntil([] { return !sinkInputs().empty(); }));
    EXPECT_FALSE(onSink(secondIndex));
    ASSERT_TRUE(capture("pactl set-default-sink second"));
    EXPECT_TRUE(waitUntil([&] { return onSink(secondIndex); }))
        << capture("pactl list short sink-inputs").value_or("");
    EXPECT_TRUE(device.isPlaying());
}

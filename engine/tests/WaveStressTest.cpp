// Thousands of seeks, stops, pauses and plays on waves that are short, cut short or at odd
// rates, offline and in real time: every call returns, every run ends, and none fails but for
// the file's own fault. A watchdog ends the program when the device stops making progress.

#include "DeviceTestSupport.h"
#include "testsupport/HostileFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <thread>
#include <unistd.h>

using namespace devicetest;
using tunedeck::Device;
using tunedeck::Error;
using tunedeck::Notice;
using tunedeck::OutputMode;

namespace {

// Ends the whole program when beat() has not been called for `limit`: a stalled decoder would
// otherwise hang the run until the test driver's time-out, saying nothing.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : m_thread([this, limit] { watch(limit); })
    { }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    void beat(std::string what)
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_beats;
            m_what = std::move(what);
        }
        m_changed.notify_all();
    }

private:
    void watch(std::chrono::seconds limit)
    {
        std::unique_lock lock(m_mutex);
        while (!m_done) {
            const std::uint64_t seen = m_beats;
            if (!m_changed.wait_for(lock, limit, [&] { return m_done || m_beats != seen; })) {
                std::fprintf(stderr, "STALL: no progress for %lld s after %s\n",
                    static_cast<long long>(limit.count()), m_what.c_str());
                std::fflush(stderr);
                std::_Exit(1);
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_beats = 0;
    std::string m_what = "the start";
    bool m_done = false;
    std::thread m_thread;
};

struct Wave {
    const char *name;
    std::uint32_t rate;
    std::uint16_t channels;
    std::uint64_t frames;
    std::uint64_t claimedFrames; // more than `frames`: the file is cut short
};

const Wave kWaves[] = {
    { "short", 44'100, 2, 4'410, 0 },
    { "cut short", 22'050, 1, 30, 5'000 },
    { "odd rate, three channels", 7'919, 3, 4'000, 0 },
    { "1 Hz", 1, 1, 3, 0 },
};

struct Mode {
    OutputMode output;
    int devices; // side by side, each on a thread of its own: more than the cores
    int rounds; // per device and file: open, kStepsPerRound calls, a run to the end, close
};

constexpr int kStepsPerRound = 8;

// One device through every file, with calls chosen at random (a seed of its own per `index`).
void exercise(const Mode &mode, int index, const std::filesystem::path &dir, Watchdog &watchdog)
{
    const bool offline = mode.output == OutputMode::Offline;
    NoticeCatcher notices;
    Device device(notices.listener(), mode.output);
    std::mt19937 random(27u + unsigned(index));
    std::vector<float> block(512 * 2);
    for (const Wave &wave : kWaves) {
        SCOPED_TRACE(wave.name);
        const std::size_t first = notices.count();
        for (int round = 0; round < mode.rounds; ++round) {
            const std::string where = "device " + std::to_string(index) + ", " + wave.name
                + ", round " + std::to_string(round);
            ASSERT_TRUE(device.open(dir / (std::string(wave.name) + ".wav")));
            const std::uint32_t length = device.lengthMs();
            // Few targets, so the same one comes back often.
            const std::uint32_t targets[] = { 0, length / 2, length };
            device.play();
            for (int step = 0; step < kStepsPerRound; ++step) {
                // A seek at once, while the decoder has just started, then anything.
                switch (step == 0 ? 0 : random() % 4) {
                case 0:
                    ASSERT_TRUE(device.seekMs(targets[random() % 3]));
                    device.play();
                    break;
                case 1:
                    device.pause();
                    break;
                case 2:
                    device.stop();
                    device.play();
                    break;
                default:
                    break;
                }
                if (offline) {
                    ASSERT_LE(device.pump(block), 512u);
                }
                ASSERT_LE(device.positionMs(), length);
                if (!device.isPlaying())
                    device.play();
                watchdog.beat(where);
            }
            // The run from near the end reaches it, or the file's fault, in bounded time.
            ASSERT_TRUE(device.seekMs(length > 100 ? length - 100 : 0));
            const std::uint32_t run = device.runId();
            const std::size_t before = notices.count();
            if (offline)
                renderToEnd(device);
            else
                device.play();
            std::optional<Notice> last;
            for (std::size_t i = before; !last || last->runId != run; ++i) {
                last = notices.waitFor(i);
                ASSERT_TRUE(last.has_value()) << where << ": the run never ended";
            }
            watchdog.beat(where + ", the end");
        }
        // Whatever failed, failed for the file's fault, not for waiting on the decoder.
        for (std::size_t i = first; i < notices.count(); ++i) {
            const auto notice = notices.waitFor(i);
            if (notice->kind != Notice::Kind::Failed)
                continue;
            EXPECT_GT(wave.claimedFrames, wave.frames) << "notice " << i;
            EXPECT_EQ(notice->reason, Error::Code::Truncated) << "notice " << i;
        }
        device.close();
    }
}

class WaveStress : public ::testing::TestWithParam<Mode> { };

TEST_P(WaveStress, EveryRunEndsWhateverTheCallsBefore)
{
    const auto dir = std::filesystem::temp_directory_path()
        / ("tunedeck-wave-stress-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (const Wave &wave : kWaves) {
        ASSERT_TRUE(testsupport::writeWave(dir / (std::string(wave.name) + ".wav"), wave.rate,
            wave.channels, wave.frames, wave.claimedFrames));
    }
    // Longer than the engine waits for a decoder before it fails the run (5 s), and than the
    // wait for a run's end notice.
    Watchdog watchdog(std::chrono::seconds(30));
    std::vector<std::thread> devices;
    for (int i = 0; i < GetParam().devices; ++i)
        devices.emplace_back([&, i] { exercise(GetParam(), i, dir, watchdog); });
    for (auto &device : devices)
        device.join();
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Outputs, WaveStress,
    ::testing::Values(Mode { OutputMode::Offline, 3, 150 }, Mode { OutputMode::Null, 2, 8 }),
    [](const auto &param) { return param.param.output == OutputMode::Null ? "Null" : "Offline"; });

} // namespace

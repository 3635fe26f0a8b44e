// Thousands of seeks, stops, pauses and plays on short, cut-short and odd-rate waves, offline and
// in real time: every call returns, every run ends, none fails but for the file's own fault.

#include "DeviceTestSupport.h"
#include "testsupport/HostileFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <thread>
#include <unistd.h>

using namespace devicetest;
using namespace tunedeck;

namespace {

// Ends the whole program when beat() has not come for 30 s (longer than the device waits for a
// decoder, 5 s, and than a wait for a notice): a stall would otherwise hang the run, silent.
struct Watchdog {
    std::mutex mutex;
    std::condition_variable beaten;
    std::uint64_t beats = 0;
    bool done = false;
    std::thread thread { [this] {
        std::unique_lock lock(mutex);
        for (std::uint64_t seen = beats; !done; seen = beats) {
            if (!beaten.wait_for(
                    lock, std::chrono::seconds(30), [&] { return done || beats != seen; })) {
                std::fputs("STALL: no progress for 30 s\n", stderr);
                std::_Exit(1);
            }
        }
    } };

    void beat()
    {
        std::lock_guard lock(mutex);
        ++beats;
        beaten.notify_all();
    }
    ~Watchdog()
    {
        std::unique_lock lock(mutex);
        done = true;
        beaten.notify_all();
        lock.unlock();
        thread.join();
    }
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
    int rounds; // per device and file: open, 8 calls, a run to the end, close
};

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
        for (int round = 0; round < mode.rounds; ++round) {
            SCOPED_TRACE("device " + std::to_string(index) + ", round " + std::to_string(round));
            const std::size_t first = notices.count();
            ASSERT_TRUE(device.open(dir / (std::string(wave.name) + ".wav")));
            const std::uint32_t length = device.lengthMs();
            // Few targets, so the same one comes back often.
            const std::uint32_t targets[] = { 0, length / 2, length };
            device.play();
            for (int step = 0; step < 8; ++step) {
                // A seek at once, while the decoder has just started, then anything.
                const unsigned call = step == 0 ? 0 : random() % 4;
                if (call == 0) {
                    ASSERT_TRUE(device.seekMs(targets[random() % 3]));
                } else if (call == 1) {
                    device.pause();
                } else if (call == 2) {
                    device.stop();
                }
                if (call != 3 && call != 1)
                    device.play();
                if (offline) {
                    ASSERT_LE(device.pump(block), 512u);
                }
                ASSERT_LE(device.positionMs(), length);
                if (!device.isPlaying())
                    device.play();
                watchdog.beat();
            }
            // The run from near the end reaches it, or the file's fault, in bounded time.
            ASSERT_TRUE(device.seekMs(length > 100 ? length - 100 : 0));
            const std::uint32_t run = device.runId();
            if (offline)
                renderToEnd(device);
            else
                device.play();
            // Whatever failed, failed for the file's fault, not for waiting on the decoder.
            std::optional<Notice> last;
            for (std::size_t i = first; !last || last->runId != run; ++i) {
                last = notices.waitFor(i);
                ASSERT_TRUE(last.has_value()) << "the run never ended";
                if (last->kind == Notice::Kind::Failed) {
                    EXPECT_GT(wave.claimedFrames, wave.frames);
                    EXPECT_EQ(last->reason, Error::Code::Truncated);
                }
            }
            watchdog.beat();
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
    Watchdog watchdog;
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

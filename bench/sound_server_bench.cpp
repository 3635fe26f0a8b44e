// Open -> first sound at the sound server: the time from Device::open() (with play() right
// after it) until the default sink's monitor carries the file's first sound, through whatever
// server PULSE_SERVER names. Prints one line per run and the median.
//   soundserverbench FILE [RUNS]

#include "tunedeck/Device.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Reads the monitor in 5 ms pieces until a sample louder than `threshold` arrives.
Clock::time_point firstSound(pa_simple *monitor, std::atomic<bool> &started)
{
    std::vector<float> block(2 * 220);
    for (;;) {
        int error = 0;
        if (pa_simple_read(monitor, block.data(), block.size() * sizeof(float), &error) < 0)
            return Clock::time_point {};
        started.store(true);
        if (std::any_of(block.begin(), block.end(), [](float x) { return std::fabs(x) > 0.01f; }))
            return Clock::now();
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs("usage: soundserverbench FILE [RUNS]\n", stderr);
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const pa_sample_spec format { PA_SAMPLE_FLOAT32LE, 44100, 2 };
    pa_buffer_attr attr {};
    attr.maxlength = std::uint32_t(-1);
    attr.fragsize = 220 * 2 * sizeof(float);
    std::vector<double> figures;
    for (int run = 0; run < runs; ++run) {
        int error = 0;
        pa_simple *monitor = pa_simple_new(nullptr, "soundserverbench", PA_STREAM_RECORD,
            "@DEFAULT_MONITOR@", "monitor", &format, nullptr, &attr, &error);
        if (!monitor) {
            std::fprintf(stderr, "soundserverbench: %s\n", pa_strerror(error));
            return 1;
        }
        std::atomic<bool> started { false };
        Clock::time_point heard;
        std::thread reader([&] { heard = firstSound(monitor, started); });
        while (!started.load())
            std::this_thread::yield(); // the monitor delivers a block every 5 ms
        tunedeck::Device device(nullptr, tunedeck::OutputMode::Sdl);
        const auto opened = Clock::now();
        if (auto result = device.open(argv[1]); !result) {
            std::fprintf(stderr, "soundserverbench: %s\n", result.error().detail.c_str());
            return 1;
        }
        device.play();
        reader.join();
        pa_simple_free(monitor);
        const double ms = std::chrono::duration<double, std::milli>(heard - opened).count();
        std::printf("run %d: open -> first sound at the server %.1f ms\n", run + 1, ms);
        figures.push_back(ms);
    }
    std::sort(figures.begin(), figures.end());
    std::printf("median %.1f ms\n", figures[figures.size() / 2]);
    return 0;
}

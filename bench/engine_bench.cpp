// Measures the engine in real time on the null output: how long Open takes until the first
// block of the file has been rendered, how long a seek takes until the first block from the
// target, and the CPU used while a song plays. Prints its figures; asserts nothing.

#include "tunedeck/Device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 20;
constexpr auto kPoll = std::chrono::microseconds(100);

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Waits until the position passes `afterMs`: the render thread has played a block from there.
bool waitPast(const tunedeck::Device &device, std::uint32_t afterMs)
{
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (device.positionMs() <= afterMs) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

void report(const char *what, std::vector<double> samples, const char *target)
{
    std::sort(samples.begin(), samples.end());
    std::printf("%-34s median %7.2f ms   max %7.2f ms   (%zu runs, target %s)\n", what,
        samples[samples.size() / 2], samples.back(), samples.size(), target);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: enginebench SONG [CPU_SECONDS]\n");
        return 1;
    }
    const char *song = argv[1];
    const double cpuWindow = argc > 2 ? std::atof(argv[2]) : 10.0;

    tunedeck::Device device(nullptr, tunedeck::OutputMode::Null);
    // The first open loads what a program does once at start (soundfont pages, caches).
    if (auto opened = device.open(song); !opened) {
        std::fprintf(
            stderr, "enginebench: %s: %s\n", song, tunedeck::errorText(opened.error().code));
        return 1;
    }

    std::vector<double> openLatency;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        if (!device.open(song))
            return 1;
        device.play();
        if (!waitPast(device, 0))
            return 1;
        openLatency.push_back(msSince(start));
    }
    report("open -> first audio block", openLatency, "<= 30 ms");

    std::vector<double> seekLatency;
    const std::uint32_t length = device.lengthMs();
    for (int round = 0; round < kRounds; ++round) {
        const std::uint32_t target
            = std::uint32_t(std::uint64_t(length) * (round + 1) / (kRounds + 2));
        const auto start = Clock::now();
        if (!device.seekMs(target))
            return 1;
        device.play();
        if (!waitPast(device, target))
            return 1;
        seekLatency.push_back(msSince(start));
    }
    report("seek -> first audio block", seekLatency, "<= 20 ms");

    if (!device.open(song))
        return 1;
    device.play();
    const auto wallStart = Clock::now();
    const double cpuStart = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(cpuWindow));
    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
    const double cpu = cpuSeconds() - cpuStart;
    std::printf("%-34s %6.1f %% of one core over %.1f s (position %u ms)\n",
        "CPU while playing (null output)", 100.0 * cpu / wall, wall, device.positionMs());
    return 0;
}

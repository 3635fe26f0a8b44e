// Figures of the engine for bench/light.sh:
//   lightbench gmsong OUT.mid [BEATS [OFFSET [US]]]  writes a General MIDI band (nine instruments
//                                       and drums; programs moved by OFFSET) of BEATS beats of US
//                                       microseconds (120 beats of 500 000: a minute at 120 bpm)
//   lightbench firstblock A.mid B.mid  Open -> first block on the null output: the first song a
//                                       second after the soundfont was prepared, then songs A
//                                       and B in turn with their instruments in memory (median
//                                       of 6); then the pages of memory the process touched
//                                       first during the first song's open (minor faults), and
//                                       the microseconds this machine takes for the first write
//                                       to a fresh page (median of 3 passes over 16 MB)
//   lightbench queued A.mid            Open -> first block of the first song when it was read
//                                       ahead while stopped, as the window does with the play
//                                       list's first entry: a second after the soundfont was
//                                       prepared, then a second between reading ahead and open;
//                                       then the resident kB that reading ahead added
//   lightbench plays N A.mid B.mid     resident memory at rest early and late in N plays of A and
//                                       B in turn, each to its end on the null output, the next
//                                       one read ahead while each plays: the median of the
//                                       readings after plays 10, 20 .. 50 and of those after the
//                                       last five tens up to N (at rest: closed, and half a second
//                                       given to the threads that free what songs held; read while
//                                       songs change, it swings by 20 MB either way, and a single
//                                       reading at rest by a megabyte)
//   lightbench change A.mid B.mid      end of A or B -> first block of the other, A and B in turn
//                                       on the null output (median of 6), without and with the
//                                       next song read ahead while one plays
#include "testsupport/MidiWriter.h"
#include "tunedeck/Device.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

bool writeGmSong(const char *path, int beats, int offset, std::uint32_t usPerBeat)
{
    const int programs[] = { 0, 33, 48, 61, 73, 25, 4, 19, 56 };
    testsupport::TrackWriter track;
    track.tempo(0, usPerBeat);
    for (int channel = 0; channel < 9; ++channel)
        track.program(0, channel, (programs[channel] + offset) % 128);
    for (int beat = 0; beat < beats; ++beat) {
        for (int channel = 0; channel < 9; ++channel)
            track.noteOn(0, channel, 48 + channel * 3 + beat % 5, 90);
        track.noteOn(0, 9, beat % 2 ? 38 : 36, 100).noteOn(0, 9, 42, 80);
        for (int channel = 0; channel < 9; ++channel)
            track.noteOff(channel == 0 ? 480 : 0, channel, 48 + channel * 3 + beat % 5);
        track.noteOff(0, 9, beat % 2 ? 38 : 36).noteOff(0, 9, 42);
    }
    track.endOfTrack(0);
    return testsupport::writeFile(path, testsupport::SmfWriter(0, 480).track(track).bytes());
}

long residentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

struct Finished {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
    tunedeck::Device::Listener listener()
    {
        return [this](tunedeck::Notice) {
            std::lock_guard lock(mutex);
            ++count;
            changed.notify_all();
        };
    }
    bool waitFor(int n)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60), [&] { return count >= n; });
    }
};

// Milliseconds from open() to the first block of the song (its position moves).
double openToFirstBlock(tunedeck::Device &device, const char *song)
{
    const auto start = Clock::now();
    if (!device.open(song))
        return -1;
    device.play();
    while (device.positionMs() == 0 && Clock::now() - start < std::chrono::seconds(30))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long minorFaults()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

double firstWriteUsPerPage()
{
    constexpr std::size_t kBytes = 16 << 20;
    const auto page = std::size_t(sysconf(_SC_PAGESIZE));
    std::vector<double> passes;
    for (int pass = 0; pass < 3; ++pass) {
        void *block
            = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED)
            return -1;
        auto *bytes = static_cast<volatile char *>(block);
        const auto start = Clock::now();
        for (std::size_t at = 0; at < kBytes; at += page)
            bytes[at] = 1;
        passes.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count()
            / double(kBytes / page));
        munmap(block, kBytes);
    }
    std::sort(passes.begin(), passes.end());
    return passes[1];
}

int firstBlock(const char *a, const char *b)
{
    Finished finished;
    tunedeck::Device device(finished.listener(), tunedeck::OutputMode::Null);
    device.prepare();
    // As when the window has been up a moment: the soundfont is found and its preset table read.
    // The first song still makes the synthesiser and reads its instruments; the songs after it
    // use the same ones, already in memory.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long faultsBefore = minorFaults();
    const double first = openToFirstBlock(device, a);
    const long faults = minorFaults() - faultsBefore;
    std::vector<double> times;
    for (int i = 0; i < 6; ++i)
        times.push_back(openToFirstBlock(device, i % 2 ? a : b));
    std::sort(times.begin(), times.end());
    std::printf(
        "%.1f %.1f %ld %.2f\n", first, (times[2] + times[3]) / 2, faults, firstWriteUsPerPage());
    return 0;
}

int queued(const char *a)
{
    Finished finished;
    tunedeck::Device device(finished.listener(), tunedeck::OutputMode::Null);
    device.prepare();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long before = residentKb();
    device.prefetch(a);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long held = residentKb() - before;
    std::printf("%.1f %ld\n", openToFirstBlock(device, a), held);
    return 0;
}

int plays(int n, const char *a, const char *b)
{
    Finished finished;
    tunedeck::Device device(finished.listener(), tunedeck::OutputMode::Null);
    // At rest: the device closed, and what its threads free let go of.
    const auto atRest = [&device] {
        device.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return residentKb();
    };
    const auto median = [](std::vector<long> readings) {
        std::sort(readings.begin(), readings.end());
        return readings[readings.size() / 2];
    };
    std::vector<long> early;
    std::vector<long> late;
    for (int i = 1; i <= n; ++i) {
        if (!device.open(i % 2 ? a : b))
            return 1;
        device.play();
        device.prefetch(i % 2 ? b : a);
        if (!finished.waitFor(i))
            return 1;
        if (i % 10 == 0 && i <= 50)
            early.push_back(atRest());
        else if (i % 10 == 0 && i > n - 50)
            late.push_back(atRest());
    }
    if (early.empty() || late.empty())
        return 1;
    std::printf("%ld %ld\n", median(early), median(late));
    return 0;
}

// The median time from the end of one song to the first block of the next, without reading the
// next ahead and with.
int change(const char *a, const char *b)
{
    for (const bool ahead : { false, true }) {
        Finished finished;
        tunedeck::Device device(finished.listener(), tunedeck::OutputMode::Null);
        if (!device.open(a))
            return 1;
        device.play();
        std::vector<double> times;
        for (int i = 1; i <= 6; ++i) {
            const char *next = i % 2 ? b : a;
            if (ahead)
                device.prefetch(next);
            if (!finished.waitFor(i))
                return 1;
            times.push_back(openToFirstBlock(device, next));
        }
        std::sort(times.begin(), times.end());
        std::printf("%s%.1f", ahead ? " " : "", (times[2] + times[3]) / 2);
    }
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && argc <= 6 && std::strcmp(argv[1], "gmsong") == 0) {
        const int beats = argc > 3 ? std::atoi(argv[3]) : 120;
        const int offset = argc > 4 ? std::atoi(argv[4]) : 0;
        const auto us = std::uint32_t(argc > 5 ? std::atol(argv[5]) : 500'000);
        return writeGmSong(argv[2], beats, offset, us) ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "firstblock") == 0)
        return firstBlock(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "queued") == 0)
        return queued(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "change") == 0)
        return change(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "plays") == 0)
        return plays(std::atoi(argv[2]), argv[3], argv[4]);
    std::fprintf(stderr,
        "usage: lightbench gmsong OUT | firstblock A B | queued A | plays N A B | change A B\n");
    return 2;
}

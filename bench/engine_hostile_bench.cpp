// The engine under hostile and huge files, in real time: the worst time Open, Stop, Skip (open of
// another file), Close and the end of the program take while each file of the hostile set
// plays, on the null and SDL outputs; Open -> first block and seek -> first block from the
// target for a wave over two hours. Also writes the big files bench/engine_hostile.sh measures
// tdplay and its peers on. Prints figures beside their budgets; asserts nothing.
//
//   enginehostilebench latency DIR       the set written to DIR, then the figures
//   enginehostilebench song PATH         a 60 MB song of 10.5 M notes, all at tick 0
//   enginehostilebench longwave PATH     a sparse 16-bit stereo wave of 2 h 10 min
//   enginehostilebench set DIR           only the hostile set, for trying other players on it

#include "testsupport/HostileFiles.h"
#include "testsupport/MidiWriter.h"
#include "tunedeck/Device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kCallBudgetMs = 50.0;
constexpr double kFirstBlockBudgetMs = 30.0;
constexpr double kSeekBudgetMs = 20.0;

template<typename Call> double timed(Call &&call)
{
    const auto start = Clock::now();
    call();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// 10.5 M note events in 16 tracks, all at tick 0, about 60 MB: delta times written in two or
// four bytes (allowed, if wasteful), as generated files do.
bool writeSong(const std::filesystem::path &path)
{
    constexpr int kTracks = 16;
    constexpr std::uint32_t kEventsPerTrack = 10'500'000 / kTracks;
    testsupport::Bytes file { 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, kTracks, 0x01, 0xE0 };
    for (int t = 0; t < kTracks; ++t) {
        testsupport::Bytes body;
        body.reserve(kEventsPerTrack * 6 + 8);
        for (std::uint32_t i = 0; i < kEventsPerTrack; ++i) {
            if (i % 10 < 3) {
                for (std::uint8_t b : { 0x80, 0x80, 0x80, 0x00 })
                    body.push_back(b);
            } else {
                body.push_back(0x80);
                body.push_back(0x00);
            }
            body.push_back(std::uint8_t(0x90 | t));
            body.push_back(std::uint8_t(36 + (i % 48)));
            body.push_back(i % 2 ? 0 : 80);
        }
        for (std::uint8_t b : { 0x00, 0xFF, 0x2F, 0x00 })
            body.push_back(b);
        for (std::uint8_t b : { 'M', 'T', 'r', 'k' })
            file.push_back(b);
        for (int shift = 24; shift >= 0; shift -= 8)
            file.push_back(std::uint8_t(body.size() >> shift));
        file.insert(file.end(), body.begin(), body.end());
    }
    return testsupport::writeFile(path, file);
}

void waitUntil(tunedeck::Device &device, std::uint32_t beyondMs)
{
    const auto giveUp = Clock::now() + std::chrono::seconds(5);
    while (device.positionMs() <= beyondMs && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

int latency(const std::filesystem::path &dir)
{
    std::filesystem::create_directories(dir);
    const auto set = testsupport::writeHostileSet(dir);
    if (set.empty()) {
        std::fprintf(stderr, "enginehostilebench: cannot write the set to %s\n", dir.c_str());
        return 1;
    }
    testsupport::TrackWriter track;
    track.noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack(0);
    const auto small = dir / "small.mid";
    testsupport::writeFile(small, testsupport::SmfWriter(0, 480).track(track).bytes());

    double worstOverall = 0;
    for (const auto mode : { tunedeck::OutputMode::Null, tunedeck::OutputMode::Sdl }) {
        const char *modeName = mode == tunedeck::OutputMode::Null ? "null" : "sdl";
        std::optional<tunedeck::Device> device;
        device.emplace(nullptr, mode);
        if (!device->open(small)) {
            std::printf("%s output: not available, skipped\n", modeName);
            continue;
        }
        std::printf("%-5s %-14s %9s %9s %9s %9s %9s %9s  (ms; budget %.0f for open..close)\n",
            modeName, "file", "probe", "open", "stop", "skip", "seek", "close", kCallBudgetMs);
        for (const auto &file : set) {
            std::uint32_t lengthMs = 0;
            const double probeMs = timed([&] {
                if (const auto probed = tunedeck::Device::probe(file.path))
                    lengthMs = probed.value().lengthMs;
            });
            bool opened = false;
            const double openMs = timed([&] { opened = device->open(file.path).ok(); });
            if (!opened) {
                std::printf(
                    "      %-14s %9.1f %9.1f  refused\n", file.name.c_str(), probeMs, openMs);
                continue;
            }
            device->play();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const double stopMs = timed([&] { device->stop(); });
            device->play();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const double skipMs = timed([&] { static_cast<void>(device->open(small)); });
            static_cast<void>(device->open(file.path));
            // A large song is read after open() returns; the seek is timed on the song once read.
            const auto giveUp = Clock::now() + std::chrono::seconds(10);
            while (device->lengthMs() != lengthMs && Clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            device->play();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const double seekMs
                = timed([&] { static_cast<void>(device->seekMs(device->lengthMs() / 2)); });
            device->play();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const double closeMs = timed([&] { device->close(); });
            const double worst = std::max({ openMs, stopMs, skipMs, seekMs, closeMs });
            worstOverall = std::max(worstOverall, worst);
            std::printf("      %-14s %9.1f %9.1f %9.2f %9.2f %9.2f %9.2f %s\n", file.name.c_str(),
                probeMs, openMs, stopMs, skipMs, seekMs, closeMs,
                worst <= kCallBudgetMs ? "ok" : "OVER");
        }
        static_cast<void>(device->open(set.front().path)); // the burst
        device->play();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const double endMs = timed([&] { device.reset(); });
        worstOverall = std::max(worstOverall, endMs);
        std::printf("      program end while the burst plays: %.2f ms (budget %.0f) %s\n", endMs,
            kCallBudgetMs, endMs <= kCallBudgetMs ? "ok" : "OVER");
    }
    std::printf("worst open/stop/skip/seek/close/end over the set: %.2f ms (budget %.0f) %s\n",
        worstOverall, kCallBudgetMs, worstOverall <= kCallBudgetMs ? "ok" : "OVER");

    // The long wave on the null output.
    const auto &longWave = std::find_if(set.begin(), set.end(), [](const auto &f) {
        return f.name == "over 2 hours";
    })->path;
    tunedeck::Device device(nullptr, tunedeck::OutputMode::Null);
    double worstFirst = 0;
    double worstSeek = 0;
    for (int round = 0; round < 10; ++round) {
        const double first = timed([&] {
            static_cast<void>(device.open(longWave));
            device.play();
            waitUntil(device, 0);
        });
        const std::uint32_t target = device.lengthMs() / 10 * std::uint32_t(round % 9 + 1);
        const double seek = timed([&] {
            static_cast<void>(device.seekMs(target));
            device.play();
            waitUntil(device, target);
        });
        worstFirst = std::max(worstFirst, first);
        worstSeek = std::max(worstSeek, seek);
        device.close();
    }
    std::printf("2 h 10 min wave, null output, worst of 10: open -> first block %.1f ms (budget "
                "%.0f) %s; seek -> first block %.1f ms (budget %.0f) %s\n",
        worstFirst, kFirstBlockBudgetMs, worstFirst <= kFirstBlockBudgetMs ? "ok" : "OVER",
        worstSeek, kSeekBudgetMs, worstSeek <= kSeekBudgetMs ? "ok" : "OVER");
    std::filesystem::remove_all(dir);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "latency") == 0)
        return latency(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "song") == 0)
        return writeSong(argv[2]) ? 0 : 1;
    if (argc == 3 && std::strcmp(argv[1], "set") == 0) {
        std::filesystem::create_directories(argv[2]);
        for (const auto &file : testsupport::writeHostileSet(argv[2]))
            std::printf("%s\t%s\n", file.name.c_str(), file.path.c_str());
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "longwave") == 0)
        return testsupport::writeSparseWave(argv[2], 2 * 3600 + 600) ? 0 : 1;
    std::fprintf(
        stderr, "usage: enginehostilebench latency DIR | song PATH | longwave PATH | set DIR\n");
    return 2;
}

// Parse + tempo map time for a MIDI song of about 1 MB: 16 tracks of notes, controllers and
// pitch bends under running status, with tempo changes spread over the tracks.
//   midi_parse_bench [bytes] [runs]
#include "tunedeck/MidiFile.h"

#include "testsupport/MidiWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

testsupport::Bytes makeSong(std::size_t targetBytes)
{
    constexpr int kTracks = 16;
    const std::size_t perTrack = targetBytes / kTracks;
    testsupport::SmfWriter song(1, 480);
    for (int t = 0; t < kTracks; ++t) {
        testsupport::TrackWriter track(testsupport::RunningStatus::On);
        const int channel = t % 16;
        track.text(0, 0x03, "Track").program(0, channel, t * 7 % 128);
        unsigned step = 0;
        while (track.bytes().size() < perTrack) {
            const int key = 36 + static_cast<int>((step * 7 + static_cast<unsigned>(t)) % 60);
            track.noteOn(step % 3 == 0 ? 0 : 60, channel, key, 80).noteOn(90, channel, key, 0);
            if (step % 16 == 0)
                track.controller(0, channel, 1, static_cast<int>(step % 128));
            if (step % 24 == 0)
                track.pitchBend(0, channel, static_cast<int>(step * 37 % 16384));
            if (step % 500 == 0)
                track.tempo(0, 400'000 + static_cast<std::uint32_t>(step % 7) * 23'456 + t);
            ++step;
        }
        song.track(track.endOfTrack(480));
    }
    return song.bytes();
}

} // namespace

int main(int argc, char **argv)
{
    const std::size_t bytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1u << 20;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 30;
    const testsupport::Bytes song = makeSong(bytes);

    // CPU time of this thread as well as wall time: on a busy machine the first is the figure.
    const auto cpuMs = [] {
        timespec now {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    };
    std::vector<double> ms;
    std::vector<double> cpu;
    std::size_t events = 0;
    std::uint32_t lengthMs = 0;
    for (int run = 0; run < runs; ++run) {
        const double cpuStart = cpuMs();
        const auto start = std::chrono::steady_clock::now();
        const auto result = tunedeck::MidiFile::parse(song);
        const auto stop = std::chrono::steady_clock::now();
        cpu.push_back(cpuMs() - cpuStart);
        if (!result.ok()) {
            std::fprintf(
                stderr, "the generated song was refused: %s\n", result.error().detail.c_str());
            return 1;
        }
        events = result.value().events().size();
        lengthMs = result.value().lengthMs();
        ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("MIDI parse + tempo map: %zu bytes, %zu events, %u ms of music, %d runs\n",
        song.size(), events, lengthMs, runs);
    std::printf("  wall: best %.2f ms, median %.2f ms, worst %.2f ms (target: <= 20 ms)\n",
        ms.front(), ms[ms.size() / 2], ms.back());
    std::printf("  cpu:  best %.2f ms, median %.2f ms\n", cpu.front(), cpu[cpu.size() / 2]);
    return 0;
}

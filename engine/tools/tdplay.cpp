// tdplay: the engine on the command line. Plays files, prints what they are, or renders them
// to a wave file, for headless machines, scripts and benchmarks.

#include "tunedeck/Device.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kRenderBlockFrames = 4096;
constexpr auto kStatusInterval = std::chrono::milliseconds(200);

const char kUsage[] = "Usage: tdplay FILE...\n"
                      "       tdplay --info FILE...\n"
                      "       tdplay --render OUT.wav [--pcm16] [--max-seconds N] FILE\n"
                      "\n"
                      "Plays MIDI songs (.mid, .rmi) and wave files through the sound card, one\n"
                      "after another, showing the position on one status line. Without a sound\n"
                      "card (or with TUNEDECK_OUTPUT=null) the sound is discarded in real time.\n"
                      "\n"
                      "  --info     print one tab-separated line per file: the name, the kind\n"
                      "             (smf0, smf1, smf2, rmi, wav) and the length in ms; or the\n"
                      "             name, 'error' and why the file cannot be played\n"
                      "  --render   render FILE as fast as possible to OUT.wav, 44100 Hz stereo,\n"
                      "             32-bit float (or 16-bit PCM with --pcm16); at most N\n"
                      "             seconds of it with --max-seconds N\n"
                      "  --help     show this text\n"
                      "\n"
                      "MIDI songs need a General MIDI soundfont: $TUNEDECK_SOUNDFONT, else\n"
                      "/usr/share/sounds/sf2/default-GM.sf2 or Debian's TimGM6mb or FluidR3.\n"
                      "Exit status: 0 when every file worked, 1 otherwise.\n";

std::string describe(const tunedeck::Error &error)
{
    std::string text = tunedeck::errorText(error.code);
    if (!error.detail.empty())
        text += " (" + error.detail + ")";
    return text;
}

std::string formatTime(std::uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u", ms / 60000, ms / 1000 % 60);
    return text;
}

int info(std::span<char *const> files)
{
    int status = 0;
    for (const char *file : files) {
        const auto probed = tunedeck::Device::probe(file);
        if (probed) {
            std::printf("%s\t%s\t%u\n", file, tunedeck::mediaKindName(probed.value().kind),
                probed.value().lengthMs);
        } else {
            std::printf("%s\terror\t%s\n", file, describe(probed.error()).c_str());
            status = 1;
        }
    }
    return status;
}

// Renders `file` into `outPath`, at most `maxSeconds` of it when that is not 0. Fails when the
// file cannot be opened, fails while rendering, or the output cannot be written.
int render(const char *outPath, const char *file, bool pcm16, unsigned long maxSeconds)
{
    std::atomic<bool> failed { false };
    std::atomic<int> reason { 0 };
    std::optional<tunedeck::Device> owned;
    tunedeck::Device &device = owned.emplace(
        [&](tunedeck::Notice notice) {
            if (notice.kind == tunedeck::Notice::Kind::Failed) {
                reason = static_cast<int>(notice.reason);
                failed = true;
            }
        },
        tunedeck::OutputMode::Offline);
    if (auto opened = device.open(file); !opened) {
        std::fprintf(stderr, "tdplay: %s: %s\n", file, describe(opened.error()).c_str());
        return 1;
    }
    SF_INFO info {};
    info.samplerate = device.sampleRate();
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
    SNDFILE *out = sf_open(outPath, SFM_WRITE, &info);
    if (!out) {
        std::fprintf(stderr, "tdplay: %s: %s\n", outPath, sf_strerror(nullptr));
        return 1;
    }
    if (pcm16) // Clip instead of wrapping around where the mix is louder than full scale.
        sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::vector<float> block(kRenderBlockFrames * 2);
    const std::uint64_t limit = maxSeconds == 0
        ? ~std::uint64_t { 0 }
        : std::uint64_t { maxSeconds } * std::uint64_t(device.sampleRate());
    std::uint64_t total = 0;
    device.play();
    bool written = true;
    while (device.isPlaying() && written && total < limit) {
        const std::size_t frames = device.pump(block);
        const auto keep = static_cast<sf_count_t>(std::min<std::uint64_t>(frames, limit - total));
        written = sf_writef_float(out, block.data(), keep) == keep;
        total += std::uint64_t(keep);
    }
    if (!written)
        std::fprintf(stderr, "tdplay: %s: %s\n", outPath, sf_strerror(out));
    const bool closed = sf_close(out) == 0;
    // The notice thread reports a failure shortly after the block that met it; the device's
    // destructor joins that thread, so the flag is final once the device is gone.
    owned.reset();
    if (failed) {
        std::fprintf(stderr, "tdplay: %s: rendering failed: %s\n", file,
            tunedeck::errorText(static_cast<tunedeck::Error::Code>(reason.load())));
    }
    return closed && written && !failed ? 0 : 1;
}

// Plays one file to its end through the real output, refreshing the status line.
bool play(tunedeck::Device &device, std::mutex &mutex, std::condition_variable &changed,
    bool &finished, bool &failed, const char *file)
{
    if (auto opened = device.open(file); !opened) {
        std::fprintf(stderr, "tdplay: %s: %s\n", file, describe(opened.error()).c_str());
        return false;
    }
    {
        std::lock_guard lock(mutex);
        finished = failed = false;
    }
    device.play();
    const std::string length = formatTime(device.lengthMs());
    std::unique_lock lock(mutex);
    for (;;) {
        std::fprintf(stderr, "\r%s  %s / %s ", file, formatTime(device.positionMs()).c_str(),
            length.c_str());
        std::fflush(stderr);
        if (changed.wait_for(lock, kStatusInterval, [&] { return finished; }))
            break;
    }
    std::fprintf(stderr, "\r%s  %s / %s\n", file, length.c_str(), length.c_str());
    if (failed)
        std::fprintf(stderr, "tdplay: %s: playing failed\n", file);
    return !failed;
}

} // namespace

int main(int argc, char **argv)
{
    const std::span<char *const> args(argv + 1, std::size_t(argc > 0 ? argc - 1 : 0));
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    const std::string_view first = args[0];
    if (first == "--help" || first == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (first == "--info")
        return info(args.subspan(1));
    if (first == "--render") {
        bool pcm16 = false;
        unsigned long maxSeconds = 0;
        std::vector<const char *> rest;
        const auto options = args.subspan(1);
        for (std::size_t i = 0; i < options.size(); ++i) {
            if (std::strcmp(options[i], "--pcm16") == 0) {
                pcm16 = true;
            } else if (std::strcmp(options[i], "--max-seconds") == 0 && i + 1 < options.size()) {
                char *end = nullptr;
                maxSeconds = std::strtoul(options[++i], &end, 10);
                if (*end != '\0' || maxSeconds == 0) {
                    std::fputs(kUsage, stderr);
                    return 1;
                }
            } else {
                rest.push_back(options[i]);
            }
        }
        if (rest.size() != 2) {
            std::fputs(kUsage, stderr);
            return 1;
        }
        return render(rest[0], rest[1], pcm16, maxSeconds);
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    bool failed = false;
    tunedeck::Device device([&](tunedeck::Notice notice) {
        // On the engine's notice thread.
        std::lock_guard lock(mutex);
        finished = true;
        failed = notice.kind == tunedeck::Notice::Kind::Failed;
        changed.notify_all();
    });
    int status = 0;
    for (const char *file : args) {
        if (std::string_view(file).starts_with("--")) {
            std::fprintf(stderr, "tdplay: unknown option %s\n", file);
            status = 1;
            continue;
        }
        if (!play(device, mutex, changed, finished, failed, file))
            status = 1;
    }
    return status;
}

// Feeds arbitrary bytes to the device as a file and renders it: the MIDI reader or the wave
// decoder (chosen by content, as for any file), then a bounded number of blocks with seeks,
// pauses, stops, keys, tempos, muted channels and loops taken from the input's last bytes.
// Beyond the sanitizers' checks it traps when a position leaves the file's length, a block
// claims more frames than asked, a refusal carries no code of the documented set, or a wave's
// decoder stalled (the device gives up on it after a few seconds, which would otherwise pass
// unseen). Run it with a per-input limit:
//   build/fuzz/bin/render_fuzz -timeout=10 fuzz/corpus/render
#include "Require.h"
#include "tunedeck/Device.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kBlockFrames = 512;
constexpr int kMaxBlocks = 48;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The input goes through a file, as the device opens files; removed when the run ends.
    static const struct Scratch {
        std::filesystem::path path = std::filesystem::temp_directory_path()
            / ("tunedeck-render-fuzz-" + std::to_string(::getpid()));
        ~Scratch() { std::filesystem::remove(path); }
    } scratch;
    const std::filesystem::path &path = scratch.path;
    static auto device = std::make_unique<tunedeck::Device>(nullptr, tunedeck::OutputMode::Offline);

    if (std::FILE *file = std::fopen(path.c_str(), "wb")) {
        require(std::fwrite(data, 1, size, file) == size);
        std::fclose(file);
    } else {
        return 0;
    }
    const auto probed = tunedeck::Device::probe(path);
    const auto opened = device->open(path);
    if (!opened) {
        using Code = tunedeck::Error::Code;
        const Code code = opened.error().code;
        require(code != Code::InvalidArgument && code != Code::FileNotFound);
        // Probe refuses what open refuses, for the same reason, unless only the synthesiser
        // (which probe does not need) is missing.
        require(code == Code::NoSoundfont || code == Code::Synth
            || (!probed.ok() && probed.error().code == code));
        return 0;
    }
    require(probed.ok() && probed.value().lengthMs == device->lengthMs());

    const std::uint32_t length = device->lengthMs();
    std::vector<float> block(kBlockFrames * 2);
    device->play();
    for (int i = 0; i < kMaxBlocks; ++i) {
        const std::uint8_t op = size > 0 ? data[size - 1 - std::size_t(i) % size] : 0;
        switch (op % 8) {
        case 0:
            static_cast<void>(device->seekMs(std::uint32_t(std::uint64_t(length) * op / 255)));
            device->play();
            break;
        case 1:
            device->pause();
            break;
        case 2:
            device->stop();
            device->play();
            break;
        case 3: // the listener's key and tempo
            device->setTranspose(int(op % 25) - 12);
            device->setTempoPercent(25 + op * 375 / 255);
            break;
        case 4: // channels and loops (0: for ever)
            device->setMutedChannels(std::uint16_t(op * 257));
            device->setLoopCount(op % 4);
            break;
        default:
            break;
        }
        require(device->pump(block) <= kBlockFrames);
        require(device->positionMs() <= length);
        if (!device->isPlaying())
            device->play();
    }
    require(device->lastFailure().detail.find("gave no sound") == std::string::npos);
    device->close();
    return 0;
}

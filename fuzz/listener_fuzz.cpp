// Feeds arbitrary text to tdplay's listener options (--transpose, --tempo, --mute/--solo,
// --loop): each either refuses it with a one-line reason or takes a value within its range, and
// the settings then describe themselves on one line.
#include "../engine/tools/ListenerSettings.h"
#include "Require.h"

#include "tunedeck/Device.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace {

void requireReason(const std::optional<std::string> &refused)
{
    if (refused)
        require(!refused->empty() && refused->find('\n') == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The text as a command line hands it over: up to its first NUL.
    const std::string text(reinterpret_cast<const char *>(data), size);
    ListenerSettings settings;
    requireReason(readTranspose(text.c_str(), settings));
    require(settings.transpose >= -tunedeck::Device::kMaxTranspose
        && settings.transpose <= tunedeck::Device::kMaxTranspose);
    requireReason(readTempo(text.c_str(), settings));
    require(settings.tempoPercent >= tunedeck::Device::kMinTempoPercent
        && settings.tempoPercent <= tunedeck::Device::kMaxTempoPercent);
    if (readChannels(text.c_str(), settings.muted))
        settings.muted = 0;
    requireReason(readChannels(text.c_str(), settings.soloed));
    requireReason(readLoop(text.c_str(), settings));
    require(settings.loopCount >= 1 && settings.loopCount <= tunedeck::Device::kMaxLoopCount);
    require(settings.describe().find('\n') == std::string::npos);
    return 0;
}

// Feeds arbitrary bytes to the m3u play-list reader (checks in PlayListFuzz.h).
#include "PlayListFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return fuzzPlayList(tunedeck::playlists::Format::M3u, data, size);
}

#pragma once

// The checks every play-list reader's fuzz target makes: whatever the bytes, the reader stays
// within its limits, every file it gives is an absolute name, and nothing it gives is empty.
#include "Require.h"
#include "tunedeck/PlayLists.h"

#include <cstddef>
#include <cstdint>

inline int fuzzPlayList(
    tunedeck::playlists::Format format, const std::uint8_t *data, std::size_t size)
{
    const auto entries = tunedeck::playlists::parse(format, { data, size }, "/lists");
    require(entries.files.size() + entries.refused.size() <= tunedeck::playlists::kMaxEntries);
    require(entries.files.size() + entries.refused.size() <= size / 2 + 1);
    for (const auto &file : entries.files) {
        require(file.is_absolute());
        require(file.native().size() <= tunedeck::playlists::kMaxNameBytes + 8);
    }
    for (const auto &refused : entries.refused)
        require(!refused.empty() && refused.size() <= tunedeck::playlists::kMaxNameBytes);
    return 0;
}

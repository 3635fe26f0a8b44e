#pragma once

// The checks every play-list reader's fuzz target makes: whatever the bytes, the reader stays
// within its limits, every file it gives is an absolute name, and nothing it gives is empty.
#include "tunedeck/PlayLists.h"

#include <cstddef>
#include <cstdint>

inline void requireFuzz(bool condition)
{
    if (!condition)
        __builtin_trap();
}

inline int fuzzPlayList(
    tunedeck::playlists::Format format, const std::uint8_t *data, std::size_t size)
{
    const auto entries = tunedeck::playlists::parse(format, { data, size }, "/lists");
    requireFuzz(entries.files.size() + entries.refused.size() <= tunedeck::playlists::kMaxEntries);
    requireFuzz(entries.files.size() + entries.refused.size() <= size / 2 + 1);
    for (const auto &file : entries.files) {
        requireFuzz(file.is_absolute());
        requireFuzz(file.native().size() <= tunedeck::playlists::kMaxNameBytes + 8);
    }
    for (const auto &refused : entries.refused)
        requireFuzz(!refused.empty() && refused.size() <= tunedeck::playlists::kMaxNameBytes);
    return 0;
}

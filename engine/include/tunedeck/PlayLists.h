#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Play lists written by other players: .m3u and .m3u8 (a name or URI a line, '#' lines are
// comments and #EXTINF notes), .pls (File1=..., File2=...) and .xspf (XML, each track's
// <location>s URIs of the same song: the first local one plays; taken against the xml:base
// around them, if any). A name with a colon is a URI only with "//" after it, or as "file:".
// Names are file-system bytes: an .m3u that is not UTF-8 is taken to be in the locale's
// encoding, which is the file system's, so its bytes are the names as they are. Qt-free, for
// tdplay and the player alike.
namespace tunedeck::playlists {

enum class Format { M3u, Pls, Xspf };

// The format a name's extension gives (.m3u, .m3u8, .pls, .xspf, in any case), or none.
std::optional<Format> formatOf(const std::filesystem::path &path);

// Limits that keep a hostile list's cost bounded: larger files are refused unread, later entries
// are dropped, longer entries are refused.
inline constexpr std::size_t kMaxBytes = 16u << 20;
inline constexpr std::size_t kMaxEntries = 100'000;
inline constexpr std::size_t kMaxNameBytes = 4096;

struct Entries {
    // Local files in list order: relative names resolved against the list's folder, file: URIs
    // decoded. Whether each exists or plays is for the caller to find out.
    std::vector<std::filesystem::path> files;
    // Entries that are no local file (other URI schemes, names too long), as written; at most
    // kMaxEntries in all with `files`.
    std::vector<std::string> refused;
    // The list held more than kMaxEntries entries; the rest were not read.
    bool truncated = false;
};

// Reads the entries of a list held in memory; `folder` is the list's own folder. Never fails:
// bytes that are not a list of that format give no entries. Time and memory linear in the size.
Entries parse(
    Format format, std::span<const std::uint8_t> bytes, const std::filesystem::path &folder);

// Reads a list file whole (at most kMaxBytes) and parses it by its extension. Returns nothing,
// with the reason in `why`, for a file that cannot be read, is too large, is not a play list by
// its name, or holds NUL bytes (binary, not text).
std::optional<Entries> read(const std::filesystem::path &path, std::string *why = nullptr);

} // namespace tunedeck::playlists

#pragma once

#include "keysweep/Bytes.h"
#include "keysweep/Result.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace keysweep {

// Hands a file's new bytes, piece by piece, to the sink it is given.
using ByteProducer = std::function<void(const std::function<void(std::string_view)> &sink)>;

// Reads a whole file. Fails with Error::Code::Io (and the system's reason) when it cannot.
[[nodiscard]] Result<Bytes> readWholeFile(const std::filesystem::path &path);

// Replaces the file at `path` so that a crash leaves either the old or the new bytes, never a
// mix: a temporary file in the same folder gets the bytes, the old file's mode and owner, and an
// fsync; it is then renamed over the old one and the folder is synced. A symbolic link is
// followed and the file it names is replaced, so the link stays. A file with more than one hard
// link fails with Error::Code::HardLinked, because replacing one name would split them. On any
// failure the old file is left exactly as it was and the temporary file is removed.
[[nodiscard]] Result<void> replaceFileAtomically(
    const std::filesystem::path &path, const ByteProducer &produce);

} // namespace keysweep

#pragma once

#include "keysweep/Result.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace keysweep {

// Whether a symbolic link `path` (or a file that is none) may be followed: its owner is the
// caller or the owner of the file it names, as the kernel's protected_symlinks has it. Else the
// owner of a prefix could have root, editing that prefix, rewrite a file of root's.
[[nodiscard]] bool mayFollow(const std::filesystem::path &path);

// Reads a whole regular file. Fails with Error::Code::NotAFile for anything else (a FIFO is
// never waited on) and with Error::Code::Io (and the system's reason) when it cannot read it.
[[nodiscard]] Result<std::string> readWholeFile(const std::filesystem::path &path);

// Replaces the file at `path` with `bytes` so that a crash leaves either the old or the new bytes,
// never a mix: a temporary file in the same folder gets them, the old file's mode and owner, and an
// fsync; it is then renamed over the old one and the folder is synced. A symbolic link is
// followed and the file it names is replaced, so the link stays; one mayFollow() refuses fails
// with Error::Code::NotAFile. A file with more than one hard
// link fails with Error::Code::HardLinked, because replacing one name would split them. On any
// failure but one the old file is left exactly as it was and the temporary file is removed: the
// folder is opened first, but a failed sync of it after the rename is Error::Code::NotSynced,
// when the file has been replaced and the change may not survive a crash.
[[nodiscard]] Result<void> replaceFileAtomically(
    const std::filesystem::path &path, std::string_view bytes);

} // namespace keysweep

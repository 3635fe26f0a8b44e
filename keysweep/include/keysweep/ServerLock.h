#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <variant>
#include <vector>

namespace keysweep {

// Where a prefix's wineserver keeps its folder `server-<dev>-<ino>` (holding `lock` and
// `socket`). Upstream Wine uses <sharedTmp>/.wine-<uid>/; Debian's build uses <runtimeDir>/wine/
// when the runtime folder exists, else a folder named in the prefix's file `wineserver`, created
// under $TMPDIR or /tmp.
struct ServerPlaces {
    std::filesystem::path tmpDir; // $TMPDIR of this run, may be empty
    std::filesystem::path sharedTmp = "/tmp";
    std::filesystem::path runtimeDir; // /run/user/<uid>, may be empty
    uid_t uid = 0;
    std::filesystem::path proc = "/proc"; // scanned for a server whatever its layout

    // The places for this process: $TMPDIR, /tmp, /run/user/<uid> and /proc.
    static ServerPlaces forThisProcess();
};

// The name of the server folder of a prefix, `server-<st_dev hex>-<st_ino hex>`, or nothing when
// the prefix cannot be examined (then no server can run for it either).
std::string serverFolderName(const std::filesystem::path &prefix);

// A prefix's wineserver seen running: its pid where known (0 otherwise) and how it was seen.
struct ServerRunning {
    pid_t pid = 0;
    std::filesystem::path evidence; // the lock file it holds, or its /proc entry
};

// Holds Wine's server lock of one prefix. A live wineserver holds a write lock on byte 0 of its
// `lock` file for its whole life, and a starting one waits while someone else holds it; so
// while this object lives, no server runs for the prefix and none can start. Owns the lock files'
// descriptors; the locks go when it is destroyed. Used from one thread; POSIX locks belong to the
// process, so a second ServerLock in the same process does not exclude the first.
class ServerLock {
public:
    // Takes the lock in every server folder of `prefix`, after checking that no server runs: a
    // lock held by another process, or a process whose working folder is the prefix's server
    // folder (found through `places.proc`), means it does, and nothing is held. The server folder
    // Debian's Wine would use, and its lock file, are made first where missing, as that Wine
    // makes them (folders 0700, the prefix's `wineserver` file 0400, `lock` 0600). Run by root
    // on another user's prefix, they are looked for in that user's places and made as theirs.
    static std::variant<ServerLock, ServerRunning> acquire(
        const std::filesystem::path &prefix, const ServerPlaces &places);

    ServerLock(ServerLock &&other) noexcept;
    ServerLock &operator=(ServerLock &&other) noexcept;
    ServerLock(const ServerLock &) = delete;
    ServerLock &operator=(const ServerLock &) = delete;
    ~ServerLock();

    // The lock files held, for messages and tests.
    const std::vector<std::filesystem::path> &heldLocks() const { return m_paths; }

private:
    ServerLock() = default;
    void release();

    std::vector<int> m_fds;
    std::vector<std::filesystem::path> m_paths;
};

} // namespace keysweep

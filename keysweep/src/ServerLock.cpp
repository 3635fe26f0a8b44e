#include "keysweep/ServerLock.h"

#include "keysweep/HiveFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace keysweep {

namespace {

// The byte a wineserver locks for its whole life (and `wineserver -w` waits on).
struct flock serverLockRange(short type)
{
    struct flock range { };
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 1;
    return range;
}

// The owner of a prefix this run (root's) edits for another user. What is made for that user's
// Wine is given to them: a `wineserver` file, server folder or lock of root's would stop it.
struct Owner {
    uid_t uid;
    gid_t gid;
};

std::optional<Owner> otherOwner(const std::filesystem::path &prefix)
{
    struct stat info { };
    if (::geteuid() != 0 || ::stat(prefix.c_str(), &info) != 0 || info.st_uid == ::geteuid())
        return std::nullopt;
    return Owner { info.st_uid, info.st_gid };
}

// A folder made as Wine makes it (0700), and given to `owner` when there is one.
void makeFolder(const std::filesystem::path &folder, const std::optional<Owner> &owner)
{
    if (::mkdir(folder.c_str(), 0700) == 0 && owner)
        static_cast<void>(::chown(folder.c_str(), owner->uid, owner->gid));
}

// The folder name Debian's wineserver wrote into the prefix, if it is a plain name.
std::string debianFolderName(const std::filesystem::path &prefix)
{
    auto bytes = readWholeFile(prefix / "wineserver");
    if (!bytes)
        return {};
    std::string name = std::move(bytes).value();
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' '))
        name.pop_back();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos
        || name.find('\0') != std::string::npos)
        return {};
    return name;
}

// Debian's Wine keeps its server folders in <runtime>/wine/ whenever the user's runtime folder
// exists, and below $TMPDIR or /tmp only otherwise.
std::filesystem::path runtimeServerRoot(const ServerPlaces &places)
{
    std::error_code error;
    if (places.runtimeDir.empty() || !std::filesystem::is_directory(places.runtimeDir, error))
        return {};
    return places.runtimeDir / "wine";
}

// The server folders Debian's Wine would use for the prefix, created as it creates them (mode
// 0700) if missing: <runtime>/wine/<server> where the runtime folder exists, and the folder named
// in the prefix's `wineserver` file, below $TMPDIR or /tmp; when there is no such file, a new
// `wine-XXXXXX` there whose name goes into the file (mode 0400). A Wine started afterwards then
// finds the lock this run holds. Folders that cannot be made are left out. (Upstream Wine's
// <tmp>/.wine-<uid> is only locked where it exists.)
void makeServerFolders(const std::filesystem::path &prefix, const std::string &serverName,
    const ServerPlaces &places, const std::optional<Owner> &owner)
{
    if (const auto runtime = runtimeServerRoot(places); !runtime.empty()) {
        makeFolder(runtime, owner);
        makeFolder(runtime / serverName, owner);
    }
    const std::filesystem::path base = places.tmpDir.empty() ? places.sharedTmp : places.tmpDir;
    std::string debian = debianFolderName(prefix);
    if (debian.empty() && !std::filesystem::exists(prefix / "wineserver")) {
        std::string made = (base / "wine-XXXXXX").string();
        if (::mkdtemp(made.data()) != nullptr) {
            if (owner)
                static_cast<void>(::chown(made.c_str(), owner->uid, owner->gid));
            const std::string name = std::filesystem::path(made).filename().string();
            const auto file = prefix / "wineserver";
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0400);
            if (fd >= 0 && owner)
                static_cast<void>(::fchown(fd, owner->uid, owner->gid));
            const bool written
                = fd >= 0 && ::write(fd, name.data(), name.size()) == ssize_t(name.size());
            if (fd >= 0)
                ::close(fd);
            if (written) {
                debian = name;
            } else {
                if (fd >= 0)
                    ::unlink(file.c_str()); // ours, but not whole
                ::rmdir(made.c_str());
            }
        }
    }
    if (!debian.empty()) {
        makeFolder(base / debian, owner);
        makeFolder(base / debian / serverName, owner);
    }
}

std::vector<std::filesystem::path> candidateFolders(
    const std::filesystem::path &prefix, const std::string &serverName, const ServerPlaces &places)
{
    std::vector<std::filesystem::path> folders;
    if (const std::string debian = debianFolderName(prefix); !debian.empty()) {
        for (const auto &base : { places.tmpDir, places.sharedTmp }) {
            if (!base.empty())
                folders.push_back(base / debian / serverName);
        }
    }
    folders.push_back(places.sharedTmp / (".wine-" + std::to_string(places.uid)) / serverName);
    if (const auto runtime = runtimeServerRoot(places); !runtime.empty())
        folders.push_back(runtime / serverName);
    for (auto &folder : folders)
        folder = folder.lexically_normal();
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    return folders;
}

// Any process whose working folder is the server folder is that prefix's wineserver: the server
// changes into its folder at start. This works whatever folder layout the build uses.
std::optional<ServerRunning> findServerProcess(
    const std::string &serverName, const std::filesystem::path &proc)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(proc, error);
    if (error)
        return std::nullopt;
    const std::string self = std::to_string(::getpid());
    for (const auto &entry : entries) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty()
            || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })
            || pid == self)
            continue;
        const auto cwd = std::filesystem::read_symlink(entry.path() / "cwd", error);
        if (!error && cwd.filename() == serverName)
            return ServerRunning { pid_t(std::atol(pid.c_str())), entry.path() / "cwd" };
    }
    return std::nullopt;
}

} // namespace

ServerPlaces ServerPlaces::forThisProcess()
{
    ServerPlaces places;
    if (const char *tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0')
        places.tmpDir = tmp;
    places.uid = ::getuid();
    places.runtimeDir = "/run/user/" + std::to_string(places.uid);
    return places;
}

std::string serverFolderName(const std::filesystem::path &prefix)
{
    struct stat info { };
    if (::stat(prefix.c_str(), &info) != 0)
        return {};
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx",
        static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino));
    return name;
}

std::variant<ServerLock, ServerRunning> ServerLock::acquire(
    const std::filesystem::path &prefix, const ServerPlaces &ours)
{
    ServerLock lock;
    const std::string serverName = serverFolderName(prefix);
    if (serverName.empty())
        return lock;

    // Root editing another user's prefix: the server that matters is that user's, in their
    // places.
    const std::optional<Owner> owner = otherOwner(prefix);
    ServerPlaces places = ours;
    if (owner) {
        if (places.runtimeDir == "/run/user/" + std::to_string(places.uid))
            places.runtimeDir = "/run/user/" + std::to_string(owner->uid);
        places.uid = owner->uid;
    }
    makeServerFolders(prefix, serverName, places, owner);
    for (const auto &folder : candidateFolders(prefix, serverName, places)) {
        const auto lockPath = folder / "lock";
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            continue; // no such folder, or not ours to lock
        struct stat made { };
        if (owner && ::fstat(fd, &made) == 0 && made.st_uid != owner->uid)
            static_cast<void>(::fchown(fd, owner->uid, owner->gid));
        struct flock range = serverLockRange(F_WRLCK);
        if (::fcntl(fd, F_SETLK, &range) == 0) {
            lock.m_fds.push_back(fd);
            lock.m_paths.push_back(lockPath);
            continue;
        }
        const int error = errno;
        if (error == EAGAIN || error == EACCES) {
            struct flock holder = serverLockRange(F_WRLCK);
            const pid_t pid
                = ::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK ? holder.l_pid : 0;
            ::close(fd);
            return ServerRunning { pid, lockPath };
        }
        ::close(fd);
    }
    if (auto running = findServerProcess(serverName, places.proc))
        return *running;
    return lock;
}

ServerLock::ServerLock(ServerLock &&other) noexcept
    : m_fds(std::move(other.m_fds))
    , m_paths(std::move(other.m_paths))
{
    other.m_fds.clear();
}

ServerLock &ServerLock::operator=(ServerLock &&other) noexcept
{
    if (this != &other) {
        release();
        m_fds = std::move(other.m_fds);
        m_paths = std::move(other.m_paths);
        other.m_fds.clear();
    }
    return *this;
}

ServerLock::~ServerLock()
{
    release();
}

void ServerLock::release()
{
    // Closing a descriptor drops the process's locks on that file.
    for (const int fd : m_fds)
        ::close(fd);
    m_fds.clear();
}

} // namespace keysweep

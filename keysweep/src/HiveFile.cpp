#include "keysweep/HiveFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace keysweep {

namespace {

Error ioError(const std::string &what, const std::filesystem::path &path, int error)
{
    return Error { Error::Code::Io, what + " " + path.string() + ": " + std::strerror(error) };
}

// Closes a descriptor it owns when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    { }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    // Closes now and reports the result, which can carry a delayed write error.
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(std::size_t(written));
    }
    return true;
}

} // namespace

bool mayFollow(const std::filesystem::path &path)
{
    struct stat link { };
    struct stat target { };
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) || link.st_uid == ::geteuid())
        return true;
    return ::stat(path.c_str(), &target) == 0 && target.st_uid == link.st_uid;
}

Result<std::string> readWholeFile(const std::filesystem::path &path)
{
    // Non-blocking, so opening a FIFO returns at once; its type is then refused below.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return ioError("cannot open", path, errno);
    struct stat info { };
    if (::fstat(fd.get(), &info) != 0)
        return ioError("cannot read", path, errno);
    if (!S_ISREG(info.st_mode))
        return Error { Error::Code::NotAFile, path.string() + " is not a regular file" };
    std::string bytes;
    bytes.reserve(std::size_t(info.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return ioError("cannot read", path, errno);
        }
        if (got == 0)
            return bytes;
        bytes.append(buffer, std::size_t(got));
    }
}

Result<void> replaceFileAtomically(const std::filesystem::path &path, std::string_view bytes)
{
    std::filesystem::path target = path;
    struct stat link { };
    if (::lstat(path.c_str(), &link) != 0)
        return ioError("cannot find", path, errno);
    if (S_ISLNK(link.st_mode)) {
        if (!mayFollow(path))
            return Error { Error::Code::NotAFile,
                path.string() + " is a symbolic link of another owner than the file it names" };
        char *resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr)
            return ioError("cannot follow the link", path, errno);
        target = resolved;
        std::free(resolved);
    }
    struct stat info { };
    if (::stat(target.c_str(), &info) != 0)
        return ioError("cannot find", target, errno);
    if (!S_ISREG(info.st_mode))
        return Error { Error::Code::NotAFile, target.string() + " is not a regular file" };
    if (info.st_nlink > 1)
        return Error { Error::Code::HardLinked,
            target.string() + " has " + std::to_string(info.st_nlink) + " hard links" };

    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    // Opened before anything changes: after the rename it must be synced.
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0)
        return ioError("cannot open the folder", folder, errno);
    std::string temporary = (folder / ".keysweep-XXXXXX").string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return ioError("cannot create a file in", folder, errno);

    const auto fail = [&](const std::string &what, int error) {
        ::unlink(temporary.c_str());
        return ioError(what, temporary, error);
    };

    if (!writeAll(fd.get(), bytes))
        return fail("cannot write", errno);

    if (::fchown(fd.get(), info.st_uid, info.st_gid) != 0) {
        struct stat made { };
        if (::fstat(fd.get(), &made) != 0 || made.st_uid != info.st_uid
            || made.st_gid != info.st_gid)
            return fail("cannot give the old owner to", errno);
    }
    if (::fchmod(fd.get(), info.st_mode & 07777) != 0)
        return fail("cannot give the old mode to", errno);
    if (::fsync(fd.get()) != 0)
        return fail("cannot sync", errno);
    if (fd.close() != 0)
        return fail("cannot close", errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        return fail("cannot rename over " + target.string() + ":", errno);

    // The rename is durable only once the folder itself is on disk.
    if (::fsync(directory.get()) != 0) {
        Error error = ioError("cannot sync the folder", folder, errno);
        error.code = Error::Code::NotSynced;
        return error;
    }
    return {};
}

} // namespace keysweep

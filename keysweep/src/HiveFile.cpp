#include "keysweep/HiveFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
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

// From this size on a file is mapped rather than read: the parse then works on the page cache
// itself, and neither a copy nor the faults of a fresh buffer as large as the file are paid.
constexpr std::size_t kMapFrom = std::size_t(1) << 20;

} // namespace

Bytes Bytes::mapFile(int fd, std::size_t size)
{
    Bytes bytes;
    if (size == 0)
        return bytes;
    // Populated at once: the parse reads every page in order, and one call maps them all.
    void *address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (address == MAP_FAILED)
        return bytes;
    bytes.m_view = static_cast<const char *>(address);
    bytes.m_size = size;
    bytes.m_mapLength = size;
    bytes.m_mapped = true;
    return bytes;
}

Bytes::~Bytes()
{
    if (m_mapped)
        ::munmap(const_cast<char *>(m_view), m_mapLength);
}

Result<Bytes> readWholeFile(const std::filesystem::path &path)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return ioError("cannot open", path, errno);
    struct stat info { };
    if (::fstat(fd.get(), &info) != 0)
        return ioError("cannot read", path, errno);
    if (!S_ISREG(info.st_mode))
        return Error { Error::Code::Io, "cannot read " + path.string() + ": not a regular file" };
    if (std::size_t(info.st_size) >= kMapFrom) {
        // Only the server, locked out while keysweep runs, writes a hive, and it replaces the
        // file by renaming a new one over it, so the mapped bytes cannot change under us.
        if (Bytes mapped = Bytes::mapFile(fd.get(), std::size_t(info.st_size)); mapped.isMapped())
            return mapped;
    }
    // One byte more than the size, so a file that grew meanwhile is noticed and read whole.
    Bytes bytes(std::size_t(info.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            Bytes larger(bytes.size() * 2);
            std::memcpy(larger.data(), bytes.data(), filled);
            bytes = std::move(larger);
        }
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return ioError("cannot read", path, errno);
        }
        if (got == 0)
            break;
        filled += std::size_t(got);
    }
    bytes.truncate(filled);
    return bytes;
}

Result<void> replaceFileAtomically(const std::filesystem::path &path, const ByteProducer &produce)
{
    std::filesystem::path target = path;
    struct stat link { };
    if (::lstat(path.c_str(), &link) != 0)
        return ioError("cannot find", path, errno);
    if (S_ISLNK(link.st_mode)) {
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
        return Error { Error::Code::Io, target.string() + " is not a regular file" };
    if (info.st_nlink > 1)
        return Error { Error::Code::HardLinked,
            target.string() + " has " + std::to_string(info.st_nlink) + " hard links" };

    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::string temporary = (folder / ".keysweep-XXXXXX").string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return ioError("cannot create a file in", folder, errno);

    const auto fail = [&](const std::string &what, int error) {
        ::unlink(temporary.c_str());
        return ioError(what, temporary, error);
    };

    // Small pieces are gathered so a file of many sections costs few system calls.
    constexpr std::size_t kBufferBytes = 1 << 20;
    std::string buffer;
    buffer.reserve(kBufferBytes);
    int writeError = 0;
    const auto flush = [&] {
        if (writeError == 0 && !writeAll(fd.get(), buffer))
            writeError = errno;
        buffer.clear();
    };
    produce([&](std::string_view piece) {
        if (buffer.size() + piece.size() > kBufferBytes)
            flush();
        if (piece.size() >= kBufferBytes) {
            if (writeError == 0 && !writeAll(fd.get(), piece))
                writeError = errno;
        } else {
            buffer.append(piece);
        }
    });
    flush();
    if (writeError != 0)
        return fail("cannot write", writeError);

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
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0 || ::fsync(directory.get()) != 0)
        return ioError("cannot sync the folder", folder, errno);
    return {};
}

} // namespace keysweep

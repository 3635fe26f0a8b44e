#include "RenderTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

std::string errnoText()
{
    return std::strerror(errno);
}

// The folder part of `path`, with its final '/', or "" for a name in the current folder.
std::string folderOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A new file beside `path`, hidden, readable as the target would be (the umask applies).
int createTemporary(const std::string &path, std::string &temporary)
{
    const auto slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folderOf(path) + "." + name + "." + std::to_string(::getpid()) + "-"
            + std::to_string(attempt) + ".part";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

RenderTarget::RenderTarget(int fd, std::string path, std::string temporary)
    : m_fd(fd)
    , m_path(std::move(path))
    , m_temporary(std::move(temporary))
{ }

RenderTarget::RenderTarget(RenderTarget &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
    , m_temporary(std::exchange(other.m_temporary, {}))
{ }

RenderTarget::~RenderTarget()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
}

std::optional<RenderTarget> RenderTarget::open(
    const char *path, const char *input, std::string &why, bool &wrongCommandLine)
{
    wrongCommandLine = false;
    struct stat target { };
    struct stat source { };
    if (::stat(path, &target) != 0) {
        if (errno != ENOENT) {
            why = errnoText();
            return std::nullopt;
        }
        std::string temporary;
        const int fd = createTemporary(path, temporary);
        if (fd < 0) {
            why = errnoText();
            return std::nullopt;
        }
        return RenderTarget(fd, path, temporary);
    }
    if (::stat(input, &source) == 0 && source.st_dev == target.st_dev
        && source.st_ino == target.st_ino) {
        why = std::string("is the file being rendered (") + input + ")";
        wrongCommandLine = true;
        return std::nullopt;
    }
    if (S_ISDIR(target.st_mode)) {
        why = std::strerror(EISDIR);
        return std::nullopt;
    }
    if (!S_ISREG(target.st_mode)) {
        // Without O_NONBLOCK, opening a FIFO waits for a reader, perhaps forever.
        const int fd = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            why = errno == ENXIO ? "no program is reading from it" : errnoText();
            return std::nullopt;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return RenderTarget(fd, path, {});
    }
    std::string temporary;
    const int fd = createTemporary(path, temporary);
    if (fd < 0) {
        why = errnoText();
        return std::nullopt;
    }
    // The finished file keeps the permissions of the one it replaces.
    ::fchmod(fd, target.st_mode & 07777);
    return RenderTarget(fd, path, temporary);
}

std::optional<std::string> RenderTarget::commit()
{
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0)
        return errnoText();
    if (m_temporary.empty())
        return std::nullopt;
    if (::rename(m_temporary.c_str(), m_path.c_str()) != 0)
        return errnoText();
    m_temporary.clear();
    return std::nullopt;
}

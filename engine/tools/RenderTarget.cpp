#include "RenderTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

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
// The header of a wave file of 16-bit or 32-bit float frames whose length is not known: both
// sizes at their largest, as programs that read wave files from a pipe expect.
bool writeStreamedWaveHeader(int fd, const SF_INFO &info)
{
    const bool pcm16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    const std::uint32_t bytesPerSample = pcm16 ? 2 : 4;
    const auto channels = std::uint32_t(info.channels);
    const auto rate = std::uint32_t(info.samplerate);
    std::vector<std::uint8_t> header;
    const auto put = [&header](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            header.push_back(std::uint8_t(value >> (8 * i)));
    };
    const auto tag = [&header](const char *id) { header.insert(header.end(), id, id + 4); };
    tag("RIFF");
    put(0xFFFFFFFFu, 4);
    tag("WAVE");
    tag("fmt ");
    put(pcm16 ? 16 : 18, 4);
    put(pcm16 ? 1 : 3, 2); // integer PCM, or IEEE float
    put(channels, 2);
    put(rate, 4);
    put(rate * channels * bytesPerSample, 4);
    put(channels * bytesPerSample, 2);
    put(bytesPerSample * 8, 2);
    if (!pcm16)
        put(0, 2); // no extension
    tag("data");
    put(0xFFFFFFFFu, 4);
    for (std::size_t done = 0; done < header.size();) {
        const ssize_t written = ::write(fd, header.data() + done, header.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += std::size_t(written);
    }
    return true;
}

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

struct RenderTarget::Sink {
    int fd = -1;
    int error = 0; // errno of the first write that failed
    // Into a stream: where the encoder believes it writes, and how far the stream has gone. What
    // it writes after going back (a header finished at the end) is dropped: the stream is past
    // it, and anything added after the last frame would be read as more of the stream.
    bool stream = false;
    sf_count_t position = 0;
    sf_count_t streamed = 0;

    static Sink &of(void *user) { return *static_cast<Sink *>(user); }
    static sf_count_t length(void *user)
    {
        Sink &sink = of(user);
        struct stat status { };
        if (sink.stream)
            return sink.streamed;
        return ::fstat(sink.fd, &status) == 0 ? sf_count_t(status.st_size) : -1;
    }
    static sf_count_t seek(sf_count_t offset, int whence, void *user)
    {
        Sink &sink = of(user);
        if (!sink.stream)
            return ::lseek(sink.fd, offset, whence);
        const sf_count_t from = whence == SEEK_CUR ? sink.position
            : whence == SEEK_END                   ? sink.streamed
                                                   : 0;
        if (from + offset < 0)
            return -1;
        return sink.position = from + offset;
    }
    static sf_count_t read(void *data, sf_count_t count, void *user)
    {
        const ssize_t got = ::read(of(user).fd, data, std::size_t(count));
        return got < 0 ? 0 : got;
    }
    static sf_count_t write(const void *data, sf_count_t count, void *user)
    {
        Sink &sink = of(user);
        if (sink.stream && sink.position != sink.streamed) {
            sink.position += count;
            return count;
        }
        sf_count_t done = 0;
        while (done < count) {
            const ssize_t written = ::write(
                sink.fd, static_cast<const char *>(data) + done, std::size_t(count - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                if (sink.error == 0)
                    sink.error = written < 0 ? errno : ENOSPC;
                break;
            }
            done += written;
        }
        if (sink.stream)
            sink.position = sink.streamed += done;
        return done;
    }
    static sf_count_t tell(void *user)
    {
        Sink &sink = of(user);
        return sink.stream ? sink.position : ::lseek(sink.fd, 0, SEEK_CUR);
    }
};

RenderTarget::RenderTarget(int fd, std::string path, std::string temporary)
    : m_fd(fd)
    , m_path(std::move(path))
    , m_temporary(std::move(temporary))
{ }

RenderTarget::RenderTarget(RenderTarget &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
    , m_temporary(std::exchange(other.m_temporary, {}))
    , m_sink(std::move(other.m_sink))
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
    // A symbolic link (/dev/stdout when the output goes to a file, say) stays: the file it names
    // is replaced.
    std::string file = path;
    if (char *resolved = ::realpath(path, nullptr)) {
        file = resolved;
        std::free(resolved);
    }
    // A file its owner made read-only is kept, as cp and the shell's > keep it; the rename
    // below would replace it all the same.
    if (::access(file.c_str(), W_OK) != 0) {
        why = errnoText();
        return std::nullopt;
    }
    std::string temporary;
    const int fd = createTemporary(file.c_str(), temporary);
    if (fd < 0) {
        why = errnoText();
        return std::nullopt;
    }
    // The finished file keeps the permissions of the one it replaces.
    ::fchmod(fd, target.st_mode & 07777);
    return RenderTarget(fd, file, temporary);
}

SNDFILE *RenderTarget::openSound(SF_INFO &info)
{
    // A FIFO or a device cannot seek back to finish a header: a FLAC or Ogg stream keeps the
    // header it began with (FLAC's then leaves its length and checksum unknown, as a stream's
    // may).
    if (m_temporary.empty()) {
        if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV) {
            m_sink = std::make_unique<Sink>(Sink { m_fd, 0, true });
            SF_VIRTUAL_IO io { Sink::length, Sink::seek, Sink::read, Sink::write, Sink::tell };
            return sf_open_virtual(&io, SFM_WRITE, &info, m_sink.get());
        }
        // libsndfile writes no wave file into a stream: the header is written here, with the
        // sizes unknown as streamed wave files have them, and the frames after it as they are.
        if (!writeStreamedWaveHeader(m_fd, info)) {
            m_sink = std::make_unique<Sink>(Sink { m_fd, errno ? errno : EIO });
            return nullptr;
        }
        SF_INFO raw = info;
        raw.format = SF_FORMAT_RAW | SF_ENDIAN_LITTLE | (info.format & SF_FORMAT_SUBMASK);
        return sf_open_fd(m_fd, SFM_WRITE, &raw, SF_FALSE);
    }
    m_sink = std::make_unique<Sink>(Sink { m_fd });
    SF_VIRTUAL_IO io { Sink::length, Sink::seek, Sink::read, Sink::write, Sink::tell };
    return sf_open_virtual(&io, SFM_WRITE, &info, m_sink.get());
}

std::optional<std::string> RenderTarget::writeError() const
{
    if (!m_sink || m_sink->error == 0)
        return std::nullopt;
    return std::strerror(m_sink->error);
}

std::optional<std::string> RenderTarget::commit()
{
    if (auto failed = writeError())
        return failed;
    const int fd = std::exchange(m_fd, -1);
    // A full disk may show only here, where the file system gives the file its blocks.
    const bool synced = m_temporary.empty() || ::fsync(fd) == 0;
    const int syncError = errno;
    if (::close(fd) != 0)
        return errnoText();
    if (!synced)
        return std::strerror(syncError);
    if (m_temporary.empty())
        return std::nullopt;
    if (::rename(m_temporary.c_str(), m_path.c_str()) != 0)
        return errnoText();
    m_temporary.clear();
    return std::nullopt;
}

// Where tdplay --render writes: a file that appears only once it is complete.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <sndfile.h>

// A regular file (or a new name) is written as a temporary file beside it, renamed over it by
// commit(); a target destroyed uncommitted (an interrupt, a failed write) removes the
// temporary file and leaves whatever was there before. A FIFO or a device the user names is
// written directly; a FIFO with no program reading it is refused at once instead of waiting.
class RenderTarget {
public:
    // Opens for writing `path`, which must not be `input` (the file being rendered). On
    // failure, `why` holds the reason and `wrongCommandLine` tells whether it is the user's.
    static std::optional<RenderTarget> open(
        const char *path, const char *input, std::string &why, bool &wrongCommandLine);

    RenderTarget(RenderTarget &&other) noexcept;
    RenderTarget &operator=(RenderTarget &&) = delete;
    RenderTarget(const RenderTarget &) = delete;
    ~RenderTarget();

    // Opens the sound file libsndfile writes here, or null (writeError(), else
    // sf_strerror(nullptr), says why). A wave file into a stream is written as a streamed one
    // (header sizes unknown), as libsndfile writes none there; a FLAC stream keeps the header it
    // began with. Every write of a FLAC or Ogg Vorbis encoder, and every write into a file of the
    // target's own, is checked here, as libsndfile does not always do: the last frames an encoder
    // writes while the file is closed fail without a word. writeError() and commit() then say
    // why.
    SNDFILE *openSound(SF_INFO &info);
    // Whether the sound goes into a file of the target's own, which can be gone back over (not
    // into a FIFO or a device).
    bool seekable() const { return !m_temporary.empty(); }
    // Why a write into the file failed, if one did.
    std::optional<std::string> writeError() const;

    // Writes the file to the disk, closes it and gives it its name; the reason when that fails.
    std::optional<std::string> commit();

private:
    struct Sink;

    RenderTarget(int fd, std::string path, std::string temporary);

    int m_fd = -1;
    std::string m_path;
    std::string m_temporary; // empty when writing to the target itself
    std::unique_ptr<Sink> m_sink; // the file's writes, checked
};

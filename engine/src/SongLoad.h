#pragma once

#include "MidiSource.h"
#include "Source.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

namespace tunedeck {

class Synth;

// A song too large to read on the owner's thread (the largest take most of a second): a reader
// thread of its own reads and parses it and builds its MidiSource, while this source stands in
// for it. Until the song is ready it is silence at position 0 with length 0; from then on it is
// the song. A song that cannot be read fails the first run that plays it, with the reader's
// reason (failure(), failureDetail()).
class SongLoad final : public Source {
public:
    // Owner's thread: starts reading `path`; `kind` is what the file's header says it is. The
    // synthesiser must outlive the reading, or abandon() must be called before it goes.
    SongLoad(std::filesystem::path path, MediaKind kind, Synth &synth);
    // Abandons the reading; a reader still at work frees what it read itself.
    ~SongLoad() override;

    MediaKind kind() const override { return m_kind; }
    // 0 until the song is ready.
    std::uint32_t lengthMs() const override;

    std::size_t render(float *out, std::size_t frames) noexcept override;
    void renderIdle(float *out, std::size_t frames) noexcept override;
    void silence() noexcept override;
    void seekMs(std::uint32_t positionMs) noexcept override;
    void prepareSeek(std::uint32_t positionMs) noexcept override;
    std::uint32_t positionMs() const noexcept override;
    bool atEnd() const noexcept override;
    bool failed() const noexcept override;
    Error::Code failure() const noexcept override;
    std::string failureDetail() const override;
    void abandon() noexcept override;
    void applyControls(const PlayControls &controls) noexcept override;

private:
    struct Shared;

    // Render thread: the song once it is ready, else null.
    MidiSource *song() noexcept;

    MediaKind m_kind;
    std::shared_ptr<Shared> m_shared;
    MidiSource *m_song = nullptr; // render thread's copy of the ready song
};

} // namespace tunedeck

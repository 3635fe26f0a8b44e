#pragma once

#include "PlayControls.h"
#include "tunedeck/Device.h"
#include "tunedeck/Result.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tunedeck {

class Synth;

// Something the render thread plays: a MIDI song through the synthesiser or a decoded wave file.
// Built and destroyed on the owner's thread; every other member runs on the render thread only,
// where none may block, allocate or read a file.
class Source {
public:
    virtual ~Source() = default;

    virtual MediaKind kind() const = 0;
    // Length in ms, fixed when the source is built; any thread.
    virtual std::uint32_t lengthMs() const = 0;

    // Writes up to `frames` interleaved stereo frames to `out` and returns how many came from
    // the file; fewer than asked means the end was reached. Does not touch the rest of `out`.
    virtual std::size_t render(float *out, std::size_t frames) noexcept = 0;
    // Fills `frames` frames while not playing (release tails of a synthesiser, else silence).
    virtual void renderIdle(float *out, std::size_t frames) noexcept
    {
        std::fill(out, out + 2 * frames, 0.0f);
    }
    // Cuts all sound at once, as pause and stop do; the position stays.
    virtual void silence() noexcept { }
    // Moves to `positionMs` (at most lengthMs()); the next render() starts there.
    virtual void seekMs(std::uint32_t positionMs) noexcept = 0;
    // Owner's thread, any time: a seekMs(positionMs) is on its way to the render thread. A
    // source that reads ahead may start reading from there now.
    virtual void prepareSeek(std::uint32_t positionMs) noexcept { static_cast<void>(positionMs); }
    // Owner's thread, any time: the listener's key is moving to `semitones`. A song may get
    // ready for it now.
    virtual void prepareKey(int semitones) { static_cast<void>(semitones); }
    // The position in ms: exactly the seek target right after seekMs(), lengthMs() at the end.
    virtual std::uint32_t positionMs() const noexcept = 0;
    virtual bool atEnd() const noexcept = 0;
    // True once rendering has failed for good; the device then reports a failure.
    virtual bool failed() const noexcept { return false; }
    // Why rendering failed, once failed() is true.
    virtual Error::Code failure() const noexcept { return Error::Code::Io; }
    // Owner's thread, once the run's Failed notice has arrived: what went wrong, in words, when
    // the source knows more than failure()'s code says; else empty.
    virtual std::string failureDetail() const { return {}; }
    // Render thread, before every block: the listener's settings. A source takes what applies
    // to it (a song: key, tempo, channels and loops; a wave file: nothing, the device varies its
    // speed and loops it whole).
    virtual void applyControls(const PlayControls &controls) noexcept
    {
        static_cast<void>(controls);
    }
    // Render thread, before each block of a wave file: how many more times the file plays
    // from its start after the pass being played (INT_MAX: for ever). A source may then go on
    // into those passes by itself, without a gap; passesBegun() counts the passes it began so
    // since it was last asked (and since its last seek).
    virtual void playOn(int morePasses) noexcept { static_cast<void>(morePasses); }
    virtual int passesBegun() noexcept { return 0; }
    // Owner's thread: this source will not play again (another replaced it, or the device is
    // closing). Work done ahead for it on a thread of its own may stop now.
    virtual void abandon() noexcept { }
    // Any thread: the synthesiser a song plays on now (null for anything else, or a song not
    // ready yet); it lives as long as the source.
    virtual Synth *synthPlaying() const noexcept { return nullptr; }
    // Owner's thread: what the file says about itself, for a source that reads the file itself
    // (null until it has, and for the others).
    virtual const SongText *songText() const { return nullptr; }
};

} // namespace tunedeck

#pragma once

#include "tunedeck/Result.h"

#include <cstddef>
#include <memory>
#include <string>

namespace tunedeck {

// Where rendered sound goes. An output calls its render function on a thread of its own, once per
// block, with interleaved stereo float frames to fill; that function must not block.
class Output {
public:
    // Called on the output's thread; `context` is the pointer given to start().
    using RenderFunction = void (*)(void *context, float *out, std::size_t frames) noexcept;

    virtual ~Output() = default;
    virtual int sampleRate() const = 0;
    // Starts calling `render` until stop(). Owner's thread.
    virtual void start(RenderFunction render, void *context) = 0;
    // Returns once `render` is no longer running and will not be called again. Owner's thread.
    virtual void stop() = 0;
    // True when the sound device has gone away (unplugged, its server stopped) since it was
    // opened, so `render` is no longer called. Any thread.
    virtual bool lost() const { return false; }
};

// The default sound device through SDL2, as one stream the desktop's volume mixer shows as
// Tunedeck's. The stream always runs at `sampleRate`.
// Fails with NoOutput and SDL's own message when no device can be opened. After an output was
// lost, the next open while no other output is open reconnects SDL to the sound system, so a
// restarted sound server is found again.
Result<std::unique_ptr<Output>> openSdlOutput(int sampleRate);
// A clock-driven output that discards the sound at real-time pace, block by block.
std::unique_ptr<Output> openNullOutput(int sampleRate);

} // namespace tunedeck

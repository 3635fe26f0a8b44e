#pragma once

#include "tunedeck/Result.h"
#include "tunedeck/SongText.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace tunedeck {

// What a file holds, decided by its content.
enum class MediaKind { Smf0, Smf1, Smf2, Rmi, Wave };

// The word tdplay and logs use for a kind: smf0, smf1, smf2, rmi, wav.
const char *mediaKindName(MediaKind kind) noexcept;

// What a file is and how long it plays, found without opening an output.
struct MediaInfo {
    MediaKind kind = MediaKind::Smf0;
    std::uint32_t lengthMs = 0;
    SongText text; // what the file says about itself
};

// Which output a Device renders into.
enum class OutputMode {
    // Sdl, or Null when TUNEDECK_OUTPUT=null. Never the null output for want of a sound card.
    Auto,
    // The default sound device through SDL, as one stream named "Tunedeck" that the first open()
    // opens, the files after it play on, and close() lets go of (an open() within seconds takes it
    // back); open() fails with NoOutput when none can be opened, and open() and play() try a new
    // output when the one there has gone away.
    Sdl,
    // A clock-driven output that discards the sound in real time.
    Null,
    // No thread: the owner calls Device::pump() to render, as fast as it likes.
    Offline,
};

// Something that happened while a file played, sent from the engine to its owner.
struct Notice {
    enum class Kind {
        Finished, // the playing reached the end of the file
        // the output or the source failed while playing, or play() found no output;
        // playing has stopped and Device::lastFailure() says why
        Failed,
    };
    Kind kind = Kind::Finished;
    // The run the notice belongs to (see Device::runId()); a notice whose run has since ended
    // is stale and can be ignored.
    std::uint32_t runId = 0;
    // Failed only: why (Io when the sound device went away, Truncated or Io when a wave file
    // could no longer be read).
    Error::Code reason = Error::Code::Io;
};

// A channel's controller state as the synthesiser holds it (for tests and diagnostics).
struct ChannelState {
    int bank = 0;
    int program = 0;
    int pitchBend = 8192; // 0..16383, 8192 is the centre
    int pitchBendRangeSemitones = 2;
    int controllers[128] = {}; // the synthesiser's values of CC 0..127
};

// A player for one file at a time: a MIDI song (rendered by FluidSynth) or a wave file, chosen
// by content. Starts these threads besides the caller's: a notice thread that calls the listener
// (for the device's lifetime; it sleeps while there is no output); the output's render thread
// from the first open() on (closed with the file on the SDL output; none for
// OutputMode::Offline); and short-lived ones: a worker that makes the
// synthesiser (prepare()) and one per song that reads what the song needs before it plays,
// a wave file's decoder while it is open, and one that frees a replaced file's memory.
//
// Threading: every member function except the listener is called from one thread, the owner's
// (in the player: the UI thread). Commands take effect on the render thread at its next block;
// positionMs() and lengthMs() read atomics and never wait. open() and close() hand the new file
// over without waiting for the render thread, and the render thread's work per block is bounded
// whatever the file holds. On the SDL output, close() stops the stream, which waits for SDL's
// thread to finish its block, and leaves it for a few seconds to a thread of its own, which then
// closes it (closing waits for the sound server); an open() before then takes it back, and an
// open() during that close, and the destructor, wait for the close.
// The listener is called on the notice thread, never on the render thread and never after the
// destructor has returned.
//
// Every member is virtual so that a program can load the engine as a module after its window
// shows (dlopen, MakeDevice below) and call it without linking the audio libraries.
class Device {
public:
    using Listener = std::function<void(Notice)>;

    // Opens no output and loads no soundfont: the output is opened with the first file (the
    // SDL output is closed with each), the synthesiser made for the first song (or by prepare()).
    // The soundfont is looked for again whenever a song is opened while there is none.
    explicit Device(Listener listener, OutputMode mode = OutputMode::Auto);
    // Stops the sound, closes the file, joins the notice and render threads.
    virtual ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // Reads what a file is and its length without playing it. Fails like open() would, except
    // that a missing soundfont or output is not an error here.
    [[nodiscard]] static Result<MediaInfo> probe(const std::filesystem::path &path);

    // Looks for the soundfonts and reads their preset tables on a worker thread now, so the
    // first song does not wait for the disk; returns at once. Makes no synthesiser: the first
    // song does, quickly, since every preset starts empty. Songs need no call to this.
    virtual void prepare();

    // Reads ahead what `path` needs to play, as a file likely to be opened next: a song's samples
    // (those of the presets it chooses, for the key set now; setTranspose() reads them again for
    // its key) are read on a thread of their own (here with OutputMode::Offline) and kept until
    // open(path) has taken them over, so that open() reads none of them and the song can start at
    // once; another prefetch() (an empty path asks for nothing), the open() of another file and the
    // destructor let them go; close() keeps them, for the file to be opened later. So while a song
    // plays the samples of at most two songs are held, and at rest those of one. Returns at once;
    // nothing is read for wave files, and a file that cannot be read is left for open() to report.
    virtual void prefetch(const std::filesystem::path &path);

    // Closes any open file, then opens `path` stopped at position 0. Fails with FileNotFound,
    // Io, UnknownFormat, NotMidi, Malformed, Truncated, NotWave, WaveRate, NoSoundfont or
    // NoOutput; the device is then closed. Of a wave file only the header is read here; the
    // file's own decoder thread reads it as it plays. A song larger than a megabyte is read on a
    // thread of its own (except with OutputMode::Offline): open() refuses only what its first
    // bytes and its size refuse, lengthMs() is 0 and playing is silent until it is read, and a
    // fault found later ends the first run that plays it with Notice::Failed and the fault's
    // code and detail (lastFailure()), as probe() reports them. Every song's samples (only those
    // of the presets it chooses) are read on a thread of its own while open() returns; a play()
    // before then is silent at the start of the song until they are there (OutputMode::Offline
    // reads them here).
    [[nodiscard]] virtual Result<void> open(const std::filesystem::path &path);
    // Stops and forgets the open file; does nothing when none is open.
    virtual void close();
    virtual bool isOpen() const;
    // The open file's kind; meaningless when none is open.
    virtual MediaKind kind() const;
    // What the open file says about itself (title, artist, copyright, markers, lyrics), read
    // with it by open(); empty when none is open. A large song is read on a thread of its own:
    // empty until it is read (by the time its length is known).
    virtual const SongText &text() const;

    // Plays from the current position to the end of the file. At the end the render thread
    // stops and sends Notice::Finished. Playing at the end finishes at once. When the output
    // has gone away and no new one can be opened, the run ends with Notice::Failed.
    virtual void play();
    // Stops producing sound and keeps the position; the run goes on (play() resumes it).
    virtual void pause();
    // Stops producing sound, keeps the position and ends the run.
    virtual void stop();
    // Moves to `positionMs` (stopped) and ends the run. Fails with InvalidArgument past the end
    // or when no file is open; nothing changes then.
    [[nodiscard]] virtual Result<void> seekMs(std::uint32_t positionMs);

    // True between play() and the end of the file, stop(), pause(), seekMs() or close().
    virtual bool isPlaying() const;
    // The current position in ms, 0 when no file is open. Exactly the target after seekMs(),
    // exactly lengthMs() at the end. Never waits.
    virtual std::uint32_t positionMs() const;
    // The open file's length in ms, 0 when none is open (or while a large song is read).
    virtual std::uint32_t lengthMs() const;

    // Identifies the current run: the stretch of playing that a Finished notice belongs to. It
    // changes on open(), close(), stop() and seekMs(), never on play() or pause().
    virtual std::uint32_t runId() const;

    // Why the last Notice::Failed was sent: OutputLost when the output went away while
    // playing, NoOutput (with the audio library's message) when play() could not open a new
    // one, else the file's fault (Notice::reason, with its detail). Owner's thread, after the
    // notice has arrived.
    virtual Error lastFailure() const;

    // Scales every sample the output receives by `gain` (clamped to 0..1) from the next block
    // on; 1, the start value, leaves the sound as the file has it. Never waits.
    virtual void setVolume(float gain);
    virtual float volume() const;

    // The listener's settings. Each takes effect at the next block without waiting and lasts
    // until changed, across files: a new file keeps the key, tempo and loops, and open() makes
    // every channel sound again. Key and channels apply to songs only.
    static constexpr int kMaxTranspose = 12;
    static constexpr int kMinTempoPercent = 25;
    static constexpr int kMaxTempoPercent = 400;
    static constexpr int kMaxLoopCount = 65535;
    static constexpr int kLoopForever = 0;
    // Semitones (-12..12, clamped) for every channel but the drums (channel 10 and the parts a
    // GS or XG reset or a drum bank makes drums). Notes sounding when it changes end.
    virtual void setTranspose(int semitones);
    virtual int transpose() const;
    // The speed in percent (25..400, clamped): a song's clock runs faster or slower at the same
    // pitch, a wave file's speed and pitch change together. positionMs(), lengthMs() and
    // seekMs() stay in the file's own time; playLengthMs() is how long it plays at this tempo.
    virtual void setTempoPercent(int percent);
    virtual int tempoPercent() const;
    virtual std::uint32_t playLengthMs() const;
    // MIDI channels as bits (bit n for channel n + 1): the muted ones, and the soloed ones
    // (when any is soloed, only those sound). A channel that falls silent stops its notes.
    virtual void setMutedChannels(std::uint16_t channels);
    virtual std::uint16_t mutedChannels() const;
    virtual void setSoloChannels(std::uint16_t channels);
    virtual std::uint16_t soloChannels() const;
    // How many times the file plays (1, the start value, to kMaxLoopCount), or kLoopForever. A
    // song that marks a loop (controller 111, or loopStart/loopEnd markers) plays up to the
    // loop's end that many times, each time from the loop's start restored as a seek restores
    // it, then on to its end. The file's end comes (and Notice::Finished) after the last pass.
    // Only playing on to the loop's end repeats: from a seek past it, or a count set while
    // playing past it, the song plays on to its end. A seek moves within the pass being played:
    // the passes played before it still count.
    virtual void setLoopCount(int count);
    virtual int loopCount() const;

    // Sample rate of the output in Hz; the output always takes interleaved stereo floats.
    virtual int sampleRate() const;
    virtual OutputMode outputMode() const;

    // OutputMode::Offline only: renders `out.size() / 2` stereo frames on the caller's thread as
    // the output's callback would, and returns how many frames came from the file (the rest is
    // what still sounds after its end: a song's ring-out, or silence). Notices still arrive on
    // the notice thread.
    virtual std::size_t pump(std::span<float> out);

    // The state of MIDI channel `channel` (0..15) in the synthesiser the open song plays on, else
    // the device's. Call between pump() calls or while paused; returns an all-default state when
    // no synthesiser exists.
    virtual ChannelState channelState(int channel) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The sound module's entry point (tunedeck-sound.so, a module holding the engine and its audio
// libraries): a new Device, owned by the caller. Look it up by kMakeDeviceSymbol.
using MakeDevice = Device *(*)(Device::Listener listener, OutputMode mode);
inline constexpr char kMakeDeviceSymbol[] = "tunedeck_make_device";

} // namespace tunedeck

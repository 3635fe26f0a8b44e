#pragma once

#include "Source.h"
#include "SpscRing.h"
#include "tunedeck/SongText.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct SF_INFO;
struct SRC_STATE_tag;
typedef struct sf_private_tag SNDFILE;

namespace tunedeck {

// What a wave file holds, read from its header by libsndfile.
struct WaveFacts {
    long long frames = 0;
    int sampleRate = 0;
    int channels = 0;
    std::uint32_t lengthMs = 0; // frames / rate, truncated to whole ms, saturated
    SongText text; // title, artist and copyright from the file's INFO list
};

// The rates a wave file may have: anything from 1 Hz is converted to the output's rate (in two
// steps where one would exceed the converter's range of 256 : 1); above kMaxWaveRate a file
// would need more decoding per second than real time allows.
inline constexpr int kMaxWaveRate = 768'000;

// Reads the header of a wave file (any format libsndfile decodes) and decides whether it can be
// played. Fails with NotWave, naming libsndfile's reason, or WaveRate. Whatever it accepts,
// WaveSource::open() accepts too.
[[nodiscard]] Result<WaveFacts> readWaveFacts(const std::filesystem::path &path);

// A wave file decoded as it plays. open() reads the header only; a decoder thread of the
// source's own reads the file, mixes it to stereo (mono to both sides, more than two channels
// down to two), converts it to the output's rate and keeps a ring of a few seconds ahead of the
// render thread, which only copies from the ring: it never reads a file, locks or allocates.
// Memory stays the same whatever the file's length.
//
// Seeks: each one gets a serial. The owner asks through prepareSeek() (under the mutex, waking
// the decoder), so the decoder starts reading from the target before the render thread gets
// there; a seek the render thread makes on its own (one nobody announced) goes through an
// atomic the decoder looks at whenever it is idle. The decoder takes the newest request and
// answers with the serial and the ring frame its data starts at; later, for the same serial,
// with the frame the data ends at (the file's end, or where it could no longer be read). The
// render thread plays silence, its position held at the target, until the answer to its seek
// comes, and never reads frames of another serial.
//
// Loops: the decoder reads on from the file's start once it reaches the end, through the same
// converter, and tells the render thread where in the ring the next pass begins; the render
// thread plays on into it while the file is to play again (playOn), and else ends there. A file
// shorter than kReadOnMs is looped by the device's seek instead (more of its passes would fit in
// the ring than their starts can be told of).
//
// Every wait ends: the decoder looks again every few milliseconds while it has nothing to do; a
// source whose decoder gives nothing for kStallSeconds while playing fails with Io. A file that
// can no longer be read while playing (cut short, an I/O error) fails the run with the reason
// in failure(), once what was read before the fault has been played.
class WaveSource final : public Source {
public:
    // Playing that long without a frame from the decoder fails the run.
    static constexpr int kStallSeconds = 5;
    // The shortest file looped by reading on: the ring of frames then holds at most 802 starts
    // of its passes, which m_passStarts has room for.
    static constexpr std::uint32_t kReadOnMs = 5;

    // `offline`: no real-time output renders it, so render() waits for the decoder (at most
    // kStallSeconds) rather than giving silence: rendering to a file must not depend on the
    // decoder's pace.
    [[nodiscard]] static Result<std::unique_ptr<WaveSource>> open(
        const std::filesystem::path &path, int outputRate, bool offline = false);
    // Stops and joins the decoder thread (it finishes at most one chunk first).
    ~WaveSource() override;

    MediaKind kind() const override { return MediaKind::Wave; }
    std::uint32_t lengthMs() const override { return m_lengthMs; }
    // Title, artist and copyright from the file's INFO list, read with the header.
    const SongText &text() const { return m_text; }
    std::size_t render(float *out, std::size_t frames) noexcept override;
    void seekMs(std::uint32_t positionMs) noexcept override;
    // Asks the decoder to read from `positionMs` at once; the seekMs() that follows finds it
    // under way.
    void prepareSeek(std::uint32_t positionMs) noexcept override;
    std::uint32_t positionMs() const noexcept override;
    bool atEnd() const noexcept override { return m_atEnd; }
    bool failed() const noexcept override;
    Error::Code failure() const noexcept override;
    std::string failureDetail() const override;
    void playOn(int morePasses) noexcept override;
    int passesBegun() noexcept override;

private:
    struct Converter;
    enum class Step { Stop, Seek, Fill };

    WaveSource() = default;

    // Decoder thread.
    void decodeLoop();
    // Waits until there is something to do: the newest seek request goes to `seek`.
    Step nextStep(std::uint64_t &seek);
    // Reads from the request's target on; answers where the ring's data for it starts.
    void restart(std::uint64_t seek);
    // Adds a chunk to the ring, or marks where the data ends.
    void fillChunk();
    // Frames the decoder may write without touching what the render thread may still read.
    std::size_t roomInRing() const noexcept;
    // Tells an offline render waiting for frames that the ring has moved.
    void publish();
    // Reads up to `frames` stereo frames at the output's rate into `out`; 0 at the end of the
    // file or on failure.
    long produce(float *out, long frames);
    static long readFileCallback(void *context, float **data);
    static long readStageCallback(void *context, float **data);
    void fail(Error::Code code) noexcept;
    // Any thread: the decoder has met a fault (failed() waits until the ring is played out).
    bool readFailed() const noexcept;

    // Whether the decoder reads on into another pass at the file's end.
    bool readsOn() const noexcept;
    // Output frames that `fileFrames` of the file make.
    std::uint64_t outputFramesOf(long long fileFrames) const noexcept;

    // Render thread.
    // Where the next pass the decoder read on into begins in the ring (for the answer being
    // played), if the decoder has said.
    std::optional<std::uint64_t> nextPassStart() noexcept;
    // Copies what the ring holds for the current seek, up to `frames`.
    std::size_t take(float *out, std::size_t frames) noexcept;
    // Starts reading the data of `answer`; false when it answers no seek this thread follows.
    bool follow(std::uint64_t answer) noexcept;
    // Counts frames asked for and not given; fails the run once they make kStallSeconds.
    void countStarved(std::size_t asked, std::size_t given) noexcept;
    void stall() noexcept;

    // Fixed at open.
    SNDFILE *m_file = nullptr;
    int m_channels = 0;
    std::vector<std::array<float, 2>> m_mix; // of more than two channels: each one's part of
                                             // the left and the right
    std::uint32_t m_fileRate = 0;
    std::uint32_t m_outputRate = 0;
    long long m_frames = 0;
    std::uint32_t m_lengthMs = 0;
    SongText m_text;
    bool m_offline = false;

    // The ring: interleaved stereo at the output's rate. Indices count frames from the start and
    // only grow; the decoder owns m_head, the render thread m_tail.
    std::vector<float> m_ring;
    std::size_t m_ringFrames = 0;
    alignas(64) std::atomic<std::uint64_t> m_head { 0 };
    alignas(64) std::atomic<std::uint64_t> m_tail { 0 };

    // Seek requests, serial (16 bits, wrapping) and target ms: the owner's (m_request under the
    // mutex, mirrored in m_announced for the render thread) and the render thread's own.
    std::atomic<std::uint16_t> m_serials { 0 };
    std::atomic<std::uint64_t> m_announced { 0 };
    std::atomic<std::uint64_t> m_unannounced { 0 };
    // Decoder -> render thread: serial and ring frame of the newest answer, and of the end of
    // the data (a frame no ring reaches until the decoder has found it).
    std::atomic<std::uint64_t> m_answer { 0 };
    std::atomic<std::uint64_t> m_end { ~std::uint64_t { 0 } >> 16 };
    // Render thread -> decoder: it reads no frames of a serial older than this one.
    std::atomic<std::uint16_t> m_reading { 0 };
    // Decoder -> render thread: where each pass read on into begins (serial and ring frame, as
    // answers are), kReadOnMs or longer: the ring of frames holds fewer than this.
    SpscRing<std::uint64_t, 1024> m_passStarts;
    std::atomic<int> m_failure { -1 }; // an Error::Code once failed
    std::atomic<bool> m_stalled { false };

    std::mutex m_mutex;
    std::condition_variable m_wake; // the decoder's: a request, the stop, or a look again
    std::condition_variable m_produced; // an offline render's: the decoder moved
    std::uint64_t m_request = 0; // guarded
    std::uint64_t m_progress = 0; // guarded: counts the decoder's answers, chunks and ends
    bool m_stopping = false; // guarded
    std::thread m_decoder;

    // Decoder thread only.
    std::unique_ptr<Converter> m_converter;
    std::uint16_t m_answered = 0;
    std::uint64_t m_answerFrom = 0;
    bool m_ended = false;
    long long m_decodedFrames = 0; // file frames read since the last seek's start frame
    long long m_readFrom = 0;
    long long m_fedFrames = 0; // file frames read since the last seek, every pass
    bool m_readingOn = true; // until a pass could not be read on into, before the next seek
    std::vector<float> m_fileChunk; // as read, all channels
    std::vector<float> m_stereoChunk;
    std::vector<float> m_stageChunk;
    std::vector<float> m_outChunk;

    // Render thread only.
    std::uint16_t m_want = 0; // the seek whose data it waits for or plays
    std::uint16_t m_playing = 0; // the answer whose data it reads
    std::uint32_t m_baseMs = 0;
    std::uint64_t m_outFrames = 0; // frames played since the last seek
    std::uint64_t m_starved = 0; // frames asked for in a row and not given
    bool m_atEnd = false;
    int m_morePasses = 0; // as playOn() last said, less the passes begun since
    std::optional<std::uint64_t> m_nextPass; // popped from m_passStarts, not yet reached
    int m_passesBegun = 0;
};

} // namespace tunedeck

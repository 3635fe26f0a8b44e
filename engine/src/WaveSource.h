#pragma once

#include "Source.h"
#include "tunedeck/SongText.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
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
// render thread, which only copies from the ring: it never reads a file, locks or allocates. A
// seek asks the decoder to refill from the new place; until it has, the render thread plays
// silence and the position stays at the target. Memory stays the same whatever the file's
// length. A file that can no longer be read while playing (cut short, an I/O error) fails the
// run with the reason in failure(), once what was read before the fault has been played.
class WaveSource final : public Source {
public:
    // `offline`: no real-time output renders it, so render() waits for the decoder rather than
    // giving silence (rendering to a file must not depend on the decoder's pace).
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
    // Sets the decoder reading from `positionMs` at once, so the seek that follows finds the
    // ring filled from there.
    void prepareSeek(std::uint32_t positionMs) noexcept override;
    std::uint32_t positionMs() const noexcept override;
    bool atEnd() const noexcept override { return m_atEnd; }
    bool failed() const noexcept override;
    Error::Code failure() const noexcept override;

private:
    struct Converter;

    WaveSource() = default;
    void decodeLoop();
    // Decoder thread: reads up to `frames` stereo frames at the output's rate into `out`;
    // 0 at the end of the file or on failure.
    long produce(float *out, long frames);
    static long readFileCallback(void *context, float **data);
    static long readStageCallback(void *context, float **data);
    void fail(Error::Code code) noexcept;
    // Any thread: the decoder has met a fault (failed() waits until the ring is played out).
    bool readFailed() const noexcept;
    // Render thread: copies what the ring holds, up to `frames`.
    std::size_t take(float *out, std::size_t frames) noexcept;

    // Fixed at open.
    SNDFILE *m_file = nullptr;
    int m_channels = 0;
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
    // Render thread -> decoder: the seek wanted, serial (high) and target ms (low).
    std::atomic<std::uint64_t> m_seek { 0 };
    // Owner -> decoder: the seek announced by prepareSeek(), serial (high) and ms (low).
    std::atomic<std::uint64_t> m_hint { 0 };
    std::uint32_t m_hintSerial = 0; // owner's thread
    // Decoder -> render thread: the seek the ring's data now belongs to, where that data starts
    // (stored before the serial), and where it ends once the file is read to its end.
    std::atomic<std::uint64_t> m_filledFrom { 0 };
    // Serial (high) and start ms (low) of what the ring holds. While the decoder reads ahead of
    // an announced seek the serial is kAheadOfSeek; the seek, once it comes, takes the data
    // over (either thread may make that step, by compare-and-swap).
    std::atomic<std::uint64_t> m_filled { 0 };
    static constexpr std::uint32_t kAheadOfSeek = 0xFFFFFFFFu;
    std::atomic<std::uint64_t> m_endAt { ~std::uint64_t { 0 } };
    std::atomic<int> m_failure { -1 }; // an Error::Code once failed

    // Decoder thread only.
    std::unique_ptr<Converter> m_converter;
    long long m_decodedFrames = 0; // file frames read since the last seek's start frame
    long long m_readFrom = 0;
    std::vector<float> m_fileChunk; // as read, all channels
    std::vector<float> m_stereoChunk;
    std::vector<float> m_stageChunk;
    std::vector<float> m_outChunk;

    std::mutex m_mutex; // guards m_stopping for the decoder's waits; never the render thread's
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_decoder;

    // Render thread only.
    std::uint32_t m_wantSerial = 0;
    std::uint32_t m_baseMs = 0;
    std::uint64_t m_outFrames = 0; // frames played since the last seek
    bool m_atEnd = false;
};

} // namespace tunedeck

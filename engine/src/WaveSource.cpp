#include "WaveSource.h"

#include <samplerate.h>
#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace tunedeck {

namespace {

// How far the decoder keeps ahead of the render thread.
constexpr std::uint32_t kRingSeconds = 4;
// Frames the decoder reads or converts in one step: small enough that a seek or a stop is
// taken up within a few milliseconds.
constexpr long kChunkFrames = 4096;
// Frames of the ring kept free while playing, so that a seek's first chunks can be read at once,
// before the render thread has left the frames of the seek before behind.
constexpr std::size_t kSeekReserveFrames = 2 * kChunkFrames;
// How often a decoder with nothing to do (ring full, data at its end) looks again: the render
// thread frees room and makes its own seeks without waking it.
constexpr auto kDecoderPoll = std::chrono::milliseconds(2);
// libsamplerate converts by ratios between 1/256 and 256 in one step.
constexpr double kMaxStepRatio = 256.0;

// Seek requests are packed as serial (bits 32..47) and target ms; answers and ends as serial
// (bits 48..63) and a ring frame (48 bits: years of frames at any rate).
constexpr std::uint64_t kFrameMask = (std::uint64_t { 1 } << 48) - 1;

std::uint64_t packRequest(std::uint16_t serial, std::uint32_t ms)
{
    return std::uint64_t { serial } << 32 | ms;
}
std::uint16_t requestSerial(std::uint64_t request)
{
    return static_cast<std::uint16_t>(request >> 32);
}
std::uint32_t requestMs(std::uint64_t request)
{
    return static_cast<std::uint32_t>(request);
}
std::uint64_t packAnswer(std::uint16_t serial, std::uint64_t frame)
{
    return std::uint64_t { serial } << 48 | (frame & kFrameMask);
}
std::uint16_t answerSerial(std::uint64_t answer)
{
    return static_cast<std::uint16_t>(answer >> 48);
}
std::uint64_t answerFrame(std::uint64_t answer)
{
    return answer & kFrameMask;
}
// Serials wrap: `a` is newer than `b` when it is less than half the range ahead.
bool newer(std::uint16_t a, std::uint16_t b)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(a - b)) > 0;
}

std::uint32_t lengthMsOf(long long frames, int rate)
{
    const long double ms = static_cast<long double>(frames) * 1000.0L / rate;
    return ms >= 4294967295.0L ? 0xFFFFFFFFu : static_cast<std::uint32_t>(ms);
}

// Decides whether a header libsndfile has read describes something this player can play.
Result<WaveFacts> factsOf(const SF_INFO &info)
{
    if (info.samplerate <= 0 || info.channels <= 0 || info.frames < 0)
        return Error { Error::Code::NotWave, "the header gives no usable rate or channel count",
            0 };
    // libsndfile reads MP3 too, but only guesses its length, and a guess too long ends the
    // file with "cut short": a wave file it is not.
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG)
        return Error { Error::Code::NotWave, "it holds MPEG audio (an MP3 file), not a wave", 0 };
    if (info.samplerate > kMaxWaveRate) {
        return Error { Error::Code::WaveRate,
            "a sample rate of " + std::to_string(info.samplerate) + " Hz is above the "
                + std::to_string(kMaxWaveRate) + " Hz that can be played",
            0 };
    }
    WaveFacts facts;
    facts.frames = info.frames;
    facts.sampleRate = info.samplerate;
    facts.channels = info.channels;
    facts.lengthMs = lengthMsOf(info.frames, info.samplerate);
    return facts;
}

// The frames of block-coded data (IMA or MS ADPCM in a RIFF WAVE file) in the whole blocks the
// file holds, when it holds fewer than its header says (a file cut short). libsndfile goes by
// the header, and decodes a cut IMA block from stale bytes: loud noise.
std::optional<sf_count_t> wholeBlockFrames(const std::filesystem::path &path, const SF_INFO &info)
{
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV
        || (subtype != SF_FORMAT_IMA_ADPCM && subtype != SF_FORMAT_MS_ADPCM))
        return std::nullopt;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat status { };
    const auto readAt = [fd](std::uint64_t at, unsigned char *out, std::size_t count) {
        return ::pread(fd, out, count, off_t(at)) == ssize_t(count);
    };
    const auto le = [](const unsigned char *bytes, int count) {
        std::uint32_t value = 0;
        for (int i = count - 1; i >= 0; --i)
            value = value << 8 | bytes[i];
        return value;
    };
    std::uint32_t blockAlign = 0;
    std::uint32_t framesPerBlock = 0;
    std::optional<sf_count_t> frames;
    unsigned char head[20];
    if (::fstat(fd, &status) == 0 && readAt(0, head, 12) && std::memcmp(head, "RIFF", 4) == 0
        && std::memcmp(head + 8, "WAVE", 4) == 0) {
        const auto size = std::uint64_t(status.st_size);
        // Chunk by chunk, up to the data; a header of a thousand chunks is no wave file's.
        std::uint64_t at = 12;
        for (int chunk = 0; chunk < 1000 && at + 8 <= size && readAt(at, head, 8); ++chunk) {
            const std::uint64_t length = le(head + 4, 4);
            if (std::memcmp(head, "fmt ", 4) == 0 && length >= 20 && readAt(at + 8, head, 20)) {
                blockAlign = le(head + 12, 2);
                framesPerBlock = le(head + 18, 2);
            } else if (std::memcmp(head, "data", 4) == 0) {
                if (blockAlign > 0 && framesPerBlock > 0) {
                    const std::uint64_t present = std::min(length, size - (at + 8));
                    frames = sf_count_t(present / blockAlign * framesPerBlock);
                }
                break;
            }
            at += 8 + length + (length & 1);
        }
    }
    ::close(fd);
    if (frames && *frames < info.frames)
        return frames;
    return std::nullopt;
}

// How much of each of more than two channels goes to the left and to the right. Where the file
// says where its channels stand, a channel on one side goes to that side, one in the middle to
// both at -3 dB, and the low-frequency one is left out; else the even ones feed the left and the
// odd ones the right. Each side is then scaled so that nothing clips more than the source did.
std::vector<std::array<float, 2>> stereoMix(SNDFILE *file, int channels)
{
    std::vector<std::array<float, 2>> mix(static_cast<std::size_t>(channels));
    std::vector<int> map(static_cast<std::size_t>(channels));
    const bool mapped
        = sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int)))
        == SF_TRUE;
    constexpr float kMiddle = 0.70710678f;
    for (std::size_t c = 0; c < mix.size(); ++c) {
        mix[c] = c % 2 == 0 ? std::array { 1.0f, 0.0f } : std::array { 0.0f, 1.0f };
        switch (mapped ? map[c] : SF_CHANNEL_MAP_INVALID) {
        case SF_CHANNEL_MAP_MONO:
        case SF_CHANNEL_MAP_CENTER:
        case SF_CHANNEL_MAP_FRONT_CENTER:
        case SF_CHANNEL_MAP_REAR_CENTER:
        case SF_CHANNEL_MAP_TOP_CENTER:
        case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
        case SF_CHANNEL_MAP_TOP_REAR_CENTER:
            mix[c] = { kMiddle, kMiddle };
            break;
        case SF_CHANNEL_MAP_LFE:
            mix[c] = { 0.0f, 0.0f };
            break;
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT:
        case SF_CHANNEL_MAP_REAR_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
        case SF_CHANNEL_MAP_SIDE_LEFT:
        case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
        case SF_CHANNEL_MAP_TOP_REAR_LEFT:
            mix[c] = { 1.0f, 0.0f };
            break;
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT:
        case SF_CHANNEL_MAP_REAR_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
        case SF_CHANNEL_MAP_SIDE_RIGHT:
        case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
        case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
            mix[c] = { 0.0f, 1.0f };
            break;
        default:
            break;
        }
    }
    for (int side = 0; side < 2; ++side) {
        float sum = 0.0f;
        for (const auto &gains : mix)
            sum += gains[std::size_t(side)];
        for (auto &gains : mix)
            gains[std::size_t(side)] /= sum > 0.0f ? sum : 1.0f;
    }
    return mix;
}

// Mixes any channel count down (or up) to stereo: mono goes to both sides, more channels as
// `mix` (stereoMix()) says.
void toStereo(const float *in, std::size_t frames, int channels,
    std::span<const std::array<float, 2>> mix, float *out)
{
    if (channels == 1) {
        for (std::size_t i = 0; i < frames; ++i)
            out[2 * i] = out[2 * i + 1] = in[i];
        return;
    }
    if (channels == 2) {
        std::memcpy(out, in, frames * 2 * sizeof(float));
        return;
    }
    for (std::size_t i = 0; i < frames; ++i) {
        float left = 0.0f;
        float right = 0.0f;
        for (int c = 0; c < channels; ++c) {
            const float sample = in[i * std::size_t(channels) + std::size_t(c)];
            left += sample * mix[std::size_t(c)][0];
            right += sample * mix[std::size_t(c)][1];
        }
        out[2 * i] = left;
        out[2 * i + 1] = right;
    }
}

// The title and artist of a wave file's RIFF INFO list (or its format's like).
SongText waveTextOf(SNDFILE *file)
{
    const auto field = [file](int which) {
        const char *value = sf_get_string(file, which);
        if (!value)
            return std::string();
        return textFromBytes({ reinterpret_cast<const std::uint8_t *>(value), std::strlen(value) });
    };
    SongText text;
    text.title = field(SF_STR_TITLE);
    text.artist = field(SF_STR_ARTIST);
    text.copyright = field(SF_STR_COPYRIGHT);
    return text;
}

} // namespace

// One or two libsamplerate steps from the file's rate to the output's. The first step pulls
// the file's frames, the second (when there is one) pulls the first's output.
struct WaveSource::Converter {
    SRC_STATE *fromFile = nullptr;
    double fromFileRatio = 1.0;
    SRC_STATE *toOutput = nullptr;
    double toOutputRatio = 1.0;

    ~Converter()
    {
        if (toOutput)
            src_delete(toOutput);
        if (fromFile)
            src_delete(fromFile);
    }
    void reset()
    {
        if (fromFile)
            src_reset(fromFile);
        if (toOutput)
            src_reset(toOutput);
    }
};

Result<WaveFacts> readWaveFacts(const std::filesystem::path &path)
{
    SF_INFO info {};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return Error { Error::Code::NotWave, sf_strerror(nullptr), 0 };
    SongText text = waveTextOf(file);
    sf_close(file);
    if (const auto whole = wholeBlockFrames(path, info))
        info.frames = *whole;
    auto facts = factsOf(info);
    if (facts)
        facts.value().text = std::move(text);
    return facts;
}

Result<std::unique_ptr<WaveSource>> WaveSource::open(
    const std::filesystem::path &path, int outputRate, bool offline)
{
    SF_INFO info {};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return Error { Error::Code::NotWave, sf_strerror(nullptr), 0 };
    auto source = std::unique_ptr<WaveSource>(new WaveSource());
    source->m_file = file;
    if (const auto whole = wholeBlockFrames(path, info))
        info.frames = *whole;
    auto facts = factsOf(info);
    if (!facts)
        return facts.error();
    // Keeps float data as it is and scales integer data to -1..1.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);

    WaveSource &s = *source;
    s.m_channels = info.channels;
    if (info.channels > 2)
        s.m_mix = stereoMix(file, info.channels);
    s.m_fileRate = static_cast<std::uint32_t>(info.samplerate);
    s.m_outputRate = static_cast<std::uint32_t>(outputRate);
    s.m_frames = info.frames;
    s.m_lengthMs = facts.value().lengthMs;
    s.m_offline = offline;
    s.m_text = waveTextOf(file);
    s.m_ringFrames = std::size_t { s.m_outputRate } * kRingSeconds;
    s.m_ring.assign(s.m_ringFrames * 2, 0.0f);
    s.m_fileChunk.resize(std::size_t(kChunkFrames) * std::size_t(info.channels));
    s.m_stereoChunk.resize(std::size_t(kChunkFrames) * 2);
    s.m_stageChunk.resize(std::size_t(kChunkFrames) * 2);
    s.m_outChunk.resize(std::size_t(kChunkFrames) * 2);

    if (s.m_fileRate != s.m_outputRate) {
        s.m_converter = std::make_unique<Converter>();
        Converter &c = *s.m_converter;
        const double ratio = double(s.m_outputRate) / double(s.m_fileRate);
        int failure = 0;
        if (ratio <= kMaxStepRatio && ratio >= 1.0 / kMaxStepRatio) {
            c.fromFileRatio = ratio;
            c.fromFile = src_callback_new(
                &WaveSource::readFileCallback, SRC_SINC_MEDIUM_QUALITY, 2, &failure, &s);
        } else {
            // Two equal steps through the geometric mean of the rates.
            const double middle = std::sqrt(double(s.m_outputRate) * double(s.m_fileRate));
            c.fromFileRatio = middle / s.m_fileRate;
            c.toOutputRatio = s.m_outputRate / middle;
            c.fromFile = src_callback_new(
                &WaveSource::readFileCallback, SRC_SINC_MEDIUM_QUALITY, 2, &failure, &s);
            if (c.fromFile) {
                c.toOutput = src_callback_new(
                    &WaveSource::readStageCallback, SRC_SINC_MEDIUM_QUALITY, 2, &failure, &s);
            }
        }
        if (!c.fromFile || (c.toOutputRatio != 1.0 && !c.toOutput))
            return Error { Error::Code::WaveRate, src_strerror(failure), 0 };
    }
    s.m_decoder = std::thread([&s] { s.decodeLoop(); });
    return source;
}

WaveSource::~WaveSource()
{
    if (m_decoder.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_decoder.join();
    }
    m_converter.reset();
    if (m_file)
        sf_close(m_file);
}

void WaveSource::fail(Error::Code code) noexcept
{
    int none = -1;
    m_failure.compare_exchange_strong(none, static_cast<int>(code), std::memory_order_release);
}

bool WaveSource::readFailed() const noexcept
{
    return m_failure.load(std::memory_order_acquire) >= 0;
}

bool WaveSource::failed() const noexcept
{
    // The run fails once what was read before the fault has been played.
    return m_atEnd && readFailed();
}

Error::Code WaveSource::failure() const noexcept
{
    const int code = m_failure.load(std::memory_order_acquire);
    return code >= 0 ? static_cast<Error::Code>(code) : Error::Code::Io;
}

std::string WaveSource::failureDetail() const
{
    if (!m_stalled.load(std::memory_order_acquire))
        return {};
    return "the file gave no sound for " + std::to_string(kStallSeconds) + " seconds";
}

long WaveSource::readFileCallback(void *context, float **data)
{
    auto &s = *static_cast<WaveSource *>(context);
    long long left = s.m_frames - s.m_readFrom - s.m_decodedFrames;
    if (left <= 0 && s.readsOn()) {
        // The pass ends here: on from the file's start, so a next pass follows in the ring, and
        // through the converter, without a break (if the file is to play again by then). Else
        // the data ends here until the next seek: a converter told of an end takes nothing after
        // it.
        s.m_readingOn = sf_seek(s.m_file, 0, SEEK_SET) == 0
            && s.m_passStarts.push(
                packAnswer(s.m_answered, s.m_answerFrom + s.outputFramesOf(s.m_fedFrames)));
        if (s.m_readingOn) {
            s.m_readFrom = 0;
            s.m_decodedFrames = 0;
            left = s.m_frames;
        }
    }
    if (left <= 0 || s.readFailed())
        return 0;
    const sf_count_t wanted = std::min<sf_count_t>(kChunkFrames, left);
    const sf_count_t got = sf_readf_float(s.m_file, s.m_fileChunk.data(), wanted);
    if (got < wanted) {
        // The header promised more: the file was cut short or cannot be read any more.
        s.fail(sf_error(s.m_file) != SF_ERR_NO_ERROR ? Error::Code::Io : Error::Code::Truncated);
        if (got <= 0)
            return 0;
    }
    // A float file may hold samples that are no number (NaN, infinities): silence for them,
    // before the resampler spreads one over many frames and the output turns it into a click.
    const auto samples = s.m_fileChunk.begin() + std::ptrdiff_t(got) * s.m_channels;
    std::replace_if(
        s.m_fileChunk.begin(), samples, [](float sample) { return !std::isfinite(sample); }, 0.0f);
    toStereo(s.m_fileChunk.data(), std::size_t(got), s.m_channels, s.m_mix, s.m_stereoChunk.data());
    s.m_decodedFrames += got;
    s.m_fedFrames += got;
    *data = s.m_stereoChunk.data();
    return static_cast<long>(got);
}

long WaveSource::readStageCallback(void *context, float **data)
{
    auto &s = *static_cast<WaveSource *>(context);
    const Converter &c = *s.m_converter;
    const long got
        = src_callback_read(c.fromFile, c.fromFileRatio, kChunkFrames, s.m_stageChunk.data());
    *data = s.m_stageChunk.data();
    return std::max(got, 0L);
}

long WaveSource::produce(float *out, long frames)
{
    if (!m_converter) {
        float *data = nullptr;
        const long got = readFileCallback(this, &data);
        const long used = std::min(got, frames);
        if (used > 0)
            std::memcpy(out, data, std::size_t(used) * 2 * sizeof(float));
        return used;
    }
    const Converter &c = *m_converter;
    SRC_STATE *last = c.toOutput ? c.toOutput : c.fromFile;
    const double ratio = c.toOutput ? c.toOutputRatio : c.fromFileRatio;
    const long got = src_callback_read(last, ratio, frames, out);
    if (got < 0 || src_error(last) != 0) {
        fail(Error::Code::WaveRate);
        return 0;
    }
    return got;
}

void WaveSource::decodeLoop()
{
    // The ring starts filled from the file's start: the answer to seek 0, made at open.
    for (;;) {
        std::uint64_t seek = 0;
        switch (nextStep(seek)) {
        case Step::Stop:
            return;
        case Step::Seek:
            restart(seek);
            break;
        case Step::Fill:
            fillChunk();
            break;
        }
    }
}

WaveSource::Step WaveSource::nextStep(std::uint64_t &seek)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_stopping)
            return Step::Stop;
        // The render thread's own seek, when newer, stands for the last request from now on:
        // left behind, the older one would look newer again once the serials wrap round.
        const std::uint64_t own = m_unannounced.load(std::memory_order_acquire);
        if (newer(requestSerial(own), requestSerial(m_request)))
            m_request = own;
        seek = m_request;
        if (requestSerial(seek) != m_answered)
            return Step::Seek;
        if (!m_ended && roomInRing() >= std::size_t(kChunkFrames))
            return Step::Fill;
        m_wake.wait_for(lock, kDecoderPoll);
    }
}

void WaveSource::restart(std::uint64_t seek)
{
    const long long frame = std::min<long long>(
        static_cast<long long>(static_cast<long double>(requestMs(seek)) * m_fileRate / 1000.0L),
        m_frames);
    // A fault of the last reading (a file cut short, a disk that did not answer) is tried again:
    // it may be gone.
    m_failure.store(-1, std::memory_order_release);
    if (sf_seek(m_file, frame, SEEK_SET) < 0)
        fail(Error::Code::Io);
    if (m_converter)
        m_converter->reset();
    m_readFrom = frame;
    m_decodedFrames = 0;
    m_fedFrames = 0;
    m_readingOn = true;
    m_ended = false;
    m_answered = requestSerial(seek);
    m_answerFrom = m_head.load(std::memory_order_relaxed);
    m_end.store(packAnswer(m_answered, kFrameMask), std::memory_order_relaxed);
    m_answer.store(packAnswer(m_answered, m_answerFrom), std::memory_order_release);
    publish();
}

bool WaveSource::readsOn() const noexcept
{
    return m_readingOn && m_lengthMs >= kReadOnMs && !readFailed();
}

std::uint64_t WaveSource::outputFramesOf(long long fileFrames) const noexcept
{
    if (m_fileRate == m_outputRate)
        return std::uint64_t(fileFrames);
    return std::uint64_t(
        std::llround(static_cast<long double>(fileFrames) * m_outputRate / m_fileRate));
}

void WaveSource::fillChunk()
{
    const long got = readFailed() ? 0 : produce(m_outChunk.data(), kChunkFrames);
    const std::uint64_t head = m_head.load(std::memory_order_relaxed);
    if (got <= 0) {
        // The data for this seek ends here: the file's end, or where it could no longer be read.
        m_ended = true;
        m_end.store(packAnswer(m_answered, head), std::memory_order_release);
    } else {
        const std::size_t at = std::size_t(head % m_ringFrames);
        const std::size_t first = std::min(std::size_t(got), m_ringFrames - at);
        std::memcpy(m_ring.data() + 2 * at, m_outChunk.data(), first * 2 * sizeof(float));
        std::memcpy(m_ring.data(), m_outChunk.data() + 2 * first,
            (std::size_t(got) - first) * 2 * sizeof(float));
        m_head.store(head + std::uint64_t(got), std::memory_order_release);
    }
    publish();
}

std::size_t WaveSource::roomInRing() const noexcept
{
    const std::uint64_t head = m_head.load(std::memory_order_relaxed);
    std::uint64_t tail = m_tail.load(std::memory_order_acquire);
    // While the render thread may still read an older seek's frames, the new seek's first
    // chunks go into the part of the ring kept free for them; once it has left those frames
    // behind, they count as free.
    const bool readerBehind = newer(m_answered, m_reading.load(std::memory_order_acquire));
    if (!readerBehind)
        tail = std::max(tail, m_answerFrom);
    const std::size_t used = std::size_t(head - tail);
    const std::size_t limit = readerBehind ? m_ringFrames : m_ringFrames - kSeekReserveFrames;
    return used < limit ? limit - used : 0;
}

void WaveSource::publish()
{
    if (!m_offline)
        return;
    {
        std::lock_guard lock(m_mutex);
        ++m_progress;
    }
    m_produced.notify_all();
}

std::size_t WaveSource::render(float *out, std::size_t frames) noexcept
{
    if (!m_offline) {
        const std::size_t given = take(out, frames);
        countStarved(frames, given);
        return given;
    }
    // Offline: the owner's thread, which may wait for the decoder, but not for ever.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStallSeconds);
    std::size_t count = 0;
    while (count < frames && !m_atEnd) {
        std::unique_lock lock(m_mutex);
        const std::uint64_t seen = m_progress;
        lock.unlock();
        const std::size_t given = take(out + 2 * count, frames - count);
        count += given;
        if (count == frames || m_atEnd)
            break;
        if (given > 0) {
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStallSeconds);
            m_wake.notify_one(); // room in the ring
        }
        lock.lock();
        if (!m_produced.wait_until(lock, deadline, [&] { return m_progress != seen; })) {
            lock.unlock();
            stall();
        }
    }
    return count;
}

void WaveSource::countStarved(std::size_t asked, std::size_t given) noexcept
{
    if (given > 0 || m_atEnd) {
        m_starved = 0;
        return;
    }
    m_starved += asked;
    if (m_starved >= std::uint64_t { m_outputRate } * kStallSeconds)
        stall();
}

void WaveSource::stall() noexcept
{
    m_stalled.store(true, std::memory_order_release);
    fail(Error::Code::Io);
    m_atEnd = true;
}

std::size_t WaveSource::take(float *out, std::size_t frames) noexcept
{
    if (m_atEnd)
        return 0;
    const std::uint64_t answer = m_answer.load(std::memory_order_acquire);
    if (answerSerial(answer) != m_playing && !follow(answer))
        return 0;
    if (m_playing != m_want)
        return 0; // the decoder has not yet answered the last seek: silence, position stays
    const std::uint64_t head = m_head.load(std::memory_order_acquire);
    if (m_answer.load(std::memory_order_acquire) != answer)
        return 0; // a newer seek's frames may be among these: the next call follows it
    std::uint64_t tail = m_tail.load(std::memory_order_relaxed);
    std::size_t count = std::size_t(std::min<std::uint64_t>(head - tail, frames));
    // The next pass, read on into: played on into while the file plays again, else the end.
    const std::optional<std::uint64_t> passStart = nextPassStart();
    const std::uint64_t untilPass = passStart && *passStart > tail ? *passStart - tail : 0;
    const bool endsAtPass = passStart && m_morePasses == 0 && untilPass <= count;
    if (endsAtPass)
        count = std::size_t(untilPass);
    const std::size_t at = std::size_t(tail % m_ringFrames);
    const std::size_t first = std::min(count, m_ringFrames - at);
    std::copy_n(m_ring.data() + 2 * at, 2 * first, out);
    std::copy_n(m_ring.data(), 2 * (count - first), out + 2 * first);
    tail += count;
    m_tail.store(tail, std::memory_order_release);
    m_outFrames += count;
    if (endsAtPass) {
        m_atEnd = true;
        return count;
    }
    if (passStart && tail > *passStart) {
        m_baseMs = 0;
        m_outFrames = tail - *passStart;
        m_nextPass.reset();
        ++m_passesBegun;
        // The speed converter may take in more than one pass in a block.
        m_morePasses -= m_morePasses > 0 ? 1 : 0;
    }
    if (count < frames) {
        const std::uint64_t end = m_end.load(std::memory_order_acquire);
        if (answerSerial(end) == m_playing && answerFrame(end) == tail)
            m_atEnd = true;
    }
    return count;
}

std::optional<std::uint64_t> WaveSource::nextPassStart() noexcept
{
    for (;;) {
        if (m_nextPass) {
            const std::uint16_t serial = answerSerial(*m_nextPass);
            if (serial == m_playing)
                return answerFrame(*m_nextPass);
            if (newer(serial, m_playing))
                return std::nullopt; // of a seek not followed yet
            m_nextPass.reset(); // of a seek left behind
        }
        m_nextPass = m_passStarts.pop();
        if (!m_nextPass)
            return std::nullopt;
    }
}

void WaveSource::playOn(int morePasses) noexcept
{
    m_morePasses = morePasses;
}

int WaveSource::passesBegun() noexcept
{
    return std::exchange(m_passesBegun, 0);
}

bool WaveSource::follow(std::uint64_t answer) noexcept
{
    const std::uint16_t serial = answerSerial(answer);
    if (serial != m_want) {
        if (!newer(serial, m_want))
            return false; // the answer to a seek made before the one awaited
        // An announced seek whose seekMs() went to the source this one replaced: play it all
        // the same, from its target.
        const std::uint64_t announced = m_announced.load(std::memory_order_acquire);
        if (requestSerial(announced) != serial)
            return false; // overtaken already: the newest answer comes later
        m_want = serial;
        m_baseMs = requestMs(announced);
        m_outFrames = 0;
    }
    m_playing = serial;
    m_tail.store(answerFrame(answer), std::memory_order_release);
    m_reading.store(serial, std::memory_order_release);
    return true;
}

void WaveSource::seekMs(std::uint32_t positionMs) noexcept
{
    positionMs = std::min(positionMs, m_lengthMs);
    const std::uint64_t announced = m_announced.load(std::memory_order_acquire);
    std::uint16_t serial = 0;
    if (newer(requestSerial(announced), m_want) && requestMs(announced) == positionMs) {
        serial = requestSerial(announced); // the decoder is on it already
    } else if (positionMs == m_baseMs && m_outFrames == 0 && !m_atEnd) {
        return; // there already, with nothing played since
    } else {
        // Nobody announced this one: the decoder finds it when it next looks. It takes the place
        // of the last announcement too (unless the owner made a new one meanwhile), which would
        // otherwise look newer again once the serials wrap round (a wave looped 32768 times).
        serial = static_cast<std::uint16_t>(m_serials.fetch_add(1, std::memory_order_relaxed) + 1);
        const std::uint64_t request = packRequest(serial, positionMs);
        m_unannounced.store(request, std::memory_order_release);
        std::uint64_t stale = announced;
        m_announced.compare_exchange_strong(stale, request, std::memory_order_acq_rel);
        if (m_offline)
            m_wake.notify_one(); // the owner's thread: it may wake the decoder
    }
    m_want = serial;
    m_baseMs = positionMs;
    m_outFrames = 0;
    m_passesBegun = 0;
    m_starved = 0;
    m_stalled.store(false, std::memory_order_release);
    m_atEnd = false;
    m_reading.store(serial, std::memory_order_release);
}

void WaveSource::prepareSeek(std::uint32_t positionMs) noexcept
{
    const auto serial
        = static_cast<std::uint16_t>(m_serials.fetch_add(1, std::memory_order_relaxed) + 1);
    const std::uint64_t request = packRequest(serial, std::min(positionMs, m_lengthMs));
    {
        std::lock_guard lock(m_mutex);
        m_request = request;
        m_announced.store(request, std::memory_order_release);
    }
    m_wake.notify_one();
}

std::uint32_t WaveSource::positionMs() const noexcept
{
    if (m_atEnd && !readFailed())
        return m_lengthMs;
    const std::uint64_t ms = m_baseMs + m_outFrames * 1000 / m_outputRate;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, m_lengthMs));
}

} // namespace tunedeck

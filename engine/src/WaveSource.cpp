#include "WaveSource.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace tunedeck {

namespace {

// How far the decoder keeps ahead of the render thread.
constexpr std::uint32_t kRingSeconds = 4;
// Frames the decoder reads or converts in one step: small enough that a seek or a stop is
// taken up within a few milliseconds.
constexpr long kChunkFrames = 4096;
// How often a decoder with nothing to do (ring full, file read to its end) looks for a seek.
constexpr auto kDecoderPoll = std::chrono::milliseconds(2);
// How long an offline render waits for the decoder before it looks again.
constexpr auto kOfflineWait = std::chrono::microseconds(200);
// libsamplerate converts by ratios between 1/256 and 256 in one step.
constexpr double kMaxStepRatio = 256.0;

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

// Mixes any channel count down (or up) to stereo: mono goes to both sides; of more channels, the
// even ones feed the left and the odd ones the right, each side averaged so nothing clips more
// than the source did.
void toStereo(const float *in, std::size_t frames, int channels, float *out)
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
    const int leftCount = (channels + 1) / 2;
    const int rightCount = channels / 2;
    for (std::size_t i = 0; i < frames; ++i) {
        float left = 0.0f;
        float right = 0.0f;
        for (int c = 0; c < channels; ++c)
            (c % 2 == 0 ? left : right) += in[i * std::size_t(channels) + std::size_t(c)];
        out[2 * i] = left / float(leftCount);
        out[2 * i + 1] = right / float(rightCount);
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
    auto facts = factsOf(info);
    if (!facts)
        return facts.error();
    // Keeps float data as it is and scales integer data to -1..1.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);

    WaveSource &s = *source;
    s.m_channels = info.channels;
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

long WaveSource::readFileCallback(void *context, float **data)
{
    auto &s = *static_cast<WaveSource *>(context);
    const long long left = s.m_frames - s.m_readFrom - s.m_decodedFrames;
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
    toStereo(s.m_fileChunk.data(), std::size_t(got), s.m_channels, s.m_stereoChunk.data());
    s.m_decodedFrames += got;
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
    std::uint32_t handledSerial = 0;
    std::uint32_t handledHint = 0;
    // The fill started at open belongs to serial 0, position 0, which a fresh source stands at.
    bool filledAhead = false;
    std::uint32_t filledAheadMs = 0;
    bool ended = false;
    const auto restart = [&](std::uint32_t ms, std::uint32_t serial, std::uint64_t head) {
        const long long frame = std::min<long long>(
            static_cast<long long>(static_cast<long double>(ms) * m_fileRate / 1000.0L), m_frames);
        if (sf_seek(m_file, frame, SEEK_SET) < 0)
            fail(Error::Code::Io);
        if (m_converter)
            m_converter->reset();
        m_readFrom = frame;
        m_decodedFrames = 0;
        ended = false;
        m_endAt.store(~std::uint64_t { 0 }, std::memory_order_relaxed);
        m_filledFrom.store(head, std::memory_order_relaxed);
        m_filled.store(std::uint64_t { serial } << 32 | ms, std::memory_order_release);
    };
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (m_stopping)
                return;
        }
        // The seek first: seeing a seek implies seeing the announcement made before it.
        const std::uint64_t seek = m_seek.load(std::memory_order_acquire);
        const std::uint64_t hint = m_hint.load(std::memory_order_acquire);
        const std::uint64_t head = m_head.load(std::memory_order_relaxed);
        if (static_cast<std::uint32_t>(hint >> 32) != handledHint) {
            handledHint = static_cast<std::uint32_t>(hint >> 32);
            filledAhead = true;
            filledAheadMs = static_cast<std::uint32_t>(hint);
            restart(filledAheadMs, kAheadOfSeek, head);
        }
        const auto serial = static_cast<std::uint32_t>(seek >> 32);
        if (serial != handledSerial) {
            handledSerial = serial;
            const auto ms = static_cast<std::uint32_t>(seek);
            if (filledAhead && filledAheadMs == ms) {
                // Already read from there (the render thread may have taken it over already).
                std::uint64_t ahead = std::uint64_t { kAheadOfSeek } << 32 | ms;
                m_filled.compare_exchange_strong(
                    ahead, std::uint64_t { serial } << 32 | ms, std::memory_order_acq_rel);
            } else {
                restart(ms, serial, head);
            }
            filledAhead = false;
        }
        const std::uint64_t tail = std::max(
            m_tail.load(std::memory_order_acquire), m_filledFrom.load(std::memory_order_relaxed));
        const std::uint64_t used = head > tail ? head - tail : 0;
        const std::size_t space = m_ringFrames > used ? m_ringFrames - std::size_t(used) : 0;
        if (!ended && readFailed()) {
            // The ring ends where the file could no longer be read.
            ended = true;
            m_endAt.store(head, std::memory_order_release);
        }
        if (ended || space < std::size_t(kChunkFrames)) {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, kDecoderPoll, [&] {
                return m_stopping
                    || static_cast<std::uint32_t>(m_hint.load(std::memory_order_relaxed) >> 32)
                    != handledHint;
            });
            continue;
        }
        const long got = produce(m_outChunk.data(), kChunkFrames);
        if (got <= 0) {
            ended = true;
            m_endAt.store(head, std::memory_order_release);
            continue;
        }
        const std::size_t at = std::size_t(head % m_ringFrames);
        const std::size_t first = std::min(std::size_t(got), m_ringFrames - at);
        std::memcpy(m_ring.data() + 2 * at, m_outChunk.data(), first * 2 * sizeof(float));
        std::memcpy(m_ring.data(), m_outChunk.data() + 2 * first,
            (std::size_t(got) - first) * 2 * sizeof(float));
        m_head.store(head + std::uint64_t(got), std::memory_order_release);
    }
}

std::size_t WaveSource::render(float *out, std::size_t frames) noexcept
{
    if (!m_offline)
        return take(out, frames);
    std::size_t count = 0;
    while (count < frames && !m_atEnd) {
        count += take(out + 2 * count, frames - count);
        if (count < frames && !m_atEnd)
            std::this_thread::sleep_for(kOfflineWait);
    }
    return count;
}

std::size_t WaveSource::take(float *out, std::size_t frames) noexcept
{
    if (m_atEnd)
        return 0;
    std::uint64_t filled = m_filled.load(std::memory_order_acquire);
    if (filled == (std::uint64_t { kAheadOfSeek } << 32 | m_baseMs) && m_outFrames == 0) {
        // Read ahead from this very target: take it over instead of waiting for the decoder.
        const std::uint64_t mine = std::uint64_t { m_wantSerial } << 32 | m_baseMs;
        if (m_filled.compare_exchange_strong(filled, mine, std::memory_order_acq_rel))
            filled = mine;
    }
    if (static_cast<std::uint32_t>(filled >> 32) != m_wantSerial)
        return 0; // the decoder has not yet started on the last seek: silence, position stays
    std::uint64_t tail = m_tail.load(std::memory_order_relaxed);
    tail = std::max(tail, m_filledFrom.load(std::memory_order_relaxed));
    const std::uint64_t head = m_head.load(std::memory_order_acquire);
    const std::size_t count = std::size_t(std::min<std::uint64_t>(head - tail, frames));
    const std::size_t at = std::size_t(tail % m_ringFrames);
    const std::size_t first = std::min(count, m_ringFrames - at);
    std::copy_n(m_ring.data() + 2 * at, 2 * first, out);
    std::copy_n(m_ring.data(), 2 * (count - first), out + 2 * first);
    tail += count;
    m_tail.store(tail, std::memory_order_release);
    m_outFrames += count;
    if (count < frames && tail == m_endAt.load(std::memory_order_acquire))
        m_atEnd = true;
    return count;
}

void WaveSource::seekMs(std::uint32_t positionMs) noexcept
{
    positionMs = std::min(positionMs, m_lengthMs);
    // Already there with the ring filled from here (the seek to 0 of a fresh source).
    if (positionMs == m_baseMs && m_outFrames == 0 && !m_atEnd
        && static_cast<std::uint32_t>(m_filled.load(std::memory_order_acquire) >> 32)
            == m_wantSerial)
        return;
    m_baseMs = positionMs;
    m_outFrames = 0;
    m_atEnd = false;
    ++m_wantSerial;
    m_seek.store(std::uint64_t { m_wantSerial } << 32 | positionMs, std::memory_order_release);
}

void WaveSource::prepareSeek(std::uint32_t positionMs) noexcept
{
    ++m_hintSerial;
    m_hint.store(std::uint64_t { m_hintSerial } << 32 | std::min(positionMs, m_lengthMs),
        std::memory_order_release);
    m_wake.notify_all();
}

std::uint32_t WaveSource::positionMs() const noexcept
{
    if (m_atEnd && !readFailed())
        return m_lengthMs;
    const std::uint64_t ms = m_baseMs + m_outFrames * 1000 / m_outputRate;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, m_lengthMs));
}

} // namespace tunedeck

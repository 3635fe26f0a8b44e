#include "PlayListFile.h"

#include "FileNames.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tunedeck {

EFOpenError::EFOpenError(const QString &fileName)
    : std::runtime_error(QStringLiteral("Cannot open file %1").arg(fileName).toStdString())
{
}

EFCreateError::EFCreateError(const QString &fileName)
    : std::runtime_error(QStringLiteral("Cannot create file %1").arg(fileName).toStdString())
{
}

EWriteError::EWriteError()
    : std::runtime_error("Stream write error")
{
}

namespace playlistfile {

namespace {

using Span = PathList::Span;
using Spans = PathList::Spans;

// Which of 64 bytes of text may end a line or the text: bit i is set when byte i is no greater
// than CR. That takes in NUL, LF and CR with one comparison; the few other control characters a
// name may hold are passed over one by one.
quint64 candidatesScalar(const char *block, int length)
{
    quint64 candidates = 0;
    for (int i = 0; i < length; ++i)
        candidates |= quint64(static_cast<unsigned char>(block[i]) <= '\r') << i;
    return candidates;
}

#if defined(__x86_64__)
inline quint64 candidatesSse2(const char *block)
{
    const __m128i cr = _mm_set1_epi8('\r');
    quint64 candidates = 0;
    for (int part = 0; part < 4; ++part) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * part));
        // v <= CR (unsigned) exactly when min(v, CR) == v.
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, cr), v));
        candidates |= quint64(quint32(mask)) << (16 * part);
    }
    return candidates;
}

__attribute__((target("avx2"))) inline quint64 candidatesAvx2(const char *block)
{
    const __m256i cr = _mm256_set1_epi8('\r');
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block + 32));
    const int lowMask = _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(low, cr), low));
    const int highMask = _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(high, cr), high));
    return quint64(quint32(lowMask)) | quint64(quint32(highMask)) << 32;
}

bool haveAvx2()
{
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

std::atomic<LineScan> g_lineScan { LineScan::Widest };

// Splits text into lines as it arrives, piece by piece, so each piece is split while it is still
// in the cache after being read. Positions are offsets from the start of the text. It looks at
// 64 bytes at a time, and at each byte that may end a line one by one.
class LineSplitter {
public:
    // Fills `lines`, which must be empty; the capacity it has is used first.
    explicit LineSplitter(Spans &lines)
        : m_lines(lines)
    {
        m_state.out = m_lines.resizeForOverwrite(m_lines.capacity());
        m_state.room = m_lines.size();
    }

    // Splits `text[from, to)`, where `text` holds everything fed so far. Returns false once a
    // NUL has ended the text; nothing after it counts.
    bool feed(const char *text, qsizetype from, qsizetype to)
    {
        qsizetype at = from;
#if defined(__x86_64__)
        switch (g_lineScan.load(std::memory_order_relaxed)) {
        case LineScan::Widest:
            at = haveAvx2() ? feedBlocksAvx2(text, at, to) : feedBlocksSse2(text, at, to);
            break;
        case LineScan::Sse2:
            at = feedBlocksSse2(text, at, to);
            break;
        case LineScan::Portable:
            break;
        }
#endif
        State state = m_state;
        for (; at < to && !state.ended; at += 64) {
            const int length = int(std::min<qsizetype>(64, to - at));
            takeCandidates(state, text, at, to, candidatesScalar(text + at, length));
        }
        m_state = state;
        return !m_state.ended;
    }

    // The text is complete at `size` bytes (or earlier, at a NUL): a last line without an end
    // counts.
    void finish(qsizetype size)
    {
        State &state = m_state;
        const qsizetype end = state.ended ? state.end : size;
        if (state.lineStart < end) {
            if (state.count == state.room)
                std::tie(state.out, state.room) = grow(state.count + 1);
            state.out[state.count++] = { state.lineStart, end - state.lineStart };
        }
        m_lines.truncate(state.count);
    }

private:
    // Copied into a local while blocks are taken, so it can live in registers: as far as the
    // compiler knows, the spans written through `out` could be the members themselves.
    struct State {
        Span *out = nullptr;
        qsizetype room = 0; // spans `out` has in all
        qsizetype count = 0;
        qsizetype lineStart = 0;
        qsizetype lfCompletes = -1; // where an LF would complete a CR's line end
        qsizetype end = 0; // where a NUL ended the text
        bool ended = false;
    };

#if defined(__x86_64__)
    // Each takes the whole 64-byte blocks of `text[at, to)` and returns where it stopped.
    __attribute__((target("avx2"))) qsizetype feedBlocksAvx2(const char *text, qsizetype at, qsizetype to)
    {
        State state = m_state;
        for (; to - at >= 64 && !state.ended; at += 64) {
            if (const quint64 candidates = candidatesAvx2(text + at))
                takeCandidates(state, text, at, to, candidates);
        }
        m_state = state;
        return at;
    }

    qsizetype feedBlocksSse2(const char *text, qsizetype at, qsizetype to)
    {
        State state = m_state;
        for (; to - at >= 64 && !state.ended; at += 64) {
            if (const quint64 candidates = candidatesSse2(text + at))
                takeCandidates(state, text, at, to, candidates);
        }
        m_state = state;
        return at;
    }
#endif

    // Takes the bytes of the block at `base` marked in `candidates`, in order; the text fed so
    // far ends at `to`.
    Q_ALWAYS_INLINE void takeCandidates(State &state, const char *text, qsizetype base, qsizetype to, quint64 candidates)
    {
        if (state.count + 64 > state.room)
            std::tie(state.out, state.room) = grow(state.count + 64);
        while (candidates != 0) {
            const int bit = qCountTrailingZeroBits(candidates);
            const qsizetype at = base + bit;
            candidates &= candidates - 1;
            // CR LF, the line end play lists are written with, is taken as one: both bytes at
            // once, and the LF's own turn skipped.
            if (at + 1 < to && qFromLittleEndian<quint16>(text + at) == quint16('\r' | '\n' << 8)) {
                state.out[state.count++] = { state.lineStart, at - state.lineStart };
                state.lineStart = at + 2;
                state.lfCompletes = at + 1; // for an LF first in the next block
                candidates &= ~(quint64(2) << bit);
                continue;
            }
            switch (text[at]) {
            case '\n':
                // An LF right after a CR completes that CR's line end.
                if (at != state.lfCompletes)
                    state.out[state.count++] = { state.lineStart, at - state.lineStart };
                state.lineStart = at + 1;
                break;
            case '\r':
                state.out[state.count++] = { state.lineStart, at - state.lineStart };
                state.lineStart = at + 1;
                state.lfCompletes = at + 1;
                break;
            case '\0':
                state.ended = true;
                state.end = at;
                return;
            default:
                break;
            }
        }
    }

    // Lines are written straight into the list, which is kept longer than needed and cut to
    // length at the end: appending one by one cost more than the whole scan. Makes room for at
    // least `spans` spans and returns where they are and how many fit (returned rather than
    // stored, so the block loops' state never leaves their registers).
    Q_NEVER_INLINE std::pair<Span *, qsizetype> grow(qsizetype spans)
    {
        Span *const out = m_lines.resizeForOverwrite(std::max(m_lines.size() * 2, spans + 1024));
        return { out, m_lines.size() };
    }

    Spans &m_lines;
    State m_state;
};

// Lines are rarely shorter than this; the guess only saves regrowing the list.
constexpr qsizetype kLikelyLineLength = 48;

Spans splitLines(QByteArrayView bytes)
{
    Spans lines;
    lines.reserve(bytes.size() / kLikelyLineLength + 1);
    LineSplitter splitter(lines);
    splitter.feed(bytes.data(), 0, bytes.size());
    splitter.finish(bytes.size());
    return lines;
}

// Reads `fd` to its end into `bytes`, splitting as it goes; `sizeHint` is what fstat said.
void readAndSplit(int fd, qsizetype sizeHint, QByteArray &bytes, Spans &lines)
{
    // Pieces small enough to be split while the processor's cache still holds them.
    constexpr qsizetype kPiece = 1024 * 1024;
    // One byte more than the file holds, so reading to its end needs no regrowth.
    bytes.resize(std::max<qsizetype>(sizeHint + 1, kPiece)); // left uninitialised
    lines.reserve(sizeHint / kLikelyLineLength + 1);
    LineSplitter splitter(lines);
    qsizetype size = 0;
    for (;;) {
        if (size == bytes.size())
            bytes.resize(bytes.size() * 2); // The file grew while we read it.
        const qsizetype want = std::min(kPiece, bytes.size() - size);
        const ssize_t got = ::read(fd, bytes.data() + size, std::size_t(want));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // The end, or an error: what was read counts.
        const bool more = splitter.feed(bytes.constData(), size, size + got);
        size += got;
        if (!more)
            break;
    }
    splitter.finish(size);
    bytes.truncate(size);
}

} // namespace

void useLineScanForTesting(LineScan scan)
{
    g_lineScan.store(scan, std::memory_order_relaxed);
}

PathList parseList(QByteArray bytes)
{
    Spans spans = splitLines(bytes);
    return PathList(std::move(bytes), std::move(spans));
}

PathList load(const QString &fileName)
{
    // Opened without waiting, so a pipe with no writer cannot hang the window; only regular
    // files are read.
    const int fd = ::open(fileNameToBytes(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw EFOpenError(fileName);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        throw EFOpenError(fileName);
    }
    QByteArray bytes;
    Spans lines;
    try {
        readAndSplit(fd, qsizetype(status.st_size), bytes, lines);
    } catch (const std::bad_alloc &) {
        ::close(fd);
        throw EFOpenError(fileName); // far too big to be a play list
    }
    ::close(fd);
    return PathList(std::move(bytes), std::move(lines));
}

namespace {

// Writes `bytes` over the file at `fileName`, which must exist: cut to nothing, written, and
// flushed to the disk before it is closed. Throws EFCreateError when the file cannot be opened
// for writing and EWriteError when the bytes cannot all be written (the file then ends early).
void writeInPlace(const QString &fileName, const QByteArray &bytes)
{
    const int fd = ::open(fileNameToBytes(fileName).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        throw EFCreateError(fileName);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ::close(fd);
            throw EWriteError();
        }
        done += written;
    }
    const bool synced = ::fsync(fd) == 0;
    if (::close(fd) != 0 || !synced)
        throw EWriteError();
}

} // namespace

void save(const QString &fileName, const PathList &names)
{
    // The replacement below would quietly swap a read-only file for a writable one. A file the
    // user protected stays protected, by its mode bits too, so not even root replaces a file
    // that nobody may write.
    const QFileInfo target(fileName);
    constexpr auto kAnyWrite = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (target.exists()
        && (!target.isFile() || !target.isWritable() || !(target.permissions() & kAnyWrite)))
        throw EFCreateError(fileName);

    const QByteArray bytes = names.toLines();

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        // No temporary file beside it (a folder the user may not write to): a file that is
        // there and writable is written in place instead.
        if (!target.exists())
            throw EFCreateError(fileName);
        writeInPlace(fileName, bytes);
        return;
    }
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        throw EWriteError();
    }
    if (!file.commit()) {
        // Not all written (a full disk): a write error, the old file untouched. Written, but the
        // temporary file could not take the name (its own, longer name did not fit beside it,
        // for one): in place too.
        if (file.error() == QFileDevice::WriteError || file.error() == QFileDevice::ResourceError
            || !target.exists())
            throw EWriteError();
        writeInPlace(fileName, bytes);
    }
}

} // namespace playlistfile

} // namespace tunedeck

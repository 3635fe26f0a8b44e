#include "PathList.h"

#include "FileNames.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tunedeck {

namespace {

// The store is rebuilt once its dead bytes exceed the living ones by this much and more.
constexpr qsizetype kDeadSlack = 64 * 1024;

} // namespace

PathList::Spans::Spans(const Spans &other)
{
    *this = other;
}

PathList::Spans &PathList::Spans::operator=(const Spans &other)
{
    if (this == &other)
        return *this;
    clear();
    reserve(other.m_size);
    if (other.m_size > 0)
        std::memcpy(data(), other.begin(), std::size_t(other.m_size) * sizeof(Span));
    m_size = other.m_size;
    return *this;
}

PathList::Spans::Spans(Spans &&other) noexcept
    : m_data(std::move(other.m_data))
    , m_head(std::exchange(other.m_head, 0))
    , m_size(std::exchange(other.m_size, 0))
    , m_capacity(std::exchange(other.m_capacity, 0))
{
}

PathList::Spans &PathList::Spans::operator=(Spans &&other) noexcept
{
    m_data = std::move(other.m_data);
    m_head = std::exchange(other.m_head, 0);
    m_size = std::exchange(other.m_size, 0);
    m_capacity = std::exchange(other.m_capacity, 0);
    return *this;
}

void PathList::Spans::reserve(qsizetype entries)
{
    if (entries > capacity())
        reallocate(entries);
}

void PathList::Spans::append(Span span)
{
    if (m_head + m_size == m_capacity)
        reallocate(std::max<qsizetype>(2 * m_size, 16));
    m_data[std::size_t(m_head + m_size)] = span;
    ++m_size;
}

void PathList::Spans::removeFirst()
{
    Q_ASSERT(m_size > 0);
    ++m_head;
    --m_size;
}

void PathList::Spans::remove(qsizetype first, qsizetype count)
{
    Q_ASSERT(first >= 0 && count >= 0 && first + count <= m_size);
    Span *const at = data() + first;
    std::memmove(at, at + count, std::size_t(m_size - first - count) * sizeof(Span));
    m_size -= count;
}

void PathList::Spans::truncate(qsizetype entries)
{
    m_size = std::min(m_size, std::max<qsizetype>(entries, 0));
}

PathList::Span *PathList::Spans::resizeForOverwrite(qsizetype entries)
{
    reserve(entries);
    m_size = entries;
    return data();
}

void PathList::Spans::clear()
{
    m_data.reset();
    m_head = m_size = m_capacity = 0;
}

// Moves the entries to the start of a new array of `capacity` (at least their number), which
// also gives back the room of entries taken from the front.
void PathList::Spans::reallocate(qsizetype capacity)
{
    capacity = std::max(capacity, m_size);
    auto fresh = std::make_unique_for_overwrite<Span[]>(std::size_t(capacity));
    if (m_size > 0)
        std::memcpy(fresh.get(), begin(), std::size_t(m_size) * sizeof(Span));
    m_data = std::move(fresh);
    m_head = 0;
    m_capacity = capacity;
}

PathList::PathList(QByteArray store, Spans spans)
    : m_store(std::move(store))
    , m_spans(std::move(spans))
    , m_liveBytes(-1) // counted when first needed: a list read from a file may never need it
{
#ifndef QT_NO_DEBUG
    for (const Span &span : std::as_const(m_spans))
        Q_ASSERT(span.start >= 0 && span.size >= 0 && span.start + span.size <= m_store.size());
#endif
}

qsizetype PathList::liveBytes()
{
    if (m_liveBytes < 0) {
        m_liveBytes = 0;
        for (const Span &span : std::as_const(m_spans))
            m_liveBytes += span.size;
    }
    return m_liveBytes;
}

PathList PathList::fromStringList(const QStringList &names)
{
    PathList list;
    list.reserve(names.size(), 0);
    for (const QString &name : names)
        list.append(name);
    return list;
}

QStringList PathList::toStringList() const
{
    QStringList names;
    names.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        names.append(at(i));
    return names;
}

QByteArrayView PathList::bytesAt(qsizetype index) const
{
    const Span &span = m_spans.at(index);
    return QByteArrayView(m_store.constData() + span.start, span.size);
}

QString PathList::at(qsizetype index) const
{
    return fileNameFromBytes(bytesAt(index));
}

QString PathList::value(qsizetype index) const
{
    return index >= 0 && index < size() ? at(index) : QString();
}

QString PathList::displayNameAt(qsizetype index) const
{
    const QByteArrayView name = bytesAt(index);
    // "/" is never part of a multi-byte UTF-8 sequence, so cutting the bytes there cuts the text
    // at the same place.
    return fileNameFromBytes(name.sliced(name.lastIndexOf('/') + 1));
}

void PathList::reserve(qsizetype entries, qsizetype bytes)
{
    m_spans.reserve(m_spans.size() + entries);
    if (bytes > 0)
        m_store.reserve(m_store.size() + bytes);
}

void PathList::append(QStringView name)
{
    liveBytes();
    const qsizetype start = m_store.size();
    appendFileNameBytes(m_store, name);
    m_spans.append({ start, m_store.size() - start });
    m_liveBytes += m_store.size() - start;
}

void PathList::appendBytes(QByteArrayView name)
{
    liveBytes();
    const qsizetype start = m_store.size();
    m_store.append(name);
    m_spans.append({ start, name.size() });
    m_liveBytes += name.size();
}

void PathList::appendJoined(QByteArrayView head, QStringView tail)
{
    liveBytes();
    const qsizetype start = m_store.size();
    m_store.append(head);
    appendFileNameBytes(m_store, tail);
    m_spans.append({ start, m_store.size() - start });
    m_liveBytes += m_store.size() - start;
}

void PathList::removeFirst()
{
    if (m_spans.isEmpty())
        return;
    liveBytes();
    m_liveBytes -= m_spans.at(0).size;
    m_spans.removeFirst();
    dropDeadBytes();
}

void PathList::remove(qsizetype first, qsizetype count)
{
    liveBytes();
    for (qsizetype i = first; i < first + count; ++i)
        m_liveBytes -= m_spans.at(i).size;
    m_spans.remove(first, count);
    dropDeadBytes();
}

void PathList::removeFlagged(const std::vector<bool> &doomed)
{
    const qsizetype flagged = std::min(size(), qsizetype(doomed.size()));
    liveBytes();
    qsizetype kept = 0;
    for (qsizetype i = 0; i < size(); ++i) {
        if (i < flagged && doomed[std::size_t(i)]) {
            m_liveBytes -= m_spans.at(i).size;
            continue;
        }
        m_spans[kept++] = m_spans.at(i);
    }
    m_spans.truncate(kept);
    dropDeadBytes();
}

void PathList::clear()
{
    m_store.clear();
    m_spans.clear();
    m_liveBytes = 0;
}

QByteArray PathList::toLines() const
{
    qsizetype total = 2 * size();
    for (const Span &span : m_spans)
        total += span.size;
    QByteArray bytes(total, Qt::Uninitialized);
    char *out = bytes.data();
    const char *const store = m_store.constData();
    for (const Span &span : m_spans) {
        if (span.size > 0)
            std::memcpy(out, store + span.start, std::size_t(span.size));
        out += span.size;
        *out++ = '\r';
        *out++ = '\n';
    }
    return bytes;
}

bool operator==(const PathList &a, const PathList &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.bytesAt(i) != b.bytesAt(i))
            return false;
    }
    return true;
}

void PathList::dropDeadBytes()
{
    if (m_spans.isEmpty()) {
        clear();
        return;
    }
    if (m_store.size() - m_liveBytes <= m_liveBytes + kDeadSlack)
        return;
    QByteArray store(m_liveBytes, Qt::Uninitialized);
    char *out = store.data();
    qsizetype at = 0;
    for (Span &span : m_spans) {
        if (span.size > 0)
            std::memcpy(out + at, m_store.constData() + span.start, std::size_t(span.size));
        span.start = at;
        at += span.size;
    }
    m_store = std::move(store);
}

} // namespace tunedeck

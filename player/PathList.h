#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <vector>

namespace tunedeck {

// The play list's full file names, in order, duplicates allowed. Names are kept as the bytes the
// file system uses, in one shared store with an (offset, length) per entry, so a list of a
// hundred thousand names costs two allocations rather than one per name, and a play-list file
// becomes a list without copying its names one by one. Names read back as text through
// fileNameFromBytes, so bytes that are not UTF-8 survive every step.
//
// Removing entries leaves their bytes in the store until the dead part outweighs the living
// part; then the store is rebuilt from the living names, so the work stays linear overall.
// Not thread-safe. A copy copies the spans and shares the store until either side changes it
// (Qt's implicit sharing).
class PathList {
public:
    // Where one entry's bytes lie in the store. (No initialisers: a list of them can grow
    // without first filling what is about to be overwritten.)
    struct Span {
        qsizetype start;
        qsizetype size;
    };

    // The entries' spans, in order: taking the first away costs the same however long the list
    // is, and growing for spans about to be written initialises nothing.
    class Spans {
    public:
        Spans() = default;
        Spans(const Spans &other);
        Spans &operator=(const Spans &other);
        Spans(Spans &&other) noexcept;
        Spans &operator=(Spans &&other) noexcept;
        ~Spans() = default;

        qsizetype size() const { return m_size; }
        bool isEmpty() const { return m_size == 0; }
        qsizetype capacity() const { return m_capacity - m_head; }
        const Span &at(qsizetype index) const
        {
            Q_ASSERT(index >= 0 && index < m_size);
            return m_data[std::size_t(m_head + index)];
        }
        Span &operator[](qsizetype index)
        {
            Q_ASSERT(index >= 0 && index < m_size);
            return m_data[std::size_t(m_head + index)];
        }
        Span *data() { return m_data.get() + m_head; }
        const Span *begin() const { return m_data.get() + m_head; }
        const Span *end() const { return begin() + m_size; }
        Span *begin() { return data(); }
        Span *end() { return data() + m_size; }

        void reserve(qsizetype entries);
        void append(Span span);
        void removeFirst();
        void remove(qsizetype first, qsizetype count);
        // Shortens the list to `entries` entries.
        void truncate(qsizetype entries);
        // Makes the list `entries` long; entries beyond the old length are not initialised and
        // must be written before they are read. Returns data().
        Span *resizeForOverwrite(qsizetype entries);
        void clear();

    private:
        void reallocate(qsizetype capacity);

        std::unique_ptr<Span[]> m_data;
        qsizetype m_head = 0; // entries taken from the front, whose room is not reused yet
        qsizetype m_size = 0;
        qsizetype m_capacity = 0; // of m_data, counted from its start
    };

    PathList() = default;
    // Takes over `store` and the entries at `spans`, which must lie inside it.
    PathList(QByteArray store, Spans spans);

    static PathList fromStringList(const QStringList &names);
    QStringList toStringList() const;

    qsizetype size() const { return m_spans.size(); }
    bool isEmpty() const { return m_spans.isEmpty(); }

    QByteArrayView bytesAt(qsizetype index) const;
    QString at(qsizetype index) const;
    // The name at `index`, or an empty string when there is no such entry.
    QString value(qsizetype index) const;
    // The text after the last "/" of the name at `index` (all of it when there is none).
    QString displayNameAt(qsizetype index) const;

    void reserve(qsizetype entries, qsizetype bytes);
    void append(QStringView name);
    void appendBytes(QByteArrayView name);
    // Appends `head` followed by `tail`: a folder's bytes and a name in it, without building
    // the joined text first.
    void appendJoined(QByteArrayView head, QStringView tail);

    void removeFirst();
    void remove(qsizetype first, qsizetype count);
    // Keeps the entries whose flag is false (flags beyond the list's end are ignored, and
    // entries beyond the flags' end are kept), in their order.
    void removeFlagged(const std::vector<bool> &doomed);
    void clear();

    // Every name followed by CR LF: the text of a play-list file.
    QByteArray toLines() const;

    friend bool operator==(const PathList &a, const PathList &b);
    friend bool operator!=(const PathList &a, const PathList &b) { return !(a == b); }

private:
    // The bytes the entries use, counted on first use after the list was made from a file.
    qsizetype liveBytes();
    void dropDeadBytes();

    QByteArray m_store;
    Spans m_spans;
    qsizetype m_liveBytes = 0; // -1: not counted yet
};

} // namespace tunedeck

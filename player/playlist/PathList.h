#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace tunedeck {

// The play list's full file names, in order, duplicates allowed. Names are kept as the bytes the
// file system uses and read back as text through fileNameFromBytes, so bytes that are not UTF-8
// survive every step. Not thread-safe; copies share their names until either side changes.
class PathList {
public:
    PathList() = default;

    static PathList fromStringList(const QStringList &names);
    QStringList toStringList() const;

    qsizetype size() const { return m_names.size(); }
    bool isEmpty() const { return m_names.isEmpty(); }

    QByteArrayView bytesAt(qsizetype index) const { return m_names.at(index); }
    QString at(qsizetype index) const;
    // The name at `index`, or an empty string when there is no such entry.
    QString value(qsizetype index) const;
    // The text after the last "/" of the name at `index` (all of it when there is none).
    QString displayNameAt(qsizetype index) const;

    void reserve(qsizetype entries) { m_names.reserve(m_names.size() + entries); }
    void append(QStringView name);
    void appendBytes(QByteArrayView name) { m_names.append(name.toByteArray()); }
    // Appends `head` followed by `tail`: a folder's bytes and a name in it.
    void appendJoined(QByteArrayView head, QStringView tail);

    void removeFirst();
    void remove(qsizetype first, qsizetype count) { m_names.remove(first, count); }
    // Keeps the entries whose flag is false (flags beyond the list's end are ignored, and
    // entries beyond the flags' end are kept), in their order.
    void removeFlagged(const std::vector<bool> &doomed);
    void clear() { m_names.clear(); }

    // Every name followed by CR LF: the text of a play-list file.
    QByteArray toLines() const;

    friend bool operator==(const PathList &a, const PathList &b) { return a.m_names == b.m_names; }
    friend bool operator!=(const PathList &a, const PathList &b) { return !(a == b); }

private:
    QList<QByteArray> m_names;
};

} // namespace tunedeck

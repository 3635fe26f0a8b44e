#include "PlayListFile.h"

#include "FileNames.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

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

// Calls `onLine` with each line of `bytes` by the reading rules (see parse()).
template<typename OnLine>
void forEachLine(QByteArrayView bytes, OnLine &&onLine)
{
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0)
        bytes = bytes.first(nul);

    // memchr finds each kind of line end many bytes at a time; the next of each is kept until
    // passed, so every byte is looked at a bounded number of times.
    const char *const begin = bytes.data();
    const qsizetype size = bytes.size();
    if (size == 0)
        return; // An empty view may have no data at all, and memchr must not see null.
    const auto nextOf = [&](char c, qsizetype from) {
        const void *hit = std::memchr(begin + from, c, static_cast<std::size_t>(size - from));
        return hit ? static_cast<const char *>(hit) - begin : size;
    };
    qsizetype nextCr = nextOf('\r', 0);
    qsizetype nextLf = nextOf('\n', 0);
    qsizetype start = 0;
    while (start < size) {
        if (nextCr < start)
            nextCr = nextOf('\r', start);
        if (nextLf < start)
            nextLf = nextOf('\n', start);
        const qsizetype end = std::min(nextCr, nextLf);
        if (end == size)
            break;
        onLine(bytes.sliced(start, end - start));
        // CR LF is one line end; LF CR is two.
        start = (end == nextCr && nextLf == end + 1) ? end + 2 : end + 1;
    }
    if (start < size)
        onLine(bytes.sliced(start));
}

} // namespace

QList<QByteArray> parse(QByteArrayView bytes)
{
    QList<QByteArray> lines;
    forEachLine(bytes, [&](QByteArrayView line) { lines.append(line.toByteArray()); });
    return lines;
}

QByteArray serialise(const QList<QByteArray> &names)
{
    qsizetype total = 0;
    for (const QByteArray &name : names)
        total += name.size() + 2;
    QByteArray bytes;
    bytes.reserve(total);
    for (const QByteArray &name : names) {
        bytes.append(name);
        bytes.append("\r\n", 2);
    }
    return bytes;
}

QStringList load(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(fileName);
    const QByteArray bytes = file.readAll();

    QStringList names;
    forEachLine(bytes, [&](QByteArrayView line) { names.append(fileNameFromBytes(line)); });
    return names;
}

void save(const QString &fileName, const QStringList &names)
{
    // The replacement below would quietly swap a read-only file for a writable one. A file the
    // user protected stays protected, by its mode bits too, so not even root replaces a file
    // that nobody may write.
    const QFileInfo target(fileName);
    constexpr auto kAnyWrite = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (target.exists()
        && (!target.isFile() || !target.isWritable() || !(target.permissions() & kAnyWrite)))
        throw EFCreateError(fileName);

    qsizetype sizeHint = 0;
    for (const QString &name : names)
        sizeHint += name.size() + 2;
    QByteArray bytes;
    bytes.reserve(sizeHint);
    for (const QString &name : names) {
        appendFileNameBytes(bytes, name);
        bytes.append("\r\n", 2);
    }

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw EFCreateError(fileName);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        throw EWriteError();
    }
    if (!file.commit())
        throw EWriteError();
}

} // namespace playlistfile

} // namespace tunedeck

#include "PlayListFile.h"

#include "FileNames.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>

#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tunedeck {

EFOpenError::EFOpenError(const QString &fileName)
    : std::runtime_error(QStringLiteral("Cannot open file %1").arg(fileName).toStdString())
{ }

EFOpenError::EFOpenError(const QString &fileName, const QString &reason)
    : std::runtime_error(
        QStringLiteral("Cannot open file %1: %2").arg(fileName, reason).toStdString())
{ }

EFCreateError::EFCreateError(const QString &fileName)
    : std::runtime_error(QStringLiteral("Cannot create file %1").arg(fileName).toStdString())
{ }

EFCreateError::EFCreateError(const QString &fileName, const QString &reason)
    : std::runtime_error(
        QStringLiteral("Cannot create file %1: %2").arg(fileName, reason).toStdString())
{ }

EWriteError::EWriteError()
    : std::runtime_error("Stream write error")
{ }

namespace playlistfile {

PathList parseList(QByteArrayView bytes)
{
    bool cut = false;
    return parseList(bytes, &cut);
}

PathList parseList(QByteArrayView bytes, bool *cut)
{
    PathList lines;
    qsizetype lineStart = 0;
    *cut = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\0') {
            bytes.truncate(i);
            break;
        }
        if (c != '\r' && c != '\n')
            continue;
        if (lines.size() == kMaxEntries) {
            *cut = true;
            return lines;
        }
        lines.appendBytes(bytes.sliced(lineStart, i - lineStart));
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i; // CR LF is one line end
        lineStart = i + 1;
    }
    if (lineStart < bytes.size() && lines.size() == kMaxEntries)
        *cut = true;
    else if (lineStart < bytes.size())
        lines.appendBytes(bytes.sliced(lineStart));
    return lines;
}

PathList load(const QString &fileName, bool *cut)
{
    // Opened without waiting, so a pipe with no writer cannot hang the window; only regular
    // files are read.
    const int fd = ::open(fileNameToBytes(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw EFOpenError(fileName);
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    QFile file;
    struct stat status { };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw EFOpenError(fileName);
    if (status.st_size > kMaxBytes)
        throw EFOpenError(fileName, QStringLiteral("it is larger than a play list can be (64 MB)"));
    bool cutHere = false;
    try {
        // A read that stops early keeps what it read; a file that grew since is read so far.
        const PathList names = parseList(file.read(kMaxBytes), &cutHere);
        if (cut)
            *cut = cutHere;
        return names;
    } catch (const std::bad_alloc &) {
        throw EFOpenError(fileName); // no memory for it
    }
}

namespace {

// Writes `bytes` over the file at `fileName`, which must exist: the room for them is taken
// first, so a full disk leaves the old file whole; then they are written, the file cut to their
// length and flushed to the disk before it is closed. Throws EFCreateError when the file cannot
// be opened for writing and EWriteError when the bytes cannot all be written (a failure after
// the room was taken leaves the file part old, part new).
void writeInPlace(const QString &fileName, const QByteArray &bytes)
{
    const int fd = ::open(fileNameToBytes(fileName).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        throw EFCreateError(fileName);
    // A file system that cannot take the room ahead of time (EOPNOTSUPP) is written as it is.
    const int reserved = bytes.isEmpty() ? 0 : ::posix_fallocate(fd, 0, bytes.size());
    if (reserved != 0 && reserved != EOPNOTSUPP) {
        ::close(fd);
        throw EWriteError();
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written
            = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ::close(fd);
            throw EWriteError();
        }
        done += written;
    }
    if (::ftruncate(fd, bytes.size()) != 0) {
        ::close(fd);
        throw EWriteError();
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
    constexpr auto kAnyWrite
        = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (target.exists()
        && (!target.isFile() || !target.isWritable() || !(target.permissions() & kAnyWrite)))
        throw EFCreateError(fileName);

    // A line break is allowed in a name here, not in a line of the file.
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names.bytesAt(i).contains('\n') || names.bytesAt(i).contains('\r')) {
            QString shown = names.at(i);
            shown.replace(QLatin1Char('\n'), QLatin1String("\\n"))
                .replace(QLatin1Char('\r'), QLatin1String("\\r"));
            throw EFCreateError(fileName,
                QStringLiteral("the name %1 holds a line break, which a play list cannot")
                    .arg(shown));
        }
    }
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
    // A short list stays in Qt's buffer until it is flushed, and a commit whose own flush fails
    // still puts the empty file in place of the old one: the bytes go out here, or nothing does.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
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

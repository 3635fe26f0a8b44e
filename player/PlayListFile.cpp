#include "PlayListFile.h"

#include "FileNames.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

QList<QByteArray> parse(QByteArrayView bytes)
{
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0)
        bytes = bytes.first(nul);

    QList<QByteArray> lines;
    qsizetype start = 0;
    qsizetype at = 0;
    const qsizetype size = bytes.size();
    while (at < size) {
        const char c = bytes[at];
        if (c != '\r' && c != '\n') {
            ++at;
            continue;
        }
        lines.append(bytes.sliced(start, at - start).toByteArray());
        // CR LF is one line end; LF CR is two.
        at += (c == '\r' && at + 1 < size && bytes[at + 1] == '\n') ? 2 : 1;
        start = at;
    }
    if (start < size)
        lines.append(bytes.sliced(start).toByteArray());
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

    const QList<QByteArray> lines = parse(bytes);
    QStringList names;
    names.reserve(lines.size());
    for (const QByteArray &line : lines)
        names.append(fileNameFromBytes(line));
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

    QList<QByteArray> lines;
    lines.reserve(names.size());
    for (const QString &name : names)
        lines.append(fileNameToBytes(name));
    const QByteArray bytes = serialise(lines);

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

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace tunedeck {

// File names on Linux are bytes. Qt's own conversion (QFile::decodeName) turns bytes that are not
// UTF-8 into U+FFFD, so such a name could never be found again. These two keep every name:
// valid UTF-8 decodes as usual, and each byte of an invalid sequence becomes the lone surrogate
// U+DC80 + byte (as Python's "surrogateescape" does), which the reverse turns back into the byte.
// For valid UTF-8 both agree with QFile::decodeName/encodeName. Any thread may call them.
QString fileNameFromBytes(QByteArrayView bytes);
QByteArray fileNameToBytes(QStringView name);
// The same bytes, appended to `bytes` (saves a copy per name when many are joined).
void appendFileNameBytes(QByteArray &bytes, QStringView name);

// The last part of a path, what the user sees of it: everything after its last "/" (the whole
// name when it has none). "/" is never part of a multi-byte UTF-8 sequence, so the bytes and the
// text are cut at the same place.
QString pathTail(const QString &name);
QByteArrayView pathTail(QByteArrayView name);

} // namespace tunedeck

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

// Which files of a folder are songs, and in what order they are listed: the one rule for the
// browser's file view and for folders named on the command line, by a second start or in a
// drop. Any thread.
namespace tunedeck::songfiles {

// Whether the name's extension (from its last ".", with no "/" after it) is ".MID", ".RMI" or
// ".WAV" in any case. The letters compare as ASCII, so no locale can change the answer.
bool hasSongExtension(QByteArrayView name);

// The names in `folder` with a song's extension, sorted in the user locale's collation order.
// No attribute is tested, so a folder named like a song is listed too. A folder that cannot be
// read lists nothing.
QStringList songNames(const QByteArray &folder);

} // namespace tunedeck::songfiles

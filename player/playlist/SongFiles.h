#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <chrono>
#include <functional>

// Which files of a folder are songs, and in what order they are listed: the one rule for the
// browser's file view and for folders named on the command line, by a second start or in a
// drop. Any thread, except where said.
namespace tunedeck::songfiles {

// Whether the name's extension (from its last ".", with no "/" after it) is ".MID", ".RMI" or
// ".WAV" in any case. The letters compare as ASCII, so no locale can change the answer.
bool hasSongExtension(QByteArrayView name);

// The names in `folder` with a song's extension, sorted in the user locale's collation order.
// No attribute is tested, so a folder named like a song is listed too. A folder that cannot be
// read lists nothing.
QStringList songNames(const QByteArray &folder);

// songNames() of the folder open as `folderFd` (which may be opened with O_PATH).
QStringList songNamesAt(int folderFd);

// songNames() of the process's current folder (where the folder list last moved), read by
// `read` on a worker thread: the folder is taken here without asking its file system anything,
// and the caller waits at most `timeout`, as filctl95::readFolderWithin waits (its event loop
// goes on meanwhile, without user input). A folder that does not answer in time lists nothing,
// so a drive that stopped answering cannot freeze the window. UI thread only.
QStringList currentSongNames(std::chrono::milliseconds timeout,
    const std::function<QStringList(int folderFd)> &read = songNamesAt);

} // namespace tunedeck::songfiles

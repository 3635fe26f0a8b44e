#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <vector>

// Reading a folder for the folder list without ever letting a dead drive freeze the window: the
// read runs on a worker thread, and the UI thread waits for it only so long.
namespace filctl95 {

// What reading a folder found.
struct FolderListing {
    enum class Outcome { Read, Missing, Unreadable, TimedOut };
    Outcome outcome = Outcome::Read;
    QString error; // Why the folder could not be read, for the user; empty when it was read.
    QStringList subFolders; // Names of its sub-folders, dot-folders left out, in no order.
    QStringList files; // Names of its files, for readers that list them (readFolder does not).
    bool ok() const { return outcome == Outcome::Read; }
};

// Reads one folder. Called on a worker thread, possibly after whoever handed it over is gone,
// so it must own everything it uses. It may block for as long as the file system does.
using FolderReadFunction = std::function<FolderListing(const QString &folder)>;

// Whether `name` in the open folder `folder` is a folder, following a symbolic link. It may block
// for as long as the file system does (a link into a mount that stopped answering).
using FolderProbe = std::function<bool(int folder, const char *name)>;

// The system's reader: opens `folder` and lists its sub-folders, following symbolic links. A link
// whose lookup does not answer within a second is listed without waiting for it, so one into a
// mount that stopped answering does not hold the whole folder. `folder` is a name as
// tunedeck::fileNameFromBytes gives it. Any thread.
FolderListing readFolder(const QString &folder);
// The same, with `isFolder` asked of the names the folder itself does not say are folders
// (links, and any on file systems that do not say).
FolderListing readFolder(const QString &folder, const FolderProbe &isFolder);

// Runs read(folder) on a worker thread and waits at most `timeout` for it. A read that ends
// within a moment is waited for as a plain call would be; after that the calling thread's event
// loop goes on without user input, so the window repaints and timers and queued
// notices are handled, but nothing the user does can start another change. A read that outlasts
// the wait is left to end on its own thread and its result is dropped; while it is still stuck,
// a new wait for the same folder joins it rather than starting another thread. UI thread only.
FolderListing readFolderWithin(
    const FolderReadFunction &read, const QString &folder, std::chrono::milliseconds timeout);

// Runs `work` on a worker thread and waits for it as readFolderWithin() waits for a read, up to
// `timeout`. True when it ended in time (what it threw is thrown here then); else it is left to
// end on its own thread (what it touches it must own). UI thread only.
bool runWithin(std::function<void()> work, std::chrono::milliseconds timeout);

// The indices of `names` in `locale`'s collation order with `sensitivity`; names that collate
// equal stand in code-point order. In the C locale names compare without regard to case first
// (its own collation, the code-point order, would put all upper case before lower case). O(n log n)
// comparisons of precomputed sort keys, so large folders sort quickly. Any thread (the names are
// only read).
std::vector<qsizetype> collationOrder(
    const QStringList &names, Qt::CaseSensitivity sensitivity, const QLocale &locale);

// Sorts `names` by collationOrder() in the default QLocale, the user's unless a program set
// another.
void sortByCollation(QStringList &names, Qt::CaseSensitivity sensitivity);

} // namespace filctl95

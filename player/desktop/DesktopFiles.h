#pragma once

#include "PathList.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QMimeData;

// Files handed to the program from outside the window: names on its command line, names a
// second start of the program passes on, and files dropped from other programs. UI thread only,
// except expandFileNames, which any thread may call.
namespace tunedeck {
class Player;
}

namespace tunedeck::desktop {

// What a list of names comes to once expanded: the entries to append (full names and what the
// play list shows of them, in order) and the names that could not be used.
struct ExpandedFiles {
    PathList paths;
    QStringList shown;
    QStringList rejected;
    // Entries, and names not looked at, left out because one list adds at most
    // kMaxEntriesAtOnce entries; another player's list cut at that many counts too.
    qsizetype leftOut = 0;
};

// The most entries one list of names adds: a folder named over and over, or a huge one, must
// not hold the window for long. A folder or list file named twice in one list is read once.
inline constexpr qsizetype kMaxEntriesAtOnce = 100000;
// The most rejected names the report lists; a count stands for the rest.
inline constexpr qsizetype kMaxReportedNames = 20;

// Expands `names` (file-system bytes; relative names are taken from `workingFolder`), in order:
// a playable file (the browser's extensions, or a MIDI or wave file by its first bytes when the
// extension is another) is one entry; a ".tdl" file adds its entries as the play-list file
// reader reads them, another player's list the playable files it names; a folder adds its
// playable files in the file view's order. A name that is none of these (missing, unreadable,
// another kind of file, a list naming nothing) goes to `rejected`.
ExpandedFiles expandFileNames(const QList<QByteArray> &names, const QByteArray &workingFolder);
// The same for the window's thread: expanded on a worker, which the window waits for with its
// event loop running (no user input) once it takes longer than a moment. Names not looked at
// within ten seconds (a drive that stopped answering) are rejected.
ExpandedFiles expandFileNamesWithin(
    const QList<QByteArray> &names, const QByteArray &workingFolder);

// Appends `names` expanded to the player's list at once, even while a modal box is up. Then,
// once the caller has returned to the event loop and no box is up: with `startPlaying`, Play
// starts when something was appended and nothing is playing (a paused song stays paused);
// rejected names are reported in one general error report listing them. Returns how many
// entries were appended.
qsizetype appendFiles(Player &player, const QList<QByteArray> &names,
    const QByteArray &workingFolder, bool startPlaying);

// Whether a drag from another program carries local files only (a text/uri-list of file: URLs);
// a remote URL among them refuses the whole drop.
bool acceptsDroppedUrls(const QMimeData *data);
// Appends the dropped files (folders and play-list files expanded as above) at the end of the
// play list; rejected names are reported as above. Nothing starts playing.
void dropFiles(Player &player, const QMimeData *data);

// The text of the report for `rejected` names (the first kMaxReportedNames of them, then how
// many more) and `leftOut` entries.
QString rejectedFilesText(const QStringList &rejected, qsizetype leftOut = 0);

// Whether `names` are fit to be expanded: a name containing a NUL byte cannot name a file.
// The reason when they are not.
std::optional<QString> refuseNames(const QList<QByteArray> &names);

} // namespace tunedeck::desktop

#include "TunedeckFormUnit.h"

#include "DesktopFiles.h"
#include "FileNames.h"
#include "MessageBoxes.h"
#include "PlayListDialog.h"
#include "PlayListFile.h"
#include "TunedeckApplication.h"
#include "UnitGenerale.h"

#include "tunedeck/PlayLists.h"

#include <QListWidget>

void TTunedeckform::OpenPlayList1Click()
{
    // The dialog runs modally: the sequencer may take entries out of the play list meanwhile.
    const QString fileName = playListDialog(QFileDialog::AcceptOpen)->choose();
    if (fileName.isEmpty())
        return;

    // Another player's list: its playable entries replace the list, the rest are reported.
    const QByteArray bytes = tunedeck::fileNameToBytes(fileName);
    if (tunedeck::playlists::formatOf(std::filesystem::path(bytes.toStdString()))) {
        tunedeck::desktop::ExpandedFiles expanded
            = tunedeck::desktop::expandFileNamesWithin({ bytes }, {});
        if (!expanded.paths.isEmpty()) {
            PlayListPaths = std::move(expanded.paths);
            Lista->clear();
            Lista->addItems(expanded.shown);
        }
        if (!expanded.rejected.isEmpty() || expanded.leftOut > 0)
            tunedeck::showGeneralError(
                tunedeck::desktop::rejectedFilesText(expanded.rejected, expanded.leftOut));
        return;
    }

    // The file is read whole before the list is touched, so a file that cannot be opened
    // leaves the user's list as it was.
    tunedeck::PathList names;
    bool cut = false;
    try {
        names = tunedeck::playlistfile::load(fileName, &cut);
    } catch (const std::exception &error) {
        tunedeck::showGeneralError(QString::fromUtf8(error.what()));
        return;
    }

    RemoveAllButtClick();
    appendEntries(names);
    if (cut)
        tunedeck::showGeneralError(tunedeck::desktop::rejectedFilesText({}, 1));
}

void TTunedeckform::SavePlayList1Click()
{
    const QString fileName = playListDialog(QFileDialog::AcceptSave)->choose();
    if (fileName.isEmpty())
        return;

    // What is written is the list as it stands now that the dialog has closed. A failure leaves
    // any earlier file untouched and is shown by the general error report.
    try {
        tunedeck::playlistfile::save(fileName, PlayListPaths);
    } catch (const std::exception &error) {
        tunedeck::showGeneralError(QString::fromUtf8(error.what()));
    }
}

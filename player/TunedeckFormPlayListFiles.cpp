#include "TunedeckFormUnit.h"

#include "MessageBoxes.h"
#include "PlayListFile.h"
#include "UnitGenerale.h"

#include <QFileDialog>
#include <QListWidget>

namespace {

const QString kPlayListFilter = QStringLiteral("Tunedeck PlayList (*.tdl)");

// Both dialogs: "tdl" added to a name typed without extension, the one filter, and the name
// last chosen in this dialog (each remembers its own; a QFileDialog keeps it between runs).
void prepare(QFileDialog *dialog, QFileDialog::AcceptMode mode)
{
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog->setDefaultSuffix(QStringLiteral("tdl"));
    dialog->setNameFilter(kPlayListFilter);
    // Saving asks before it replaces a file (Qt's default, stated here because it matters), and
    // both dialogs insist on an existing folder.
    dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog->setSizeGripEnabled(mode == QFileDialog::AcceptSave);
}

// The chosen file, or an empty string when the user cancelled. Runs the dialog modally: the
// sequencer may take entries out of the play list meanwhile.
QString runDialog(QFileDialog *dialog)
{
    if (dialog->exec() != QDialog::Accepted)
        return {};
    return dialog->selectedFiles().value(0);
}

} // namespace

void TTunedeckform::OpenPlayList1Click()
{
    prepare(OpenDialog, QFileDialog::AcceptOpen);
    const QString fileName = runDialog(OpenDialog);
    if (fileName.isEmpty())
        return;

    // The file is read whole before the list is touched, so a file that cannot be opened
    // leaves the user's list as it was.
    tunedeck::PathList names;
    try {
        names = tunedeck::playlistfile::load(fileName);
    } catch (const std::exception &error) {
        tunedeck::showGeneralError(QString::fromUtf8(error.what()));
        return;
    }

    QStringList shown;
    shown.reserve(names.size());
    for (qsizetype i = 0; i < names.size(); ++i)
        shown.append(names.displayNameAt(i));
    PlayListPaths = std::move(names);
    Lista->clear();
    Lista->addItems(shown);
}

void TTunedeckform::SavePlayList1Click()
{
    prepare(SaveDialog, QFileDialog::AcceptSave);
    const QString fileName = runDialog(SaveDialog);
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

#include "PlayListDialog.h"

#include "MessageBoxes.h"
#include "tunedeck/PlayLists.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

TPlayListDialog::TPlayListDialog(QFileDialog::AcceptMode mode, QWidget *parent)
    : QFileDialog(parent)
{
    setAcceptMode(mode);
    setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    setDefaultSuffix(QStringLiteral("tdl"));
    // Other players' lists can be opened (after the program's own), never saved.
    if (mode == QFileDialog::AcceptOpen)
        setNameFilters({ QStringLiteral("Tunedeck PlayList (*.tdl)"),
            QStringLiteral("Other players' play lists (*.m3u *.m3u8 *.pls *.xspf)") });
    else
        setNameFilter(QStringLiteral("Tunedeck PlayList (*.tdl)"));
    // Saving asks before it replaces a file (Qt's default, stated here because it matters).
    setOption(QFileDialog::DontConfirmOverwrite, false);
    setSizeGripEnabled(mode == QFileDialog::AcceptSave);
}

QString TPlayListDialog::choose()
{
    if (!m_lastChosen.isEmpty()) {
        setDirectory(QFileInfo(m_lastChosen).absolutePath());
        selectFile(m_lastChosen);
    }
    const int result = exec();
    // The list completing a typed name is a window of its own: the dialog's closing leaves it up,
    // over the main window, taking the next click.
    for (QCompleter *completer : findChildren<QCompleter *>()) {
        if (QWidget *popup = completer->popup())
            popup->hide();
    }
    if (result != QDialog::Accepted)
        return {};
    m_lastChosen = selectedFiles().value(0);
    return m_lastChosen;
}

void TPlayListDialog::accept()
{
    // A name typed into a folder that does not exist could only fail when it is written: the
    // dialog says so and stays open for another name. (Opening already insists on a file.)
    if (acceptMode() == QFileDialog::AcceptSave) {
        // The dialog takes quotation marks as marking names ("a" "b"), so a name holding them
        // would be saved under another name (the part between them): it is refused.
        if (const auto *typed = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            typed && typed->text().contains(u'"')) {
            tunedeck::showCaptionedMessage(tunedeck::MessageKind::Warning, windowTitle(),
                QStringLiteral("%1\nA play list's name cannot hold quotation marks (\").\nChoose "
                               "another name.")
                    .arg(typed->text()));
            return;
        }
        const QString chosen = selectedFiles().value(0);
        const QFileInfo folder(QFileInfo(chosen).absolutePath());
        if (!chosen.isEmpty() && !folder.isDir()) {
            tunedeck::showCaptionedMessage(tunedeck::MessageKind::Warning, windowTitle(),
                QStringLiteral(
                    "%1\nThe folder does not exist.\nCheck the folder name and try again.")
                    .arg(QDir::toNativeSeparators(chosen)));
            return;
        }
        // The list is written as a Tunedeck play list, one name a line: under a .pls or .xspf
        // name neither other players nor Open Play List could read it back. (One name a line is
        // an .m3u list too.)
        using tunedeck::playlists::Format;
        const auto format = tunedeck::playlists::formatOf(QFile::encodeName(chosen).toStdString());
        if (format == Format::Pls || format == Format::Xspf) {
            tunedeck::showCaptionedMessage(tunedeck::MessageKind::Warning, windowTitle(),
                QStringLiteral("%1\nPlay lists are saved in Tunedeck's own format, which cannot "
                               "be read under this name.\nChoose a name ending in .tdl or .m3u.")
                    .arg(QDir::toNativeSeparators(chosen)));
            return;
        }
    }
    QFileDialog::accept();
}

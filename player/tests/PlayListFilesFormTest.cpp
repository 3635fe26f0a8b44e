// Saving and loading play lists from the main window's File menu: the dialogs, what is written,
// that a load replaces the list, and that failures keep both the list and the old file.
#include "DesktopFiles.h"
#include "MessageBoxes.h"
#include "PlayListFile.h"
#include "TunedeckApplication.h"
#include "TunedeckFormUnit.h"

#include "PlayerTestMain.h"
#include "testsupport/MidiWriter.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Says Yes when the save dialog asks whether to replace a file; gives up after a few turns of
// the event loop when it does not ask.
void answerOverwriteQuestion(QFileDialog *dialog, int turns)
{
    QTimer::singleShot(0, dialog, [dialog, turns] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            if (QAbstractButton *yes = box->button(QMessageBox::Yes)) {
                yes->click();
                return;
            }
        }
        if (turns > 0)
            answerOverwriteQuestion(dialog, turns - 1);
    });
}

// Answers the next file dialog from inside its own event loop: `name` typed in `folder`, then
// OK, or Cancel when `name` is empty. `beforeAccept` runs on the dialog just before OK.
void answerFileDialog(const QString &folder, const QString &name,
    std::function<void(QFileDialog *)> beforeAccept = {})
{
    QTimer::singleShot(0, qApp, [=] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            answerFileDialog(folder, name, beforeAccept); // Not up yet: look again.
            return;
        }
        if (name.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->setDirectory(folder);
        dialog->selectFile(name);
        if (beforeAccept)
            beforeAccept(dialog);
        answerOverwriteQuestion(dialog, 20);
        static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept, as OK would.
    });
}

// Hands the next file dialog to `handle` from inside its own event loop, once it is up.
void whenFileDialogOpens(std::function<void(QFileDialog *)> handle)
{
    QTimer::singleShot(0, qApp, [=] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            whenFileDialogOpens(handle); // Not up yet: look again.
            return;
        }
        handle(dialog);
    });
}

// The name the dialog's file name box shows.
QString typedName(QFileDialog *dialog)
{
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    return edit ? edit->text() : QStringLiteral("<no file name box>");
}

QStringList listaTexts(const QListWidget *lista)
{
    QStringList texts;
    for (int i = 0; i < lista->count(); ++i)
        texts.append(lista->item(i)->text());
    return texts;
}

// A song of a few seconds, so it is still playing while the test works.
QString writeSong(const QTemporaryDir &dir, const char *name)
{
    testsupport::TrackWriter track;
    track.program(0, 0, 0);
    for (int i = 0; i < 8; ++i)
        track.noteOn(0, 0, 60 + i, 90).noteOff(480, 0, 60 + i);
    track.endOfTrack();
    const QString path = dir.filePath(QString::fromLatin1(name));
    const auto bytes = testsupport::SmfWriter(0, 480).track(track).bytes();
    return testsupport::writeFile(QFile::encodeName(path).toStdString(), bytes) ? path : QString();
}

} // namespace

class PlayListFilesFormTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_form = std::make_unique<TTunedeckform>();
        m_boxes.clear();
        connect(tunedeck::MessageBoxHub::instance(), &tunedeck::MessageBoxHub::aboutToShow, this,
            [this](QMessageBox *box) {
                m_boxes.append(box->text());
                QTimer::singleShot(0, box, &QMessageBox::accept);
            });
    }
    void cleanup()
    {
        disconnect(tunedeck::MessageBoxHub::instance(), nullptr, this, nullptr);
        m_form.reset();
    }

    void threeEntriesSaveAsThreeCrLfLinesAndLoadBack();
    void emptyListSavesAsEmptyFileAndLoadsAsEmptyList();
    void loadingReplacesTheListAndShowsDisplayNames();
    void cancellingEitherDialogChangesNothing();
    void theNameCompletionGoesWithTheDialog();
    void fileGoneBeforeLoadingKeepsTheListAndReportsIt();
    void aListCutAtTheLimitSaysSo();
    void failedSaveKeepsTheOldFileAndReportsIt();
    void savingWhileAFilePlaysWritesOnlyWaitingEntries();
    void saveDialogStaysOpenForAFolderThatDoesNotExist();
    void eachDialogOpensWithTheFullNameLastChosenInIt();
    void otherPlayersListsOpenButAreNeverSaved();

private:
    void setList(const QStringList &paths)
    {
        m_form->PlayListPaths = tunedeck::PathList::fromStringList(paths);
        m_form->Lista->clear();
        for (const QString &path : paths)
            m_form->Lista->addItem(path.section(QLatin1Char('/'), -1));
    }

    std::unique_ptr<TTunedeckform> m_form;
    QStringList m_boxes;
};

void PlayListFilesFormTest::threeEntriesSaveAsThreeCrLfLinesAndLoadBack()
{
    QTemporaryDir dir;
    const QStringList paths { QStringLiteral("/music/a.mid"), QStringLiteral("/music/b b.rmi "),
        QStringLiteral("c.wav") };
    setList(paths);

    answerFileDialog(dir.path(), QStringLiteral("list")); // No extension typed: .tdl is added.
    m_form->SavePlayList1->trigger();
    QCOMPARE(readAll(dir.filePath(QStringLiteral("list.tdl"))),
        QByteArray("/music/a.mid\r\n/music/b b.rmi \r\nc.wav\r\n"));
    QCOMPARE(m_form->PlayListPaths.toStringList(), paths); // Saving changes nothing.

    setList({});
    answerFileDialog(dir.path(), QStringLiteral("list.tdl"));
    m_form->OpenPlayList1->trigger();
    QCOMPARE(m_form->PlayListPaths.toStringList(), paths);
    QCOMPARE(listaTexts(m_form->Lista),
        (QStringList {
            QStringLiteral("a.mid"), QStringLiteral("b b.rmi "), QStringLiteral("c.wav") }));
    QVERIFY(m_boxes.isEmpty());
}

void PlayListFilesFormTest::emptyListSavesAsEmptyFileAndLoadsAsEmptyList()
{
    QTemporaryDir dir;
    answerFileDialog(dir.path(), QStringLiteral("empty.tdl"));
    m_form->SavePlayList1->trigger();
    const QString path = dir.filePath(QStringLiteral("empty.tdl"));
    QVERIFY(QFile::exists(path));
    QCOMPARE(QFileInfo(path).size(), 0);

    setList({ QStringLiteral("/x.mid") });
    answerFileDialog(dir.path(), QStringLiteral("empty.tdl"));
    m_form->OpenPlayList1->trigger();
    QVERIFY(m_form->PlayListPaths.isEmpty());
    QCOMPARE(m_form->Lista->count(), 0);
}

void PlayListFilesFormTest::loadingReplacesTheListAndShowsDisplayNames()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mixed.tdl"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("/m/one.mid\n\n/m/two.mid\rsong.mid");
    file.close();

    setList({ QStringLiteral("/old/entry.mid"), QStringLiteral("/old/other.mid") });
    answerFileDialog(dir.path(), QStringLiteral("mixed.tdl"));
    m_form->OpenPlayList1->trigger();
    QCOMPARE(m_form->PlayListPaths.toStringList(),
        (QStringList { QStringLiteral("/m/one.mid"), QString(), QStringLiteral("/m/two.mid"),
            QStringLiteral("song.mid") }));
    QCOMPARE(listaTexts(m_form->Lista),
        (QStringList { QStringLiteral("one.mid"), QString(), QStringLiteral("two.mid"),
            QStringLiteral("song.mid") }));
}

void PlayListFilesFormTest::cancellingEitherDialogChangesNothing()
{
    QTemporaryDir dir;
    setList({ QStringLiteral("/m/a.mid") });
    answerFileDialog(dir.path(), QString());
    m_form->OpenPlayList1->trigger();
    answerFileDialog(dir.path(), QString());
    m_form->SavePlayList1->trigger();
    QCOMPARE(m_form->PlayListPaths.toStringList(), QStringList { QStringLiteral("/m/a.mid") });
    QCOMPARE(m_form->Lista->count(), 1);
    QVERIFY(QDir(dir.path()).isEmpty());
    QVERIFY(m_boxes.isEmpty());
}

// The list of names completing the one typed closes with the dialog: left up, it covered the
// window and took the next click.
void PlayListFilesFormTest::theNameCompletionGoesWithTheDialog()
{
    QTemporaryDir dir;
    setList({ QStringLiteral("/m/a.mid") });
    QPointer<QWidget> popup;
    answerFileDialog(dir.path(), QStringLiteral("list.tdl"), [&popup](QFileDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(edit && edit->completer());
        popup = edit->completer()->popup();
        popup->show();
    });
    m_form->SavePlayList1->trigger();
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("list.tdl"))));
    QVERIFY(popup);
    QVERIFY(!popup->isVisible());
}

void PlayListFilesFormTest::fileGoneBeforeLoadingKeepsTheListAndReportsIt()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gone.tdl"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("/m/new.mid\r\n");
    file.close();

    setList({ QStringLiteral("/m/kept.mid") });
    // The file is removed after the user chose it, before it is read.
    answerFileDialog(dir.path(), QStringLiteral("gone.tdl"), [path](QFileDialog *dialog) {
        QObject::connect(
            dialog, &QFileDialog::fileSelected, dialog, [path] { QFile::remove(path); });
    });
    m_form->OpenPlayList1->trigger();
    QCOMPARE(
        m_boxes, QStringList { QStringLiteral("Cannot open file ") + path + QLatin1Char('.') });
    QCOMPARE(m_form->PlayListPaths.toStringList(), QStringList { QStringLiteral("/m/kept.mid") });
    QCOMPARE(m_form->Lista->count(), 1);
}

void PlayListFilesFormTest::aListCutAtTheLimitSaysSo()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("long.tdl")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("a.mid\r\n").repeated(tunedeck::playlistfile::kMaxEntries + 1));
    file.close();

    answerFileDialog(dir.path(), QStringLiteral("long.tdl"));
    m_form->OpenPlayList1->trigger();
    QCOMPARE(m_form->Lista->count(), tunedeck::playlistfile::kMaxEntries);
    QCOMPARE(m_boxes,
        QStringList { QStringLiteral("Some files were not added: at most 100000 are added at a "
                                     "time.") });
}

void PlayListFilesFormTest::failedSaveKeepsTheOldFileAndReportsIt()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("locked.tdl"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("/m/old.mid\r\n");
    file.close();
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));

    setList({ QStringLiteral("/m/new.mid") });
    // The overwrite question is answered Yes by the box hub above.
    answerFileDialog(dir.path(), QStringLiteral("locked.tdl"));
    m_form->SavePlayList1->trigger();
    QVERIFY(!m_boxes.isEmpty());
    QCOMPARE(m_boxes.last(), QStringLiteral("Cannot create file ") + path + QLatin1Char('.'));
    QCOMPARE(readAll(path), QByteArray("/m/old.mid\r\n"));
    QCOMPARE(m_form->PlayListPaths.toStringList(), QStringList { QStringLiteral("/m/new.mid") });
}

void PlayListFilesFormTest::savingWhileAFilePlaysWritesOnlyWaitingEntries()
{
    QTemporaryDir dir;
    const QStringList songs { writeSong(dir, "a.mid"), writeSong(dir, "b.mid"),
        writeSong(dir, "c.mid") };
    QVERIFY(!songs.contains(QString()));
    setList(songs);

    m_form->PlayButtClick();
    QCOMPARE(m_form->PlayListPaths.toStringList(), songs.mid(1)); // a.mid was taken out and plays.

    answerFileDialog(dir.path(), QStringLiteral("waiting.tdl"));
    m_form->SavePlayList1->trigger();
    QCOMPARE(readAll(dir.filePath(QStringLiteral("waiting.tdl"))),
        QFile::encodeName(songs[1]) + "\r\n" + QFile::encodeName(songs[2]) + "\r\n");
    m_form->StopButtClick();
}

// A name typed into a folder that does not exist, or one of another player's list format that
// could not read what is written, is refused by the save dialog itself: a warning, and the
// dialog stays open for another name; nothing is written and no "Cannot create file" follows.
void PlayListFilesFormTest::saveDialogStaysOpenForAFolderThatDoesNotExist()
{
    const struct {
        const char *typed;
        const char *said;
    } rows[] = { { "missing/list.tdl", "folder does not exist" },
        { "other.pls", "cannot be read under this name" },
        { "other.XSPF", "cannot be read under this name" },
        { "my \"best\" songs.tdl", "cannot hold quotation marks" } };
    for (const auto &row : rows) {
        QTemporaryDir dir;
        setList({ QStringLiteral("/m/a.mid") });
        m_boxes.clear();
        bool stayedOpen = false;
        whenFileDialogOpens([&](QFileDialog *dialog) {
            dialog->setDirectory(dir.path());
            dialog->selectFile(QString::fromUtf8(row.typed));
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept, as OK would.
            // The warning has been answered by now (the box hub closes it from its own loop).
            QTimer::singleShot(0, dialog, [&stayedOpen, dialog] {
                stayedOpen = dialog->isVisible();
                dialog->reject();
            });
        });
        m_form->SavePlayList1->trigger();
        QVERIFY2(stayedOpen, row.typed);
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes[0].contains(QString::fromUtf8(row.said)), qPrintable(m_boxes[0]));
        QVERIFY(QDir(dir.path()).isEmpty());
    }
}

// Each dialog opens with the full name last chosen in it, the extension the dialog added
// included; the two remember their names apart.
void PlayListFilesFormTest::eachDialogOpensWithTheFullNameLastChosenInIt()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("other")));
    const QString other = dir.filePath(QStringLiteral("other"));
    setList({ QStringLiteral("/m/a.mid") });

    answerFileDialog(dir.path(), QStringLiteral("list")); // Saved as list.tdl.
    m_form->SavePlayList1->trigger();
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("list.tdl"))));
    answerFileDialog(other, QStringLiteral("list.tdl")); // Nothing there: saved anew.
    m_form->SavePlayList1->trigger();
    answerFileDialog(dir.path(), QStringLiteral("list.tdl"));
    m_form->OpenPlayList1->trigger();

    const auto expectShown = [&](QAction *command, const QString &fullName) {
        QString shownName;
        QString shownFolder;
        QString chosen;
        whenFileDialogOpens([&](QFileDialog *dialog) {
            shownName = typedName(dialog);
            shownFolder = dialog->directory().absolutePath();
            chosen = dialog->selectedFiles().value(0);
            dialog->reject();
        });
        command->trigger();
        QCOMPARE(shownName, QFileInfo(fullName).fileName());
        QCOMPARE(shownFolder, QFileInfo(fullName).absolutePath());
        QCOMPARE(chosen, fullName);
    };
    expectShown(m_form->SavePlayList1, QDir(other).filePath(QStringLiteral("list.tdl")));
    expectShown(m_form->OpenPlayList1, dir.filePath(QStringLiteral("list.tdl")));
    // Cancelling keeps the name last chosen.
    expectShown(m_form->SavePlayList1, QDir(other).filePath(QStringLiteral("list.tdl")));
}

TUNEDECK_PLAYER_TEST_MAIN(PlayListFilesFormTest)
// The Open dialog offers other players' lists after the program's own (the default); their
// playable entries replace the list and the rest are reported once. Saving offers .tdl only.
void PlayListFilesFormTest::otherPlayersListsOpenButAreNeverSaved()
{
    QTemporaryDir dir;
    const QString song = writeSong(dir, "a b.mid");
    QFile list(dir.filePath(QStringLiteral("other.xspf")));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("<playlist><trackList><track><location>a%20b.mid</location></track>"
               "<track><location>gone.mid</location></track></trackList></playlist>");
    list.close();
    setList({ QStringLiteral("/old/entry.mid") });
    QStringList filters;
    QString chosenFilter;
    answerFileDialog(dir.path(), QStringLiteral("other.xspf"), [&](QFileDialog *dialog) {
        filters = dialog->nameFilters();
        chosenFilter = dialog->selectedNameFilter();
    });
    m_form->OpenPlayList1->trigger();
    QCOMPARE(filters,
        (QStringList { QStringLiteral("Tunedeck PlayList (*.tdl)"),
            QStringLiteral("Other players' play lists (*.m3u *.m3u8 *.pls *.xspf)") }));
    QCOMPARE(chosenFilter, filters.first());
    QCOMPARE(m_form->PlayListPaths.toStringList(), QStringList { song });
    QCOMPARE(listaTexts(m_form->Lista), QStringList { QStringLiteral("a b.mid") });
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(m_boxes.first().contains(dir.filePath(QStringLiteral("gone.mid"))));

    // A list cut at the limit says so, though it names nothing that cannot play.
    QFile longList(dir.filePath(QStringLiteral("long.m3u")));
    QVERIFY(longList.open(QIODevice::WriteOnly));
    longList.write(QByteArray("a b.mid\n").repeated(tunedeck::desktop::kMaxEntriesAtOnce + 1));
    longList.close();
    answerFileDialog(dir.path(), QStringLiteral("long.m3u"));
    m_form->OpenPlayList1->trigger();
    QCOMPARE(m_form->PlayListPaths.size(), tunedeck::desktop::kMaxEntriesAtOnce);
    QCOMPARE(m_boxes.size(), 2);
    QVERIFY(m_boxes.last().contains(QString::number(tunedeck::desktop::kMaxEntriesAtOnce)));

    whenFileDialogOpens([&](QFileDialog *dialog) {
        filters = dialog->nameFilters();
        dialog->reject();
    });
    m_form->SavePlayList1->trigger();
    QCOMPARE(filters, QStringList { QStringLiteral("Tunedeck PlayList (*.tdl)") });
}

#include "PlayListFilesFormTest.moc"

// The browser and the play list through the main window: what the file view lists, the four
// editing buttons, dragging onto the play list, changing drives, and the two sequences of the
// play list staying in step whatever the user does.
#include "PlayerTestMain.h"

#include "FilCtl95.h"
#include "FileView.h"
#include "SongFiles.h"
#include "TunedeckFormUnit.h"

#include <QCollator>
#include <QDrag>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <semaphore>

using namespace filctl95;

namespace {

// Drives rooted in folders of the test's own; reads of the folders in `refused` fail.
class TestDrives final : public DriveSource {
public:
    QList<DriveInfo> list;
    std::shared_ptr<QSet<QString>> refused = std::make_shared<QSet<QString>>();

    QList<DriveInfo> drives() const override { return list; }
    FolderReadFunction folderReader() const override
    {
        // Only the UI thread changes `refused`, and only while no read is running.
        return [refused = refused](const QString &folder) {
            if (refused->contains(folder)) {
                FolderListing listing;
                listing.outcome = FolderListing::Outcome::Unreadable;
                listing.error = QStringLiteral("Input/output error");
                return listing;
            }
            return readFolder(folder);
        };
    }
};

QStringList fileViewCaptions(const TTunedeckform &form)
{
    QStringList captions;
    for (int i = 0; i < form.TdfileV->count(); ++i)
        captions.append(form.TdfileV->caption(i));
    return captions;
}

QStringList listaTexts(const TTunedeckform &form)
{
    QStringList texts;
    for (int i = 0; i < form.Lista->count(); ++i)
        texts.append(form.Lista->item(i)->text());
    return texts;
}

QList<int> selectedFileViewRows(const TTunedeckform &form)
{
    QList<int> rows;
    for (int i = 0; i < form.TdfileV->count(); ++i) {
        if (form.TdfileV->selectionModel()->isRowSelected(i))
            rows.append(i);
    }
    return rows;
}

void selectFileView(TTunedeckform &form, const QList<int> &rows)
{
    form.TdfileV->clearSelection();
    for (const int row : rows)
        form.TdfileV->setRowSelected(row, true);
}

void selectLista(TTunedeckform &form, const QList<int> &rows)
{
    form.Lista->clearSelection();
    for (const int row : rows)
        form.Lista->item(row)->setSelected(true);
}

QString lastComponent(const QString &path)
{
    return path.section(u'/', -1);
}

} // namespace

class BrowserTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDirectory;
    std::unique_ptr<TTunedeckform> m_form;

    QString path(const QString &relative) const { return m_dir->path() + u'/' + relative; }
    void touch(const QStringList &relatives) const
    {
        for (const QString &relative : relatives) {
            QFile file(path(relative));
            QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(relative));
        }
    }
    // Moves the folder list to `relative`, which refills the file view.
    void open(const QString &relative)
    {
        QVERIFY(m_form->TdDirectory->setDirectory(path(relative)));
        QCOMPARE(m_form->TdDirectory->Directory(), QDir::cleanPath(path(relative)));
    }
    void click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

private Q_SLOTS:
    void init()
    {
        m_startDirectory = QDir::currentPath();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_form = std::make_unique<TTunedeckform>();
    }

    void cleanup()
    {
        m_form.reset();
        QVERIFY(QDir::setCurrent(m_startDirectory));
        m_dir.reset();
        QLocale::setDefault(QLocale::system());
    }

    // Songs and wave files are listed whatever the case of their extension; other extensions,
    // names without one and longer look-alikes are not; a folder named like a song is listed,
    // since no attribute is tested. Captions stand as the file system has them, sorted, and
    // nothing is selected afterwards.
    void listsPlayableNamesOnly()
    {
        touch({ "song.mid", "Bell.Rmi", "HORN.WAV", "song.midi", "song.mp3", "README", "mid",
            ".mid" });
        QVERIFY(QDir().mkpath(path("old.mid")));
        QVERIFY(QDir().mkpath(path("Older.midi")));
        open(QStringLiteral("."));
        QCOMPARE(fileViewCaptions(*m_form),
            QStringList({ ".mid", "Bell.Rmi", "HORN.WAV", "old.mid", "song.mid" }));
        QVERIFY(selectedFileViewRows(*m_form).isEmpty());
    }

    // The file view's folder is read on a worker: one whose drive stopped answering lists no
    // songs once the folder list's wait is over, and the window's event loop ran meanwhile (it
    // was read on the window's thread, which waited for ever).
    void aFolderThatDoesNotAnswerListsNothing()
    {
        const auto answer = std::make_shared<std::binary_semaphore>(0);
        bool loopRan = false;
        QTimer::singleShot(0, [&] { loopRan = true; });
        QVERIFY(
            tunedeck::songfiles::currentSongNames(std::chrono::milliseconds(200), [answer](int) {
                answer->acquire();
                return QStringList({ "late.mid" });
            }).isEmpty());
        answer->release();
        QVERIFY(loopRan);
    }

    // The routine itself: the extension runs from the last dot; a slash after it leaves none.
    void isAudioFileLooksAtTheLastExtension()
    {
        QVERIFY(TTunedeckform::IsAudioFile(QStringLiteral("/music/a.b.WaV")));
        QVERIFY(TTunedeckform::IsAudioFile(QStringLiteral("x.rmi")));
        QVERIFY(!TTunedeckform::IsAudioFile(QStringLiteral("/music.mid/readme")));
        QVERIFY(!TTunedeckform::IsAudioFile(QStringLiteral("a.mid.txt")));
        QVERIFY(!TTunedeckform::IsAudioFile(QStringLiteral("a.md")));
        // Only ASCII letters match: a dotless i does not make ".MID" in any locale.
        QVERIFY(!TTunedeckform::IsAudioFile(QStringLiteral("a.m\u0131d")));
    }

    // The order is the user locale's collation, not the code-point order of the names.
    void sortsByTheLocalesCollation()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        touch({ "cherry.mid", "Banana.mid", "apple.mid" });
        open(QStringLiteral("."));
        QCOMPARE(
            fileViewCaptions(*m_form), QStringList({ "apple.mid", "Banana.mid", "cherry.mid" }));
    }

    // In the C locale (LC_ALL=C) the file view sorts as the folder list does: without regard to
    // case, names equal but for case in code order (upper case first), not all upper-case names
    // before all lower-case ones.
    void sortsWithoutRegardToCaseInTheCLocale()
    {
        QLocale::setDefault(QLocale::c());
        const QStringList names { "b", "B", "a", "C", "_z", "Ab" };
        QStringList songs;
        for (const QString &name : names) {
            songs.append(name + QStringLiteral(".mid"));
            QVERIFY(QDir().mkpath(path(QStringLiteral("sub/") + name)));
        }
        touch(songs);
        open(QStringLiteral("."));
        QCOMPARE(fileViewCaptions(*m_form),
            QStringList({ "_z.mid", "a.mid", "Ab.mid", "B.mid", "b.mid", "C.mid" }));

        open(QStringLiteral("sub"));
        QStringList folders;
        for (int row = m_form->TdDirectory->count() - names.size();
             row < m_form->TdDirectory->count(); ++row)
            folders.append(m_form->TdDirectory->item(row)->text());
        QCOMPARE(folders, QStringList({ "_z", "a", "Ab", "B", "b", "C" }));
    }

    // A folder large enough to be sorted beside the listing comes out in the same order.
    void aLargeFolderIsSortedTheSameWay()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QStringList names;
        for (int i = 0; i < 2500; ++i)
            names.append(
                QStringLiteral("%1%2.mid").arg(i % 2 ? u'B' : u'a').arg((i * 7919) % 2500));
        touch(names);
        open(QStringLiteral("."));
        QStringList expected = names;
        QCollator collator;
        std::sort(expected.begin(), expected.end(),
            [&](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
        QCOMPARE(fileViewCaptions(*m_form), expected);
    }

    // A refill drops the selection, so Add does nothing until the user selects again.
    void aRefillLeavesNothingSelected()
    {
        touch({ "a.mid", "b.mid" });
        open(QStringLiteral("."));
        selectFileView(*m_form, { 0, 1 });
        m_form->TdDirectoryChange();
        QVERIFY(selectedFileViewRows(*m_form).isEmpty());
        click(m_form->AddOneButt);
        QCOMPARE(m_form->Lista->count(), 0);
    }

    // Selecting the first, third and fourth file and pressing Add appends three entries in that
    // order; the file view keeps its selection and the play list's selection is untouched.
    void addAppendsTheSelectionInViewOrder()
    {
        touch({ "a.mid", "b.mid", "c.mid", "d.mid" });
        open(QStringLiteral("."));
        m_form->Lista->addItem(QStringLiteral("x.mid"));
        m_form->PlayListPaths.append(QStringLiteral("/x.mid"));
        m_form->Lista->item(0)->setSelected(true);
        selectFileView(*m_form, { 3, 0, 2 });

        click(m_form->AddOneButt);
        QCOMPARE(listaTexts(*m_form), QStringList({ "x.mid", "a.mid", "c.mid", "d.mid" }));
        QCOMPARE(m_form->PlayListPaths.toStringList(),
            QStringList({ "/x.mid", path("a.mid"), path("c.mid"), path("d.mid") }));
        QCOMPARE(selectedFileViewRows(*m_form), QList<int>({ 0, 2, 3 }));
        QVERIFY(m_form->Lista->item(0)->isSelected());
        QCOMPARE(m_form->Lista->selectedItems().size(), 1);
    }

    // The same file added twice stands twice.
    void addingTwiceGivesTwoEqualEntries()
    {
        touch({ "SONG.MID" });
        open(QStringLiteral("."));
        selectFileView(*m_form, { 0 });
        click(m_form->AddOneButt);
        click(m_form->AddOneButt);
        QCOMPARE(listaTexts(*m_form), QStringList({ "SONG.MID", "SONG.MID" }));
        QCOMPARE(m_form->PlayListPaths.toStringList(),
            QStringList({ path("SONG.MID"), path("SONG.MID") }));
    }

    // In the root folder the full name has a single "/" before the file's name.
    void theRootFolderGivesNoDoubledSeparator()
    {
        QVERIFY(m_form->TdDirectory->setDirectory(QStringLiteral("/")));
        m_form->TdfileV->setCaptions({ QStringLiteral("SONG.MID") }, QIcon());
        selectFileView(*m_form, { 0 });
        click(m_form->AddOneButt);
        QCOMPARE(m_form->PlayListPaths.toStringList(), QStringList({ "/SONG.MID" }));
    }

    // Add all takes every file in view order, selected or not; an empty view adds nothing, and
    // neither does Add with nothing selected.
    void addAllTakesEveryFile()
    {
        touch({ "b.wav", "a.mid" });
        open(QStringLiteral("."));
        click(m_form->AddOneButt);
        QCOMPARE(m_form->Lista->count(), 0);
        click(m_form->AddAllButt);
        QCOMPARE(listaTexts(*m_form), QStringList({ "a.mid", "b.wav" }));
        QCOMPARE(
            m_form->PlayListPaths.toStringList(), QStringList({ path("a.mid"), path("b.wav") }));

        QVERIFY(QDir().mkpath(path("empty")));
        open(QStringLiteral("empty"));
        click(m_form->AddAllButt);
        QCOMPARE(m_form->Lista->count(), 2);
    }

    // Removing the first and the third of three entries leaves the former second, unselected;
    // Remove with nothing selected changes nothing.
    void removeTakesOutTheSelectedEntries()
    {
        touch({ "a.mid", "b.mid", "c.mid" });
        open(QStringLiteral("."));
        click(m_form->AddAllButt);
        click(m_form->RemoveOneButt);
        QCOMPARE(m_form->Lista->count(), 3);

        selectLista(*m_form, { 0, 2 });
        click(m_form->RemoveOneButt);
        QCOMPARE(listaTexts(*m_form), QStringList({ "b.mid" }));
        QCOMPARE(m_form->PlayListPaths.toStringList(), QStringList({ path("b.mid") }));
        QVERIFY(m_form->Lista->selectedItems().isEmpty());
    }

    // A selection scattered over many runs is removed the same way: the rest keep their order.
    void removeHandlesAScatteredSelection()
    {
        QStringList names;
        for (int i = 0; i < 60; ++i)
            names.append(QStringLiteral("%1.mid").arg(i, 2, 10, QLatin1Char('0')));
        touch(names);
        open(QStringLiteral("."));
        click(m_form->AddAllButt);
        QList<int> odd;
        QStringList kept;
        for (int i = 0; i < 60; ++i)
            (i % 2 ? odd.append(i) : kept.append(names[i]));
        selectLista(*m_form, odd);
        click(m_form->RemoveOneButt);
        QCOMPARE(listaTexts(*m_form), kept);
        QCOMPARE(m_form->PlayListPaths.size(), kept.size());
        for (qsizetype i = 0; i < kept.size(); ++i)
            QCOMPARE(m_form->PlayListPaths.at(i), path(kept[i]));
        QVERIFY(m_form->Lista->selectedItems().isEmpty());
    }

    // Remove all empties both sequences.
    void removeAllEmptiesThePlayList()
    {
        touch({ "a.mid", "b.mid" });
        open(QStringLiteral("."));
        click(m_form->AddAllButt);
        click(m_form->RemoveAllButt);
        QCOMPARE(m_form->Lista->count(), 0);
        QVERIFY(m_form->PlayListPaths.isEmpty());
    }

    // The play list takes drags from the file view only; a drop anywhere on it appends the file
    // view's whole selection at the end.
    void aDropAppendsTheWholeSelectionAtTheEnd()
    {
        touch({ "a.mid", "b.mid", "c.mid" });
        open(QStringLiteral("."));
        click(m_form->AddAllButt);
        selectFileView(*m_form, { 0, 2 });

        bool accept = false;
        m_form->ListaDragOver(m_form->Lista, QPoint(5, 5), accept);
        QVERIFY(!accept);
        const QPoint middle = m_form->Lista->visualItemRect(m_form->Lista->item(1)).center();
        m_form->ListaDragOver(m_form->TdfileV, middle, accept);
        QVERIFY(accept);
        m_form->ListaDragDrop(m_form->TdfileV, middle);
        QCOMPARE(listaTexts(*m_form), QStringList({ "a.mid", "b.mid", "c.mid", "a.mid", "c.mid" }));
        QCOMPARE(m_form->PlayListPaths.at(m_form->PlayListPaths.size() - 1), path("c.mid"));
    }

    // A drag from the file view may be dropped back on it, which changes nothing.
    void aDropBackOnTheFileViewChangesNothing()
    {
        touch({ "a.mid", "b.mid" });
        open(QStringLiteral("."));
        selectFileView(*m_form, { 1 });
        bool accept = false;
        m_form->TdfileVDragOver(m_form->TdfileV, QPoint(3, 3), accept);
        QVERIFY(accept);
        m_form->TdfileVDragDrop(m_form->TdfileV, QPoint(3, 3));
        QCOMPARE(m_form->Lista->count(), 0);
        QVERIFY(m_form->PlayListPaths.isEmpty());
        QCOMPARE(fileViewCaptions(*m_form), QStringList({ "a.mid", "b.mid" }));
        QCOMPARE(selectedFileViewRows(*m_form), QList<int>({ 1 }));
    }

    // A drag starts from the file view once the pointer has moved 5 pixels with the left
    // button down after a press on an item; 4 pixels are not enough.
    void aDragStartsAfterFivePixels()
    {
        touch({ "a.mid", "b.mid" });
        open(QStringLiteral("."));
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QWidget *viewport = m_form->TdfileV->viewport();
        const QPoint start = m_form->TdfileV->rowRect(0).center();
        const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons,
                              Qt::KeyboardModifiers keys) {
            QMouseEvent event(type, at, viewport->mapToGlobal(at),
                type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, keys);
            QApplication::sendEvent(viewport, &event);
        };
        const auto drags = [&] { return m_form->TdfileV->findChildren<QDrag *>().size(); };

        send(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::NoModifier);
        send(QEvent::MouseMove, start + QPoint(4, 0), Qt::LeftButton, Qt::NoModifier);
        send(QEvent::MouseMove, start + QPoint(0, -4), Qt::LeftButton, Qt::NoModifier);
        QCOMPARE(drags(), 0);
        send(QEvent::MouseMove, start + QPoint(0, 5), Qt::LeftButton, Qt::NoModifier);
        QCOMPARE(drags(), 1);
        send(QEvent::MouseButtonRelease, start, Qt::NoButton, Qt::NoModifier);
        // What a drop does, and that Shift or Ctrl start none: BrowserDragTest, on a platform
        // that drops.
    }

    // Choosing a drive that cannot be read shows "Drive not ready" with Abort and Retry (Retry
    // the default); Retry tries again, Abort puts the drive box back on the folder list's drive
    // and leaves the folder list and the file view as they were.
    void anUnreadableDriveAsksAndAbortPutsTheBoxBack()
    {
        QVERIFY(QDir().mkpath(path("a")) && QDir().mkpath(path("b")));
        touch({ "a/one.mid", "b/two.mid" });
        auto drives = std::make_shared<TestDrives>();
        drives->list = { { path("a"), DriveKind::Fixed, QStringLiteral("a") },
            { path("b"), DriveKind::Removable, QStringLiteral("b") } };
        drives->refused->insert(path("b"));
        open(QStringLiteral("a"));
        m_form->TdDirectory->setDriveSource(drives);
        m_form->TdDrive->setDriveSource(drives);
        QCOMPARE(m_form->TdDrive->Drive(), path("a"));

        QList<ShownBox> shown;
        QStringList answers { QStringLiteral("&Retry"), QStringLiteral("&Abort") };
        connect(tunedeck::MessageBoxHub::instance(), &tunedeck::MessageBoxHub::aboutToShow,
            m_form.get(), [&](QMessageBox *box) {
                ShownBox seen { box->windowTitle(), box->text(), box->icon(), {}, {} };
                for (QAbstractButton *button : box->buttons())
                    seen.buttons.append(button->text());
                seen.buttons.append(
                    box->defaultButton() ? box->defaultButton()->text() : QString());
                shown.append(seen);
                const QString answer = answers.takeFirst();
                QMetaObject::invokeMethod(
                    box,
                    [box, answer] {
                        for (QAbstractButton *button : box->buttons()) {
                            if (button->text() == answer)
                                button->click();
                        }
                    },
                    Qt::QueuedConnection);
            });

        m_form->TdDrive->setDrive(path("b"));
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].text, QStringLiteral("Drive not ready"));
        QCOMPARE(shown[0].caption, QStringLiteral("Error"));
        QCOMPARE(shown[0].icon, QMessageBox::Critical);
        QCOMPARE(shown[0].buttons, QStringList({ "&Abort", "&Retry", "&Retry" }));
        QCOMPARE(m_form->TdDrive->Drive(), path("a"));
        QCOMPARE(m_form->TdDirectory->Directory(), path("a"));
        QCOMPARE(fileViewCaptions(*m_form), QStringList({ "one.mid" }));
        QCOMPARE(QDir::currentPath(), path("a"));
    }

    // Retry after the drive has become readable moves the folder list there, and the file view
    // lists the new folder.
    void retryMovesToTheDriveOnceItCanBeRead()
    {
        QVERIFY(QDir().mkpath(path("a")) && QDir().mkpath(path("b")));
        touch({ "a/one.mid", "b/two.mid" });
        auto drives = std::make_shared<TestDrives>();
        drives->list = { { path("a"), DriveKind::Fixed, QStringLiteral("a") },
            { path("b"), DriveKind::CdRom, QStringLiteral("b") } };
        drives->refused->insert(path("b"));
        open(QStringLiteral("a"));
        m_form->TdDirectory->setDriveSource(drives);
        m_form->TdDrive->setDriveSource(drives);

        int boxes = 0;
        connect(tunedeck::MessageBoxHub::instance(), &tunedeck::MessageBoxHub::aboutToShow,
            m_form.get(), [&](QMessageBox *box) {
                ++boxes;
                drives->refused->clear(); // The medium is in now.
                QMetaObject::invokeMethod(
                    box, [box] { box->defaultButton()->click(); }, Qt::QueuedConnection);
            });

        m_form->TdDrive->setDrive(path("b"));
        QCOMPARE(boxes, 1);
        QCOMPARE(m_form->TdDrive->Drive(), path("b"));
        QCOMPARE(m_form->TdDirectory->Directory(), path("b"));
        QCOMPARE(fileViewCaptions(*m_form), QStringList({ "two.mid" }));
    }

    // A drive that goes away while shown (a stick pulled out) leaves the drive box on the drive
    // of the current folder, and the folder list follows it there.
    void aDriveGoneTakesTheFolderListAlong()
    {
        QVERIFY(QDir().mkpath(path("stick/songs")));
        touch({ "top.mid", "stick/songs/one.mid" });
        auto drives = std::make_shared<TestDrives>();
        drives->list = { { m_dir->path(), DriveKind::Fixed, QStringLiteral("top") },
            { path("stick"), DriveKind::Removable, QStringLiteral("stick") } };
        m_form->TdDirectory->setDriveSource(drives);
        m_form->TdDrive->setDriveSource(drives);
        m_form->TdDrive->setDrive(path("stick"));
        open(QStringLiteral("stick/songs"));

        drives->list.removeLast();
        m_form->TdDrive->refreshDrives();
        QCOMPARE(m_form->TdDrive->Drive(), m_dir->path());
        QCOMPARE(m_form->TdDirectory->Drive(), m_dir->path());
    }

    // Whatever the user does, in any order, Lista and PlayListPaths keep the same length, and
    // each entry shows the last part of its full name, as a model of the play list predicts.
    void thePlayListsSequencesStayInStep()
    {
        QStringList names;
        for (int i = 0; i < 12; ++i)
            names.append(QStringLiteral("f%1.mid").arg(i));
        touch(names);
        QVERIFY(QDir().mkpath(path("sub")));
        touch({ "sub/s1.wav", "sub/s2.rmi" });
        open(QStringLiteral("."));

        QStringList model; // Full names, as the play list should hold them.
        auto *random = QRandomGenerator::global();
        const quint32 seed = random->generate();
        QRandomGenerator generator(seed);
        for (int step = 0; step < 400; ++step) {
            const int action = generator.bounded(8);
            const int files = m_form->TdfileV->count();
            const QString folder = m_form->TdDirectory->Directory();
            switch (action) {
            case 0: { // select some files, then Add or drop
                QList<int> rows;
                for (int row = 0; row < files; ++row) {
                    if (generator.bounded(3) == 0)
                        rows.append(row);
                }
                selectFileView(*m_form, rows);
                if (generator.bounded(2)) {
                    click(m_form->AddOneButt);
                } else {
                    m_form->ListaDragDrop(m_form->TdfileV, QPoint(1, 1));
                }
                for (const int row : rows)
                    model.append(folder + u'/' + m_form->TdfileV->caption(row));
                break;
            }
            case 1:
                click(m_form->AddAllButt);
                for (int row = 0; row < files; ++row)
                    model.append(folder + u'/' + m_form->TdfileV->caption(row));
                break;
            case 2:
            case 3: {
                QList<int> rows;
                for (int row = 0; row < m_form->Lista->count(); ++row) {
                    if (generator.bounded(2))
                        rows.append(row);
                }
                selectLista(*m_form, rows);
                click(m_form->RemoveOneButt);
                for (qsizetype i = rows.size() - 1; i >= 0; --i)
                    model.removeAt(rows[i]);
                break;
            }
            case 4:
                if (generator.bounded(4) == 0) {
                    click(m_form->RemoveAllButt);
                    model.clear();
                }
                break;
            case 5:
                open(generator.bounded(2) ? QStringLiteral("sub") : QStringLiteral("."));
                break;
            case 6:
                m_form->TdfileVDragDrop(m_form->TdfileV, QPoint(1, 1));
                break;
            case 7:
                click(m_form->RemoveOneButt); // Nothing selected after a Remove: no change.
                break;
            }
            QVERIFY2(m_form->Lista->count() == m_form->PlayListPaths.size(),
                qPrintable(QStringLiteral("seed %1, step %2").arg(seed).arg(step)));
            QVERIFY2(m_form->PlayListPaths.toStringList() == model,
                qPrintable(QStringLiteral("seed %1, step %2").arg(seed).arg(step)));
            for (int i = 0; i < m_form->Lista->count(); ++i)
                QCOMPARE(
                    m_form->Lista->item(i)->text(), lastComponent(m_form->PlayListPaths.at(i)));
        }
    }
};

TUNEDECK_PLAYER_TEST_MAIN(BrowserTest)
#include "BrowserTest.moc"

// The drive box and the folder list, driven through their public interface over folders made in
// a temporary directory and a drive source that can refuse, or never answer, for chosen folders.
#include "FilCtl95.h"
#include "FilCtl95Pictures.h"

#include <QAccessible>
#include <QDir>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <semaphore>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

using namespace filctl95;

namespace {

// Shared by a FakeDrives and the reads it hands out, which may outlive it on worker threads.
struct ReadControl {
    std::mutex mutex;
    QSet<QString> refused; // Read as "Permission denied".
    QSet<QString> stuck; // Reads block until `release` is given.
    std::counting_semaphore<16> release { 0 };
    std::atomic<int> reads { 0 };
    std::atomic<int> finished { 0 };
};

class FakeDrives final : public DriveSource {
public:
    QList<DriveInfo> list;
    std::shared_ptr<ReadControl> control = std::make_shared<ReadControl>();

    void add(const QString &root, DriveKind kind)
    {
        list.append({ root, kind, root + QStringLiteral(" [x]") });
    }
    QList<DriveInfo> drives() const override { return list; }
    FolderReadFunction folderReader() const override
    {
        return [control = control](const QString &folder) {
            ++control->reads;
            bool refuse = false;
            bool stick = false;
            {
                const std::lock_guard lock(control->mutex);
                refuse = control->refused.contains(folder);
                stick = control->stuck.contains(folder);
            }
            if (stick)
                control->release.acquire();
            FolderListing listing;
            if (refuse) {
                listing.outcome = FolderListing::Outcome::Unreadable;
                listing.error = QStringLiteral("Permission denied");
            } else {
                listing = readFolder(folder);
            }
            ++control->finished;
            return listing;
        };
    }
};

QStringList rowTexts(const QListWidget &list)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts.append(list.item(i)->text());
    return texts;
}

QImage rowPicture(const QListWidget &list, int row)
{
    return list.item(row)->data(Qt::DecorationRole).value<QPixmap>().toImage();
}

QImage expected(Picture picture)
{
    return picturePixmap(picture).toImage();
}

// Where the list draws row `row`'s picture: its distance in pixels from the row's left edge,
// found by matching the picture's opaque pixels against the painted list; -1 when nowhere.
int paintedPictureLeft(QListWidget &list, int row)
{
    const QImage painted = list.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage picture = rowPicture(list, row).convertToFormat(QImage::Format_ARGB32);
    const QRect rect = list.visualItemRect(list.item(row));
    const int top = rect.top() + (rect.height() - picture.height()) / 2;
    for (int left = 0; left + picture.width() <= rect.width(); ++left) {
        bool matches = true;
        for (int y = 0; y < picture.height() && matches; ++y) {
            for (int x = 0; x < picture.width() && matches; ++x) {
                const QRgb want = picture.pixel(x, y);
                if (qAlpha(want) == 255)
                    matches = (painted.pixel(rect.left() + left + x, top + y) & 0xffffff)
                        == (want & 0xffffff);
            }
        }
        if (matches)
            return left;
    }
    return -1;
}

} // namespace

class FilCtl95Test : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDirectory;
    std::shared_ptr<FakeDrives> m_drives;

    QString path(const QString &relative) const { return m_dir->path() + u'/' + relative; }
    void makeFolders(const QStringList &relatives) const
    {
        for (const QString &relative : relatives)
            QVERIFY(QDir().mkpath(path(relative)));
    }

private Q_SLOTS:
    void init()
    {
        m_startDirectory = QDir::currentPath();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_drives = std::make_shared<FakeDrives>();
        makeFolders({ "a", "b" });
        m_drives->add(path("a"), DriveKind::Fixed);
        m_drives->add(path("b"), DriveKind::Network);
    }

    void cleanup()
    {
        // Let go of reads a test left stuck, so no worker outlives its test for long.
        m_drives->control->release.release(8);
        QVERIFY(QDir::setCurrent(m_startDirectory));
        m_dir.reset();
    }

    // Path rows from the drive's root down to the current folder, then the sub-folders in
    // case-insensitive order without dot-folders; each row role has its own picture.
    void folderListShowsThePathThenTheSortedSubFolders()
    {
        makeFolders({ "a/music/Zeta", "a/music/alpha", "a/music/Beta", "a/music/.hidden" });
        QFile file(path("a/music/song.mid"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        TDirectory95ListBox list;
        list.setDriveSource(m_drives);
        QVERIFY(list.setDirectory(path("a/music")));

        QCOMPARE(rowTexts(list), QStringList({ path("a"), "music", "alpha", "Beta", "Zeta" }));
        QCOMPARE(list.currentRow(), 1);
        QCOMPARE(list.Directory(), path("a/music"));
        QCOMPARE(list.Drive(), path("a"));
        QCOMPARE(QDir::currentPath(), path("a/music"));
        QCOMPARE(rowPicture(list, 0), expected(Picture::OpenFolder));
        QCOMPARE(rowPicture(list, 1), expected(Picture::CurrentFolder));
        QCOMPARE(rowPicture(list, 2), expected(Picture::ClosedFolder));
    }

    // A drive mounted inside the current one (a stick under /media) is entered as a folder:
    // the folders above it stay on the list, so the way back up is there, and the drive box's
    // drive stays the list's.
    void aDriveMountedInsideIsEnteredAsAFolder()
    {
        makeFolders({ "a/usb/x" });
        m_drives->add(path("a/usb"), DriveKind::Removable);
        TDirectory95ListBox list;
        list.setDriveSource(m_drives);
        QVERIFY(list.setDirectory(path("a")));
        QVERIFY(list.setDirectory(path("a/usb")));
        QCOMPARE(rowTexts(list), QStringList({ path("a"), "usb", "x" }));
        QCOMPARE(list.Drive(), path("a"));
    }

    // At a drive's root, the single path row is the current folder.
    void atTheRootTheOnlyPathRowIsTheCurrentFolder()
    {
        makeFolders({ "a/x" });
        TDirectory95ListBox list;
        list.setDriveSource(m_drives);
        QVERIFY(list.setDirectory(path("a")));
        QCOMPARE(rowTexts(list), QStringList({ path("a"), "x" }));
        QCOMPARE(list.currentRow(), 0);
        QCOMPARE(rowPicture(list, 0), expected(Picture::CurrentFolder));
    }

    // Path row i (the root is row 0) draws its picture 4·i + 2 pixels in; the sub-folders stand
    // 4·d + 6 pixels in, d counting the separators of the current folder's full name as the
    // drive's root has one: 10 pixels at the root as one folder below it.
    void rowsAreIndentedByTheirLevel_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QList<int>>("indents");
        // What a screen reader says of each row's picture and place.
        QTest::addColumn<QStringList>("said");
        const QString current = "Current folder, level %1", open = "Open folder, level %1",
                      closed = "Folder, level %1";
        QTest::newRow("root") << QString() << QList<int>({ 2, 10, 10 })
                              << QStringList({ current.arg(1), closed.arg(2), closed.arg(2) });
        QTest::newRow("one below")
            << "m" << QList<int>({ 2, 6, 10, 10 })
            << QStringList({ open.arg(1), current.arg(2), closed.arg(3), closed.arg(3) });
        QTest::newRow("two below") << "m/n" << QList<int>({ 2, 6, 10, 14, 14 })
                                   << QStringList({ open.arg(1), open.arg(2), current.arg(3),
                                          closed.arg(4), closed.arg(4) });
    }

    void rowsAreIndentedByTheirLevel()
    {
        QFETCH(QString, folder);
        QFETCH(QList<int>, indents);
        const QString inside
            = folder.isEmpty() ? QStringLiteral("a") : QStringLiteral("a/") + folder;
        makeFolders({ inside + QStringLiteral("/x"), inside + QStringLiteral("/y") });
        TDirectory95ListBox list;
        list.setDriveSource(m_drives);
        list.resize(169, 120);
        QVERIFY(list.setDirectory(path(inside)));
        QCOMPARE(list.count(), indents.size());
        QFETCH(QStringList, said);
        QList<int> painted;
        QStringList described;
        for (int row = 0; row < list.count(); ++row) {
            painted.append(paintedPictureLeft(list, row));
            described.append(QAccessible::queryAccessibleInterface(&list)->child(row)->text(
                QAccessible::Description));
        }
        QCOMPARE(painted, indents);
        QCOMPARE(described, said);
    }

    // Enter on a sub-folder opens it; a double click on a path row goes back up. Each move
    // changes the process's current directory and signals once.
    void openingRowsMovesAndSignals()
    {
        makeFolders({ "a/music/jazz" });
        TDirectory95ListBox list;
        list.setDriveSource(m_drives);
        QVERIFY(list.setDirectory(path("a/music")));
        QSignalSpy changed(&list, &TDirectory95ListBox::directoryChanged);

        list.setCurrentRow(2);
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(list.Directory(), path("a/music/jazz"));
        QCOMPARE(QDir::currentPath(), path("a/music/jazz"));

        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QRect rootRow = list.visualItemRect(list.item(0));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rootRow.center());
        QCOMPARE(changed.count(), 1); // A single click only selects.
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, rootRow.center());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(list.Directory(), path("a"));
        QCOMPARE(QDir::currentPath(), path("a"));
    }

    // Each drive keeps its own current folder: switching back returns to it.
    void eachDriveRemembersItsFolder()
    {
        makeFolders({ "a/x", "b/y" });
        TDirectory95ListBox list;
        list.setDriveSource(m_drives);
        QVERIFY(list.setDirectory(path("a/x")));
        QVERIFY(list.setDrive(path("b")));
        QCOMPARE(list.Directory(), path("b"));
        QVERIFY(list.setDirectory(path("b/y")));
        QVERIFY(list.setDrive(path("a")));
        QCOMPARE(list.Directory(), path("a/x"));
        QVERIFY(list.setDrive(path("b")));
        QCOMPARE(list.Directory(), path("b/y"));
        QCOMPARE(QDir::currentPath(), path("b/y"));
    }

    // Setting the drive the list is on neither moves nor signals.
    void settingTheSameDriveDoesNothing()
    {
        makeFolders({ "a/x" });
        TDirectory95ListBox list;
        list.setDriveSource(m_drives);
        QVERIFY(list.setDirectory(path("a/x")));
        QSignalSpy changed(&list, &TDirectory95ListBox::directoryChanged);
        QVERIFY(list.setDrive(path("a")));
        QCOMPARE(list.Directory(), path("a/x"));
        QCOMPARE(changed.count(), 0);
    }

    // A folder the drive remembers that was deleted since: the drive's root stands in.
    void aVanishedFolderFallsBackToTheRoot()
    {
        // Gone, or no longer readable: the drive itself still is.
        makeFolders({ "b/gone", "b/locked" });
        for (const QString lost : { "b/gone", "b/locked" }) {
            TDirectory95ListBox list;
            list.setDriveSource(m_drives);
            QVERIFY(list.setDirectory(path(lost)));
            QVERIFY(list.setDrive(path("a")));
            if (lost.endsWith(u"gone"))
                QVERIFY(QDir(path(lost)).removeRecursively());
            else
                m_drives->control->refused.insert(path(lost));
            QVERIFY2(list.setDrive(path("b")), qPrintable(lost));
            QCOMPARE(list.Directory(), path("b"));
        }
    }

    // A drive that refuses to be read, or that is no longer mounted, fails the move: the list,
    // the process's current directory and the signal stay untouched.
    void anUnreadableOrUnmountedDriveFailsAndStays()
    {
        TDirectory95ListBox list;
        list.setDriveSource(m_drives);
        QVERIFY(list.setDirectory(path("a")));
        const QStringList rowsBefore = rowTexts(list);
        QSignalSpy changed(&list, &TDirectory95ListBox::directoryChanged);

        m_drives->control->refused.insert(path("b"));
        QVERIFY(!list.setDrive(path("b")));
        QVERIFY(!list.lastError().isEmpty());

        QVERIFY(!list.setDrive(path("c")));

        QCOMPARE(list.Directory(), path("a"));
        QCOMPARE(rowTexts(list), rowsBefore);
        QCOMPARE(QDir::currentPath(), path("a"));
        QCOMPARE(changed.count(), 0);
    }

    // A drive that never answers (a dead network mount) fails after the wait instead of freezing
    // the window: queued work goes on being handled during the wait. A retry while the read is
    // still stuck joins it rather than starting another; once the drive answers, a retry works.
    void aDriveThatNeverAnswersTimesOut()
    {
        TDirectory95ListBox list;
        list.setDriveSource(m_drives);
        QVERIFY(list.setDirectory(path("a")));
        list.setReadTimeout(std::chrono::milliseconds(100));
        {
            const std::lock_guard lock(m_drives->control->mutex);
            m_drives->control->stuck.insert(path("b"));
        }
        const int readsBefore = m_drives->control->reads;

        bool handledMeanwhile = false;
        QMetaObject::invokeMethod(
            this, [&] { handledMeanwhile = true; }, Qt::QueuedConnection);
        QVERIFY(!list.setDrive(path("b")));
        QVERIFY(handledMeanwhile);
        QCOMPARE(list.Directory(), path("a"));

        QVERIFY(!list.setDrive(path("b")));
        QCOMPARE(m_drives->control->reads.load(), readsBefore + 1);

        {
            const std::lock_guard lock(m_drives->control->mutex);
            m_drives->control->stuck.clear();
        }
        const int finishedBefore = m_drives->control->finished;
        m_drives->control->release.release();
        QTRY_COMPARE(m_drives->control->finished.load(), finishedBefore + 1);
        list.setReadTimeout(std::chrono::milliseconds(10000));
        QVERIFY(list.setDrive(path("b")));
        QCOMPARE(list.Directory(), path("b"));
    }

    // Work waited for on a worker: quick work as a plain call (nothing queued is handled
    // meanwhile); work that does not end in time is left to its thread, the queue handled
    // during the wait.
    void runWithinWaitsQuietlyThenWithTheEventLoop()
    {
        bool handledMeanwhile = false;
        QMetaObject::invokeMethod(
            this, [&] { handledMeanwhile = true; }, Qt::QueuedConnection);
        bool ran = false;
        QVERIFY(runWithin([&ran] { ran = true; }, std::chrono::milliseconds(10000)));
        QVERIFY(ran);
        QVERIFY(!handledMeanwhile);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
            runWithin([] { throw std::runtime_error("thrown"); }, std::chrono::seconds(10)));

        const auto answer = std::make_shared<std::binary_semaphore>(0);
        QVERIFY(!runWithin([answer] { answer->acquire(); }, std::chrono::milliseconds(200)));
        QVERIFY(handledMeanwhile);
        answer->release();
    }

    // A sub-folder that can be entered but not listed (leave to pass through it, not to read
    // it) is entered with no sub-folders shown; one that cannot be entered either is reported,
    // and the list stays.
    void aSubFolderThatCannotBeListedIsEnteredEmpty()
    {
        makeFolders({ "a/listless/inner", "a/locked" });
        TDirectory95ListBox list;
        list.setDriveSource(m_drives);
        QVERIFY(list.setDirectory(path("a")));
        m_drives->control->refused.insert(path("a/listless"));
        m_drives->control->refused.insert(path("a/locked"));
        QVERIFY(QDir(path("a/locked")).removeRecursively()); // so it cannot be entered
        QSignalSpy failed(&list, &TDirectory95ListBox::folderNotOpened);
        QSignalSpy changed(&list, &TDirectory95ListBox::directoryChanged);

        list.setCurrentRow(int(rowTexts(list).indexOf(QStringLiteral("locked"))));
        QTest::keyClick(&list, Qt::Key_Enter);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), path("a/locked"));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(list.Directory(), path("a"));

        list.setCurrentRow(int(rowTexts(list).indexOf(QStringLiteral("listless"))));
        QTest::keyClick(&list, Qt::Key_Enter);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(list.Directory(), path("a/listless"));
        QVERIFY(!rowTexts(list).contains(QStringLiteral("inner")));
    }

    // With the system's reader: a folder without read permission cannot be entered.
    void theSystemReaderRefusesAnUnreadableFolder()
    {
        if (::geteuid() == 0)
            QSKIP("root reads every folder");
        makeFolders({ "a/locked" });
        QVERIFY(::chmod(QFile::encodeName(path("a/locked")).constData(), 0) == 0);
        const FolderListing listing = readFolder(path("a/locked"));
        QVERIFY(::chmod(QFile::encodeName(path("a/locked")).constData(), 0755) == 0);
        QCOMPARE(listing.outcome, FolderListing::Outcome::Unreadable);
    }

    // The system's reader lists sub-folders only, and follows links to folders.
    void theSystemReaderListsSubFoldersOnly()
    {
        makeFolders({ "a/one", "a/.dot" });
        QFile file(path("a/file.mid"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(path("a/one"), path("a/link")));
        FolderListing listing = readFolder(path("a"));
        QVERIFY(listing.ok());
        listing.subFolders.sort();
        QCOMPARE(listing.subFolders, QStringList({ "link", "one" }));
        QCOMPARE(readFolder(path("a/none")).outcome, FolderListing::Outcome::Missing);

        // A link into a mount that stopped answering (its lookup never ends) is listed without
        // waiting for it, and the rest as ever: a link to a file is no folder.
        QVERIFY(QFile::link(path("a/file.mid"), path("a/stuck")));
        QVERIFY(QFile::link(path("a/file.mid"), path("a/tofile")));
        QVERIFY(QFile::link(path("a/one"), path("a/zlink")));
        auto answer = std::make_shared<std::binary_semaphore>(0);
        const auto probe = [answer](int folder, const char *name) {
            if (std::strcmp(name, "stuck") == 0) {
                answer->acquire();
                answer->release();
            }
            struct stat info { };
            return ::fstatat(folder, name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        };
        auto reading = std::async(std::launch::async, [&] { return readFolder(path("a"), probe); });
        const bool ended = reading.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
        answer->release();
        QVERIFY(ended);
        listing = reading.get();
        listing.subFolders.sort();
        QCOMPARE(listing.subFolders, QStringList({ "link", "one", "stuck", "zlink" }));
    }

    // The drive box lists each drive with its text and its kind's picture, and starts on the
    // drive of the process's current directory.
    void driveBoxListsDrivesAndStartsOnTheCurrentOne()
    {
        makeFolders({ "b/deep" });
        QVERIFY(QDir::setCurrent(path("b/deep")));
        TDrive95ComboBox box;
        box.setDriveSource(m_drives);
        QCOMPARE(box.count(), 2);
        QCOMPARE(box.itemText(0), path("a") + QStringLiteral(" [x]"));
        QCOMPARE(box.Drive(), path("b"));
        QCOMPARE(box.itemIcon(1).pixmap(kPictureSize, kPictureSize).toImage(),
            expected(Picture::Network));
        QCOMPARE(
            box.itemIcon(0).pixmap(kPictureSize, kPictureSize).toImage(), expected(Picture::Fixed));
    }

    // Another drive, set by the program or picked from the keyboard, signals once; the drive
    // already shown, or a root that is no drive, signals nothing.
    void driveBoxSignalsOnlyForAnotherDrive()
    {
        QVERIFY(QDir::setCurrent(path("a")));
        TDrive95ComboBox box;
        box.setDriveSource(m_drives);
        QSignalSpy changed(&box, &TDrive95ComboBox::driveChanged);
        box.setDrive(path("a"));
        box.setDrive(path("nowhere"));
        QCOMPARE(changed.count(), 0);
        box.setDrive(path("b"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(box.Drive(), path("b"));
        QTest::keyClick(&box, Qt::Key_Up);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(box.Drive(), path("a"));
    }

    // A drive mounted after the box was made shows up when the list drops down, without moving
    // the box off the drive it shows.
    void driveBoxPicksUpNewDrivesWhenItDropsDown()
    {
        QVERIFY(QDir::setCurrent(path("a")));
        TDrive95ComboBox box;
        box.setDriveSource(m_drives);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QSignalSpy changed(&box, &TDrive95ComboBox::driveChanged);
        makeFolders({ "0stick" });
        m_drives->list.prepend({ path("0stick"), DriveKind::Removable, path("0stick") });
        box.showPopup();
        box.hidePopup();
        QCOMPARE(box.count(), 3);
        QCOMPARE(box.itemText(0), path("0stick"));
        QCOMPARE(box.Drive(), path("a"));
        QCOMPARE(changed.count(), 0);
    }

    // The nine pictures: 16x16, at most 16 colours, all different, each drawing something, with
    // the bottom-left pixel's colour transparent.
    void picturesAreSmallDistinctAndTransparentAtTheCorner()
    {
        QList<QImage> seen;
        for (int i = 0; i <= int(Picture::AudioFile); ++i) {
            const auto picture = Picture(i);
            const QImage image = pictureImage(picture);
            QCOMPARE(image.size(), QSize(kPictureSize, kPictureSize));
            QVERIFY(image.colorCount() <= 16);
            QVERIFY2(!seen.contains(image), qPrintable(QString::number(i)));
            seen.append(image);

            const QImage shown
                = picturePixmap(picture).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(qAlpha(shown.pixel(0, kPictureSize - 1)), 0);
            int opaque = 0;
            for (int y = 0; y < kPictureSize; ++y) {
                for (int x = 0; x < kPictureSize; ++x)
                    opaque += qAlpha(shown.pixel(x, y)) == 255 ? 1 : 0;
            }
            QVERIFY(opaque > 40);
        }
    }
};

QTEST_MAIN(FilCtl95Test)
#include "FilCtl95Test.moc"

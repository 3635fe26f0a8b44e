// The play list plays as a queue through the real device on its null output: order, editing
// while playing, the transport commands, the position bar and the failure boxes.
#include "PlayerTestMain.h"
#include "SongFixtures.h"

#include "Player.h"
#include "TMediaPlayer.h"
#include "Trackbar95.h"
#include "TunedeckFormUnit.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// Generous limit for a short song to end on a loaded machine; never a measure of speed.
constexpr int kSongEndTimeoutMs = 20000;

} // namespace

class PlayQueueTest : public QObject {
    Q_OBJECT

private:
    TTunedeckform &form() { return *m_form; }
    QString state() { return m_form->StatusBar->panelText(1); }
    QString playing() { return m_form->LettoreMidi->FileName(); }

    // What Add does: the display name into Lista, the full name into PlayListPaths.
    void append(const QString &path)
    {
        m_form->Lista->addItem(QFileInfo(path).fileName());
        m_form->PlayListPaths.append(path);
    }
    QString tone(const char *name, std::uint32_t lengthMs)
    {
        const QString path = writeTone(m_dir->path(), QLatin1String(name), lengthMs);
        if (path.isEmpty())
            qFatal("cannot write a test tone");
        return path;
    }
    QString song(const char *name, std::uint32_t lengthMs)
    {
        const QString path = writeSong(m_dir->path(), QLatin1String(name), lengthMs);
        if (path.isEmpty())
            qFatal("cannot write a test song");
        return path;
    }
    void clickPlay()
    {
        m_form->show();
        if (m_form->StopButt->isHidden())
            QTest::mouseClick(m_form->PlayButt, Qt::LeftButton);
        else
            m_form->PlayButt->click(); // Covered by Stop: what its accelerator Alt+P does.
    }
    // Waits for the next display update to have run.
    bool waitForTick()
    {
        QSignalSpy tick(m_form->TimerPlay, &QTimer::timeout);
        return tick.wait(5000);
    }
    void expectStopped()
    {
        QCOMPARE(state(), QStringLiteral("Stopped"));
        QVERIFY(m_form->StopButt->isHidden());
        QVERIFY(m_form->ResButt->isHidden());
        QVERIFY(m_form->FNPlay->text().isEmpty());
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Tunedeck "));
        QVERIFY(!m_form->LettoreMidi->IsOpen());
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_form = std::make_unique<TTunedeckform>();
        m_boxes = std::make_unique<BoxRecorder>();
    }
    void cleanup()
    {
        m_form.reset();
        m_boxes.reset();
        m_dir.reset();
    }

    // Three files play in list order; each leaves the list as it starts; afterwards the state
    // is Stopped with an empty label, the bare title and an empty list.
    void threeFilesPlayInOrderAndThenStop()
    {
        const QString a = song("a.mid", 400), b = song("b.mid", 400), c = song("c.mid", 400);
        for (const QString &path : { a, b, c })
            append(path);
        clickPlay();
        QCOMPARE(playing(), a);
        QCOMPARE(state(), QStringLiteral("Playing"));
        QVERIFY(!form().StopButt->isHidden());
        QCOMPARE(form().Lista->count(), 2);
        QCOMPARE(form().PlayListPaths.toStringList(), (QStringList { b, c }));
        QCOMPARE(form().FNPlay->text(), QStringLiteral("a.mid"));
        QCOMPARE(form().windowTitle(), QStringLiteral("Tunedeck [a.mid]"));
        QTRY_COMPARE_WITH_TIMEOUT(playing(), b, kSongEndTimeoutMs);
        QCOMPARE(form().Lista->count(), 1);
        QCOMPARE(form().FNPlay->text(), QStringLiteral("b.mid"));
        QTRY_COMPARE_WITH_TIMEOUT(playing(), c, kSongEndTimeoutMs);
        QCOMPARE(form().Lista->count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(playing(), QString(), kSongEndTimeoutMs);
        expectStopped();
        QVERIFY(form().PlayListPaths.isEmpty());
        QVERIFY(m_boxes->boxes().isEmpty());
    }

    // Files added while one plays follow it in the order added; removing entries while a file
    // plays leaves that file alone.
    void editingWhilePlayingChangesOnlyWhatFollows()
    {
        const QString a = song("a.mid", 1200), b = song("b.mid", 300), c = song("c.mid", 300),
                      d = song("d.mid", 300);
        append(a);
        clickPlay();
        QCOMPARE(playing(), a);
        append(b);
        append(c);
        append(d);
        // Remove the middle entry (c), as Remove does.
        delete form().Lista->takeItem(1);
        form().PlayListPaths.remove(1, 1);
        QCOMPARE(playing(), a);
        QVERIFY(form().LettoreMidi->IsOpen());
        QCOMPARE(state(), QStringLiteral("Playing"));
        QTRY_COMPARE_WITH_TIMEOUT(playing(), b, kSongEndTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(playing(), d, kSongEndTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(playing(), QString(), kSongEndTimeoutMs);
        expectStopped();
    }

    // Remove all while a file plays lets it finish; then playback stops.
    void removeAllLetsTheFileFinishThenStops()
    {
        const QString a = song("a.mid", 600);
        append(a);
        append(song("b.mid", 300));
        clickPlay();
        form().Lista->clear();
        form().PlayListPaths.clear();
        QCOMPARE(playing(), a);
        QSignalSpy notices(form().LettoreMidi, &TMediaPlayer::OnNotify);
        QVERIFY(notices.wait(kSongEndTimeoutMs));
        QCOMPARE(form().LettoreMidi->NotifyResult(), TMediaPlayer::TMPNotifyValues::nvSuccessful);
        expectStopped();
    }

    // Pause holds the place, Resume goes on from it, and the end still starts the next entry.
    void pauseAndResumeContinueFromThePausedPlace()
    {
        const QString a = song("a.mid", 1500), b = song("b.mid", 300);
        append(a);
        append(b);
        clickPlay();
        QTRY_VERIFY_WITH_TIMEOUT(form().LettoreMidi->GetPosition() >= 300, kSongEndTimeoutMs);
        QTest::mouseClick(form().PauseButt, Qt::LeftButton);
        QCOMPARE(state(), QStringLiteral("Paused"));
        QVERIFY(!form().ResButt->isHidden());
        const quint32 pausedAt = form().LettoreMidi->GetPosition();
        QVERIFY(waitForTick());
        QVERIFY(waitForTick());
        QVERIFY(form().LettoreMidi->GetPosition() - pausedAt < 100);
        QTest::mouseClick(form().ResButt, Qt::LeftButton);
        QCOMPARE(state(), QStringLiteral("Playing"));
        QVERIFY(form().ResButt->isHidden());
        QVERIFY(form().LettoreMidi->GetPosition() >= pausedAt);
        QVERIFY(form().LettoreMidi->GetPosition() < pausedAt + 1000);
        QTRY_COMPARE_WITH_TIMEOUT(playing(), b, kSongEndTimeoutMs);
        QCOMPARE(state(), QStringLiteral("Playing"));
    }

    // Skip while paused starts the next entry and reads "Playing"; Skip on the last file stops.
    void skipStartsTheNextEntryOrStops()
    {
        const QString a = song("a.mid", 5000), b = song("b.mid", 5000);
        append(a);
        append(b);
        clickPlay();
        QTest::mouseClick(form().PauseButt, Qt::LeftButton);
        QCOMPARE(state(), QStringLiteral("Paused"));
        QTest::mouseClick(form().SkipButt, Qt::LeftButton);
        QCOMPARE(playing(), b);
        QCOMPARE(state(), QStringLiteral("Playing"));
        QVERIFY(form().ResButt->isHidden());
        QVERIFY(!form().StopButt->isHidden());
        QTest::mouseClick(form().SkipButt, Qt::LeftButton);
        expectStopped();
        QCOMPARE(playing(), QString());
        QVERIFY(m_boxes->boxes().isEmpty());
    }

    // Skip, Pause and Resume do nothing while stopped.
    void transportDoesNothingWhileStopped()
    {
        append(song("a.mid", 300));
        form().SkipButtClick();
        form().PauseButtClick();
        expectStopped();
        QCOMPARE(form().Lista->count(), 1);
    }

    // A move of the bar within 3 s of the playing second does not seek; a move of 10 s seeks
    // there at once, and playing resumes from there after the last of several moves.
    void barMovesSeekOnlyBeyondTheTolerance()
    {
        append(song("long.mid", 30000));
        clickPlay();
        QTRY_VERIFY_WITH_TIMEOUT(form().PosBar->isEnabled(), kSongEndTimeoutMs);
        QCOMPARE(form().PosBar->maximum(), 30);
        QSignalSpy restarts(form().ResTimer, &QTimer::timeout);

        form().PosBar->setValue(2); // What a drag to the 2-second mark does.
        QVERIFY(!form().ResTimer->isActive());
        QVERIFY(form().LettoreMidi->GetPosition() < 2000);

        // The next display update puts the bar back on the playing second.
        QVERIFY(waitForTick());
        QCOMPARE(form().PosBar->value(), int(form().LettoreMidi->GetPosition() / 1000));

        form().PosBar->setFocus();
        QTest::keyClick(form().PosBar, Qt::Key_PageUp); // One page step, 2 s on.
        QVERIFY(!form().ResTimer->isActive());
        QTest::keyClick(form().PosBar, Qt::Key_Left); // One arrow step back.
        QVERIFY(!form().ResTimer->isActive());
        QVERIFY(form().LettoreMidi->GetPosition() < 3000);

        form().PosBar->setValue(10);
        QVERIFY(form().ResTimer->isActive());
        QCOMPARE(form().LettoreMidi->GetPosition(), 10000u);
        QCOMPARE(form().StatusBar->panelText(5), QStringLiteral("00:10"));
        form().PosBar->setValue(20); // Later in the same drag: the restart waits again.
        QCOMPARE(form().LettoreMidi->GetPosition(), 20000u);
        QVERIFY(restarts.wait(5000));
        QTRY_VERIFY_WITH_TIMEOUT(form().LettoreMidi->GetPosition() > 20000, kSongEndTimeoutMs);
        QCOMPARE(restarts.count(), 1);
        QCOMPARE(playing(), QFileInfo(m_dir->filePath(QStringLiteral("long.mid"))).filePath());
        QCOMPARE(state(), QStringLiteral("Playing"));
    }

    // A bar move while paused only moves the place; Resume plays from there.
    void barMoveWhilePausedOnlyMovesThePlace()
    {
        append(song("long.mid", 30000));
        clickPlay();
        QTRY_VERIFY_WITH_TIMEOUT(form().PosBar->isEnabled(), kSongEndTimeoutMs);
        QTest::mouseClick(form().PauseButt, Qt::LeftButton);
        form().PosBar->setValue(12);
        QSignalSpy restarts(form().ResTimer, &QTimer::timeout);
        QVERIFY(restarts.wait(5000));
        QCOMPARE(form().LettoreMidi->GetPosition(), 12000u);
        QCOMPARE(state(), QStringLiteral("Paused"));
        QTest::mouseClick(form().ResButt, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(form().LettoreMidi->GetPosition() > 12000, kSongEndTimeoutMs);
    }

    // A file shorter than a second shows 00:00 and leaves the bar disabled at 0 of 10.
    void fileShorterThanASecondKeepsTheBarDisabled()
    {
        append(song("short.mid", 900));
        append(song("long.mid", 3000)); // Keeps playing going after the short one.
        clickPlay();
        QVERIFY(waitForTick());
        QCOMPARE(form().StatusBar->panelText(3), QStringLiteral("00:00"));
        QVERIFY(!form().PosBar->isEnabled());
        QCOMPARE(form().PosBar->value(), 0);
        QCOMPARE(form().PosBar->maximum(), 10);
    }

    // A length of 125 700 ms reads 02:05 and gives the bar a maximum of 125; a song over a
    // megabyte is read after it was opened, and its length shows once it is read.
    void lengthShowsAsMinutesAndSecondsAndSetsTheRange_data()
    {
        QTest::addColumn<int>("paddingBytes");
        QTest::newRow("song") << 0;
        QTest::newRow("song read after opening") << (2 << 20);
    }
    void lengthShowsAsMinutesAndSecondsAndSetsTheRange()
    {
        QFETCH(int, paddingBytes);
        const QString path
            = writeSong(m_dir->path(), QStringLiteral("long.mid"), 125700, paddingBytes);
        QVERIFY(!path.isEmpty());
        append(path);
        clickPlay();
        QTRY_COMPARE_WITH_TIMEOUT(
            form().StatusBar->panelText(3), QStringLiteral("02:05"), kSongEndTimeoutMs);
        QCOMPARE(form().CurrentLength, qint64(125700));
        QCOMPARE(form().PosBar->maximum(), 125);
        QVERIFY(form().PosBar->isEnabled());
    }

    // After Stop the panels read 00:00 by the next display update, and the bar is disabled at
    // 0 with range 0 to 10.
    void stopResetsTheDisplayWithinOneTick()
    {
        append(song("long.mid", 30000));
        clickPlay();
        QTRY_VERIFY_WITH_TIMEOUT(form().PosBar->isEnabled(), kSongEndTimeoutMs);
        form().PosBar->setValue(10); // Seek, so the bar and panels show something.
        QTest::mouseClick(form().StopButt, Qt::LeftButton);
        expectStopped();
        QVERIFY(!form().ResTimer->isActive()); // The pending restart is cancelled.
        QVERIFY(waitForTick());
        QCOMPARE(form().StatusBar->panelText(3), QStringLiteral("00:00"));
        QCOMPARE(form().StatusBar->panelText(5), QStringLiteral("00:00"));
        QVERIFY(!form().PosBar->isEnabled());
        QCOMPARE(form().PosBar->value(), 0);
        QCOMPARE(form().PosBar->maximum(), 10);
        QVERIFY(m_boxes->boxes().isEmpty());
    }

    // When the bar's range shrinks to a following, shorter file, the pulled-down bar does not
    // seek: the new file starts once and plays from its start.
    void followingShorterFileStartsOnce()
    {
        append(song("long.mid", 30000));
        const QString shorter = song("shorter.mid", 8000);
        append(shorter);
        clickPlay();
        QTRY_VERIFY_WITH_TIMEOUT(form().PosBar->isEnabled(), kSongEndTimeoutMs);
        form().PosBar->setValue(25);
        QSignalSpy restarts(form().ResTimer, &QTimer::timeout);
        QVERIFY(restarts.wait(5000));
        QTRY_COMPARE_WITH_TIMEOUT(form().PosBar->value(), 25, kSongEndTimeoutMs);
        QTest::mouseClick(form().SkipButt, Qt::LeftButton);
        QCOMPARE(playing(), shorter);
        QVERIFY(waitForTick());
        QVERIFY(waitForTick());
        QCOMPARE(form().PosBar->maximum(), 8);
        QVERIFY(!form().ResTimer->isActive());
        QCOMPARE(restarts.count(), 1);
        QVERIFY(form().LettoreMidi->GetPosition() < 4000);
    }

    // Play with an empty list warns and changes nothing, also while a file plays.
    void playWithAnEmptyListWarns()
    {
        clickPlay();
        QCOMPARE(
            m_boxes->texts(), QStringList { QStringLiteral("No midi to play in the playlist") });
        QCOMPARE(m_boxes->boxes().first().caption, QStringLiteral("Warning"));
        expectStopped();
    }

    // An entry that cannot be played shows its box (and only that box), leaves the list and
    // leaves the Stopped look with an empty display.
    void unplayableEntryShowsItsBoxAndLeavesTheList_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("caption");
        QTest::newRow("missing file")
            << QStringLiteral("@missing.mid") << QStringLiteral("Unable to play the file: ")
            << QStringLiteral("Information");
        QTest::newRow("folder with a song's name")
            << QStringLiteral("@folder.mid") << QStringLiteral("Unable to play the file: ")
            << QStringLiteral("Information");
        QTest::newRow("empty file") << QStringLiteral("@empty.mid")
                                    << QStringLiteral("Unknow Format") << QStringLiteral("Error");
        QTest::newRow("not a song") << QStringLiteral("@not-a-song.mid")
                                    << QStringLiteral("Unknow Format") << QStringLiteral("Error");
        QTest::newRow("header only") << QStringLiteral("@header-only.mid")
                                     << QStringLiteral("Unknow Format") << QStringLiteral("Error");
        // Over a megabyte, so read after it has been opened: the fault shows once playing.
        QTest::newRow("large, faulty at its end")
            << QStringLiteral("@large-bad.mid") << QStringLiteral("Unknow Format")
            << QStringLiteral("Error");
    }
    void unplayableEntryShowsItsBoxAndLeavesTheList()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);
        QFETCH(QString, caption);
        if (path.startsWith(u'@'))
            path = m_dir->filePath(path.mid(1));
        if (path.endsWith(QStringLiteral("folder.mid")))
            QVERIFY(QDir().mkpath(path));
        // Files that are not songs: nothing at all, text, a header that promises three tracks
        // and holds none, and 400 000 notes followed by a status no file may hold.
        QByteArray largeTrack = QByteArray::fromHex("00903c40")
            + QByteArray::fromHex("003c00003c40").repeated(200'000)
            + QByteArray::fromHex("00f40000");
        const QByteArray largeLength = QByteArray::fromHex(
            QByteArray::number(qulonglong(largeTrack.size()), 16).rightJustified(8, '0'));
        const QHash<QString, QByteArray> contents {
            { QStringLiteral("empty.mid"), QByteArray() },
            { QStringLiteral("not-a-song.mid"), QByteArray("not a midi file") },
            { QStringLiteral("header-only.mid"),
                QByteArray::fromHex("4d54686400000006000100030180") },
            { QStringLiteral("large-bad.mid"),
                QByteArray::fromHex("4d546864000000060000000101e04d54726b") + largeLength
                    + largeTrack },
        };
        if (const auto it = contents.find(QFileInfo(path).fileName()); it != contents.end()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(*it), it->size());
        }
        const QString next = song("next.mid", 300);
        append(path);
        append(next);
        clickPlay();
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes->texts(),
            QStringList { message + QStringLiteral("\r\n") + path }, kSongEndTimeoutMs);
        QCOMPARE(m_boxes->boxes().first().caption, caption);
        expectStopped();
        QCOMPARE(form().PlayListPaths.toStringList(), QStringList { next });
        QCOMPARE(form().Lista->count(), 1);

        // The display shows nothing, and the bar cannot be moved into a file that is not open.
        QVERIFY(waitForTick());
        QCOMPARE(form().StatusBar->panelText(3), QStringLiteral("00:00"));
        QVERIFY(!form().PosBar->isEnabled());
        form().PosBar->setValue(8);
        QVERIFY(!form().ResTimer->isActive());
        QCOMPARE(m_boxes->boxes().size(), 1);
    }

    // Without a soundfont a song is passed over: the box says so once, naming what was looked
    // for and what to install, wave files in the list still play, and later songs add no box
    // until what the search finds changes.
    void missingSoundfontIsReportedOnceAndWavesStillPlay()
    {
        const QByteArray old = qgetenv("TUNEDECK_SOUNDFONT");
        const auto restore = qScopeGuard([&] { qputenv("TUNEDECK_SOUNDFONT", old); });
        qputenv("TUNEDECK_SOUNDFONT", "/nonexistent/gm.sf2");
        m_form.reset(); // a window whose device never had a soundfont
        m_form = std::make_unique<TTunedeckform>();
        const QString wave = tone("tone.wav", 300);
        const QString secondWave = tone("tone2.wav", 300);
        append(song("a.mid", 300));
        append(wave);
        append(song("b.mid", 300));
        append(secondWave);
        clickPlay();
        const QString lookedFor = QStringLiteral(
            "Looked for $TUNEDECK_SOUNDFONT = /nonexistent/gm.sf2, which is not a readable file.");
        const QString expected
            = QStringLiteral(
                  "No General MIDI soundfont was found, so MIDI songs cannot be played.\r\n")
            + lookedFor
            + QStringLiteral("\r\nInstall one (on Debian: fluid-soundfont-gm or "
                             "timgm6mb-soundfont), or name a soundfont file in "
                             "TUNEDECK_SOUNDFONT.");
        QCOMPARE(m_boxes->texts(), QStringList { expected });
        QCOMPARE(m_boxes->boxes().first().caption, QStringLiteral("Error"));
        QCOMPARE(m_boxes->boxes().first().icon, QMessageBox::Critical);
        QCOMPARE(playing(), wave);
        QCOMPARE(state(), QStringLiteral("Playing"));
        QTRY_COMPARE_WITH_TIMEOUT(playing(), secondWave, kSongEndTimeoutMs);
        QVERIFY(form().PlayListPaths.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(form().StopButt->isHidden(), kSongEndTimeoutMs);
        expectStopped();

        append(song("c.mid", 300));
        clickPlay();
        expectStopped();
        QCOMPARE(m_boxes->boxes().size(), 1);

        qputenv("TUNEDECK_SOUNDFONT", "/nonexistent/other.sf2");
        append(song("d.mid", 300));
        clickPlay();
        QCOMPARE(m_boxes->boxes().size(), 2);
        QVERIFY(m_boxes->texts().last().contains(u"/nonexistent/other.sf2"));
        expectStopped();
    }

    // A soundfont that is there but cannot be loaded is said once too, naming it, and the queue
    // goes on past the songs.
    void unloadableSoundfontIsReportedOnceAndWavesStillPlay()
    {
        const QByteArray old = qgetenv("TUNEDECK_SOUNDFONT");
        const auto restore = qScopeGuard([&] { qputenv("TUNEDECK_SOUNDFONT", old); });
        const QString bad = m_dir->filePath(QStringLiteral("bad.sf2"));
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096);
        file.close();
        qputenv("TUNEDECK_SOUNDFONT", QFile::encodeName(bad));
        m_form.reset();
        m_form = std::make_unique<TTunedeckform>();
        const QString wave = tone("tone.wav", 300);
        append(song("a.mid", 300));
        append(song("b.mid", 300));
        append(wave);
        clickPlay();
        QTRY_COMPARE_WITH_TIMEOUT(playing(), wave, kSongEndTimeoutMs);
        QCOMPARE(m_boxes->boxes().size(), 1);
        QVERIFY(m_boxes->texts().first().contains(bad));
        QTRY_VERIFY_WITH_TIMEOUT(form().StopButt->isHidden(), kSongEndTimeoutMs);
        QVERIFY(form().PlayListPaths.isEmpty());
    }

    // With no sound device (and the null output not asked for) a file does not pretend to
    // play: its box names the file and the audio library's reason, the status says there is
    // no sound, and the rest of the list stays.
    void missingSoundDeviceSaysWhy()
    {
        const QByteArray oldDriver = qgetenv("SDL_AUDIODRIVER");
        const QByteArray oldOutput = qgetenv("TUNEDECK_OUTPUT");
        const auto restore = qScopeGuard([&] {
            qputenv("SDL_AUDIODRIVER", oldDriver);
            qputenv("TUNEDECK_OUTPUT", oldOutput);
        });
        qputenv("SDL_AUDIODRIVER", "no-such-driver");
        qunsetenv("TUNEDECK_OUTPUT");
        m_form.reset();
        m_form = std::make_unique<TTunedeckform>();
        const QString wave = tone("tone.wav", 300);
        const QString next = song("next.mid", 300);
        append(wave);
        append(next);
        clickPlay();
        QCOMPARE(m_boxes->boxes().size(), 1);
        const QString prefix = QStringLiteral("Unable to play the file: \r\n") + wave
            + QStringLiteral("\r\nNo audio output can be opened: SDL audio");
        QVERIFY2(m_boxes->texts().first().startsWith(prefix), qPrintable(m_boxes->texts().first()));
        QVERIFY(m_boxes->texts().first().contains(u"no-such-driver"));
        QCOMPARE(m_boxes->boxes().first().icon, QMessageBox::Critical);
        QCOMPARE(state(), QStringLiteral("No sound"));
        QVERIFY(form().StopButt->isHidden());
        QVERIFY(!form().LettoreMidi->IsOpen());
        QCOMPARE(form().PlayListPaths.toStringList(), QStringList { next });
    }

    // An unplayable entry that follows a playing file stops playback when its turn comes,
    // and the entries behind it stay in the list.
    void unplayableEntryInTheQueueStopsPlayback()
    {
        append(song("a.mid", 300));
        append(m_dir->filePath(QStringLiteral("gone.mid")));
        const QString c = song("c.mid", 300);
        append(c);
        clickPlay();
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes->boxes().size(), 1, kSongEndTimeoutMs);
        expectStopped();
        QCOMPARE(form().PlayListPaths.toStringList(), QStringList { c });
    }

    // While a box is open the display goes on updating, and a song that ends beneath it starts
    // the next entry.
    void songEndingBeneathABoxStartsTheNextEntry()
    {
        append(song("a.mid", 600));
        const QString b = song("b.mid", 5000);
        clickPlay();
        bool startedBeneath = false;
        m_boxes->whileNextBoxIsOpen([&] {
            append(b);
            QTRY_COMPARE_WITH_TIMEOUT(playing(), b, kSongEndTimeoutMs);
            QVERIFY(waitForTick());
            startedBeneath = true;
        });
        // Play with the list empty (a is playing): the warning box opens.
        clickPlay();
        QVERIFY(startedBeneath);
        QCOMPARE(
            m_boxes->texts(), QStringList { QStringLiteral("No midi to play in the playlist") });
        QCOMPARE(playing(), b);
        QCOMPARE(state(), QStringLiteral("Playing"));
    }

    // Play while a file plays starts the next entry at once.
    void playWhilePlayingStartsTheNextEntry()
    {
        append(song("a.mid", 5000));
        const QString b = song("b.mid", 5000);
        append(b);
        clickPlay();
        clickPlay();
        QCOMPARE(playing(), b);
        QCOMPARE(state(), QStringLiteral("Playing"));
        QCOMPARE(form().Lista->count(), 0);
    }

    // The entry that plays next is read ahead (its file opened before it plays): one queued
    // while stopped, and one queued while another plays with nothing after it.
    void nextEntryIsReadAheadStoppedOrPlaying()
    {
        const auto openedAfter = [](const QString &path, const std::function<void()> &change) {
            const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (watch < 0 || inotify_add_watch(watch, QFile::encodeName(path), IN_OPEN) < 0)
                qFatal("cannot watch a test song");
            const auto closeWatch = qScopeGuard([watch] { ::close(watch); });
            change();
            pollfd event { watch, POLLIN, 0 };
            return QTest::qWaitFor([&] { return ::poll(&event, 1, 0) == 1; }, 5000);
        };
        const QString a = song("a.mid", 5000), b = song("b.mid", 300);
        form().player()->prepare();
        QVERIFY(openedAfter(a, [&] { append(a); }));
        clickPlay();
        QCOMPARE(playing(), a);
        QVERIFY(openedAfter(b, [&] { append(b); }));
        QCOMPARE(playing(), a);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TTunedeckform> m_form;
    std::unique_ptr<BoxRecorder> m_boxes;
};

TUNEDECK_PLAYER_TEST_MAIN(PlayQueueTest)
#include "PlayQueueTest.moc"

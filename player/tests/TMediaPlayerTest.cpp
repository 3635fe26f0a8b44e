// The media device LettoreMidi as the sequencer uses it: operations and their preconditions,
// result codes and texts, and the rules by which completion notices arrive. The engine runs
// on its clock-driven null output (TUNEDECK_OUTPUT=null), so files play in real time.

#include "TMediaPlayer.h"

#include "FileNames.h"
#include "SongFixtures.h"

#include <testsupport/MidiWriter.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <thread>
#include <unistd.h>

using NotifyValue = TMediaPlayer::TMPNotifyValues;

namespace {

constexpr int kNoticeTimeoutMs = 20000;

// Every notice a player raises, with the NotifyResult it carried.
class NoticeLog {
public:
    explicit NoticeLog(TMediaPlayer &player)
    {
        QObject::connect(&player, &TMediaPlayer::OnNotify, &m_context,
            [this, &player] { m_results.append(player.NotifyResult()); });
    }
    const QList<NotifyValue> &results() const { return m_results; }
    qsizetype count() const { return m_results.size(); }

private:
    QObject m_context;
    QList<NotifyValue> m_results;
};

// The message of the EMCIDeviceError that `operation` raises, or a null string when it raises
// none.
QString raisedMessage(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const EMCIDeviceError &error) {
        return error.message();
    }
    return {};
}

} // namespace

class TMediaPlayerTest : public QObject {
    Q_OBJECT

private:
    QString song(const QString &name, std::uint32_t lengthMs)
    {
        testsupport::TrackWriter track;
        track.program(0, 0, 0)
            .noteOn(0, 0, 60, 100)
            .noteOff(lengthMs * 960 / 1000, 0, 60)
            .endOfTrack();
        const QString path = m_dir.filePath(name);
        const bool written = testsupport::writeFile(QFile::encodeName(path).toStdString(),
            testsupport::SmfWriter(0, 480).track(track).bytes());
        return written ? path : QString();
    }

    // A 16-bit mono 22050 Hz tone.
    QString tone(const QString &name, std::uint32_t lengthMs)
    {
        return writeTone(m_dir.path(), name, lengthMs);
    }

    QString textFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

    static void open(TMediaPlayer &player, const QString &path)
    {
        player.setFileName(path);
        player.Open();
        player.SetMillisecondFormat();
    }

    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // A new player is closed, named LettoreMidi, with the settings the main window relies on.
    void startsClosedWithTheFixedSettings()
    {
        TMediaPlayer player;
        QCOMPARE(player.objectName(), QStringLiteral("LettoreMidi"));
        QVERIFY(!player.IsOpen());
        QCOMPARE(player.DeviceId(), quint16(0));
        QVERIFY(player.AutoRewind());
        QVERIFY(!player.AutoOpen());
        QVERIFY(!player.Shareable());
        QVERIFY(!player.AutoEnable());
        QCOMPARE(player.DeviceType(), TMediaPlayer::TMPDeviceTypes::dtAutoSelect);
    }

    // Play, Stop, Seek and GetLength need an open file; GetPosition gives 0, while Pause and
    // Close quietly do nothing. None of them raises a notice.
    void operationsWithoutAFile()
    {
        TMediaPlayer player;
        NoticeLog notices(player);
        const QString noDevice = QStringLiteral("No MCI device open");
        QCOMPARE(raisedMessage([&] { player.Play(); }), noDevice);
        QCOMPARE(raisedMessage([&] { player.Play(TMediaPlayer::Notice::None); }), noDevice);
        QCOMPARE(raisedMessage([&] { player.Stop(); }), noDevice);
        QCOMPARE(raisedMessage([&] { player.Seek(1000); }), noDevice);
        QCOMPARE(raisedMessage([&] { player.GetLength(); }), noDevice);
        QCOMPARE(raisedMessage([&] { QCOMPARE(player.GetPosition(), 0u); }), QString());
        QCOMPARE(raisedMessage([&] { player.Pause(); }), QString());
        QCOMPARE(raisedMessage([&] { player.Close(); }), QString());
        QVERIFY(!player.IsOpen());
        QCoreApplication::sendPostedEvents();
        QCOMPARE(notices.count(), 0);
    }

    void openFailureHasItsOwnCode_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<quint32>("code");
        QDir(m_dir.path()).mkdir(QStringLiteral("folder.mid"));
        QTest::newRow("missing") << m_dir.filePath(QStringLiteral("missing.mid"))
                                 << quint32(TMediaPlayer::rcFileNotFound);
        QTest::newRow("folder") << m_dir.filePath(QStringLiteral("folder.mid"))
                                << quint32(TMediaPlayer::rcUnreadable);
        QTest::newRow("not music") << textFile(QStringLiteral("notes.txt"), "shopping list")
                                   << quint32(TMediaPlayer::rcUnknownFormat);
        QTest::newRow("not midi") << textFile(QStringLiteral("words.mid"), "shopping list")
                                  << quint32(TMediaPlayer::rcNotMidi);
        QTest::newRow("cut short")
            << textFile(QStringLiteral("cut.mid"), QByteArray("MThd\0\0\0\6\0\1\0\1\1\xE0", 14))
            << quint32(TMediaPlayer::rcTruncated);
        QTest::newRow("not wave") << textFile(
            QStringLiteral("bad.wav"), QByteArray("RIFF\x20\0\0\0WAVEjunkjunkjunkjunkjunk", 32))
                                  << quint32(TMediaPlayer::rcNotWave);
    }

    // A file that cannot be opened raises EMCIDeviceError with the text of its own code, and
    // leaves the player closed, even when another file was open.
    void openFailureHasItsOwnCode()
    {
        QFETCH(QString, path);
        QFETCH(quint32, code);
        TMediaPlayer player;
        open(player, song(QStringLiteral("good.mid"), 1000));
        QVERIFY(player.IsOpen());
        player.setFileName(path);
        QCOMPARE(raisedMessage([&] { player.Open(); }), player.ErrorText(code));
        QCOMPARE(player.LastError(), code);
        QVERIFY(!player.IsOpen());
        QCOMPARE(player.DeviceId(), quint16(0));
        QCOMPARE(player.FileName(), path); // the player never changes it
    }

    void openFailureOfThePlatformSaysWhy_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("path");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no soundfont, song")
            << QByteArray("TUNEDECK_SOUNDFONT") << QByteArray("/nonexistent/gm.sf2")
            << song(QStringLiteral("song.mid"), 500) << quint32(TMediaPlayer::rcNoSoundfont)
            << QStringLiteral("No General MIDI soundfont found: looked for $TUNEDECK_SOUNDFONT "
                              "= /nonexistent/gm.sf2, which is not a readable file");
        QTest::newRow("no soundfont, wave")
            << QByteArray("TUNEDECK_SOUNDFONT") << QByteArray("/nonexistent/gm.sf2")
            << tone(QStringLiteral("tone.wav"), 500) << quint32(TMediaPlayer::rcSuccess)
            << QString();
        QTest::newRow("no sound device")
            << QByteArray("SDL_AUDIODRIVER") << QByteArray("no-such-driver")
            << tone(QStringLiteral("tone.wav"), 500) << quint32(TMediaPlayer::rcNoOutput)
            << QStringLiteral("No audio output can be opened: SDL audio: ");
    }

    // A platform that cannot play (no soundfont for songs, no sound device) fails Open with
    // its own code and keeps the engine's reason; wave files need no soundfont. Nothing falls
    // back to playing into nothing.
    void openFailureOfThePlatformSaysWhy()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        QFETCH(QString, path);
        QFETCH(quint32, code);
        QFETCH(QString, reason);
        const QByteArray oldValue = qgetenv(variable.constData());
        const QByteArray oldOutput = qgetenv("TUNEDECK_OUTPUT");
        qputenv(variable.constData(), value);
        // The sound card is asked for, except by the wave that only needs some output.
        if (variable == "SDL_AUDIODRIVER")
            qunsetenv("TUNEDECK_OUTPUT");
        const auto restore = qScopeGuard([&] {
            qputenv(variable.constData(), oldValue);
            qputenv("TUNEDECK_OUTPUT", oldOutput);
        });
        TMediaPlayer player;
        player.setFileName(path);
        if (code == TMediaPlayer::rcSuccess) {
            QCOMPARE(raisedMessage([&] { player.Open(); }), QString());
            QVERIFY(player.IsOpen());
            QCOMPARE(player.ErrorReason(), QString());
            return;
        }
        QCOMPARE(raisedMessage([&] { player.Open(); }), player.ErrorText(code));
        QCOMPARE(player.LastError(), code);
        QVERIFY(!player.IsOpen());
        QVERIFY2(player.ErrorReason().startsWith(reason), qPrintable(player.ErrorReason()));
        if (code == TMediaPlayer::rcNoOutput)
            QVERIFY2(
                player.ErrorReason().contains(u"no-such-driver"), qPrintable(player.ErrorReason()));
    }

    // Every code has a text of its own; a code without one reads "Unknown error code".
    void errorTexts()
    {
        TMediaPlayer player;
        std::set<QString> texts;
        for (quint32 code = TMediaPlayer::rcSuccess; code <= TMediaPlayer::rcOutputLost; ++code) {
            const QString text = player.ErrorText(code);
            QVERIFY2(
                text != QStringLiteral("Unknown error code"), qPrintable(QString::number(code)));
            texts.insert(text);
        }
        QCOMPARE(texts.size(), std::size_t(TMediaPlayer::rcOutputLost) + 1);
        QCOMPARE(
            player.ErrorText(TMediaPlayer::rcOutputLost + 1), QStringLiteral("Unknown error code"));
        QCOMPARE(player.ErrorText(0xFFFFFFFFu), QStringLiteral("Unknown error code"));
    }

    void playsToTheEnd_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<quint32>("lengthMs");
        QTest::newRow("midi") << song(QStringLiteral("song.mid"), 500) << 500u;
        QTest::newRow("wave") << tone(QStringLiteral("tone.wav"), 400) << 400u;
    }

    // A song and a wave file both open, report their length in ms, play and report their end
    // as Successful, standing at their length.
    void playsToTheEnd()
    {
        QFETCH(QString, path);
        QFETCH(quint32, lengthMs);
        TMediaPlayer player;
        NoticeLog notices(player);
        open(player, path);
        QCOMPARE(player.LastError(), quint32(TMediaPlayer::rcSuccess));
        QVERIFY(player.DeviceId() != 0);
        QCOMPARE(player.GetLength(), lengthMs);
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 1, kNoticeTimeoutMs);
        QCOMPARE(notices.results().first(), NotifyValue::nvSuccessful);
        QCOMPARE(player.GetPosition(), lengthMs);
    }

    // Opening a second file while one plays closes the first: its notice ends as Aborted, and
    // no Successful of it follows (the second file's own end comes next).
    void openingAnotherFileAbortsTheNotice()
    {
        TMediaPlayer player;
        NoticeLog notices(player);
        open(player, song(QStringLiteral("first.mid"), 300));
        const quint16 firstId = player.DeviceId();
        player.Play();
        open(player, tone(QStringLiteral("second.wav"), 600));
        QVERIFY(player.DeviceId() != firstId);
        QCOMPARE(player.GetPosition(), 0u);
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 2, kNoticeTimeoutMs);
        QCOMPARE(notices.results(), (QList { NotifyValue::nvAborted, NotifyValue::nvSuccessful }));
    }

    // Play of a file that stands at its end starts again from 0.
    void playAtTheEndStartsAgain()
    {
        TMediaPlayer player;
        NoticeLog notices(player);
        open(player, tone(QStringLiteral("tone.wav"), 300));
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 1, kNoticeTimeoutMs);
        QCOMPARE(player.GetPosition(), player.GetLength());
        player.Play();
        QVERIFY(player.GetPosition() < player.GetLength());
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 2, kNoticeTimeoutMs);
        QCOMPARE(notices.results().last(), NotifyValue::nvSuccessful);
    }

    // After Seek to 30 000 the position reads 30 000, and it stays there until Play: the
    // device does not play on.
    void seekStopsAtTheTarget()
    {
        TMediaPlayer player;
        NoticeLog notices(player);
        open(player, song(QStringLiteral("long.mid"), 40000));
        player.Play();
        player.Seek(30000);
        QCOMPARE(player.LastError(), quint32(TMediaPlayer::rcSuccess));
        QCOMPARE(player.GetPosition(), 30000u);

        // Let real time pass, measured by another player playing a short file to its end.
        TMediaPlayer clock;
        NoticeLog ticks(clock);
        open(clock, tone(QStringLiteral("clock.wav"), 300));
        clock.Play();
        QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 1, kNoticeTimeoutMs);
        QCOMPARE(player.GetPosition(), 30000u);
        QCOMPARE(notices.results(), QList { NotifyValue::nvAborted });

        player.Play(TMediaPlayer::Notice::None);
        QTRY_VERIFY_WITH_TIMEOUT(player.GetPosition() > 30000u, kNoticeTimeoutMs);
    }

    // A seek past the end is refused through LastError; the file plays on and its notice stays.
    void seekPastTheEndIsRefused()
    {
        TMediaPlayer player;
        NoticeLog notices(player);
        open(player, tone(QStringLiteral("tone.wav"), 300));
        player.Play();
        player.Seek(5000);
        QCOMPARE(player.LastError(), quint32(TMediaPlayer::rcOutOfRange));
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 1, kNoticeTimeoutMs);
        QCOMPARE(notices.results(), QList { NotifyValue::nvSuccessful });
    }

    // Pause, then Play without a notice, then the end: the notice of the first Play reports
    // Successful, once.
    void pauseAndResumeKeepThePendingNotice_data()
    {
        QTest::addColumn<bool>("large");
        QTest::newRow("a song") << false;
        // Eight megabytes, read on a worker: paused and resumed before its length is known.
        QTest::newRow("a large file, not read yet") << true;
    }

    void pauseAndResumeKeepThePendingNotice()
    {
        QFETCH(bool, large);
        TMediaPlayer player;
        NoticeLog notices(player);
        const QString path = song(QStringLiteral("song.mid"), 500);
        if (large) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            const QByteArray chunk = QByteArray("Xpad") + QByteArray::fromHex("00800000");
            QVERIFY(file.write(chunk + QByteArray(0x800000, '\0')) == chunk.size() + 0x800000);
        }
        open(player, path);
        player.Play();
        player.Pause();
        const quint32 pausedAt = player.GetPosition();
        player.Play(TMediaPlayer::Notice::None);
        QVERIFY(player.GetPosition() >= pausedAt);
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 1, kNoticeTimeoutMs);
        QCOMPARE(notices.results(), QList { NotifyValue::nvSuccessful });

        // A second, later end shows that no other notice was on its way.
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 2, kNoticeTimeoutMs);
        QCOMPARE(
            notices.results(), (QList { NotifyValue::nvSuccessful, NotifyValue::nvSuccessful }));
    }

    void endingOperationsAbortTheNotice_data()
    {
        QTest::addColumn<int>("operation");
        QTest::newRow("Stop") << 0;
        QTest::newRow("Seek") << 1;
        QTest::newRow("Close") << 2;
        QTest::newRow("Open") << 3;
    }

    // Stop, Seek, Close and Open end a pending notice as Aborted, never Successful; the
    // notice arrives after the operation has returned.
    void endingOperationsAbortTheNotice()
    {
        QFETCH(int, operation);
        TMediaPlayer player;
        NoticeLog notices(player);
        const QString path = tone(QStringLiteral("tone.wav"), 400);
        open(player, path);
        player.Play();
        bool inOperation = true;
        bool arrivedInside = false;
        connect(&player, &TMediaPlayer::OnNotify, this, [&] { arrivedInside |= inOperation; });
        switch (operation) {
        case 0:
            player.Stop();
            break;
        case 1:
            player.Seek(100);
            break;
        case 2:
            player.Close();
            break;
        case 3:
            open(player, path);
            break;
        }
        QCOMPARE(notices.count(), 0); // queued, not raised inside the operation
        inOperation = false;
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 1, kNoticeTimeoutMs);
        QVERIFY(!arrivedInside);
        QCOMPARE(notices.results(), QList { NotifyValue::nvAborted });

        // Had the aborted playing still reported its end, it would come before this one.
        if (player.IsOpen()) {
            player.Play();
            QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 2, kNoticeTimeoutMs);
            QCOMPARE(notices.results().last(), NotifyValue::nvSuccessful);
        }
    }

    // A Play asking for a notice while one is pending replaces it: the older reports Superseded.
    void newNoticeSupersedesTheOld()
    {
        TMediaPlayer player;
        NoticeLog notices(player);
        open(player, song(QStringLiteral("song.mid"), 500));
        player.Play();
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 2, kNoticeTimeoutMs);
        QCOMPARE(
            notices.results(), (QList { NotifyValue::nvSuperseded, NotifyValue::nvSuccessful }));
    }

    // Close twice in a row: the second does nothing.
    void closeTwice()
    {
        TMediaPlayer player;
        open(player, tone(QStringLiteral("tone.wav"), 300));
        player.Close();
        QVERIFY(!player.IsOpen());
        QCOMPARE(player.DeviceId(), quint16(0));
        player.Close();
        QVERIFY(!player.IsOpen());
        QCOMPARE(player.GetPosition(), 0u);
    }

    // A file whose name is not UTF-8 (as the browser keeps it: escaped bytes) opens by its own
    // bytes.
    void opensANameThatIsNotUtf8()
    {
        const QByteArray folder = QFile::encodeName(m_dir.path());
        const QByteArray name = folder + "/M\xfcller \xff.wav";
        const QString plain = tone(QStringLiteral("plain.wav"), 300);
        QVERIFY(!plain.isEmpty());
        QVERIFY(::rename(QFile::encodeName(plain).constData(), name.constData()) == 0);
        TMediaPlayer player;
        open(player, tunedeck::fileNameFromBytes(name));
        const bool opened = player.IsOpen();
        player.Close();
        ::unlink(name.constData()); // QTemporaryDir cannot remove a name it cannot decode.
        QVERIFY(opened);
    }

    // Real files of the shared media folder: a wave file and a song each open with the length
    // the manifest gives; the short wave file plays to its end.
    void realMedia()
    {
        const QString dir = qEnvironmentVariable("TUNEDECK_MEDIA_DIR");
        if (dir.isEmpty() || !QFile::exists(dir + QStringLiteral("/manifest.tsv")))
            QSKIP("TUNEDECK_MEDIA_DIR holds no manifest.tsv");
        TMediaPlayer player;
        NoticeLog notices(player);
        open(player, dir + QStringLiteral("/jazz-soft/test-c-major-scale.mid"));
        QCOMPARE(player.GetLength(), 4000u);
        open(player, dir + QStringLiteral("/derived/rmi/c-major-scale.rmi"));
        QCOMPARE(player.GetLength(), 4000u);
        open(player, dir + QStringLiteral("/debian/ktx/chain1.wav"));
        QCOMPARE(player.GetLength(), 286u);
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 1, kNoticeTimeoutMs);
        QCOMPARE(notices.results(), QList { NotifyValue::nvSuccessful });
        QCOMPARE(player.GetPosition(), 286u);
    }

    // Deleting the player while its Aborted notice is queued: nothing is raised afterwards.
    void deletingWithAQueuedNotice()
    {
        auto *player = new TMediaPlayer;
        int raised = 0;
        connect(player, &TMediaPlayer::OnNotify, this, [&raised] { ++raised; });
        open(*player, tone(QStringLiteral("tone.wav"), 300));
        player->Play();
        player->Stop();
        delete player;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(raised, 0);
    }

    // Deleting the player just as the engine reports the end (the UI thread busy meanwhile, so
    // the notice is on its way or queued): nothing is raised and nothing crashes.
    void deletingWhileTheEndIsReported()
    {
        const QString path = tone(QStringLiteral("short.wav"), 100);
        for (int round = 0; round < 3; ++round) {
            auto *player = new TMediaPlayer;
            int raised = 0;
            connect(player, &TMediaPlayer::OnNotify, this, [&raised] { ++raised; });
            open(*player, path);
            player->Play();
            // Without running the event loop, wait for the engine to reach the end.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (player->GetPosition() < player->GetLength()
                && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            QCOMPARE(player->GetPosition(), player->GetLength());
            delete player;
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            QCOMPARE(raised, 0);
        }
    }
};

QTEST_GUILESS_MAIN(TMediaPlayerTest)
#include "TMediaPlayerTest.moc"

// The window against a real sound server (a private PulseAudio with a null sink): when the
// server dies mid-song, playing stops and the window says why once; a Play while it is down
// names the reason; once a server is back, the next Play reaches it without a restart.
// Skips when no PulseAudio server can be started here.

#include "PlayerTestMain.h"
#include "SongFixtures.h"

#include "TMediaPlayer.h"
#include "TunedeckFormUnit.h"

#include <testsupport/PrivatePulse.h>

#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

using testsupport::sinkInputs;
using testsupport::waitUntil;

class SoundServerTest : public QObject {
    Q_OBJECT

private:
    void append(const QString &path)
    {
        m_form->Lista->addItem(QFileInfo(path).fileName());
        m_form->PlayListPaths.append(path);
    }
    QString state() { return m_form->StatusBar->panelText(1); }

    QTemporaryDir m_dir;
    std::optional<testsupport::PrivateServer> m_server;
    std::unique_ptr<TTunedeckform> m_form;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (const std::string missing = testsupport::missingSoundServerTools(); !missing.empty())
            QSKIP(missing.c_str());
        m_server.emplace(m_dir.filePath(QStringLiteral("server")).toStdString());
        std::string failure;
        if (!m_server->start(failure))
            QSKIP(("no private PulseAudio server: " + failure).c_str());
    }

    void lostServerStopsSaysWhyAndTheNextPlayFindsTheNewOne()
    {
        BoxRecorder boxes;
        m_form = std::make_unique<TTunedeckform>();
        m_form->show();
        const QString first = writeTone(m_dir.path(), QStringLiteral("first.wav"), 8000);
        const QString second = writeTone(m_dir.path(), QStringLiteral("second.wav"), 8000);
        append(first);
        append(second);
        QTest::mouseClick(m_form->PlayButt, Qt::LeftButton);
        QCOMPARE(state(), QStringLiteral("Playing"));
        QVERIFY2(waitUntil([] {
            return sinkInputs().find("media.name = \"Tunedeck\"") != std::string::npos;
        }),
            "the song did not reach the server");

        m_server->kill();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), 1, 20000);
        QCOMPARE(boxes.boxes().first().icon, QMessageBox::Critical);
        QCOMPARE(boxes.texts().first(),
            QStringLiteral("Playing stopped: \r\n") + first
                + QStringLiteral("\r\nThe audio output was lost: the sound server stopped or the "
                                 "sound device was removed"));
        QCOMPARE(state(), QStringLiteral("No sound"));
        QVERIFY(m_form->StopButt->isHidden());
        QVERIFY(!m_form->LettoreMidi->IsOpen());
        QCOMPARE(m_form->PlayListPaths.toStringList(), QStringList { second });

        // Down: Play says why and does not pretend to play.
        QTest::mouseClick(m_form->PlayButt, Qt::LeftButton);
        QCOMPARE(boxes.boxes().size(), 2);
        QVERIFY2(boxes.texts().last().startsWith(QStringLiteral("Unable to play the file: \r\n")
                     + second + QStringLiteral("\r\nNo audio output can be opened: SDL audio")),
            qPrintable(boxes.texts().last()));
        QCOMPARE(state(), QStringLiteral("No sound"));
        QVERIFY(m_form->StopButt->isHidden());

        // Back: the next Play reaches the new server.
        std::string failure;
        QVERIFY2(m_server->start(failure), failure.c_str());
        append(first);
        QTest::mouseClick(m_form->PlayButt, Qt::LeftButton);
        QCOMPARE(state(), QStringLiteral("Playing"));
        QVERIFY2(waitUntil([] {
            return sinkInputs().find("media.name = \"Tunedeck\"") != std::string::npos;
        }),
            "the Play after the restart did not reach the new server");
        QCOMPARE(boxes.boxes().size(), 2);
        QTest::mouseClick(m_form->StopButt, Qt::LeftButton);
        QVERIFY2(waitUntil([] { return sinkInputs().empty(); }), "Stop left the stream open");
        m_form.reset();
    }
};

TUNEDECK_PLAYER_TEST_MAIN(SoundServerTest)
#include "SoundServerTest.moc"

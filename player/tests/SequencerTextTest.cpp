// The sequencer's texts: the mm:ss time and the name shown for a playing file.
#include "PlayerTestMain.h"

#include "TunedeckFormUnit.h"
#include "UnitGenerale.h"

#include <QLabel>

class SequencerTextTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Minutes and the seconds left over, each with at least two digits, never rounded.
    void formatTimeTruncatesToMinutesAndSeconds_data()
    {
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0 << "00:00";
        QTest::newRow("just under a second") << 999 << "00:00";
        QTest::newRow("just under a minute") << 59999 << "00:59";
        QTest::newRow("a minute") << 60000 << "01:00";
        QTest::newRow("125.7 s") << 125700 << "02:05";
        QTest::newRow("just under an hour") << 3599999 << "59:59";
        QTest::newRow("a hundred minutes") << 6000000 << "100:00";
        QTest::newRow("negative") << -5000 << "00:00";
    }
    void formatTimeTruncatesToMinutesAndSeconds()
    {
        QFETCH(int, ms);
        QFETCH(QString, text);
        QCOMPARE(FormatTime(ms), text);
    }

    // The label and title show the file's last component; a blank name gives the bare title.
    void playingTitleShowsTheDisplayName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("title");
        QTest::newRow("full name") << "/music/set one/song.mid"
                                   << "song.mid"
                                   << "Tunedeck [song.mid]";
        QTest::newRow("bare name") << "song.mid"
                                   << "song.mid"
                                   << "Tunedeck [song.mid]";
        QTest::newRow("colon kept") << "/music/a:b.mid"
                                    << "a:b.mid"
                                    << "Tunedeck [a:b.mid]";
        QTest::newRow("line breaks") << "/music/new\nline\r.mid"
                                     << "new line .mid"
                                     << "Tunedeck [new line .mid]";
        QTest::newRow("empty") << ""
                               << ""
                               << "Tunedeck ";
        QTest::newRow("blanks and controls") << " \t\x01 "
                                             << " \t\x01 "
                                             << "Tunedeck ";
    }
    void playingTitleShowsTheDisplayName()
    {
        QFETCH(QString, name);
        QFETCH(QString, label);
        QFETCH(QString, title);
        TTunedeckform form;
        ShowPlayingTitle(name);
        QCOMPARE(form.FNPlay->text(), label);
        QCOMPARE(TunedeckApplication::title(), title);
        QCOMPARE(form.windowTitle(), title);
    }
};

TUNEDECK_PLAYER_TEST_MAIN(SequencerTextTest)
#include "SequencerTextTest.moc"

// The player's message boxes (three kinds, centred on the screen) and the general error report
// for exceptions that escape an event handler.
#include "PlayerTestMain.h"

#include "Texts.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include <stdexcept>

class MessageBoxTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { TunedeckApplication::setTitle(QStringLiteral("Tunedeck ")); }

    // Each kind has its own caption and icon, a single "OK" button, and stands in the middle
    // of the screen.
    void eachKindHasItsCaptionIconAndOk_data()
    {
        QTest::addColumn<tunedeck::MessageKind>("kind");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::newRow("warning") << tunedeck::MessageKind::Warning << "Warning"
                                 << QMessageBox::Warning;
        QTest::newRow("error") << tunedeck::MessageKind::Error << "Error" << QMessageBox::Critical;
        QTest::newRow("information")
            << tunedeck::MessageKind::Information << "Information" << QMessageBox::Information;
    }
    void eachKindHasItsCaptionIconAndOk()
    {
        QFETCH(tunedeck::MessageKind, kind);
        QFETCH(QString, caption);
        QFETCH(QMessageBox::Icon, icon);
        BoxRecorder recorder;
        const auto result = tunedeck::showMessage(kind, QStringLiteral("Some text"));
        QCOMPARE(result, tunedeck::MessageResult::Ok);
        QCOMPARE(recorder.boxes().size(), 1);
        const ShownBox &box = recorder.boxes().first();
        QCOMPARE(box.caption, caption);
        QCOMPARE(box.icon, icon);
        QCOMPARE(box.text, QStringLiteral("Some text"));
        QCOMPARE(box.buttons, QStringList { QStringLiteral("OK") });
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QVERIFY(qAbs(box.frame.center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(box.frame.center().y() - screen.center().y()) <= 1);
    }

    // A text from outside (names) shows as it is, never as markup (whose pictures would be read
    // from the disk), and however its lines break, the box stays on the screen.
    void textsFromOutsideStayPlainAndOnTheScreen_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("markup") << QStringLiteral(
            "Cannot open file /tmp/a <b>BIG</b> <img src=\"/tmp/picture.png\"> z.tdl");
        QTest::newRow("bare line feeds") << QStringLiteral("x \n").repeated(300);
        QTest::newRow("long lines of short words")
            << (QStringLiteral("word ").repeated(2000) + tunedeck::texts::kLineBreak).repeated(20);
    }
    void textsFromOutsideStayPlainAndOnTheScreen()
    {
        QFETCH(QString, text);
        BoxRecorder recorder;
        tunedeck::showMessage(tunedeck::MessageKind::Error, text);
        const ShownBox &box = recorder.boxes().first();
        QCOMPARE(box.format, Qt::PlainText);
        if (text.size() < 100)
            QCOMPARE(box.text, text);
        QVERIFY2(QGuiApplication::primaryScreen()->geometry().contains(box.frame),
            qPrintable(QStringLiteral("%1 x %2").arg(box.frame.width()).arg(box.frame.height())));
    }

    // The unreadable-drive box offers "&Abort" then "&Retry", Retry being the default; closing
    // it another way counts as Abort.
    void abortRetryBoxDefaultsToRetry()
    {
        {
            BoxRecorder recorder; // Presses the default button.
            QCOMPARE(tunedeck::showMessage(tunedeck::MessageKind::Error,
                         QStringLiteral("Drive not ready"), tunedeck::MessageButtons::AbortRetry),
                tunedeck::MessageResult::Retry);
            QCOMPARE(recorder.boxes().first().buttons,
                (QStringList { QStringLiteral("&Abort"), QStringLiteral("&Retry") }));
            QCOMPARE(recorder.boxes().first().caption, QStringLiteral("Error"));
        }
        {
            BoxRecorder recorder(QStringLiteral("&Abort"));
            QCOMPARE(tunedeck::showMessage(tunedeck::MessageKind::Error,
                         QStringLiteral("Drive not ready"), tunedeck::MessageButtons::AbortRetry),
                tunedeck::MessageResult::Abort);
        }
    }

    // The report adds a full stop only when the text's last character sorts after ".".
    void reportTextEndsWithAFullStopOnlyAfterHigherCharacters_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "No MCI device open"
                                << "No MCI device open.";
        QTest::newRow("digit") << "Error 5"
                               << "Error 5.";
        QTest::newRow("slash sorts after the stop") << "a/"
                                                    << "a/.";
        QTest::newRow("full stop") << "Done."
                                   << "Done.";
        QTest::newRow("exclamation sorts before") << "Oops!"
                                                  << "Oops!";
        QTest::newRow("comma sorts before") << "a,"
                                            << "a,";
        QTest::newRow("dash sorts before") << "a-"
                                           << "a-";
        QTest::newRow("empty") << ""
                               << "";
    }
    void reportTextEndsWithAFullStopOnlyAfterHigherCharacters()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(tunedeck::generalErrorText(message), shown);
    }

    // An exception that escapes a click handler is shown once, captioned with the application
    // title and with the error icon; the program then goes on handling events.
    void escapedErrorIsReportedAndTheProgramGoesOn()
    {
        BoxRecorder recorder;
        QPushButton button(QStringLiteral("Throw"));
        int clicks = 0;
        connect(&button, &QPushButton::clicked, &button, [&clicks] {
            ++clicks;
            throw std::runtime_error("No MCI device open");
        });
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        QCOMPARE(recorder.boxes().size(), 1);
        const ShownBox &box = recorder.boxes().first();
        QCOMPARE(box.caption, QStringLiteral("Tunedeck "));
        QCOMPARE(box.text, QStringLiteral("No MCI device open."));
        QCOMPARE(box.icon, QMessageBox::Critical);

        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicks, 2);
        QCOMPARE(recorder.boxes().size(), 2);
    }
};

TUNEDECK_PLAYER_TEST_MAIN(MessageBoxTest)
#include "MessageBoxTest.moc"

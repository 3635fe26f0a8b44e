// The tip dialog through its exported routine, on the offscreen platform. The dialog is modal,
// so each test hands a driver to the helper below, which runs it inside the dialog's own event
// loop; the driver records what it sees and the test checks that after ToolTip has returned.
#include "OrvTip.h"
#include "TipFile.h"

#include <orvkit/orvkit.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>

using namespace orvkit;

namespace {

struct Outcome {
    std::intptr_t result = 0;
    int dialogsShown = 0;
    bool leftOpenByDriver = false;
};

// Calls ToolTip for `path` (null for no file). When the dialog shows, `drive` gets it and must
// end it; a dialog left open is closed here and reported, so a faulty driver cannot hang a test.
Outcome runToolTip(const QByteArray *path, std::intptr_t showAtStart,
    const std::function<void(TipDialog &)> &drive)
{
    Outcome outcome;
    QTimer driver; // Dies with this call, so it never fires into a later test.
    driver.setSingleShot(true);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<TipDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        ++outcome.dialogsShown;
        drive(*dialog);
        if (dialog->isVisible()) {
            outcome.leftOpenByDriver = true;
            dialog->done(0);
        }
    });
    driver.start(0);
    const auto file = path ? reinterpret_cast<std::uintptr_t>(path->constData()) : 0;
    outcome.result = ToolTip(0, 0, 0, file, showAtStart);
    return outcome;
}

QPushButton *button(TipDialog &dialog, const char *name)
{
    return dialog.findChild<QPushButton *>(QString::fromLatin1(name));
}

QCheckBox *showAtStartBox(TipDialog &dialog)
{
    return dialog.findChild<QCheckBox *>(QStringLiteral("ShowAtStart"));
}

void clickClose(TipDialog &dialog)
{
    QTest::mouseClick(button(dialog, "CloseButton"), Qt::LeftButton);
}

void clickNext(TipDialog &dialog)
{
    QTest::mouseClick(button(dialog, "NextButton"), Qt::LeftButton);
}

// What the tip area tells a screen reader, which is also what it draws.
QString shownTip(TipDialog &dialog)
{
    return dialog.findChild<TipArea *>(QStringLiteral("TipArea"))->accessibleDescription();
}

} // namespace

class TipDialogTest : public QObject {
    Q_OBJECT

public:
    // Writes a tip file into the test's folder and returns its name as ToolTip takes it.
    QByteArray writeTipFile(const QByteArray &bytes)
    {
        const QString name = m_dir.filePath(QStringLiteral("tips%1.txt").arg(++m_files));
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write the tip file %s", qPrintable(name));
        return QFile::encodeName(name);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // A file of one line always shows that line, and "&Next >>" shows it again.
    void oneLineFileShowsItsLineEveryTime()
    {
        const QByteArray path = writeTipFile("Press F1 for help.\r\n");
        QStringList seen;
        const Outcome outcome = runToolTip(&path, 0, [&](TipDialog &dialog) {
            seen << shownTip(dialog);
            clickNext(dialog);
            seen << shownTip(dialog);
            clickClose(dialog);
        });
        QCOMPARE(outcome.dialogsShown, 1);
        QVERIFY(!outcome.leftOpenByDriver);
        QCOMPARE(seen, QStringList({ "Press F1 for help.", "Press F1 for help." }));
    }

    // A name that is not UTF-8 is found by its bytes.
    void aNameThatIsNotUtf8IsFound()
    {
        const QByteArray path = QFile::encodeName(m_dir.path()) + "/tips-caf\xe9.txt";
        QCOMPARE(::rename(writeTipFile("Bytes, not text.\r\n").constData(), path.constData()), 0);
        QStringList seen;
        const Outcome outcome = runToolTip(&path, 0, [&](TipDialog &dialog) {
            seen << shownTip(dialog);
            clickClose(dialog);
        });
        QCOMPARE(outcome.dialogsShown, 1);
        QCOMPARE(seen, QStringList { "Bytes, not text." });
    }

    // "&Next >>" steps through the tips in file order and wraps after the last: opened on
    // line 3 of three, it shows 1, then 2, then 3; from any other start the cycle is the same.
    void nextStepsInFileOrderAndWraps()
    {
        const QStringList lines { "first", "second", "third" };
        const QByteArray path = writeTipFile("first\r\nsecond\r\nthird\r\n");
        int start = 0;
        QStringList seen;
        runToolTip(&path, 0, [&](TipDialog &dialog) {
            start = dialog.tipIndex();
            seen << shownTip(dialog);
            for (int i = 0; i < 3; ++i) {
                clickNext(dialog);
                seen << shownTip(dialog);
            }
            clickClose(dialog);
        });
        QVERIFY(start >= 1 && start <= 3);
        QStringList expected;
        for (int step = 0; step <= 3; ++step)
            expected << lines[(start - 1 + step) % 3];
        QCOMPARE(seen, expected);
    }

    // The first tip is drawn uniformly from all lines, the last included.
    void firstTipCoversEveryLine()
    {
        std::set<int> chosen;
        for (std::uint32_t seed = 0; seed < 3000; ++seed)
            chosen.insert(chooseFirstTip(3, seed));
        QCOMPARE(chosen, std::set<int>({ 1, 2, 3 }));
        QCOMPARE(chooseFirstTip(1, 12345), std::uint16_t(1));
        QVERIFY(chooseFirstTip(kMaxTips, 0xFFFFFFFFu) <= kMaxTips);
    }

    // A file of lines ended by line feeds only is one tip holding the whole text.
    void lfOnlyFileIsOneTip()
    {
        const QByteArray path = writeTipFile("one\ntwo\nthree");
        QStringList seen;
        runToolTip(&path, 0, [&](TipDialog &dialog) {
            seen << shownTip(dialog);
            clickNext(dialog);
            seen << shownTip(dialog);
            clickClose(dialog);
        });
        QCOMPARE(seen, QStringList({ "one\ntwo\nthree", "one\ntwo\nthree" }));
    }

    // The tip area is light yellow with the picture at 5, 5 and the tip below it; an empty tip
    // leaves the text rectangle bare.
    void tipAreaDrawsPictureAndTip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("inked");
        QTest::newRow("EmptyLineIsAnEmptyTip") << QByteArray("\r\n") << false;
        QTest::newRow("TextIsDrawn") << QByteArray("WWWW MMMM WWWW\r\n") << true;
    }

    void tipAreaDrawsPictureAndTip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, inked);
        const QByteArray path = writeTipFile(bytes);
        QImage drawn;
        runToolTip(&path, 0, [&](TipDialog &dialog) {
            drawn = dialog.findChild<TipArea *>(QStringLiteral("TipArea"))->grab().toImage();
            clickClose(dialog);
        });
        QVERIFY(!drawn.isNull());
        const QColor lightYellow(255, 255, 204);
        QCOMPARE(drawn.pixelColor(0, 0), lightYellow);
        const QImage picture(QStringLiteral(":/orvkit/DYK"));
        QCOMPARE(drawn.pixelColor(5 + 20, 5 + 10).rgb(), picture.pixelColor(20, 10).rgb());
        // Beyond the 142 x 34 picture, inside the 149 x 42 block, stays light yellow.
        QCOMPARE(drawn.pixelColor(5 + 145, 5 + 38), lightYellow);
        bool anyInk = false;
        for (int y = 50; y < drawn.height() - 10; ++y)
            for (int x = 10; x < drawn.width() - 20; ++x)
                anyInk = anyInk || drawn.pixelColor(x, y) != lightYellow;
        QCOMPARE(anyInk, inked);
    }

    // Only the low 16 bits of show-at-start tick the box; the result is -1 (not 1) when ticked.
    void showAtStartTicksByItsLow16Bits_data()
    {
        QTest::addColumn<qint64>("showAtStart");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<qint64>("result");
        QTest::newRow("0x00010000CountsAs0") << qint64(0x00010000) << false << qint64(0);
        QTest::newRow("0x00010001Ticks") << qint64(0x00010001) << true << qint64(-1);
        QTest::newRow("1Ticks") << qint64(1) << true << qint64(-1);
        QTest::newRow("0Clears") << qint64(0) << false << qint64(0);
    }

    void showAtStartTicksByItsLow16Bits()
    {
        QFETCH(qint64, showAtStart);
        QFETCH(bool, ticked);
        QFETCH(qint64, result);
        const QByteArray path = writeTipFile("tip\r\n");
        bool tickedAtStart = !ticked;
        const Outcome outcome
            = runToolTip(&path, std::intptr_t(showAtStart), [&](TipDialog &dialog) {
                  tickedAtStart = showAtStartBox(dialog)->isChecked();
                  clickClose(dialog);
              });
        QCOMPARE(tickedAtStart, ticked);
        QCOMPARE(qint64(outcome.result), result);
    }

    // When no dialog can be shown, show-at-start comes back unchanged, all its bits included.
    void noDialogReturnsShowAtStartUnchanged_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("kind");
        QTest::newRow("NoFileName") << QByteArray() << QStringLiteral("null");
        QTest::newRow("MissingFile") << QByteArray() << QStringLiteral("missing");
        QTest::newRow("Folder") << QByteArray() << QStringLiteral("folder");
        QTest::newRow("EmptyFile") << QByteArray() << QStringLiteral("file");
        QTest::newRow("FileStartingWithCtrlZ")
            << QByteArray("\032tip\r\n") << QStringLiteral("file");
    }

    void noDialogReturnsShowAtStartUnchanged()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, kind);
        QByteArray path;
        if (kind == QLatin1String("missing"))
            path = QFile::encodeName(m_dir.filePath(QStringLiteral("no-such-file.txt")));
        else if (kind == QLatin1String("folder"))
            path = QFile::encodeName(m_dir.path());
        else if (kind == QLatin1String("file"))
            path = writeTipFile(bytes);
        for (const std::intptr_t showAtStart : { std::intptr_t(0x00010000), std::intptr_t(-7) }) {
            const Outcome outcome = runToolTip(kind == QLatin1String("null") ? nullptr : &path,
                showAtStart, [](TipDialog &dialog) { clickClose(dialog); });
            QCOMPARE(outcome.dialogsShown, 0);
            QCOMPARE(outcome.result, showAtStart);
        }
    }

    // The close box ends the dialog exactly as "&Close" does, with the box's state at the end.
    void closeBoxReturnsTheBoxStateLikeClose_data()
    {
        QTest::addColumn<bool>("byCloseBox");
        QTest::addColumn<bool>("toggle");
        QTest::addColumn<qint64>("result");
        QTest::newRow("CloseBoxTicked") << true << false << qint64(-1);
        QTest::newRow("CloseBoxAfterClearing") << true << true << qint64(0);
        QTest::newRow("CloseButtonTicked") << false << false << qint64(-1);
        QTest::newRow("CloseButtonAfterClearing") << false << true << qint64(0);
    }

    void closeBoxReturnsTheBoxStateLikeClose()
    {
        QFETCH(bool, byCloseBox);
        QFETCH(bool, toggle);
        QFETCH(qint64, result);
        const QByteArray path = writeTipFile("tip\r\n");
        const Outcome outcome = runToolTip(&path, 1, [&](TipDialog &dialog) {
            if (toggle)
                QTest::mouseClick(showAtStartBox(dialog), Qt::LeftButton);
            if (byCloseBox)
                dialog.close();
            else
                clickClose(dialog);
        });
        QVERIFY(!outcome.leftOpenByDriver);
        QCOMPARE(qint64(outcome.result), result);
    }

    // Escape's cancel is ignored; the dialog stays until Close.
    void escapeDoesNothing()
    {
        const QByteArray path = writeTipFile("tip\r\n");
        bool openAfterEscape = false;
        const Outcome outcome = runToolTip(&path, 0, [&](TipDialog &dialog) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
            openAfterEscape = dialog.isVisible();
            clickClose(dialog);
        });
        QVERIFY(openAfterEscape);
        QCOMPARE(outcome.result, std::intptr_t(0));
    }

    // From the keyboard: focus starts on the check box, Space ticks it, Enter presses Close.
    void worksFromTheKeyboard()
    {
        const QByteArray path = writeTipFile("tip\r\n");
        bool focusOnBox = false;
        const Outcome outcome = runToolTip(&path, 0, [&](TipDialog &dialog) {
            QCheckBox *box = showAtStartBox(dialog);
            focusOnBox = dialog.focusWidget() == box;
            QTest::keyClick(box, Qt::Key_Space);
            QTest::keyClick(box, Qt::Key_Return);
        });
        QVERIFY(focusOnBox);
        QVERIFY(!outcome.leftOpenByDriver);
        QCOMPARE(outcome.result, std::intptr_t(-1));
    }

    // Each "&Next >>" reads the file afresh: a file that shrank shows its last line.
    void nextReadsTheFileAsItIsNow()
    {
        const QByteArray path = writeTipFile("first\r\nsecond\r\nthird\r\n");
        QString afterShrinking;
        runToolTip(&path, 0, [&](TipDialog &dialog) {
            QFile file(QFile::decodeName(path));
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write("only\r\n");
            file.close();
            clickNext(dialog);
            afterShrinking = shownTip(dialog);
            clickClose(dialog);
        });
        QCOMPARE(afterShrinking, QStringLiteral("only"));
    }

    // The tip count is 16-bit: a longer file counts 65 535 tips and the rest is never read.
    void countStopsAt65535Tips()
    {
        QByteArray bytes;
        for (int i = 0; i < 70000; ++i)
            bytes += "x\r\n";
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QCOMPARE(countTips(buffer), kMaxTips);
        QCOMPARE(readTip(buffer, 2), QStringLiteral("x"));
    }

    // A tip line may be of any length: a one-line file of 200 MB (sparse, so quick to make) shows
    // and draws only the head of its line, and the line after it is still found.
    void hugeLineShowsItsHead()
    {
        const QString name = m_dir.filePath(QStringLiteral("huge.txt"));
        const QByteArray head = "A very long tip begins here";
        constexpr qint64 kLineBytes = 200 * 1024 * 1024;
        {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.write(head) == head.size());
            QVERIFY(file.resize(kLineBytes)); // the rest of the line reads as NUL bytes
            QVERIFY(file.seek(kLineBytes));
            QVERIFY(file.write("\r\nshort tip\r\n") == 13);
        }
        const QByteArray path = QFile::encodeName(name);
        QStringList seen;
        QImage drawn;
        const Outcome outcome = runToolTip(&path, 0, [&](TipDialog &dialog) {
            for (int i = 0; i < 2; ++i) {
                seen << shownTip(dialog);
                drawn = dialog.findChild<TipArea *>(QStringLiteral("TipArea"))->grab().toImage();
                clickNext(dialog);
            }
            clickClose(dialog);
        });
        QCOMPARE(outcome.dialogsShown, 1);
        QVERIFY(!drawn.isNull());
        QCOMPARE(seen.size(), 2);
        if (seen[0] == QLatin1String("short tip"))
            seen.swapItemsAt(0, 1);
        QCOMPARE(seen[1], QStringLiteral("short tip"));
        QVERIFY(seen[0].startsWith(QLatin1String(head)));
        QCOMPARE(seen[0].size(), qsizetype(kTipHeadBytes));
    }

    // A head cut inside a UTF-8 character loses that character, not the file's encoding; a line
    // of the Windows code page cut short stays in that code page.
    void cutHeadKeepsItsEncoding()
    {
        const QByteArray euro = "\xe2\x82\xac"; // U+20AC in UTF-8
        QByteArray utf8Line(kTipHeadBytes - 1, 'u');
        utf8Line += euro + euro + "\r\n";
        QByteArray windowsLine(kTipHeadBytes - 1, 'w');
        windowsLine += "\x80\x80\x80\r\n";
        QByteArray bytes = utf8Line + windowsLine;
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QCOMPARE(readTip(buffer, 1), QString(kTipHeadBytes - 1, QLatin1Char('u')));
        QCOMPARE(readTip(buffer, 2),
            QString(kTipHeadBytes - 1, QLatin1Char('w')) + QStringLiteral("\u20ac"));
    }

    // Tip bytes that are not UTF-8 are read in the maker's Windows code page.
    void eightBitTipsAreDecoded()
    {
        QByteArray bytes("caf\xe9 \x80 5\r\nna\xc3\xafve\r\n");
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QCOMPARE(readTip(buffer, 1), QStringLiteral("caf\u00e9 \u20ac 5"));
        QCOMPARE(readTip(buffer, 2), QStringLiteral("na\u00efve"));
    }

    // The window's texts and its layout in pixels at 96 dpi.
    void hasTheTipWindowsTextsAndSizes()
    {
        const QByteArray path = writeTipFile("tip\r\n");
        QString title;
        QSize size;
        QStringList texts;
        QList<QRect> places;
        bool fixed = false;
        runToolTip(&path, 0, [&](TipDialog &dialog) {
            title = dialog.windowTitle();
            size = dialog.size();
            fixed = dialog.minimumSize() == dialog.maximumSize();
            texts << showAtStartBox(dialog)->text() << button(dialog, "CloseButton")->text()
                  << button(dialog, "NextButton")->text();
            places << showAtStartBox(dialog)->geometry()
                   << button(dialog, "CloseButton")->geometry()
                   << button(dialog, "NextButton")->geometry()
                   << dialog.findChild<QGroupBox *>(QStringLiteral("TipGroup"))->geometry()
                   << dialog.findChild<TipArea *>(QStringLiteral("TipArea"))->geometry();
            clickClose(dialog);
        });
        QCOMPARE(title, QStringLiteral("Tool Tips Window"));
        QCOMPARE(size, QSize(390, 221));
        QVERIFY(fixed);
        QCOMPARE(texts, QStringList({ "&Show this when app starts", "&Close", "&Next >>" }));
        QCOMPARE(places,
            QList<QRect>({ QRect(8, 187, 204, 34), QRect(305, 189, 75, 26), QRect(222, 189, 75, 26),
                QRect(8, 2, 374, 184), QRect(14, 15, 362, 164) }));
    }

private:
    QTemporaryDir m_dir;
    int m_files = 0;
};

QTEST_MAIN(TipDialogTest)
#include "TipDialogTest.moc"

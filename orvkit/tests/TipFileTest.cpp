// The tip file's line rules, on bytes in memory.
#include "TipFile.h"

#include <QTest>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;
Q_DECLARE_METATYPE(Lines)

namespace {

QByteArray bytesOf(const char *text, qsizetype size)
{
    return QByteArray(text, size);
}

std::string_view viewOf(const QByteArray &bytes)
{
    return { bytes.constData(), std::size_t(bytes.size()) };
}

} // namespace

class TipFileTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each case is (file bytes, the tips they hold in order).
    void splitsLinesByTheTipFileRules_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Lines>("lines");
        QTest::newRow("EmptyFileHasNoTips") << QByteArray() << Lines {};
        QTest::newRow("OneLineWithoutLineEnd") << QByteArray("Press F1") << Lines { "Press F1" };
        QTest::newRow("CrLfEndsEachLine")
            << QByteArray("one\r\ntwo\r\nthree\r\n") << Lines { "one", "two", "three" };
        QTest::newRow("BareCrEndsALine") << QByteArray("one\rtwo") << Lines { "one", "two" };
        QTest::newRow("LfOnlyFileIsOneTip")
            << QByteArray("one\ntwo\nthree\n") << Lines { "one\ntwo\nthree\n" };
        QTest::newRow("LfBeforeCrBelongsToTheText")
            << QByteArray("a\n\r\nb") << Lines { "a\n", "b" };
        QTest::newRow("OnlyOneLfAfterCrIsSkipped")
            << QByteArray("a\r\n\nb") << Lines { "a", "\nb" };
        QTest::newRow("EmptyLinesAreEmptyTips")
            << QByteArray("\r\n\r\nx\r\n") << Lines { "", "", "x" };
        QTest::newRow("CrCrLfIsTwoLines") << QByteArray("a\r\r\n") << Lines { "a", "" };
        QTest::newRow("CtrlZEndsTheContent")
            << QByteArray("tip\r\n\032after\r\n") << Lines { "tip" };
        QTest::newRow("CtrlZCutsALineShortWhichStillCounts")
            << QByteArray("ti\x1ap\r\n") << Lines { "ti" };
        QTest::newRow("FileStartingWithCtrlZHasNoTips") << QByteArray("\032tip") << Lines {};
        QTest::newRow("NulBytesAreText")
            << bytesOf("a\0b\r\n", 5) << Lines { std::string("a\0b", 3) };
    }

    void splitsLinesByTheTipFileRules()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Lines, lines);
        QCOMPARE(orvkit::tipLines(viewOf(bytes)), lines);
    }

    // A chunk boundary between a carriage return and its line feed must not make an extra line;
    // nor may one change the head kept of a line that is cut.
    void splitsTheSameWhateverTheChunkSize()
    {
        const QByteArray bytes("first\r\nsecond\r\n\r\nfourth\nstill\rfifth\032gone");
        const Lines whole = orvkit::tipLines(viewOf(bytes));
        QCOMPARE(whole.size(), std::size_t(5));
        for (const std::size_t keep :
            { std::size_t(-1), std::size_t(0), std::size_t(1), std::size_t(5), std::size_t(6) }) {
            Lines heads;
            for (const std::string &line : whole)
                heads.push_back(line.substr(0, keep));
            for (qsizetype chunk = 1; chunk <= bytes.size(); ++chunk) {
                Lines lines;
                orvkit::TipLineReader reader(
                    orvkit::TipLineReader::Text::Keep,
                    [&](std::string_view text) {
                        lines.emplace_back(text);
                        return orvkit::TipLineReader::Next::More;
                    },
                    keep);
                for (qsizetype at = 0; at < bytes.size(); at += chunk)
                    reader.feed(viewOf(bytes.mid(at, chunk)));
                reader.finish();
                QCOMPARE(lines, heads);
            }
        }
    }

    // Stop from the receiver ends the pass: no later line is delivered, even by finish().
    void stopsWhenTheReceiverHasWhatItWants()
    {
        int delivered = 0;
        orvkit::TipLineReader reader(orvkit::TipLineReader::Text::Drop, [&](std::string_view) {
            ++delivered;
            return orvkit::TipLineReader::Next::Stop;
        });
        QVERIFY(!reader.feed("one\rtwo\rthree"));
        reader.finish();
        QCOMPARE(delivered, 1);
    }

    // Line lookup: the line itself, the last line past the end, the error text for 0 or no lines.
    void findsALineByNumber_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("text");
        const QByteArray three("one\r\ntwo\r\nthree\r\n");
        QTest::newRow("First") << three << 1 << QByteArray("one");
        QTest::newRow("Third") << three << 3 << QByteArray("three");
        QTest::newRow("PastTheEndGivesTheLastLine") << three << 7 << QByteArray("three");
        QTest::newRow("ZeroGivesTheErrorText") << three << 0 << QByteArray("Error loading tip");
        QTest::newRow("EmptyFileGivesTheErrorText")
            << QByteArray() << 1 << QByteArray("Error loading tip");
        QTest::newRow("EmptyLineIsAnEmptyTip") << QByteArray("a\r\n\r\nc") << 2 << QByteArray("");
    }

    void findsALineByNumber()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, number);
        QFETCH(QByteArray, text);
        QCOMPARE(
            QByteArray::fromStdString(orvkit::tipLine(viewOf(bytes), std::uint32_t(number))), text);
    }
};

QTEST_APPLESS_MAIN(TipFileTest)
#include "TipFileTest.moc"

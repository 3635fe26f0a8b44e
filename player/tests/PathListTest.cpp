// The play list's names: what goes in comes out, in order and byte for byte, through every way
// of removing entries.
#include "PathList.h"
#include "FileNames.h"

#include <QTest>

using namespace tunedeck;

class PathListTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void namesComeBackAsTheyWentIn();
    void displayNameIsTheTextAfterTheLastSlash();
    void namesThatAreNotUtf8KeepTheirBytes();
    void aCopyIsNotChangedByTheOriginal();
    void linesEndEveryNameWithCrLf();
    void removalsKeepTheRestInOrder();
};

void PathListTest::namesComeBackAsTheyWentIn()
{
    PathList list;
    QVERIFY(list.isEmpty());
    list.append(QStringLiteral("/m/a.mid"));
    list.appendBytes("/m/b.wav");
    list.appendJoined("/m/", QStringLiteral("ä.rmi"));
    list.append(QString());
    list.append(QStringLiteral("/m/a.mid"));

    QCOMPARE(list.size(), 5);
    QCOMPARE(list.toStringList(),
        QStringList({ "/m/a.mid", "/m/b.wav", QStringLiteral("/m/ä.rmi"), "", "/m/a.mid" }));
    QCOMPARE(list.bytesAt(2), QByteArrayView("/m/\xc3\xa4.rmi"));
    QCOMPARE(list.value(5), QString());
    QCOMPARE(list.value(-1), QString());
    QCOMPARE(PathList::fromStringList(list.toStringList()), list);
}

void PathListTest::displayNameIsTheTextAfterTheLastSlash()
{
    const PathList list = PathList::fromStringList(
        { "/music/Song.mid", "bare.wav", "/", "/a/b/", "/x/y:z.mid", QStringLiteral("/ö/ü.rmi") });
    QCOMPARE(list.displayNameAt(0), QStringLiteral("Song.mid"));
    QCOMPARE(list.displayNameAt(1), QStringLiteral("bare.wav"));
    QCOMPARE(list.displayNameAt(2), QString());
    QCOMPARE(list.displayNameAt(3), QString());
    QCOMPARE(list.displayNameAt(4), QStringLiteral("y:z.mid"));
    QCOMPARE(list.displayNameAt(5), QStringLiteral("ü.rmi"));
}

void PathListTest::namesThatAreNotUtf8KeepTheirBytes()
{
    PathList list;
    const QByteArray latin1("/musik/M\xfcller/\xff\xfe.mid");
    list.appendBytes(latin1);
    QCOMPARE(list.bytesAt(0), QByteArrayView(latin1));
    QCOMPARE(fileNameToBytes(list.at(0)), latin1);
    QCOMPARE(fileNameToBytes(list.displayNameAt(0)), QByteArray("\xff\xfe.mid"));
    // Through text and back into another list, the bytes stay the same.
    QCOMPARE(PathList::fromStringList(list.toStringList()).bytesAt(0), QByteArrayView(latin1));
}

void PathListTest::aCopyIsNotChangedByTheOriginal()
{
    PathList original = PathList::fromStringList({ "/a", "/b", "/c" });
    const PathList copy = original;
    original.removeFirst();
    original.append(QStringLiteral("/d"));
    original.remove(0, 1);
    QCOMPARE(copy.toStringList(), QStringList({ "/a", "/b", "/c" }));
    QCOMPARE(original.toStringList(), QStringList({ "/c", "/d" }));
}

void PathListTest::linesEndEveryNameWithCrLf()
{
    QCOMPARE(PathList().toLines(), QByteArray());
    PathList list = PathList::fromStringList({ "/x", "", "/y " });
    QCOMPARE(list.toLines(), QByteArray("/x\r\n\r\n/y \r\n"));
    list.removeFirst();
    QCOMPARE(list.toLines(), QByteArray("\r\n/y \r\n"));
}

void PathListTest::removalsKeepTheRestInOrder()
{
    PathList list = PathList::fromStringList({ "/a", "/b", "/c", "/d", "/e", "/f" });
    list.removeFlagged({ true, false, true, true }); // /e and /f have no flag: kept
    QCOMPARE(list.toStringList(), QStringList({ "/b", "/e", "/f" }));
    list.removeFlagged({ false, false, false, true, true }); // flags past the end: ignored
    QCOMPARE(list.toStringList(), QStringList({ "/b", "/e", "/f" }));
    list.remove(1, 2);
    QCOMPARE(list.toStringList(), QStringList({ "/b" }));
    list.removeFirst();
    QVERIFY(list.isEmpty());
    list.removeFirst(); // nothing to take: no effect
    QVERIFY(list.isEmpty());
}

QTEST_GUILESS_MAIN(PathListTest)
#include "PathListTest.moc"

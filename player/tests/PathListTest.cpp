// The play list's store of names: what goes in comes out, in order and byte for byte, through
// every way of removing entries, however many are removed.
#include "FileNames.h"
#include "PathList.h"

#include <QRandomGenerator>
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
    void randomOperationsAgreeWithAPlainList();
    void takingEveryEntryFromTheFrontEmptiesTheList();
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

void PathListTest::randomOperationsAgreeWithAPlainList()
{
    // Long names and many removals, so the store is rebuilt many times along the way.
    QRandomGenerator random(8122026);
    PathList list;
    QStringList model;
    int serial = 0;
    const auto newName = [&] {
        return QStringLiteral("/music/%1/").arg(serial++) + QString(random.bounded(0, 400), u'x');
    };
    for (int step = 0; step < 4000; ++step) {
        const int op = random.bounded(100);
        if (op < 40) {
            const QString name = newName();
            list.append(name);
            model.append(name);
        } else if (op < 55) {
            const int count = random.bounded(1, 40);
            for (int i = 0; i < count; ++i) {
                const QString name = newName();
                list.appendJoined("/folder/", name);
                model.append(QStringLiteral("/folder/") + name);
            }
        } else if (op < 75) {
            list.removeFirst();
            if (!model.isEmpty())
                model.removeFirst();
        } else if (op < 88 && !model.isEmpty()) {
            const qsizetype first = random.bounded(model.size());
            const qsizetype count = random.bounded(model.size() - first) + 1;
            list.remove(first, count);
            model.remove(first, count);
        } else if (op < 99) {
            std::vector<bool> doomed(std::size_t(random.bounded(model.size() + 3)));
            for (std::size_t i = 0; i < doomed.size(); ++i)
                doomed[i] = random.bounded(3) == 0;
            list.removeFlagged(doomed);
            QStringList kept;
            for (qsizetype i = 0; i < model.size(); ++i) {
                if (std::size_t(i) >= doomed.size() || !doomed[std::size_t(i)])
                    kept.append(model.at(i));
            }
            model = kept;
        } else {
            list.clear();
            model.clear();
        }
        QVERIFY2(list.toStringList() == model, qPrintable(QStringLiteral("after step %1").arg(step)));
    }
}

void PathListTest::takingEveryEntryFromTheFrontEmptiesTheList()
{
    PathList list;
    for (int i = 0; i < 20000; ++i)
        list.append(QStringLiteral("/a/long/enough/folder/name/for/the/store/%1.mid").arg(i));
    for (int i = 0; i < 20000; ++i) {
        QCOMPARE(list.value(0), QStringLiteral("/a/long/enough/folder/name/for/the/store/%1.mid").arg(i));
        list.removeFirst();
    }
    QVERIFY(list.isEmpty());
    list.removeFirst(); // nothing to take: no effect
    QVERIFY(list.isEmpty());
}

QTEST_GUILESS_MAIN(PathListTest)
#include "PathListTest.moc"

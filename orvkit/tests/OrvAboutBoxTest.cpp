// The about box through its export: a real window with its animation thread, on the offscreen
// platform. Runs under ThreadSanitizer in the tsan build.
#include "OrvAboutBox.h"
#include "OrvShell.h"

#include <orvkit/orvkit.h>

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

using namespace orvkit;

// Stands in for the browser: takes the URLs the desktop services would have opened.
class UrlCatcher : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void open(const QUrl &url) { Q_EMIT opened(url); }

Q_SIGNALS:
    void opened(const QUrl &url);
};

// A URL handler that opens the site once more from inside itself, as a program might that
// hands the address on; Qt sends the inner call to the platform.
class ReentrantOpener : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void open(const QUrl &) { innerResult = GoOrvaneURL(0); }

public:
    intptr_t innerResult = 99;
};

// The messages that reach the program's own handler.
QStringList s_logged;
void recordMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    s_logged << message;
}

class OrvAboutBoxTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        // Every test leaves no box behind, and its thread joined.
        delete currentAboutBox();
        QVERIFY(!currentAboutBox());
    }

    // The call returns at once with a handle; the box appears afterwards, from the event loop,
    // as an always-on-top tool window that leaves the rest of the program usable.
    void returnsBeforeTheBoxIsShown()
    {
        const uintptr_t handle = OrvAboutBox(0);
        QVERIFY(handle != 0);
        QPointer<AboutWindow> box = currentAboutBox();
        QVERIFY(box);
        QVERIFY(!box->isVisible());
        QTRY_VERIFY(box->isVisible());
        QCOMPARE(box->windowTitle(), QStringLiteral("About Orvane Labs..."));
        QCOMPARE(box->size(), QSize(kAboutWidth, kAboutHeight));
        QVERIFY(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(box->windowType(), Qt::Tool);
        QCOMPARE(QAccessible::queryAccessibleInterface(box)->role(), QAccessible::Dialog);
        QVERIFY(!box->isModal());
        QVERIFY(!QApplication::activeModalWidget());
        auto *ok = box->findChild<QPushButton *>(QStringLiteral("OkButton"));
        auto *go = box->findChild<QPushButton *>(QStringLiteral("GoButton"));
        QVERIFY(ok && go);
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QCOMPARE(go->text(), QStringLiteral("Go WebSite"));
        QVERIFY(ok->isDefault());
        QCOMPARE(ok->geometry(), QRect(216, 120, 78, 24));
        QCOMPARE(go->geometry(), QRect(216, 94, 78, 24));
    }

    // The owner argument changes nothing: the box has no parent either way.
    void ownerHasNoEffect()
    {
        QWidget owner;
        owner.show();
        QVERIFY(OrvAboutBox(static_cast<uintptr_t>(owner.winId())) != 0);
        QVERIFY(currentAboutBox());
        QVERIFY(!currentAboutBox()->parentWidget());
        QCOMPARE(currentAboutBox()->windowType(), Qt::Tool);
    }

    // The animation thread keeps delivering frames until OK closes the box; closing stops and
    // joins it, and deletes the window.
    void animatesUntilOkClosesIt()
    {
        QVERIFY(OrvAboutBox(0) != 0);
        QPointer<AboutWindow> box = currentAboutBox();
        QTRY_VERIFY(box->framesTaken() >= 5);
        QVERIFY(box->shownCreditsOffset() > 0);
        QTest::mouseClick(
            box->findChild<QPushButton *>(QStringLiteral("OkButton")), Qt::LeftButton);
        QTRY_VERIFY(!box);
        QVERIFY(!currentAboutBox());
    }

    // OK has the focus and is the default button, so Enter closes the box.
    void enterClosesTheBox()
    {
        QVERIFY(OrvAboutBox(0) != 0);
        QPointer<AboutWindow> box = currentAboutBox();
        QTRY_VERIFY(box->isVisible());
        QTRY_VERIFY(box->findChild<QPushButton *>(QStringLiteral("OkButton"))->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(!box);
    }

    void closeBoxBehavesLikeOk()
    {
        QVERIFY(OrvAboutBox(0) != 0);
        QPointer<AboutWindow> box = currentAboutBox();
        QTRY_VERIFY(box->isVisible());
        QVERIFY(box->close());
        QTRY_VERIFY(!box);
    }

    // A modal window of the program (a message box, a file dialog) leaves the box working: its OK
    // closes it while the modal window is up, and after that one closes as before.
    void worksWhileTheProgramShowsModalWindows()
    {
        for (int round = 0; round < 2; ++round) {
            QVERIFY(OrvAboutBox(0) != 0);
            QPointer<AboutWindow> box = currentAboutBox();
            QTRY_VERIFY(box->isVisible());
            QDialog dialog;
            bool closedWhileModal = false;
            QTimer::singleShot(0, &dialog, [&] {
                // Through the window system, as a real click, so a blocked window drops it.
                const auto *ok = box->findChild<QPushButton *>(QStringLiteral("OkButton"));
                QTest::mouseClick(box->windowHandle(), Qt::LeftButton, {},
                    ok->mapTo(box.data(), ok->rect().center()));
                closedWhileModal = !box || box->isClosed();
                dialog.reject();
            });
            dialog.exec();
            QVERIFY2(closedWhileModal, qPrintable(QString::number(round)));
            QTRY_VERIFY(!box);
        }
    }

    // Go WebSite asks the desktop to open the maker's address, then closes the box.
    void goOpensTheSiteThenCloses()
    {
        UrlCatcher browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        QSignalSpy opened(&browser, &UrlCatcher::opened);
        QVERIFY(OrvAboutBox(0) != 0);
        QPointer<AboutWindow> box = currentAboutBox();
        QTRY_VERIFY(box->isVisible());
        QTest::mouseClick(
            box->findChild<QPushButton *>(QStringLiteral("GoButton")), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(opened.count(), 1);
        QCOMPARE(opened.at(0).at(0).toUrl(), QUrl(QString::fromLatin1(kMakerAddress)));
        QTRY_VERIFY(!box);
    }

    // A call while the box is shown raises that box; there is never a second one.
    void secondCallWhileShownKeepsOneBox()
    {
        const uintptr_t first = OrvAboutBox(0);
        QPointer<AboutWindow> box = currentAboutBox();
        QCOMPARE(OrvAboutBox(0), first);
        QCOMPARE(currentAboutBox(), box.data());
        int boxes = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            boxes += widget->objectName() == QStringLiteral("ORVL_AboutBox") ? 1 : 0;
        QCOMPARE(boxes, 1);
    }

    // A call in the moment between closing and the closed box's deletion opens a new box
    // rather than raising the closed one.
    void callRightAfterClosingOpensANewBox()
    {
        QVERIFY(OrvAboutBox(0) != 0);
        QPointer<AboutWindow> closing = currentAboutBox();
        QTRY_VERIFY(closing->isVisible());
        closing->close();
        QVERIFY(closing); // deletion waits for the event loop
        QVERIFY(OrvAboutBox(0) != 0);
        QPointer<AboutWindow> next = currentAboutBox();
        QVERIFY(next && next != closing);
        QTRY_VERIFY(!closing);
        QTRY_VERIFY(next->isVisible());
    }

    // Opening again after closing starts the animation and the credits from the beginning.
    void reopeningStartsAfresh()
    {
        QVERIFY(OrvAboutBox(0) != 0);
        QPointer<AboutWindow> first = currentAboutBox();
        QTRY_VERIFY(first->shownCreditsOffset() >= 3);
        first->close();
        QTRY_VERIFY(!first);

        QVERIFY(OrvAboutBox(0) != 0);
        AboutWindow *second = currentAboutBox();
        QVERIFY(second);
        QCOMPARE(second->framesTaken(), 0);
        AboutAnimation fresh;
        fresh.composeFrame(0);
        QCOMPARE(second->shownFrame(), fresh.frame());
        QTRY_VERIFY(second->framesTaken() >= 2);
    }

    // The animation thread runs one nice step above the thread that opened the box where this
    // process may raise a thread (a probe thread tries), at the same step where it may not; the
    // box animates either way.
    void animationThreadRunsAboveItsCaller()
    {
        bool mayRaise = false;
        std::thread probe([&mayRaise] {
            const auto self = static_cast<id_t>(gettid());
            errno = 0;
            const int nice = getpriority(PRIO_PROCESS, self);
            mayRaise = errno == 0 && setpriority(PRIO_PROCESS, self, nice - 1) == 0;
        });
        probe.join();
        const int callerNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));

        QVERIFY(OrvAboutBox(0) != 0);
        QPointer<AboutWindow> box = currentAboutBox();
        QTRY_VERIFY(box->framesTaken() >= 2);
        QList<int> nices;
        const QDir tasks(QStringLiteral("/proc/self/task"));
        for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
            if (comm.open(QIODevice::ReadOnly)
                && comm.readAll().trimmed() == QByteArray(kAnimationThreadName))
                nices << getpriority(PRIO_PROCESS, task.toUInt());
        }
        QCOMPARE(nices, QList<int>({ mayRaise ? callerNice - 1 : callerNice }));
    }

    // Widgets belong to the GUI thread: a call from elsewhere starts nothing and says so.
    void callFromAnotherThreadStartsNothing()
    {
        uintptr_t handle = 1;
        std::thread caller([&handle] { handle = OrvAboutBox(0); });
        caller.join();
        QCOMPARE(handle, uintptr_t(0));
        QVERIFY(!currentAboutBox());
    }

    // Without a handler for the address (the offscreen platform opens nothing), the result is
    // 32 or less; with one, above 32.
    void goOrvaneUrlReportsTheShellsResult()
    {
        QVERIFY(GoOrvaneURL(0) <= 32);
        UrlCatcher browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        QSignalSpy opened(&browser, &UrlCatcher::opened);
        const intptr_t result = GoOrvaneURL(0);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QVERIFY(result > 32);
        QCOMPARE(opened.count(), 1);
        intptr_t fromThread = 99;
        std::thread caller([&fromThread] { fromThread = GoOrvaneURL(0); });
        caller.join();
        QVERIFY(fromThread <= 32);
    }

    // Without a browser, Qt's desktop services explain on stderr why nothing opened; the library
    // prints nothing, so none of it reaches stderr through Qt's own message handler. A message
    // after the call gets through as before.
    void goOrvaneUrlWithoutABrowserPrintsNothing()
    {
        QTemporaryDir noPrograms;
        QVERIFY(noPrograms.isValid());
        QTemporaryFile captured;
        QVERIFY(captured.open());
        const QByteArray path = qgetenv("PATH");
        const QByteArray browser = qgetenv("BROWSER");
        qputenv("PATH", QFile::encodeName(noPrograms.path()));
        qunsetenv("BROWSER");
        qunsetenv("DEFAULT_BROWSER");
        qputenv("QT_FORCE_STDERR_LOGGING", "1");
        const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
        std::fflush(stderr);
        const int savedStderr = ::dup(STDERR_FILENO);
        ::dup2(captured.handle(), STDERR_FILENO);

        const intptr_t result = GoOrvaneURL(0);
        qWarning("after the call");

        std::fflush(stderr);
        ::dup2(savedStderr, STDERR_FILENO);
        ::close(savedStderr);
        qInstallMessageHandler(testHandler);
        qputenv("PATH", path);
        if (!browser.isEmpty())
            qputenv("BROWSER", browser);
        QVERIFY(result <= 32);
        captured.seek(0);
        QCOMPARE(
            QString::fromLocal8Bit(captured.readAll()).trimmed(), QStringLiteral("after the call"));
    }

    // A call made from inside another keeps quiet too, and the program's own message handler is
    // in place again once the outer call has returned.
    void nestedGoOrvaneUrlRestoresTheProgramsHandler()
    {
        ReentrantOpener opener;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &opener, "open");
        s_logged.clear();
        const QtMessageHandler testHandler = qInstallMessageHandler(recordMessage);
        const intptr_t outer = GoOrvaneURL(0);
        qWarning("after the call");
        qInstallMessageHandler(testHandler);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QVERIFY(outer > 32);
        QVERIFY(opener.innerResult <= 32);
        QCOMPARE(s_logged, QStringList({ "after the call" }));
    }
};

QTEST_MAIN(OrvAboutBoxTest)
#include "OrvAboutBoxTest.moc"

// The program's two calls into liborvkit, through the shared library the program links: the
// Help menu's maker's about box and the maker's web site.
#include "PlayerTestMain.h"

#include "OrvkitCalls.h"
#include "TunedeckFormUnit.h"

#include <QAction>
#include <QDesktopServices>
#include <QPointer>
#include <QSignalSpy>
#include <QUrl>

#include <memory>

namespace {

// The library's about box is a top-level widget of this process, known by its object name.
QWidget *makersAboutBox()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("ORVL_AboutBox"))
            return widget;
    }
    return nullptr;
}

} // namespace

// Stands in for the browser: takes the URLs the desktop services would have opened.
class UrlCatcher : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void open(const QUrl &url) { Q_EMIT opened(url); }

Q_SIGNALS:
    void opened(const QUrl &url);
};

class OrvkitCallsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        delete makersAboutBox();
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }

    // "About Orvane Labs" shows the box without blocking: the menu handler has returned before
    // the box appears, and the main window stays enabled and usable beside it.
    void helpMenuItemShowsTheMakersAboutBox()
    {
        TTunedeckform form;
        form.show();
        auto *item = form.findChild<QAction *>(QStringLiteral("AboutOrvaneSoftware1"));
        QVERIFY(item);
        item->trigger();
        QPointer<QWidget> box = makersAboutBox();
        QVERIFY(box);
        QVERIFY(!box->isVisible());
        QTRY_VERIFY(box->isVisible());
        QVERIFY(!box->isModal());
        QVERIFY(form.isEnabled());
        QVERIFY(!QApplication::activeModalWidget());
        // The library ignores the owner it is given: the box is a window of its own.
        QVERIFY(!box->parentWidget());
        box->close();
        QTRY_VERIFY(!box);
    }

    // The about window's maker line opens the maker's site, a page of the maker's domain.
    void makerLineOpensTheMakersSite()
    {
        UrlCatcher browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        QSignalSpy opened(&browser, &UrlCatcher::opened);
        openOrvaneSite();
        QCOMPARE(opened.count(), 1);
        QVERIFY(opened.at(0).at(0).toUrl().host().endsWith(QStringLiteral("example.org")));
    }
};

TUNEDECK_PLAYER_TEST_MAIN(OrvkitCallsTest)
#include "OrvkitCallsTest.moc"

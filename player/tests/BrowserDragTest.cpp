// Dragging from the file view with the pointer, on a real X server: a press without Shift or
// Ctrl and a move beyond the drag distance drops the file view's selection at the end of the
// play list (or nothing, back on the file view); the same sequence with Shift or Ctrl held
// drops nothing. Needs the
// xcb platform (run under xvfb-run): the offscreen platform ends every drag at once, without a
// drop, so only a real platform shows what a drop does.
#include "PlayerTestMain.h"

#include "FilCtl95.h"
#include "FileView.h"
#include "TunedeckFormUnit.h"

#include <QDir>
#include <QGuiApplication>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

QStringList listaTexts(const TTunedeckform &form)
{
    QStringList texts;
    for (int i = 0; i < form.Lista->count(); ++i)
        texts.append(form.Lista->item(i)->text());
    return texts;
}

// Runs `steps` one after another, each from the event loop, so that a step may start a drag
// (whose own event loop then runs the steps after it) without holding up the rest.
class MouseScript {
public:
    explicit MouseScript(QList<std::function<void()>> steps)
        : m_steps(std::move(steps))
    { }
    void start()
    {
        QTimer::singleShot(0, [this] { next(); });
    }
    bool done() const { return m_next == m_steps.size(); }
    // Every step has returned.
    bool finished() const { return m_returned == m_steps.size(); }

private:
    void next()
    {
        // The next step is due before this one runs: this one may not return until the drag
        // it starts has ended.
        const qsizetype step = m_next++;
        if (!done())
            QTimer::singleShot(0, [this] { next(); });
        m_steps[step]();
        ++m_returned;
    }
    QList<std::function<void()>> m_steps;
    qsizetype m_next = 0;
    qsizetype m_returned = 0;
};

} // namespace

class BrowserDragTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != u"xcb")
            QSKIP("needs an X server (xcb platform): the offscreen platform never drops");
    }

    void aDragNeedsAPressWithoutShiftOrCtrl_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("ontoPlayList"); // or back onto the file view
        QTest::addColumn<QStringList>("dropped");
        // The press on b.mid with a.mid already selected: alone it selects b.mid; with Shift it
        // extends the selection to both, with Ctrl it adds b.mid to it.
        const Qt::KeyboardModifiers none;
        QTest::newRow("plain press") << none << true << QStringList({ "b.mid" });
        QTest::newRow("plain press, back") << none << false << QStringList();
        QTest::newRow("Shift") << Qt::KeyboardModifiers(Qt::ShiftModifier) << true << QStringList();
        QTest::newRow("Ctrl") << Qt::KeyboardModifiers(Qt::ControlModifier) << true
                              << QStringList();
    }

    void aDragNeedsAPressWithoutShiftOrCtrl()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, ontoPlayList);
        QFETCH(QStringList, dropped);

        const QString startDirectory = QDir::currentPath();
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const char *name : { "a.mid", "b.mid", "c.mid" }) {
            QFile file(dir.path() + u'/' + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        auto form = std::make_unique<TTunedeckform>();
        QVERIFY(form->TdDirectory->setDirectory(dir.path()));
        form->Lista->addItem(QStringLiteral("x.mid"));
        form->PlayListPaths.append(QStringLiteral("/x.mid"));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        QWidget *files = form->TdfileV->viewport();
        QWidget *target = ontoPlayList ? form->Lista->viewport() : files;
        QTest::mouseClick(files, Qt::LeftButton, {}, form->TdfileV->rowRect(0).center());
        const QPoint pressAt = form->TdfileV->rowRect(1).center();
        const QPoint farAway = pressAt + QPoint(0, QApplication::startDragDistance() + 2);
        const QPoint onTarget
            = ontoPlayList ? target->rect().center() : form->TdfileV->rowRect(2).center();
        MouseScript script({
            [&] { QTest::mousePress(files, Qt::LeftButton, modifiers, pressAt); },
            [&] { QTest::mouseMove(files, pressAt + QPoint(0, 2)); },
            [&] { QTest::mouseMove(files, farAway); },
            [&] { QTest::mouseMove(target, onTarget + QPoint(0, -3)); },
            [&] { QTest::mouseMove(target, onTarget); },
            [&] { QTest::mouseRelease(target, Qt::LeftButton, modifiers, onTarget); },
        });
        script.start();
        QTRY_VERIFY(script.finished());
        QCoreApplication::processEvents();

        QCOMPARE(listaTexts(*form), QStringList({ "x.mid" }) + dropped);
        QCOMPARE(form->PlayListPaths.size(), form->Lista->count());
        form.reset();
        QVERIFY(QDir::setCurrent(startDirectory));
    }
};

TUNEDECK_PLAYER_TEST_MAIN(BrowserDragTest)
#include "BrowserDragTest.moc"

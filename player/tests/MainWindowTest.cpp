// The main window as the user first meets it: the start-up state, the layout, the commands of
// the menus and the three ways of leaving the program.
#include "PlayerTestMain.h"
#include "SongFixtures.h"

#include "AboutFormUnit.h"
#include "FilCtl95.h"
#include "HelpEngine.h"
#include "ShadowLabel.h"
#include "TMediaPlayer.h"
#include "Trackbar95.h"
#include "TunedeckFormUnit.h"

#include <QAccessible>
#include <QAction>
#include <QDialog>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <sys/stat.h>

namespace {

// Result of an event loop that nothing ended: the watchdog's, never the program's.
constexpr int kLoopNotEnded = 99;

// Runs the application's event loop, as the program does, after `action`; returns the loop's
// exit code, or kLoopNotEnded when nothing ended it within the watchdog's generous limit.
int runProgramLoop(const std::function<void()> &action)
{
    QTimer::singleShot(0, action);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(kLoopNotEnded); });
    watchdog.start(20000);
    return QCoreApplication::exec();
}

// Calls `onModal` for every modal window that opens while it lives (each time one is on top).
class ModalWatcher : public QObject {
public:
    explicit ModalWatcher(std::function<void(QWidget *)> onModal)
        : m_onModal(std::move(onModal))
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal)
                modal = QApplication::activePopupWidget();
            if (modal && modal != m_last) {
                m_last = modal;
                m_onModal(modal);
            }
            if (!modal)
                m_last = nullptr;
        });
        m_poll.start(0);
    }

private:
    std::function<void(QWidget *)> m_onModal;
    QPointer<QWidget> m_last;
    QTimer m_poll;
};

// Shows the window and makes it the active one, as the user's window is when keys reach it.
bool showActive(QWidget *window)
{
    window->show();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        TunedeckApplication::setTitle(QStringLiteral("Tunedeck"));
        m_form = std::make_unique<TTunedeckform>();
    }
    void cleanup() { m_form.reset(); }

    // Right after start: the status bar's start texts, nothing beside "Playing:", a disabled
    // position bar at 0 of 10, Play and Pause to be seen, Stop and Resume hidden.
    void startsStoppedWithEmptyDisplay()
    {
        TTunedeckform &form = *m_form;
        const QStringList panels { "Status:", "Stopped", "Length:", "00:00", "Position:", "00:00" };
        for (int i = 0; i < panels.size(); ++i)
            QCOMPARE(form.StatusBar->panelText(i), panels[i]);
        QVERIFY(form.StatusBar->panel(6)->text().isEmpty());
        QCOMPARE(form.ShadowLabel1->text(), QStringLiteral("Playing:"));
        QVERIFY(form.FNPlay->text().isEmpty());
        QVERIFY(!form.PosBar->isEnabled());
        QCOMPARE(form.PosBar->minimum(), 0);
        QCOMPARE(form.PosBar->maximum(), 10);
        QCOMPARE(form.PosBar->value(), 0);
        QVERIFY(!form.PlayButt->isHidden());
        QVERIFY(!form.PauseButt->isHidden());
        QVERIFY(form.StopButt->isHidden());
        QVERIFY(form.ResButt->isHidden());
        QCOMPARE(form.TimerPlay->interval(), 300);
        // At rest the display's timer ends after its first tick: nothing wakes the program.
        QTRY_VERIFY_WITH_TIMEOUT(!form.TimerPlay->isActive(), 5000);
        QVERIFY(!form.ResTimer->isActive());
        QCOMPARE(form.ResTimer->interval(), 200);
        QCOMPARE(form.Lista->count(), 0);
        QVERIFY(form.PlayListPaths.isEmpty());
        QVERIFY(!form.LettoreMidi->IsOpen());
    }

    // "Playing:" stands in a bold face (one the system really has, not a regular face asked to
    // be bold), fits its place, and its shadow shows: light pixels up and to the left of the
    // text, where the text itself does not cover them.
    void playingLabelIsBoldWithItsShadow()
    {
        TTunedeckform &form = *m_form;
        const QFontInfo shown(form.ShadowLabel1->font());
        QVERIFY2(shown.bold(), qPrintable(shown.family()));
        QVERIFY2(shown.weight() >= QFont::DemiBold, qPrintable(shown.family()));
        QVERIFY2(shown.styleName().contains(u"Bold", Qt::CaseInsensitive),
            qPrintable(shown.family() + u' ' + shown.styleName()));

        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TShadowLabel &label = *form.ShadowLabel1;
        QVERIFY(QFontMetrics(label.font()).horizontalAdvance(label.text()) + label.shadowSize()
            <= label.width());
        const QImage image = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
        // The shadow (the light colour) is lighter than the background, the text darker.
        const int background = label.palette().color(QPalette::Window).lightness();
        QVERIFY(label.shadowColor().lightness() > background + 8);
        QVERIFY(label.palette().color(QPalette::WindowText).lightness() < background - 64);
        const auto lightness = [&](int x, int y) { return QColor(image.pixel(x, y)).lightness(); };
        int shadowPixels = 0;
        int textPixels = 0;
        for (int y = 0; y + 1 < image.height(); ++y) {
            for (int x = 0; x + 1 < image.width(); ++x) {
                textPixels += lightness(x, y) < background - 64 ? 1 : 0;
                // Light where the text lies one pixel down and to the right.
                shadowPixels
                    += lightness(x, y) > background + 8 && lightness(x + 1, y + 1) < background - 64
                    ? 1
                    : 0;
            }
        }
        QVERIFY2(textPixels > 30, qPrintable(QString::number(textPixels)));
        QVERIFY2(shadowPixels > 10, qPrintable(QString::number(shadowPixels)));
    }

    // The window title (what the task bar shows) is the application title with its trailing
    // blank; the caption the title bar paints is the product and version.
    void titleHasTheTrailingBlank()
    {
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Tunedeck "));
        QCOMPARE(TunedeckApplication::title(), QStringLiteral("Tunedeck "));
        QCOMPARE(m_form->Caption(), QStringLiteral("Tunedeck V1.6.0"));
    }

    // The window's picture, built into the program as pixels, is the picture file's.
    void windowShowsTheProgramPicture()
    {
        const QImage file = QImage(QStringLiteral(TUNEDECK_ICON_FILE))
                                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QVERIFY(!file.isNull());
        const QImage shown = m_form->windowIcon()
                                 .pixmap(file.size())
                                 .toImage()
                                 .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(shown.size(), file.size());
        for (int y = 0; y < file.height(); ++y) {
            for (int x = 0; x < file.width(); ++x) {
                const QRgb a = shown.pixel(x, y), b = file.pixel(x, y);
                const int most
                    = std::max({ std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                        std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b)) });
                QVERIFY2(most <= 1, qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
        }
    }

    // Every component of the layout stands at its place with its size.
    void layoutPlacesEveryComponent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QRect>("geometry");
        const auto row = [](const char *name, const char *parent, QRect geometry) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent)
                                << geometry;
        };
        row("Panel1", "Tunedeckform", { 0, 0, 456, 27 });
        row("Panel2", "Panel1", { 0, 0, 160, 27 });
        row("Bevel2", "Panel2", { 4, 4, 3, 18 });
        row("ToolBar1", "Panel2", { 12, 3, 89, 21 });
        row("ToolButton1", "ToolBar1", { 0, 0, 35, 21 });
        row("ToolButton2", "ToolBar1", { 35, 0, 35, 21 });
        row("Bevel1", "Panel1", { 160, 0, 295, 27 });
        row("Bevel3", "Panel1", { 165, 4, 3, 18 });
        row("ShadowLabel1", "Panel1", { 174, 7, 48, 13 });
        row("GroupBox1", "Tunedeckform", { 0, 23, 457, 262 });
        row("TdDrive", "GroupBox1", { 8, 16, 169, 22 });
        row("TdDirectory", "GroupBox1", { 8, 40, 169, 70 });
        row("TdfileV", "GroupBox1", { 8, 112, 169, 113 });
        row("AddOneButt", "GroupBox1", { 184, 40, 89, 25 });
        row("AddAllButt", "GroupBox1", { 184, 85, 89, 25 });
        row("RemoveOneButt", "GroupBox1", { 184, 131, 89, 25 });
        row("RemoveAllButt", "GroupBox1", { 184, 176, 89, 25 });
        row("Lista", "GroupBox1", { 280, 16, 169, 209 });
        row("PlayButt", "GroupBox1", { 8, 232, 89, 25 });
        row("StopButt", "GroupBox1", { 8, 232, 89, 25 });
        row("PauseButt", "GroupBox1", { 128, 232, 89, 25 });
        row("ResButt", "GroupBox1", { 128, 232, 89, 25 });
        row("SkipButt", "GroupBox1", { 248, 232, 89, 25 });
        row("ExitButt", "GroupBox1", { 368, 232, 81, 25 });
        row("StatusBar", "Tunedeckform", { 0, 286, 456, 19 });
        row("PosBar", "Tunedeckform", { 310, 287, 145, 18 });
    }
    void layoutPlacesEveryComponent()
    {
        QFETCH(QString, name);
        QFETCH(QString, parentName);
        QFETCH(QRect, geometry);
        auto *widget = m_form->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->parentWidget()->objectName(), parentName);
        // The window's own components stand in its client area, below the painted title bar.
        const QPoint origin
            = widget->parentWidget() == m_form.get() ? m_form->clientRect().topLeft() : QPoint();
        QCOMPARE(widget->geometry().translated(-origin), geometry);
    }

    // The label beside "Playing:" starts at its place and grows with its text.
    void playingLabelSizesToItsText()
    {
        QCOMPARE(m_form->FNPlay->pos(), QPoint(227, 7));
        QCOMPARE(m_form->FNPlay->width(), 0);
    }

    // The later button of each pair lies on top of the earlier one.
    void upperButtonsCoverLowerOnes()
    {
        const QObjectList children = m_form->GroupBox1->children();
        QVERIFY(children.indexOf(m_form->StopButt) > children.indexOf(m_form->PlayButt));
        QVERIFY(children.indexOf(m_form->ResButt) > children.indexOf(m_form->PauseButt));
    }

    // Buttons carry their captions (with the underlined letter) and tool tips.
    void buttonsHaveCaptionsAndHints_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("hint");
        QTest::newRow("Play") << "PlayButt"
                              << "&Play"
                              << "Start playing";
        QTest::newRow("Stop") << "StopButt"
                              << "&Stop"
                              << "Stop playing";
        QTest::newRow("Pause") << "PauseButt"
                               << "P&ause"
                               << "Pause playing";
        QTest::newRow("Resume") << "ResButt"
                                << "R&esume"
                                << "Resume playing";
        QTest::newRow("Skip") << "SkipButt"
                              << "S&kip"
                              << "Skip current file";
        QTest::newRow("Exit") << "ExitButt"
                              << "E&xit"
                              << "Exit Tunedeck";
        QTest::newRow("Add") << "AddOneButt"
                             << "A&dd"
                             << "Add the selected file to the list";
        QTest::newRow("AddAll") << "AddAllButt"
                                << "Add a&ll"
                                << "Add all file to the list";
        QTest::newRow("Remove") << "RemoveOneButt"
                                << "&Remove"
                                << "Remove the selected file from the list";
        QTest::newRow("RemoveAll") << "RemoveAllButt"
                                   << "Remo&ve all"
                                   << "Remove all the files from the list";
        QTest::newRow("File") << "ToolButton1"
                              << "&File"
                              << "";
        QTest::newRow("Help") << "ToolButton2"
                              << "&Help"
                              << "";
    }
    void buttonsHaveCaptionsAndHints()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, hint);
        auto *button = m_form->findChild<QAbstractButton *>(name);
        QVERIFY(button);
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->toolTip(), hint);
    }

    // The menu items, in order, with their captions, shortcuts and pictures.
    void menusHoldTheirItems()
    {
        struct Item {
            const char *name;
            const char *caption;
            QKeySequence shortcut;
            bool picture;
        };
        const auto check = [](QMenu *menu, const QList<Item> &items) {
            const QList<QAction *> actions = menu->actions();
            QCOMPARE(actions.size(), items.size());
            for (qsizetype i = 0; i < items.size(); ++i) {
                QCOMPARE(actions[i]->objectName(), QLatin1String(items[i].name));
                if (QLatin1String(items[i].caption).isEmpty()) {
                    QVERIFY(actions[i]->isSeparator());
                    continue;
                }
                QCOMPARE(actions[i]->text(), QLatin1String(items[i].caption));
                QCOMPARE(actions[i]->shortcut(), items[i].shortcut);
                QCOMPARE(!actions[i]->icon().isNull(), items[i].picture);
            }
        };
        check(m_form->MainFileMenu,
            { { "OpenPlayList1", "&Open Play List", QKeySequence(Qt::CTRL | Qt::Key_O), true },
                { "SavePlayList1", "&Save Play List", QKeySequence(Qt::CTRL | Qt::Key_S), true },
                { "N1", "", {}, false },
                { "Exit1", "E&xit", QKeySequence(Qt::CTRL | Qt::Key_X), true } });
        check(m_form->MainHelpMenu,
            { { "Contents1", "&Contents", QKeySequence(Qt::Key_F1), true }, { "N2", "", {}, false },
                { "AboutOrvaneSoftware1", "About &Orvane Labs", {}, false },
                { "about2", "&About", QKeySequence(Qt::CTRL | Qt::Key_A), true } });
    }

    // Pressing a tool button drops its menu down below it.
    void toolButtonsDropTheirMenusDown()
    {
        QVERIFY(showActive(m_form.get()));
        QStringList opened;
        QString startsOn; // the item a menu opened from the keyboard starts on
        ModalWatcher watcher([&opened, &startsOn](QWidget *popup) {
            opened.append(popup->objectName());
            auto *menu = qobject_cast<QMenu *>(popup);
            if (menu && opened.size() == 2
                && QTest::qWaitFor([menu] { return menu->activeAction(); }))
                startsOn = menu->activeAction()->objectName();
            if (opened.size() == 2) {
                QTest::keyClick(popup, Qt::Key_Right); // round to the File menu beside it
                if (!QTest::qWaitFor([popup] { return !popup->isVisible(); }, 1000))
                    popup->close(); // the key did nothing; the check below says so
            } else {
                popup->close();
            }
        });
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        QVERIFY(showActive(m_form.get())); // The closed menu does not hand activation back here.
        QTest::keyClick(m_form.get(), Qt::Key_H, Qt::AltModifier);
        QTRY_COMPARE(opened, (QStringList { "MainFileMenu", "MainHelpMenu", "MainFileMenu" }));
        QCOMPARE(startsOn, QStringLiteral("Contents1"));
    }

    // Fixed size, no maximise button; the client area is 456 x 305 below the painted title bar,
    // which has a minimise box and a disabled maximise box.
    void windowCannotBeResized()
    {
        TTunedeckform &form = *m_form;
        QCOMPARE(form.clientRect().size(), QSize(456, 305));
        const QSize whole = form.size();
        QVERIFY(whole.height() > 305);
        QCOMPARE(form.minimumSize(), whole);
        QCOMPARE(form.maximumSize(), whole);
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form.findChild<QWidget *>(QStringLiteral("CaptionMinimiseButton")));
        QVERIFY(!form.findChild<QWidget *>(QStringLiteral("CaptionMaximiseButton"))->isEnabled());
        form.show();
        form.resize(600, 400);
        QCOMPARE(form.size(), whole);
        form.showMaximized();
        QCOMPARE(form.size(), whole);
    }

    // Exit button click, Alt+X and Ctrl+X each end the program's event loop.
    void eachWayOfLeavingEndsTheProgram_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("Exit button click") << 0;
        QTest::newRow("Alt+X") << 1;
        QTest::newRow("Ctrl+X") << 2;
        QTest::newRow("close box") << 3;
    }
    void eachWayOfLeavingEndsTheProgram()
    {
        QFETCH(int, way);
        TTunedeckform *form = m_form.get();
        QVERIFY(showActive(form));
        const int result = runProgramLoop([form, way] {
            switch (way) {
            case 0:
                QTest::mouseClick(form->ExitButt, Qt::LeftButton);
                break;
            case 1:
                QTest::keyClick(form, Qt::Key_X, Qt::AltModifier);
                break;
            case 2:
                QTest::keyClick(form, Qt::Key_X, Qt::ControlModifier);
                break;
            default:
                form->close();
            }
        });
        QCOMPARE(result, 0);
    }

    // Ending the program while a file plays destroys the device with the window, which closes
    // the file and stops the sound.
    void endingWhilePlayingClosesTheDevice()
    {
        QTemporaryDir folder;
        const QString song = writeSong(folder.path(), QStringLiteral("scale.mid"), 8000);
        QVERIFY(!song.isEmpty());
        TTunedeckform *form = m_form.get();
        form->Lista->addItem(QStringLiteral("scale.mid"));
        form->PlayListPaths.append(song);
        QVERIFY(showActive(form));
        // A screen reader finds only the buttons the window shows, not those covered.
        const auto readersFind = [form] {
            QList<QWidget *> shown;
            for (QWidget *button :
                { form->PlayButt, form->StopButt, form->PauseButt, form->ResButt }) {
                const QAccessibleInterface *found = QAccessible::queryAccessibleInterface(button);
                if (!found->state().invisible && found->role() == QAccessible::Button)
                    shown.append(button);
            }
            return shown;
        };
        QCOMPARE(readersFind(), QList<QWidget *>({ form->PlayButt, form->PauseButt }));
        QTest::mouseClick(form->PlayButt, Qt::LeftButton);
        QVERIFY(form->LettoreMidi->IsOpen());
        QCOMPARE(form->StatusBar->panelText(1), QStringLiteral("Playing"));
        QCOMPARE(readersFind(), QList<QWidget *>({ form->StopButt, form->PauseButt }));
        // The Play button under Stop is out of the Tab order (its accelerator still works), and
        // the focus Play had is on Stop; so with Pause under Resume.
        QCOMPARE(QApplication::focusWidget(), form->StopButt);
        form->RemoveAllButt->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form->StopButt);
        form->PauseButt->setFocus();
        QTest::keyClick(form->PauseButt, Qt::Key_Space);
        QTRY_VERIFY(!form->ResButt->isHidden());
        QCOMPARE(QApplication::focusWidget(), form->ResButt);
        QCOMPARE(readersFind(), QList<QWidget *>({ form->StopButt, form->ResButt }));
        // And back: Resume and Stop leave their focus to the button uncovered at their place,
        // so Space pressed again there pauses or plays (it went to Skip, or to Pause). Enter
        // presses a focused button as Space does.
        QTest::keyClick(form->ResButt, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), form->PauseButt);
        QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(form->PauseButt, &held); // the key held down: no second press
        QVERIFY(form->ResButt->isHidden());
        form->StopButt->setFocus();
        QTest::keyClick(form->StopButt, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(QApplication::focusWidget(), form->PlayButt);
        form->Lista->addItem(QStringLiteral("scale.mid")); // Play took it off the list
        form->PlayListPaths.append(song);
        QTest::keyClick(form->PlayButt, Qt::Key_Space);
        QVERIFY(form->LettoreMidi->IsOpen());
        QCOMPARE(QApplication::focusWidget(), form->StopButt);
        QPointer<TMediaPlayer> device = form->LettoreMidi;
        QCOMPARE(
            runProgramLoop([form] { QTest::keyClick(form, Qt::Key_X, Qt::ControlModifier); }), 0);
        m_form.reset(); // What main does when the loop has ended.
        QVERIFY(device.isNull());
    }

    // Ctrl+A opens the about window modally; twice in a row gives a fresh window each time,
    // and each is gone once it has closed.
    void aboutOpensAFreshWindowEachTime()
    {
        QVERIFY(showActive(m_form.get()));
        QList<QPointer<QWidget>> windows;
        QList<bool> previousGone;
        ModalWatcher watcher([&](QWidget *modal) {
            if (!qobject_cast<TAboutForm *>(modal))
                return;
            previousGone.append(windows.isEmpty() || windows.last().isNull());
            windows.append(modal);
            QCOMPARE(modal->windowTitle(), QStringLiteral("About Tunedeck"));
            QCOMPARE(modal->size(), QSize(347, 131));
            QVERIFY(!m_form->isEnabled() || QApplication::activeModalWidget() == modal);
            // What its OK button does; the window has no close box.
            qobject_cast<QDialog *>(modal)->done(QDialog::Accepted);
        });
        QTest::keyClick(m_form.get(), Qt::Key_A, Qt::ControlModifier);
        QVERIFY(showActive(m_form.get())); // The offscreen platform does not reactivate it.
        QTest::keyClick(m_form.get(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(windows.size(), 2);
        QCOMPARE(previousGone, (QList<bool> { true, true }));
        QVERIFY(windows[1].isNull());
    }

    // The help file is looked for in the program's folder, whatever the current directory.
    void helpIsFoundWhateverTheCurrentDirectory()
    {
        QTemporaryDir elsewhere;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        BoxRecorder boxes;
        QVERIFY(showActive(m_form.get()));
        QTest::keyClick(m_form.get(), Qt::Key_F1);
        QDir::setCurrent(before);
        QCOMPARE(boxes.boxes().size(), 0);
        QCOMPARE(TunedeckApplication::helpFile(),
            QCoreApplication::applicationDirPath() + QStringLiteral("/Tunedeck.hlp"));
        QTextBrowser *help = HelpEngine::window(m_form.get());
        QVERIFY(help);
        QVERIFY(help->isVisible());
        QCOMPARE(help->focusWidget(), help); // so a screen reader reads it
        QVERIFY(help->toPlainText().contains(QStringLiteral("Tunedeck Help")));
        // The about window's author topic.
        QVERIFY(HelpEngine::showTopic(m_form.get(), TunedeckApplication::helpFile(), 20));
        QCOMPARE(boxes.boxes().size(), 0);
        // Escape closes it, as it closes a dialog.
        QTest::keyClick(help, Qt::Key_Escape);
        QVERIFY(!help->isVisible());
    }

    // A missing help file is reported by the help engine itself, under its own caption.
    void missingHelpFileIsReportedByTheHelpEngine()
    {
        QTemporaryDir empty;
        TunedeckApplication::setHelpFile(empty.filePath(QStringLiteral("Tunedeck.hlp")));
        BoxRecorder boxes;
        m_form->Contents1->trigger();
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes().first().caption, HelpEngine::kHelpCaption);
        QVERIFY(boxes.boxes().first().text.contains(empty.path()));
        QVERIFY(!HelpEngine::window(m_form.get()));
    }

    // A help file that is not one of ours: an empty one is reported like a missing one; what a
    // document names is read beside it (not from the current folder), a pipe not at all.
    void helpFilesThatAreNotOurs()
    {
        QTemporaryDir folder;
        QTemporaryDir current;
        const auto write = [](const QString &name, const QByteArray &text) {
            QFile file(name);
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        const QString help = folder.filePath(QStringLiteral("Tunedeck.hlp"));
        BoxRecorder boxes;
        QVERIFY(write(help, QByteArray()));
        QVERIFY(!HelpEngine::showContents(m_form.get(), help));
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY(
            write(help, "<a name=\"topic1\"></a><img src=\"pipe.png\"><a href=\"b.html\">B</a>"));
        QCOMPARE(::mkfifo(QFile::encodeName(folder.filePath(QStringLiteral("pipe.png"))), 0600), 0);
        QVERIFY(write(folder.filePath(QStringLiteral("b.html")), "Beside"));
        QVERIFY(write(current.filePath(QStringLiteral("b.html")), "Current"));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(current.path()));
        QVERIFY(HelpEngine::showContents(m_form.get(), help));
        HelpEngine::window(m_form.get())->setSource(QUrl(QStringLiteral("b.html")));
        QDir::setCurrent(before);
        QCOMPARE(HelpEngine::window(m_form.get())->toPlainText(), QStringLiteral("Beside"));
    }

    // Tab moves through the controls in the layout's order: the play list, the editing buttons,
    // the transport buttons, then the file view, the drive box and the folder list.
    void tabFollowsTheLayoutOrder()
    {
        const QStringList expected { "Lista", "AddOneButt", "AddAllButt", "RemoveOneButt",
            "RemoveAllButt", "PlayButt", "StopButt", "PauseButt", "ResButt", "SkipButt", "ExitButt",
            "TdfileV", "TdDrive", "TdDirectory", "PosBar" };
        QStringList chain;
        QWidget *widget = m_form->Lista;
        do {
            if (expected.contains(widget->objectName()) && !chain.contains(widget->objectName()))
                chain.append(widget->objectName());
            widget = widget->nextInFocusChain();
        } while (widget != m_form->Lista);
        QCOMPARE(chain, expected);
    }

    // What a screen reader finds in the window: a window, the drive box's name, each caption as
    // it is shown, and no status panel under the position bar.
    void aScreenReaderFindsWhatIsShown()
    {
        TTunedeckform *form = m_form.get();
        QVERIFY(showActive(form));
        const auto found
            = [](QWidget *widget) { return QAccessible::queryAccessibleInterface(widget); };
        QCOMPARE(found(form)->role(), QAccessible::Window);
        const auto driveLabels = found(form->TdDrive)->relations(QAccessible::Label);
        QCOMPARE(driveLabels.size(), 1);
        QCOMPARE(driveLabels[0].first->text(QAccessible::Name), QStringLiteral("Drive"));
        QCOMPARE(
            found(form->StatusBar->panel(0))->text(QAccessible::Name), QStringLiteral("Status:"));
        QVERIFY(!found(form->StatusBar->panel(1))->state().invisible);
        QVERIFY(found(form->StatusBar->panel(6))->state().invisible);
    }

    // Every control can be told apart by assistive technology.
    void everyControlHasAnAccessibleName()
    {
        for (QWidget *widget : m_form->findChildren<QWidget *>()) {
            // The file dialogs are windows of their own.
            if (!widget->focusPolicy() || widget->window() != m_form.get())
                continue;
            const QString name = widget->accessibleName().isEmpty()
                ? widget->property("text").toString()
                : widget->accessibleName();
            QVERIFY2(!name.isEmpty(), qPrintable(widget->objectName()));
        }
    }

private:
    std::unique_ptr<TTunedeckform> m_form;
};

TUNEDECK_PLAYER_TEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"

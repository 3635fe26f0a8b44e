#include "AboutFormUnit.h"

#include "HelpEngine.h"
#include "PlayerTestMain.h"
#include "ScrollTextPanel.h"
#include "ShadowLabel.h"
#include "TunedeckApplication.h"

#include <QAccessible>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <memory>

namespace {

// A fresh window, shown (not modal, so the test keeps the event loop).
std::unique_ptr<TAboutForm> openAboutWindow()
{
    auto form = std::make_unique<TAboutForm>();
    form->show();
    return form;
}

void doubleClick(QWidget *widget)
{
    QTest::mouseDClick(widget, Qt::LeftButton);
}

// From a fresh window, the shortest way to "OK Go On".
void arm(TAboutForm &form)
{
    doubleClick(form.AppLogo);
    doubleClick(form.AppLogo);
    doubleClick(form.AppName);
    doubleClick(form.AboutVer);
    QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
}

} // namespace

class AboutFormTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void creationSetsCaptionVersionPlaceAndStep();
    void controlsStandWhereTheLayoutPutsThem_data();
    void controlsStandWhereTheLayoutPutsThem();
    void labelsCarryTheirFontsAndColours();
    void theFirstDoubleClicksOfAFreshWindowOnlyClearTheStep();
    void iconDoubleClicksToggleAndAnythingOutOfOrderResets();
    void theShortestRevealArmsOkAndOkStartsThePanel();
    void theAuthorAgainWhileArmedResetsButKeepsTheText();
    void theAuthorOpensHelpTopic20OnEveryClick();
    void okWhileTheTextScrollsClosesAtOnce();
    void theRevealedWindowClosesItselfAfterThePass();
    void openingAgainStartsFresh();
    void singleClicksDoNothingButOnTheMakerLine();
    void enterPressesOkAndEscapeDoesNothing_data();
    void enterPressesOkAndEscapeDoesNothing();
    void closingEndsTheModalLoopWithOk();
    void thePanelHoldsItsFixedLinesAtTheirNumbers();
    void thePanelPassIsTheAreaHeightPlus150Lines();

private:
    QTemporaryDir m_dir;
    int m_siteOpened = 0;
};

void AboutFormTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString helpFile = m_dir.filePath(QStringLiteral("Tunedeck.hlp"));
    QFile file(helpFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<html><body><a name=\"topic1\"></a><p>Contents</p>"
               "<a name=\"topic20\"></a><p>The author</p></body></html>");
    file.close();
    TunedeckApplication::setHelpFile(helpFile);
    TAboutForm::setMakerSiteOpener([this] { ++m_siteOpened; });
}

void AboutFormTest::init()
{
    m_siteOpened = 0;
}

void AboutFormTest::creationSetsCaptionVersionPlaceAndStep()
{
    auto form = std::make_unique<TAboutForm>();
    QCOMPARE(form->windowTitle(), QStringLiteral("About Tunedeck"));
    QCOMPARE(form->AboutVer->text(), QStringLiteral("V1.6.0"));
    QCOMPARE(TAboutForm::revealStep(), 9);
    QCOMPARE(form->size(), QSize(347, 131));
    QVERIFY(form->SP->isHidden());
    QVERIFY(!form->SP->isActive());
    QCOMPARE(form->AOKButt->text(), QStringLiteral("OK"));
    QVERIFY(form->AOKButt->isDefault());
    QVERIFY(!(form->windowFlags() & Qt::WindowCloseButtonHint));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(form->x(), screen.x() + (screen.width() - form->frameGeometry().width()) / 2);
    QCOMPARE(form->y(), screen.y() + (screen.height() - form->frameGeometry().height()) / 2);
}

void AboutFormTest::controlsStandWhereTheLayoutPutsThem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("icon") << "AppLogo" << QRect(24, 14, 33, 33) << QString();
    QTest::newRow("version") << "AboutVer" << QRect(240, 48, 74, 18) << "V1.6.0";
    QTest::newRow("maker line") << "Label1" << QRect(176, 66, 117, 16) << "By Orvane Labs";
    QTest::newRow("name") << "AppName" << QRect(71, 12, 181, 36) << "Tunedeck";
    QTest::newRow("OK") << "AOKButt" << QRect(256, 104, 89, 25) << "OK";
    QTest::newRow("The Author") << "BitBtn2" << QRect(152, 104, 91, 25) << "The Author";
    QTest::newRow("panel") << "SP" << QRect(64, 0, 281, 105) << QString();
}

void AboutFormTest::controlsStandWhereTheLayoutPutsThem()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    TAboutForm form;
    auto *control = form.findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    if (!text.isEmpty())
        QCOMPARE(control->property("text").toString(), text);
    QVERIFY(!control->accessibleName().isEmpty() || !text.isEmpty());
}

void AboutFormTest::labelsCarryTheirFontsAndColours()
{
    TAboutForm form;
    const QFont version = form.AboutVer->font();
    QCOMPARE(version.pixelSize(), 15);
    QVERIFY(version.bold());
    QCOMPARE(form.AboutVer->palette().color(QPalette::WindowText), QColor(Qt::black));
    const QFont maker = form.Label1->font();
    QCOMPARE(maker.pixelSize(), 13);
    QVERIFY(maker.bold() && maker.italic() && maker.underline());
    QCOMPARE(form.Label1->palette().color(QPalette::WindowText), QColor(Qt::blue));
    const QFont name = form.AppName->font();
    QCOMPARE(name.pixelSize(), 32);
    QVERIFY(name.bold() && name.italic());
    QCOMPARE(form.AppName->shadowSize(), 1);
    QCOMPARE(form.AppName->shadowPosition(), TShadowLabel::ShadowPosition::UpperLeft);
    QCOMPARE(form.AppName->shadowColor(), form.AppName->palette().color(QPalette::Light));
    QCOMPARE(form.SP->font(), form.font()); // The panel takes the window's font.
    QCOMPARE(form.SP->intervalMs(), 70u);
}

// A new window starts at 9, so each of these double-clicks finds a step other than the one it
// wants and clears it; "The Author" then only opens the help topic.
void AboutFormTest::theFirstDoubleClicksOfAFreshWindowOnlyClearTheStep()
{
    auto form = openAboutWindow();
    QList<int> steps { TAboutForm::revealStep() };
    doubleClick(form->AppLogo);
    steps << TAboutForm::revealStep();
    doubleClick(form->AppName);
    steps << TAboutForm::revealStep();
    doubleClick(form->AboutVer);
    steps << TAboutForm::revealStep();
    QTest::mouseClick(form->BitBtn2, Qt::LeftButton);
    steps << TAboutForm::revealStep();
    QCOMPARE(steps, QList<int>({ 9, 0, 0, 0, 0 }));
    QCOMPARE(form->AOKButt->text(), QStringLiteral("OK"));
    QVERIFY(HelpEngine::window(form.get()) && HelpEngine::window(form.get())->isVisible());
}

void AboutFormTest::iconDoubleClicksToggleAndAnythingOutOfOrderResets()
{
    auto form = openAboutWindow();
    QList<int> steps;
    for (int i = 0; i < 4; ++i) {
        doubleClick(form->AppLogo);
        steps << TAboutForm::revealStep();
    }
    QCOMPARE(steps, QList<int>({ 0, 1, 0, 1 }));
    doubleClick(form->AboutVer); // Out of order.
    QCOMPARE(TAboutForm::revealStep(), 0);
    doubleClick(form->AppName); // Must restart with the icon.
    QCOMPARE(TAboutForm::revealStep(), 0);
    doubleClick(form->AppLogo);
    doubleClick(form->AppName);
    doubleClick(form->AppName); // Twice: out of order.
    QCOMPARE(TAboutForm::revealStep(), 0);
}

void AboutFormTest::theShortestRevealArmsOkAndOkStartsThePanel()
{
    auto form = openAboutWindow();
    arm(*form);
    QCOMPARE(TAboutForm::revealStep(), 5);
    QCOMPARE(form->AOKButt->text(), QStringLiteral("OK Go On"));
    QVERIFY(HelpEngine::window(form.get()) && HelpEngine::window(form.get())->isVisible());

    QSignalSpy starts(form->SP, &TScrollTextPanel::OnStartPlay);
    QTest::mouseClick(form->AOKButt, Qt::LeftButton);
    QCOMPARE(form->AOKButt->text(), QStringLiteral("OK"));
    QVERIFY(form->SP->isVisible());
    QVERIFY(form->SP->isActive());
    QCOMPARE(starts.count(), 1);
    QCOMPARE(TAboutForm::revealStep(), 0);
    QVERIFY(form->isVisible());
    // The panel covers the name, version and maker line; icon and buttons stay in view.
    for (QWidget *covered : { static_cast<QWidget *>(form->AppName),
             static_cast<QWidget *>(form->AboutVer), static_cast<QWidget *>(form->Label1) })
        QCOMPARE(form->childAt(covered->geometry().center()), form->SP);
    QVERIFY(form->childAt(form->AppLogo->geometry().center()) != form->SP);
    // Nor does the keyboard reach the covered maker line.
    HelpEngine::window(form.get())->close();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    form->AOKButt->setFocus();
    for (int press = 0; press < 4; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(!form->Label1->hasFocus());
    }
    // Nor does a screen reader find it.
    QVERIFY(QAccessible::queryAccessibleInterface(form->Label1)->state().invisible);
}

void AboutFormTest::theAuthorAgainWhileArmedResetsButKeepsTheText()
{
    auto form = openAboutWindow();
    arm(*form);
    QTest::mouseClick(form->BitBtn2, Qt::LeftButton);
    QCOMPARE(TAboutForm::revealStep(), 0);
    QCOMPARE(form->AOKButt->text(), QStringLiteral("OK Go On"));
    QTest::mouseClick(form->AOKButt, Qt::LeftButton);
    QVERIFY(form->isHidden());
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(!form->SP->isActive());
}

void AboutFormTest::theAuthorOpensHelpTopic20OnEveryClick()
{
    auto form = openAboutWindow();
    for (int click = 0; click < 3; ++click) {
        if (QTextBrowser *help = HelpEngine::window(form.get()))
            help->close();
        QTest::mouseClick(form->BitBtn2, Qt::LeftButton);
        QTextBrowser *help = HelpEngine::window(form.get());
        QVERIFY(help);
        QVERIFY(help->isVisible());
        QVERIFY(help->toPlainText().contains(QStringLiteral("The author")));
    }
}

void AboutFormTest::okWhileTheTextScrollsClosesAtOnce()
{
    auto form = openAboutWindow();
    arm(*form);
    QTest::mouseClick(form->AOKButt, Qt::LeftButton);
    QVERIFY(form->SP->isActive());
    QTest::mouseClick(form->AOKButt, Qt::LeftButton);
    QVERIFY(form->isHidden());
    QCOMPARE(form->result(), int(QDialog::Accepted));
}

// Driven fast: a 1 ms interval instead of 70 ms. The end of the pass closes the window and brings
// the main window forward, from the task bar if the window manager minimised it meanwhile.
void AboutFormTest::theRevealedWindowClosesItselfAfterThePass()
{
    QWidget mainWindow;
    mainWindow.setObjectName(QStringLiteral("Tunedeckform"));
    mainWindow.showMinimized();
    auto form = openAboutWindow();
    arm(*form);
    form->SP->setIntervalMs(1);
    QSignalSpy stops(form->SP, &TScrollTextPanel::OnStopPlay);
    QTest::mouseClick(form->AOKButt, Qt::LeftButton);
    QVERIFY(form->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(form->isHidden(), 120000);
    QCOMPARE(stops.count(), 1);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(mainWindow.isVisible());
    QVERIFY(!mainWindow.isMinimized());
}

void AboutFormTest::openingAgainStartsFresh()
{
    {
        auto form = openAboutWindow();
        arm(*form);
        QTest::mouseClick(form->AOKButt, Qt::LeftButton);
        QVERIFY(form->SP->isActive());
        QSignalSpy stops(form->SP, &TScrollTextPanel::OnStopPlay);
        QTest::mouseClick(form->AOKButt, Qt::LeftButton);
        form.reset(); // Released while its panel still runs.
        QCOMPARE(stops.count(), 1);
    }
    auto again = openAboutWindow();
    QCOMPARE(TAboutForm::revealStep(), 9);
    QVERIFY(again->SP->isHidden());
    QVERIFY(!again->SP->isActive());
    QCOMPARE(again->AOKButt->text(), QStringLiteral("OK"));
}

void AboutFormTest::singleClicksDoNothingButOnTheMakerLine()
{
    auto form = openAboutWindow();
    doubleClick(form->AppLogo);
    doubleClick(form->AppLogo);
    QCOMPARE(TAboutForm::revealStep(), 1);
    for (QWidget *label : { static_cast<QWidget *>(form->AppLogo),
             static_cast<QWidget *>(form->AppName), static_cast<QWidget *>(form->AboutVer) })
        QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(TAboutForm::revealStep(), 1);
    QCOMPARE(m_siteOpened, 0);
    QTest::mouseClick(form->Label1, Qt::LeftButton);
    QCOMPARE(m_siteOpened, 1);
    QCOMPARE(TAboutForm::revealStep(), 1);
    // A double-click as the window system delivers it: a click, then the double-click's press
    // and its release. One click: the site opens once, and the step stays.
    QTest::mouseClick(form->Label1, Qt::LeftButton);
    const QPointF centre = form->Label1->rect().center();
    for (const QEvent::Type type : { QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease }) {
        QMouseEvent event(type, centre, form->Label1->mapToGlobal(centre), Qt::LeftButton,
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form->Label1, &event);
    }
    QCOMPARE(m_siteOpened, 2);
    QCOMPARE(TAboutForm::revealStep(), 1);
    QVERIFY(form->isVisible());
    const int byMouse = m_siteOpened;
    // The keyboard's way to the maker line, which shows its focus.
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    const QImage unfocused = form->Label1->grab().toImage();
    form->Label1->setFocus();
    QVERIFY(form->Label1->grab().toImage() != unfocused);
    QTest::keyClick(form->Label1, Qt::Key_Space);
    QCOMPARE(m_siteOpened, byMouse + 1);
    // A screen reader finds it as a link, and presses it.
    QAccessibleInterface *link = QAccessible::queryAccessibleInterface(form->Label1);
    QCOMPARE(link->role(), QAccessible::Link);
    QCOMPARE(link->text(QAccessible::Name), QStringLiteral("By Orvane Labs"));
    link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(m_siteOpened, byMouse + 2);
}

void AboutFormTest::enterPressesOkAndEscapeDoesNothing_data()
{
    QTest::addColumn<QString>("focus");
    QTest::newRow("focus on OK") << "AOKButt";
    QTest::newRow("focus on The Author") << "BitBtn2";
    QTest::newRow("focus on the maker line") << "Label1";
}

void AboutFormTest::enterPressesOkAndEscapeDoesNothing()
{
    QFETCH(QString, focus);
    auto form = openAboutWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    auto *focused = form->findChild<QWidget *>(focus);
    focused->setFocus();
    QTest::keyClick(focused, Qt::Key_Escape);
    QVERIFY(form->isVisible());
    QCOMPARE(m_siteOpened, 0);

    arm(*form);
    focused->setFocus();
    QTest::keyClick(focused, Qt::Key_Return); // "OK Go On" starts the panel ...
    QVERIFY(form->SP->isActive());
    QVERIFY(form->isVisible());
    QTest::keyClick(form.get(), Qt::Key_Escape);
    QVERIFY(form->isVisible());
    QTest::keyClick(form.get(), Qt::Key_Enter); // ... and plain OK closes.
    QVERIFY(form->isHidden());
    QCOMPARE(m_siteOpened, 0);
}

void AboutFormTest::closingEndsTheModalLoopWithOk()
{
    TAboutForm form;
    QTimer::singleShot(0, &form, [&form] { QTest::mouseClick(form.AOKButt, Qt::LeftButton); });
    QCOMPARE(form.exec(), 1);
}

void AboutFormTest::thePanelHoldsItsFixedLinesAtTheirNumbers()
{
    const QStringList lines = TAboutForm::panelLines();
    QCOMPARE(lines.size(), 150);
    const QList<std::pair<int, QString>> fixed {
        { 111, QStringLiteral("Click OK NOW") },
        { 134, QStringLiteral("Ok I'll click that button 4 you...") },
        { 136, QStringLiteral("3") },
        { 139, QStringLiteral("2") },
        { 142, QStringLiteral("1") },
        { 145, QStringLiteral("0") },
        { 147, QStringLiteral("Click") },
    };
    for (const auto &[number, text] : fixed)
        QCOMPARE(lines.at(number), text);
    QVERIFY(lines.at(0).startsWith(u'\'') && lines.at(0).endsWith(u' '));
    const QList<int> spoken { 0, 1, 2, 9, 14, 18, 19, 49, 71, 93, 111, 134, 136, 139, 142, 145,
        147 };
    for (int i = 0; i < lines.size(); ++i) {
        const bool poem = i >= 24 && i <= 48;
        if (spoken.contains(i))
            QVERIFY2(!lines.at(i).isEmpty(), qPrintable(QString::number(i)));
        else if (!poem)
            QVERIFY2(lines.at(i).isEmpty(), qPrintable(QString::number(i)));
    }
    QVERIFY(lines.at(24).size() > 0 && lines.at(48).size() > 0);
    QVERIFY(lines.at(49).startsWith(u'(') && lines.at(49).endsWith(u')'));
}

// With a 13 px line height the text area is 97 px high and the pass 97 + 150 x 13 = 2047 px.
void AboutFormTest::thePanelPassIsTheAreaHeightPlus150Lines()
{
    TAboutForm form;
    form.SP->setIntervalMs(0);
    form.SP->setActive(true);
    QCOMPARE(form.SP->textArea().height(), 97);
    const int lineHeight = form.SP->lineHeight();
    qInfo("Window font line height: %d px", lineHeight);
    QCOMPARE(form.SP->scrollLimit(), 97 + 150 * lineHeight);
    if (lineHeight == 13)
        QCOMPARE(form.SP->scrollLimit(), 2047);
    for (int i = 0; i < form.SP->scrollLimit(); ++i)
        form.SP->tick();
    QVERIFY(form.SP->isActive());
    form.SP->tick();
    QVERIFY(!form.SP->isActive());
}

TUNEDECK_PLAYER_TEST_MAIN(AboutFormTest)
#include "AboutFormTest.moc"

#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;
class TScrollTextPanel;
class TShadowLabel;

// The about window (component AboutForm): the program's icon, name, version and maker line above
// "OK" and "The Author", with a hidden scrolling text panel that a fixed sequence of double-clicks
// and clicks reveals. Created per use by the main window, shown modally and destroyed when it has
// closed; only OK and the panel's stop notice close it (no close box, Escape does nothing).
// UI thread only; the panel draws on its own worker but notifies on the UI thread.
class TAboutForm : public QDialog {
    Q_OBJECT

public:
    explicit TAboutForm(QWidget *parent = nullptr);
    // Stops a panel that is still running; its stop notice then changes nothing here.
    ~TAboutForm() override;

    // Components, under their layout names (also their object names).
    QLabel *AppLogo = nullptr;
    QLabel *AboutVer = nullptr;
    QLabel *Label1 = nullptr;
    TShadowLabel *AppName = nullptr;
    QPushButton *AOKButt = nullptr;
    QPushButton *BitBtn2 = nullptr;
    TScrollTextPanel *SP = nullptr;

    // Creation: caption, centred on the screen, version text, reveal step 9.
    void FormCreate();
    // Handlers, each reading and writing the reveal step as the reveal sequence says.
    void AppLogoDblClick();
    void AppNameDblClick();
    void AboutVerDblClick();
    void BitBtn2Click();
    void AOKButtClick();
    void SPStopPlay();
    void Label1Click();

    // The reveal step shared by all about windows: 9 just created, 0 idle, 1 to 3 on the way,
    // 5 armed (OK reads "OK Go On").
    static int revealStep();
    // The panel's 150 lines.
    static QStringList panelLines();
    // What the maker line calls; the maker's web site through the shared library unless
    // replaced (tests). An empty function restores the library call.
    static void setMakerSiteOpener(std::function<void()> opener);

    // The window has no cancel button: Escape and the window manager's close do nothing.
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    // A window manager may minimise the window whatever its hints ask; it comes straight back,
    // since the main window stays blocked while it is open.
    void changeEvent(QEvent *event) override;

private:
    void closeWindow();
    // Moves the window so that its outer frame stands in the middle of the screen.
    void centreOnScreen();

    // The outer size the window was last centred with: a window manager's frame, known only
    // after the window is shown, makes it centre again.
    QSize m_centredOuterSize;
    // The maker line's double-click was its second press: the release after it is no click.
    bool m_makerLineDoubleClicked = false;
};

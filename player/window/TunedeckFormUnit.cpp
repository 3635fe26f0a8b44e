#include "TunedeckFormUnit.h"

#include "AboutFormUnit.h"
#include "ButtonPictures.h"
#include "FilCtl95.h"
#include "FilCtl95Pictures.h"
#include "FileView.h"
#include "GradientCaption.h"
#include "HelpEngine.h"
#include "MenuButtonAccessible.h"
#include "OrvkitCalls.h"
#include "PlayListDialog.h"
#include "ShadowLabel.h"
#include "TMediaPlayer.h"
#include "Texts.h"
#include "Trackbar95.h"
#include "TunedeckApplication.h"
#include "UnitGenerale.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>

#include <array>
#include <memory>

TTunedeckform *Tunedeckform = nullptr;

namespace texts = tunedeck::texts;

namespace {

// Display update period and the wait before playing resumes after the last seek.
constexpr int kTimerPlayIntervalMs = 300;
constexpr int kResTimerIntervalMs = 200;

// The window's fixed client size, in pixels; the layout is not scaled.
constexpr QSize kClientSize(456, 305);

// One panel of the status bar: its first text, width and look.
struct StatusPanel {
    QString text;
    int width; // The last panel takes the remaining width.
    Qt::Alignment alignment;
    bool lowered;
    const char *accessibleName; // The live panels'; a caption reads as its text.
};

const std::array<StatusPanel, TStatusBar::kPanelCount> kPanels { {
    { QStringLiteral("Status:"), 45, Qt::AlignRight | Qt::AlignVCenter, false, nullptr },
    { texts::kStatusStopped, 65, Qt::AlignCenter, true, "Status" },
    { QStringLiteral("Length:"), 50, Qt::AlignRight | Qt::AlignVCenter, false, nullptr },
    { texts::kZeroTime, 45, Qt::AlignCenter, true, "Length" },
    { QStringLiteral("Position:"), 55, Qt::AlignRight | Qt::AlignVCenter, false, nullptr },
    { texts::kZeroTime, 45, Qt::AlignCenter, true, "Position" },
    { QStringLiteral("Gauge"), 45, Qt::AlignLeft | Qt::AlignVCenter, false, nullptr },
} };

// The last panel's text is never drawn: the position bar covers that place.
constexpr int kGaugePanel = 6;

// A button of the window: Enter presses it while it has the focus, as Space does, once a press
// (held down, it does not skip song after song). Qt leaves Enter to buttons of dialogs.
class FormButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            && modifiers == Qt::NoModifier) {
            if (!event->isAutoRepeat())
                click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption,
    const QString &hint, const QIcon &icon, QRect geometry)
{
    auto *button = new FormButton(icon, caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(hint);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

QFrame *makeBevel(QWidget *parent, const char *name, QRect geometry, QFrame::Shape shape)
{
    auto *bevel = new QFrame(parent);
    bevel->setObjectName(QLatin1String(name));
    bevel->setFrameStyle(static_cast<int>(shape) | QFrame::Raised);
    bevel->setLineWidth(1);
    bevel->setGeometry(geometry);
    return bevel;
}

// Left and Right in an open menu of the tool bar open the menu beside it, as in a menu bar
// (round from the last to the first).
class MenuNeighbours : public QObject {
public:
    MenuNeighbours(QObject *parent, QList<QToolButton *> buttons)
        : QObject(parent)
        , m_buttons(std::move(buttons))
    {
        for (QToolButton *button : m_buttons)
            button->menu()->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        const qsizetype count = m_buttons.size();
        for (qsizetype i = 0; i < count; ++i) {
            if (m_buttons[i]->menu() != watched || (key != Qt::Key_Left && key != Qt::Key_Right))
                continue;
            QToolButton *beside = m_buttons[(i + (key == Qt::Key_Right ? 1 : count - 1)) % count];
            static_cast<QMenu *>(watched)->close();
            // Once this menu's own loop has ended.
            QTimer::singleShot(0, beside, &QToolButton::showMenu);
            return true;
        }
        return false;
    }

private:
    QList<QToolButton *> m_buttons;
};

} // namespace

TStatusBar::TStatusBar(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("StatusBar"));
    setAccessibleName(QStringLiteral("Status bar"));
    setAutoFillBackground(true);
    for (const StatusPanel &panel : kPanels) {
        auto *label = new QLabel(this);
        label->setAlignment(panel.alignment);
        label->setFrameStyle(panel.lowered ? QFrame::Panel | QFrame::Sunken : QFrame::NoFrame);
        if (panel.accessibleName)
            label->setAccessibleName(QLatin1String(panel.accessibleName));
        label->setTextFormat(Qt::PlainText);
        m_panels.append(label);
        setPanelText(int(m_panels.size()) - 1, panel.text);
    }
    m_panels[kGaugePanel]->setText(QString());
    m_panels[kGaugePanel]->setProperty("panelText", kPanels[kGaugePanel].text);
    // Under the position bar it is never seen, and a screen reader does not find it either; the
    // bar's own background fills its place.
    m_panels[kGaugePanel]->hide();
}

QString TStatusBar::panelText(int index) const
{
    if (index == kGaugePanel)
        return m_panels[index]->property("panelText").toString();
    return m_panels.at(index)->text();
}

void TStatusBar::setPanelText(int index, const QString &text)
{
    if (index == kGaugePanel) {
        m_panels[index]->setProperty("panelText", text);
        return;
    }
    QLabel *label = m_panels.at(index);
    label->setText(text);
    // The sunken panels are live texts: their names carry their values ("Status: Paused").
    const StatusPanel &panel = kPanels[std::size_t(index)];
    if (panel.lowered)
        tunedeck::setLiveName(
            label, QLatin1String(panel.accessibleName) + QStringLiteral(": ") + text);
}

void TStatusBar::resizeEvent(QResizeEvent *)
{
    int left = 0;
    for (int i = 0; i < kPanelCount; ++i) {
        const int width = i == kPanelCount - 1 ? qMax(0, this->width() - left) : kPanels[i].width;
        m_panels[i]->setGeometry(left, 0, width, height());
        left += width;
    }
}

TTunedeckform::TTunedeckform(QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
            | Qt::MSWindowsFixedSizeDialogHint)
{
    Q_ASSERT(!Tunedeckform);
    Tunedeckform = this;
    setObjectName(QStringLiteral("Tunedeckform"));
    setAccessibleName(QStringLiteral("Tunedeck"));
    setFont(TunedeckApplication::windowFont());
    setFixedSize(kClientSize);
    setWindowIcon(buttonpictures::programIcon());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    m_caption = texts::kMainCaption;

    createComponents();
    createPlayer();
    createMenus();
    setTabOrder();
    FormCreate();
    // Once the window is complete, its title bar takes over (the client area moves below it).
    createCaption();
    GradientCaption1->refresh();
    // What the window shows, kept readable for assistive technology and the bus.
    makeMenuButtonsAccessible({ ToolButton1, ToolButton2 });
    makeWindowAccessible(this);
    makeCoverableAccessible({ PlayButt, PauseButt });
}

void TTunedeckform::createCaption()
{
    // The product name in two colours on the painted title bar. The family is looked up as the
    // window font's is: a family that is not installed would send each face of it through
    // fontconfig's list of fall-backs when the bar is first painted.
    GradientCaption1 = new TGradientCaption(this);
    QFont arial(TunedeckApplication::fontFamily(QStringLiteral("Arial")));
    arial.setPixelSize(12);
    arial.setBold(true);
    GradientCaption1->setFont(arial); // Clears DefaultFont.
    GradientCaption1->setFontColor(Qt::yellow);
    GradientCaption1->setGradientInactive(true);
    TCaptionPart *tune = GradientCaption1->Captions().add();
    tune->setCaption(QStringLiteral("Tune"));
    tune->setFont(arial);
    tune->setFontColor(Qt::white);
    TCaptionPart *deck = GradientCaption1->Captions().add();
    deck->setCaption(QStringLiteral("deck"));
    QFont arialItalic = arial;
    arialItalic.setItalic(true);
    deck->setFont(arialItalic);
    deck->setFontColor(Qt::yellow);
}

QRect TTunedeckform::clientRect() const
{
    const QWidget *bar = GradientCaption1 ? GradientCaption1->captionBar() : nullptr;
    const int top = bar ? bar->height() : 0;
    return { 0, top, width(), height() - top };
}

TTunedeckform::~TTunedeckform()
{
    TimerPlay->stop();
    ResTimer->stop();
    TunedeckApplication::setTitleWindow(nullptr);
    // Close the device's file before the other components go, so the sound stops first.
    delete LettoreMidi;
    LettoreMidi = nullptr;
    // Destroy the controls while this is still a whole TTunedeckform: their last events pass
    // through the window's event filters, which may look at the window's members.
    const QList<QWidget *> controls = findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    qDeleteAll(controls);
    Tunedeckform = nullptr;
}

void TTunedeckform::setCaption(const QString &caption)
{
    m_caption = caption;
}

void TTunedeckform::createComponents()
{
    createIcons();
    createTopBar();
    createBrowser();
    createTransport();
    createStatusBar();
    createDevice();
    connectComponents();
    TimerPlay->start();
}

void TTunedeckform::createIcons()
{
    using buttonpictures::icon;
    using buttonpictures::Picture;
    MenuIcons = {
        icon(Picture::Open),
        icon(Picture::Save),
        icon(Picture::About),
        icon(Picture::Help),
        icon(Picture::Exit),
    };
    IconeAudio = { QIcon(filctl95::picturePixmap(filctl95::Picture::AudioFile)) };
}

void TTunedeckform::createTopBar()
{
    // The menu tool bar on the left, the now-playing area on the right.
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::NoFrame);
    Panel1->setGeometry(0, 0, kClientSize.width(), 27);

    Panel2 = new QFrame(Panel1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel2->setGeometry(0, 0, 160, 27);

    Bevel2 = makeBevel(Panel2, "Bevel2", QRect(4, 4, 3, 18), QFrame::Panel);

    ToolBar1 = new QWidget(Panel2);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setAccessibleName(QStringLiteral("Menu bar"));
    ToolBar1->setGeometry(12, 3, 89, 21);
    const auto makeToolButton = [this](const char *name, const QString &caption, int left) {
        auto *button = new QToolButton(ToolBar1);
        button->setObjectName(QLatin1String(name));
        button->setText(caption);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setAutoRaise(true);
        button->setPopupMode(QToolButton::InstantPopup);
        button->setGeometry(left, 0, 35, 21);
        button->setFocusPolicy(Qt::NoFocus);
        // The drop-down arrow would not fit the layout's 35-pixel buttons.
        button->setStyleSheet(
            QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
        return button;
    };
    ToolButton1 = makeToolButton("ToolButton1", QStringLiteral("&File"), 0);
    ToolButton2 = makeToolButton("ToolButton2", QStringLiteral("&Help"), 35);

    Bevel1 = makeBevel(Panel1, "Bevel1", QRect(160, 0, 295, 27), QFrame::Box);
    Bevel3 = makeBevel(Panel1, "Bevel3", QRect(165, 4, 3, 18), QFrame::Panel);

    ShadowLabel1 = new TShadowLabel(QStringLiteral("Playing:"), Panel1);
    ShadowLabel1->setObjectName(QStringLiteral("ShadowLabel1"));
    ShadowLabel1->setFont(TunedeckApplication::boldWindowFont());
    ShadowLabel1->setGeometry(174, 7, 48, 13);

    FNPlay = new QLabel(Panel1);
    FNPlay->setObjectName(QStringLiteral("FNPlay"));
    FNPlay->setAccessibleName(QStringLiteral("Playing: nothing"));
    FNPlay->setTextFormat(Qt::PlainText);
    FNPlay->move(227, 7);
    FNPlay->resize(0, 13);
}

void TTunedeckform::createBrowser()
{
    // The browser and the play list, in the group box the transport buttons share.
    using buttonpictures::icon;
    using buttonpictures::Picture;
    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(0, 23, 457, 262);

    TdDrive = new TDrive95ComboBox(GroupBox1);
    TdDrive->setObjectName(QStringLiteral("TdDrive"));
    TdDrive->setAccessibleName(QStringLiteral("Drive"));
    TdDrive->setGeometry(8, 16, 169, 22);
    // On this desktop Qt names a drop-down list by its current item and takes its name from a
    // label it is the buddy of: such a label, never shown, names the drive box.
    auto *driveName = new QLabel(QStringLiteral("Drive"), GroupBox1);
    driveName->setBuddy(TdDrive);
    driveName->hide();

    TdDirectory = new TDirectory95ListBox(GroupBox1);
    TdDirectory->setObjectName(QStringLiteral("TdDirectory"));
    TdDirectory->setAccessibleName(QStringLiteral("Folders"));
    TdDirectory->setGeometry(8, 40, 169, 70);

    TdfileV = new TFileView(GroupBox1);
    TdfileV->setObjectName(QStringLiteral("TdfileV"));
    TdfileV->setAccessibleName(QStringLiteral("Files"));
    TdfileV->setGeometry(8, 112, 169, 113);
    TdfileV->setColumnWidth(0, 145);
    TdfileV->setSelectionMode(QAbstractItemView::ExtendedSelection);
    TdfileV->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TdfileV->setIconSize(QSize(16, 16));

    AddOneButt = makeButton(GroupBox1, "AddOneButt", QStringLiteral("A&dd"),
        QStringLiteral("Add the selected file to the list"), icon(Picture::Add),
        QRect(184, 40, 89, 25));
    AddAllButt = makeButton(GroupBox1, "AddAllButt", QStringLiteral("Add a&ll"),
        QStringLiteral("Add all file to the list"), icon(Picture::AddAll), QRect(184, 85, 89, 25));
    RemoveOneButt = makeButton(GroupBox1, "RemoveOneButt", QStringLiteral("&Remove"),
        QStringLiteral("Remove the selected file from the list"), icon(Picture::Remove),
        QRect(184, 131, 89, 25));
    RemoveAllButt = makeButton(GroupBox1, "RemoveAllButt", QStringLiteral("Remo&ve all"),
        QStringLiteral("Remove all the files from the list"), icon(Picture::RemoveAll),
        QRect(184, 176, 89, 25));

    Lista = new QListWidget(GroupBox1);
    Lista->setObjectName(QStringLiteral("Lista"));
    Lista->setAccessibleName(QStringLiteral("Play list"));
    Lista->setGeometry(280, 16, 169, 209);
    Lista->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Lista->setUniformItemSizes(true);
}

void TTunedeckform::createTransport()
{
    // Each pair shares one place; the later button lies on top and covers the earlier one.
    using buttonpictures::icon;
    using buttonpictures::Picture;
    PlayButt = makeButton(GroupBox1, "PlayButt", QStringLiteral("&Play"),
        QStringLiteral("Start playing"), icon(Picture::Play), QRect(8, 232, 89, 25));
    StopButt = makeButton(GroupBox1, "StopButt", QStringLiteral("&Stop"),
        QStringLiteral("Stop playing"), icon(Picture::Stop), QRect(8, 232, 89, 25));
    StopButt->hide();
    PauseButt = makeButton(GroupBox1, "PauseButt", QStringLiteral("P&ause"),
        QStringLiteral("Pause playing"), icon(Picture::Pause), QRect(128, 232, 89, 25));
    ResButt = makeButton(GroupBox1, "ResButt", QStringLiteral("R&esume"),
        QStringLiteral("Resume playing"), icon(Picture::Play), QRect(128, 232, 89, 25));
    ResButt->hide();
    SkipButt = makeButton(GroupBox1, "SkipButt", QStringLiteral("S&kip"),
        QStringLiteral("Skip current file"), icon(Picture::Skip), QRect(248, 232, 89, 25));
    ExitButt = makeButton(GroupBox1, "ExitButt", QStringLiteral("E&xit"),
        QStringLiteral("Exit Tunedeck"), icon(Picture::Exit), QRect(368, 232, 81, 25));
}

void TTunedeckform::createStatusBar()
{
    StatusBar = new TStatusBar(this);
    StatusBar->setGeometry(0, 286, kClientSize.width(), 19);

    PosBar = new TTrackBar95(Qt::Horizontal, this);
    PosBar->setObjectName(QStringLiteral("PosBar"));
    PosBar->setAccessibleName(QStringLiteral("Position"));
    PosBar->setGeometry(310, 287, 145, 18);
    PosBar->setFixedLength(false);
    PosBar->setSelEnabled(false);
    PosBar->setThumb(true);
    PosBar->setThumbSize(9);
    PosBar->setRange(0, 10);
    PosBar->setValue(0);
    PosBar->setTickPosition(QSlider::TicksBelow);
    PosBar->setTickInterval(10);
    PosBar->setPageStep(2);
    PosBar->setSingleStep(1);
    PosBar->setEnabled(false);
}

void TTunedeckform::createDevice()
{
    // The player device, the display and restart timers.
    LettoreMidi = new TMediaPlayer(this);
    LettoreMidi->setObjectName(QStringLiteral("LettoreMidi"));

    TimerPlay = new QTimer(this);
    TimerPlay->setObjectName(QStringLiteral("TimerPlay"));
    TimerPlay->setInterval(kTimerPlayIntervalMs);
    ResTimer = new QTimer(this);
    ResTimer->setObjectName(QStringLiteral("ResTimer"));
    ResTimer->setInterval(kResTimerIntervalMs);
    ResTimer->setSingleShot(true);
}

TPlayListDialog *TTunedeckform::playListDialog(QFileDialog::AcceptMode mode)
{
    // Made when first used: a file dialog is a large thing, and the first paint does not show it.
    TPlayListDialog *&dialog = mode == QFileDialog::AcceptOpen ? OpenDialog : SaveDialog;
    if (!dialog) {
        dialog = new TPlayListDialog(mode, this);
        dialog->setObjectName(mode == QFileDialog::AcceptOpen ? QStringLiteral("OpenDialog")
                                                              : QStringLiteral("SaveDialog"));
    }
    return dialog;
}

void TTunedeckform::connectComponents()
{
    connect(PlayButt, &QPushButton::clicked, this, &TTunedeckform::PlayButtClick);
    connect(StopButt, &QPushButton::clicked, this, &TTunedeckform::StopButtClick);
    connect(PauseButt, &QPushButton::clicked, this, &TTunedeckform::PauseButtClick);
    connect(ResButt, &QPushButton::clicked, this, &TTunedeckform::ResButtClick);
    connect(SkipButt, &QPushButton::clicked, this, &TTunedeckform::SkipButtClick);
    connectBrowser();
    connect(ExitButt, &QPushButton::clicked, this, &QWidget::close);
    connect(LettoreMidi, &TMediaPlayer::OnNotify, this, &TTunedeckform::LettoreMidiNotify);
    connect(TimerPlay, &QTimer::timeout, this, &TTunedeckform::TimerPlayTimer);
    connect(ResTimer, &QTimer::timeout, this, &TTunedeckform::ResTimerTimer);
    connect(PosBar, &QSlider::valueChanged, this, [this] {
        if (!m_posBarQuiet)
            PosBarChange();
    });
}

void TTunedeckform::createMenus()
{
    const auto makeItem = [this](QMenu *menu, const char *name, const QString &caption, int picture,
                              const QKeySequence &shortcut) {
        auto *item = new QAction(caption, this);
        item->setObjectName(QLatin1String(name));
        if (picture >= 0)
            item->setIcon(MenuIcons.at(picture));
        item->setShortcut(shortcut);
        // The shortcut works anywhere in the window, not only while the menu is open.
        item->setShortcutContext(Qt::WindowShortcut);
        menu->addAction(item);
        addAction(item);
        return item;
    };
    const auto makeSeparator = [](QMenu *menu, const char *name) {
        QAction *separator = menu->addSeparator();
        separator->setObjectName(QLatin1String(name));
        return separator;
    };

    MainFileMenu = new QMenu(this);
    MainFileMenu->setObjectName(QStringLiteral("MainFileMenu"));
    MainFileMenu->setAccessibleName(QStringLiteral("File"));
    OpenPlayList1 = makeItem(MainFileMenu, "OpenPlayList1", QStringLiteral("&Open Play List"), 0,
        QKeySequence(Qt::CTRL | Qt::Key_O));
    SavePlayList1 = makeItem(MainFileMenu, "SavePlayList1", QStringLiteral("&Save Play List"), 1,
        QKeySequence(Qt::CTRL | Qt::Key_S));
    N1 = makeSeparator(MainFileMenu, "N1");
    Exit1 = makeItem(
        MainFileMenu, "Exit1", QStringLiteral("E&xit"), 4, QKeySequence(Qt::CTRL | Qt::Key_X));

    MainHelpMenu = new QMenu(this);
    MainHelpMenu->setObjectName(QStringLiteral("MainHelpMenu"));
    MainHelpMenu->setAccessibleName(QStringLiteral("Help"));
    Contents1 = makeItem(
        MainHelpMenu, "Contents1", QStringLiteral("&Contents"), 3, QKeySequence(Qt::Key_F1));
    N2 = makeSeparator(MainHelpMenu, "N2");
    AboutOrvaneSoftware1 = makeItem(MainHelpMenu, "AboutOrvaneSoftware1",
        QStringLiteral("About &Orvane Labs"), -1, QKeySequence());
    about2 = makeItem(
        MainHelpMenu, "about2", QStringLiteral("&About"), 2, QKeySequence(Qt::CTRL | Qt::Key_A));

    ToolButton1->setMenu(MainFileMenu);
    ToolButton2->setMenu(MainHelpMenu);
    new MenuNeighbours(this, { ToolButton1, ToolButton2 });
    // Opened from the keyboard (Alt+F, Alt+H), a menu starts on its first item, as a menu bar's
    // do: the arrows start there, and a screen reader says where the focus is.
    for (QMenu *menu : { MainFileMenu, MainHelpMenu }) {
        connect(menu, &QMenu::aboutToShow, menu, [menu] {
            if (QGuiApplication::mouseButtons() != Qt::NoButton)
                return;
            QTimer::singleShot(0, menu, [menu] {
                if (!menu->activeAction() && !menu->actions().isEmpty())
                    menu->setActiveAction(menu->actions().constFirst());
            });
        });
    }

    connect(OpenPlayList1, &QAction::triggered, this, &TTunedeckform::OpenPlayList1Click);
    connect(SavePlayList1, &QAction::triggered, this, &TTunedeckform::SavePlayList1Click);
    connect(Exit1, &QAction::triggered, this, &TTunedeckform::Exit1Click);
    connect(Contents1, &QAction::triggered, this, &TTunedeckform::Contents1Click);
    connect(
        AboutOrvaneSoftware1, &QAction::triggered, this, &TTunedeckform::AboutOrvaneSoftware1Click);
    connect(about2, &QAction::triggered, this, &TTunedeckform::about2Click);
}

void TTunedeckform::setTabOrder()
{
    // The layout's tab order: the play list first, then the editing buttons, the transport
    // buttons, the file view, the drive box and the folder list; the position bar last.
    const QList<QWidget *> order { Lista, AddOneButt, AddAllButt, RemoveOneButt, RemoveAllButt,
        PlayButt, StopButt, PauseButt, ResButt, SkipButt, ExitButt, TdfileV, TdDrive, TdDirectory,
        PosBar };
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void TTunedeckform::FormCreate()
{
    PlayListPaths.clear();
    PosBar->setThumbSize(9);
    TunedeckApplication::setHelpFile(
        QCoreApplication::applicationDirPath() + u'/' + texts::kHelpFileName);
    TunedeckApplication::setTitleWindow(this);
    TunedeckApplication::setTitle(texts::kApplicationTitle);
    setCaption(texts::kMainCaption);
    FillFileView();
    repaint();
}

void TTunedeckform::FormShow()
{
    FillFileView();
}

void TTunedeckform::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TTunedeckform::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange)
        tunedeck::setLiveName(this, windowTitle().trimmed());
}

void TTunedeckform::Exit1Click()
{
    // Ends the program at once: the event loop returns and main destroys this window.
    QCoreApplication::exit(0);
}

void TTunedeckform::Contents1Click()
{
    // The help engine reports a missing file itself; nothing more to do here.
    HelpEngine::showContents(this, TunedeckApplication::helpFile());
}

void TTunedeckform::about2Click()
{
    // A fresh window per use, owned here only while it is shown.
    auto about = std::make_unique<TAboutForm>();
    about->exec();
}

void TTunedeckform::AboutOrvaneSoftware1Click()
{
    // Returns at once; the box runs by itself and this window stays usable.
    showOrvaneAboutBox(this);
}

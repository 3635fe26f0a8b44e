#include "AboutFormUnit.h"

#include "ButtonPictures.h"
#include "HelpEngine.h"
#include "MenuButtonAccessible.h"
#include "MessageBoxes.h"
#include "OrvkitCalls.h"
#include "ScrollTextPanel.h"
#include "ShadowLabel.h"
#include "Texts.h"
#include "TunedeckApplication.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <iterator>
#include <utility>

namespace {

// The window's fixed client size, in pixels; the layout is not scaled.
constexpr QSize kClientSize(347, 131);
constexpr int kHelpTopicAuthor = 20;
constexpr quint32 kPanelIntervalMs = 70;

// Reveal steps. One value for the whole program: there is only ever one about window.
constexpr int kStepCreated = 9;
constexpr int kStepIdle = 0;
constexpr int kStepArmed = 5;
int s_revealStep = kStepCreated;

std::function<void()> &makerSiteOpener()
{
    static std::function<void()> opener;
    return opener;
}

// The panel's text, line by line. Its fixed lines sit at fixed numbers: the countdown at the
// end is timed to the window closing itself when the last line has scrolled out.
// clang-format off
constexpr const char *kPanelLines[] = {
    /* 0 */ "'So you found the back door... ",
    "Nobody double-clicks a version number",
    "by accident. Welcome, explorer.",
    "", "", "", "", "", "",
    /* 9 */ "Busted!",
    "", "", "", "",
    /* 14 */ "(Yes, I wrote a MIDI player for fun. I know.)",
    "", "", "",
    /* 18 */ "No notes were harmed",
    "in the making of this program.",
    "", "", "", "",
    /* 24 */ "Take this kiss upon the brow!",
    "And, in parting from you now,",
    "Thus much let me avow -",
    "You are not wrong, who deem",
    "That my days have been a dream;",
    "Yet if hope has flown away",
    "In a night, or in a day,",
    "In a vision, or in none,",
    "Is it therefore the less gone?",
    "All that we see or seem",
    "Is but a dream within a dream.",
    "",
    "I stand amid the roar",
    "Of a surf-tormented shore,",
    "And I hold within my hand",
    "Grains of the golden sand -",
    "How few! yet how they creep",
    "Through my fingers to the deep,",
    "While I weep - while I weep!",
    "O God! can I not grasp",
    "Them with a tighter clasp?",
    "O God! can I not save",
    "One from the pitiless wave?",
    "Is all that we see or seem",
    /* 48 */ "But a dream within a dream?",
    /* 49 */ "(Edgar Allan Poe, A Dream Within a Dream)",
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 71 */ "Hello? Are you still there?",
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 93 */ "You may click OK now to close this window.",
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 111 */ "Click OK NOW",
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 134 */ "Ok I'll click that button 4 you...",
    "",
    /* 136 */ "3",
    "", "",
    /* 139 */ "2",
    "", "",
    /* 142 */ "1",
    "", "",
    /* 145 */ "0",
    "",
    /* 147 */ "Click",
    "", "",
};
// clang-format on
static_assert(std::size(kPanelLines) == 150);

QFont layoutFont(
    const char *family, int pixelSize, bool bold, bool italic = false, bool underline = false)
{
    QFont font(TunedeckApplication::fontFamily(QLatin1String(family)));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    return font;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, QRect geometry)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

TAboutForm::TAboutForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("AboutForm"));
    setFont(TunedeckApplication::windowFont());
    setFixedSize(kClientSize);
    setWindowTitle(QStringLiteral("AboutForm"));

    AppLogo = makeLabel(this, "AppLogo", QString(), QRect(24, 14, 33, 33));
    AppLogo->setPixmap(buttonpictures::programIcon().pixmap(32, 32));
    AppLogo->setAccessibleName(QStringLiteral("Tunedeck"));

    AboutVer = makeLabel(this, "AboutVer", QStringLiteral("V0.00 Beta"), QRect(240, 48, 74, 18));
    AboutVer->setFont(layoutFont("Arial", 15, true));
    QPalette black = AboutVer->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    AboutVer->setPalette(black);

    Label1 = makeLabel(this, "Label1", QStringLiteral("By Orvane Labs"), QRect(176, 66, 117, 16));
    Label1->setFont(layoutFont("Arial", 13, true, true, true));
    QPalette blue = Label1->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    Label1->setPalette(blue);
    Label1->setCursor(Qt::PointingHandCursor);
    Label1->setFocusPolicy(Qt::TabFocus); // Space opens the site from the keyboard.
    Label1->setAccessibleDescription(QStringLiteral("Opens the maker's web site"));
    // A screen reader's press of the link.
    makeLinkAccessible(Label1);
    connect(Label1, &QLabel::linkActivated, this, [this] { Label1Click(); });

    AppName = new TShadowLabel(QStringLiteral("Tunedeck"), this);
    AppName->setObjectName(QStringLiteral("AppName"));
    AppName->setGeometry(71, 12, 181, 36);
    AppName->setFont(layoutFont("Arial", 32, true, true));

    AOKButt = new QPushButton(
        style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    AOKButt->setObjectName(QStringLiteral("AOKButt"));
    AOKButt->setGeometry(256, 104, 89, 25);
    AOKButt->setDefault(true);

    BitBtn2 = new QPushButton(
        style()->standardIcon(QStyle::SP_DialogHelpButton), QStringLiteral("The Author"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(152, 104, 91, 25);
    BitBtn2->setAutoDefault(false); // Enter presses OK, whichever button has the focus.

    SP = new TScrollTextPanel(this);
    SP->setObjectName(QStringLiteral("SP"));
    SP->setGeometry(64, 0, 281, 105);
    SP->setIntervalMs(kPanelIntervalMs);
    SP->setLines(panelLines());
    SP->setVisible(false);

    setTabOrder(AOKButt, BitBtn2);
    setTabOrder(BitBtn2, SP);
    setTabOrder(SP, Label1);

    for (QWidget *watched : { static_cast<QWidget *>(AppLogo), static_cast<QWidget *>(AppName),
             static_cast<QWidget *>(AboutVer), static_cast<QWidget *>(Label1) })
        watched->installEventFilter(this);
    connect(AOKButt, &QPushButton::clicked, this, &TAboutForm::AOKButtClick);
    connect(BitBtn2, &QPushButton::clicked, this, &TAboutForm::BitBtn2Click);
    connect(SP, &TScrollTextPanel::OnStopPlay, this, &TAboutForm::SPStopPlay);

    FormCreate();
    AOKButt->setFocus();
}

TAboutForm::~TAboutForm()
{
    // The panel would raise its stop notice while this window is half destroyed.
    disconnect(SP, nullptr, this, nullptr);
    SP->setActive(false);
}

void TAboutForm::FormCreate()
{
    setWindowTitle(tunedeck::texts::kAboutCaption);
    centreOnScreen();
    AboutVer->setText(QStringLiteral("V1.6.0"));
    s_revealStep = kStepCreated;
}

int TAboutForm::revealStep()
{
    return s_revealStep;
}

QStringList TAboutForm::panelLines()
{
    QStringList lines;
    for (const char *line : kPanelLines)
        lines << QString::fromLatin1(line);
    return lines;
}

void TAboutForm::setMakerSiteOpener(std::function<void()> opener)
{
    makerSiteOpener() = std::move(opener);
}

void TAboutForm::AppLogoDblClick()
{
    s_revealStep = s_revealStep == 0 ? 1 : kStepIdle;
}

void TAboutForm::AppNameDblClick()
{
    s_revealStep = s_revealStep == 1 ? 2 : kStepIdle;
}

void TAboutForm::AboutVerDblClick()
{
    s_revealStep = s_revealStep == 2 ? 3 : kStepIdle;
}

void TAboutForm::BitBtn2Click()
{
    if (s_revealStep == 3) {
        AOKButt->setText(QStringLiteral("OK Go On"));
        s_revealStep = kStepArmed;
    } else {
        s_revealStep = kStepIdle;
    }
    // The help window belongs to this window, so it stays usable while this one is modal.
    HelpEngine::showTopic(this, TunedeckApplication::helpFile(), kHelpTopicAuthor);
}

void TAboutForm::AOKButtClick()
{
    if (s_revealStep != kStepArmed) {
        closeWindow();
        return;
    }
    AOKButt->setText(QStringLiteral("OK"));
    // The panel covers the maker line: the keyboard no longer reaches it there.
    if (Label1->hasFocus())
        AOKButt->setFocus(Qt::OtherFocusReason);
    Label1->setFocusPolicy(Qt::NoFocus);
    setCovered(Label1, true);
    SP->setVisible(true);
    SP->setActive(true);
    s_revealStep = kStepIdle;
}

void TAboutForm::SPStopPlay()
{
    closeWindow();
}

void TAboutForm::Label1Click()
{
    if (const auto &opener = makerSiteOpener())
        opener();
    else
        openOrvaneSite();
}

void TAboutForm::reject()
{ }

void TAboutForm::centreOnScreen()
{
    m_centredOuterSize = tunedeck::centreOnScreen(this);
}

bool TAboutForm::event(QEvent *event)
{
    const bool handled = QDialog::event(event);
    // Before the window is shown its frame is unknown and the outer size is the client size;
    // the window manager's frame shows up with the first move or resize after mapping.
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
        if (isVisible() && frameGeometry().size() != m_centredOuterSize)
            centreOnScreen();
        break;
    default:
        break;
    }
    return handled;
}

void TAboutForm::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !(windowState() & Qt::WindowMinimized))
        return;
    // Restored once the state change has been handled, not from within it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isVisible() && (windowState() & Qt::WindowMinimized)) {
                setWindowState(windowState() & ~Qt::WindowMinimized);
                raise();
                activateWindow();
            }
        },
        Qt::QueuedConnection);
}

void TAboutForm::closeWindow()
{
    if (isHidden())
        return; // Already closed.
    done(QDialog::Accepted);
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->objectName() == u"Tunedeckform") {
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
            window->show();
            window->raise();
            window->activateWindow();
        }
    }
}

bool TAboutForm::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
            break;
        if (watched == AppLogo)
            AppLogoDblClick();
        else if (watched == AppName)
            AppNameDblClick();
        else if (watched == AboutVer)
            AboutVerDblClick();
        else if (watched == Label1)
            m_makerLineDoubleClicked = true; // a click already opened the site
        else
            break;
        return true;
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (watched == Label1 && mouse->button() == Qt::LeftButton
            && !std::exchange(m_makerLineDoubleClicked, false)
            && Label1->rect().contains(mouse->position().toPoint())) {
            Label1Click();
            return true;
        }
        break;
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        // The maker line shows its focus as selected text does.
        if (watched == Label1) {
            const bool focused = event->type() == QEvent::FocusIn;
            Label1->setAutoFillBackground(focused);
            Label1->setBackgroundRole(focused ? QPalette::Highlight : QPalette::Window);
            Label1->setForegroundRole(focused ? QPalette::HighlightedText : QPalette::WindowText);
        }
        break;
    case QEvent::KeyPress:
        if (watched == Label1 && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space) {
            Label1Click();
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

#include "OrvAboutBox.h"

#include "OrvShell.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <system_error>
#include <utility>

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace orvkit {

namespace {

constexpr QRect kOuterFrame { 4, 8, 291, 54 };
constexpr QRect kInnerBox { 6, 10, 287, 50 };
constexpr int kTitleStripHeight = 60;
constexpr QRect kGoButton { 216, 94, 78, 24 };
constexpr QRect kOkButton { 216, 120, 78, 24 };

constexpr ColorValue kYellow = 0x00FFFF;
constexpr ColorValue kBlue = 0xFF0000;
constexpr ColorValue kSilver = 0xC0C0C0;
constexpr ColorValue kBlack = 0x000000;

const char *const kMakerName = "Orvane Labs";
const char *const kTitleFace = "Arial";
constexpr int kTitlePoints = 26;
const char *const kCreditsFace = "System";
constexpr int kCreditsPoints = 10;

// The credit column, top to bottom; nullptr is an empty slot, half a line high.
const char *const kCreditSlots[] = {
    "Orvane Labs",
    nullptr,
    "When the BEST solution",
    "is Freeware",
    nullptr,
    "orvanelabs.example.org",
    nullptr,
    "Thanks to:",
    "Marta Ricci",
    "Jonas Berglund",
    "All the guy of:",
    "MIDI Makers forum",
    "Pascal Corner list",
    "Freeware Workshop",
    "Sound Coders group",
    "Tracker Lounge",
    "Win32 Tinkerers",
    "#orvane on IRCnet",
    "and all the people",
    "that helped me",
    "with their reports",
    "and suggestions.",
    nullptr,
};

// The one about box of the process. A QPointer, so it reads null once the window is deleted.
QPointer<AboutWindow> s_aboutBox;
// Whether the running application will call closeAboutBoxAtExit when it goes (and asks the
// factory below for the box's interface until then).
bool s_exitHookAdded = false;

// Assistive technology sees the box as a dialog; a plain widget window reads as a filler, which
// screen readers do not present as a window.
QAccessibleInterface *aboutBoxAccessible(const QString &className, QObject *object)
{
    if (object && object->isWidgetType()
        && className == QLatin1String(AboutWindow::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Dialog);
    return nullptr;
}

// Ends a box still open when the application goes away, so that its thread is joined while Qt
// is still there, and leaves nothing for a later application to find. Qt runs it at the start
// of the application's destruction, before the widgets go, and forgets it afterwards.
void closeAboutBoxAtExit()
{
    s_exitHookAdded = false;
    QAccessible::removeFactory(aboutBoxAccessible);
    delete s_aboutBox.data();
    s_aboutBox = nullptr;
}

// The library unloaded while the application goes on (dlclose) takes its hooks back: Qt would
// call into code no longer there when the application ends, or when it asks for an interface.
const struct ExitHookRemover {
    ~ExitHookRemover()
    {
        if (s_exitHookAdded) {
            qRemovePostRoutine(closeAboutBoxAtExit);
            QAccessible::removeFactory(aboutBoxAccessible);
        }
    }
} s_exitHookRemover;

// Names the calling thread for debuggers and `ps -L`, and raises it one step above the thread
// that started it, as the scheduler allows an unprivileged process: the kernel refuses a lower
// nice value without CAP_SYS_NICE or room under RLIMIT_NICE, and then it stays where it was.
void raiseAnimationThread()
{
    pthread_setname_np(pthread_self(), kAnimationThreadName);
    const auto self = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, self);
    if (errno == 0)
        setpriority(PRIO_PROCESS, self, nice - 1);
}

} // namespace

AboutAnimation::AboutAnimation()
    : m_background(CreateCanvas(kAboutWidth + kTileSize, kAboutHeight + kTileSize))
    , m_frame(CreateCanvas(kAboutWidth, kAboutHeight))
    , m_title(CreateCanvas(kAboutWidth, 200))
{
    const QString name = QString::fromLatin1(kMakerName);
    const QString titleFace = QString::fromLatin1(kTitleFace);
    SetCanvasFont(m_frame, kTitlePoints, titleFace, kBlack, StyleBold | StyleItalic);

    if (Canvas tile = LoadCanvas(0, reinterpret_cast<std::uintptr_t>("BACK")); !tile.isNull()) {
        for (int i = 0; i <= 4; ++i)
            for (int j = 0; j <= 2; ++j)
                CopyBlock(*m_background.painter(), kTileSize * i, kTileSize * j, kTileSize,
                    kTileSize, *tile.image(), 0, 0);
        FreeCanvas(tile);
    }

    // The silver copy sits 4 pixels right of and below the black one, as its shadow.
    QPainter &title = *m_title.painter();
    title.fillRect(m_title.image()->rect(), Qt::white);
    SetCanvasFont(m_title, kTitlePoints, titleFace, kSilver, StyleBold | StyleItalic);
    const int x0 = (kAboutWidth - TextWidth(*m_frame.painter(), name)) / 2 - 5;
    DrawTextAt(title, x0 + 3, 18, name);
    SetCanvasFont(m_title, kTitlePoints, titleFace, kBlack, StyleBold | StyleItalic);
    DrawTextAt(title, x0 - 1, 14, name);
}

void AboutAnimation::composeFrame(int n)
{
    QPainter &frame = *m_frame.painter();
    CopyBlock(frame, 0, 0, kAboutWidth, kAboutHeight, *m_background.image(), n + 1, n + 1);

    // Yellow twice leaves a 2-pixel yellow-inverted border; the box inside is inverted blue.
    SetCanvasBrush(m_frame, kYellow);
    InvertWithBrush(frame, kOuterFrame);
    InvertWithBrush(frame, kInnerBox);
    SetCanvasBrush(m_frame, kBlue);
    InvertWithBrush(frame, kInnerBox);

    CopyBlock(frame, 0, 0, kAboutWidth, kTitleStripHeight, *m_title.image(), 0, 0, RasterOp::And);
    drawCredits(m_frame, kCreditsArea);
}

void AboutAnimation::drawCredits(Canvas &destination, const QRect &area)
{
    if (m_credits.isNull())
        m_credits = CreateCanvas(area.width(), area.height());
    if (m_credits.isNull())
        return;
    QPainter &credits = *m_credits.painter();
    CopyBlock(credits, 0, 0, area.width(), area.height(), *destination.image(), area.x(), area.y());

    int top = area.height() - static_cast<int>(std::trunc(m_creditsOffset));
    SetCanvasFont(m_credits, kCreditsPoints, QString::fromLatin1(kCreditsFace), kBlack, 0);
    const int lineHeight = TextHeight(credits, QStringLiteral("H"));
    for (const char *slot : kCreditSlots) {
        if (!slot) {
            top += lineHeight / 2;
            continue;
        }
        const QString text = QString::fromLatin1(slot);
        // Lines wholly above the area are skipped; lines below it are drawn and clipped.
        if (TextHeight(credits, text) + top > 0)
            DrawTextAt(credits, 1, top, text);
        top += TextHeight(credits, text);
    }

    m_creditsOffset += 0.5;
    if (m_creditsOffset > kCreditsRestartPx)
        m_creditsOffset = 0.0;
    CopyBlock(*destination.painter(), area.x(), area.y(), area.width(), area.height(),
        *m_credits.image(), 0, 0);
}

AboutWindow::AboutWindow()
    : QWidget(nullptr,
        Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
            | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("ORVL_AboutBox"));
    setWindowTitle(QStringLiteral("About Orvane Labs..."));
    setAccessibleName(windowTitle());
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(kAboutWidth, kAboutHeight);
    move(CentreOnWorkArea(kAboutWidth, kAboutHeight));

    QFont buttonFont(QStringLiteral("MS Sans Serif"));
    buttonFont.setPixelSize(11);
    buttonFont.setWeight(QFont::Normal);

    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QStringLiteral("OkButton"));
    m_okButton->setAccessibleName(m_okButton->text());
    m_okButton->setGeometry(kOkButton);
    m_okButton->setFont(buttonFont);
    m_okButton->setDefault(true);
    m_okButton->setAutoDefault(true);

    m_goButton = new QPushButton(QStringLiteral("Go WebSite"), this);
    m_goButton->setObjectName(QStringLiteral("GoButton"));
    m_goButton->setAccessibleName(m_goButton->text());
    m_goButton->setGeometry(kGoButton);
    m_goButton->setFont(buttonFont);
    m_goButton->setAutoDefault(false);

    setTabOrder(m_okButton, m_goButton);
    m_okButton->setFocus();

    connect(m_okButton, &QPushButton::clicked, this, &QWidget::close);
    connect(m_goButton, &QPushButton::clicked, this, [this] {
        openMakerSite(); // A failure is not reported; the box closes all the same.
        close();
    });

    // Frame 0 is composed here, so the window has a picture before the thread's first frame.
    m_firstAnimation = std::make_unique<AboutAnimation>();
    m_firstAnimation->composeFrame(0);
    m_shown = m_firstAnimation->frame().copy();
    m_shownCreditsOffset = 0.0;
}

AboutWindow::~AboutWindow()
{
    stopAnimation();
}

bool AboutWindow::startAnimation()
{
    if (!m_firstAnimation)
        return m_thread.joinable();
    m_animating.store(true);
    try {
        m_thread = std::thread(&AboutWindow::animate, this, std::move(m_firstAnimation));
    } catch (const std::system_error &) {
        m_animating.store(false);
        return false;
    }
    m_threadHandle = static_cast<std::uintptr_t>(m_thread.native_handle());
    return true;
}

void AboutWindow::animate(std::unique_ptr<AboutAnimation> animation)
{
    // On the animation thread: it alone touches the animation; frames leave through m_latest.
    raiseAnimationThread();
    int n = 0;
    while (m_animating.load()) {
        ++n;
        animation->composeFrame(n);
        AboutFrame made { animation->frame().copy(), animation->creditsOffset() };
        {
            std::unique_lock lock(m_mutex);
            m_latest = std::move(made);
            // A frame left in an empty mailbox asks the window to take it; a newer frame
            // replaces one not yet taken without asking again.
            if (!std::exchange(m_hasLatest, true))
                QMetaObject::invokeMethod(this, "takeLatestFrame", Qt::QueuedConnection);
            // Sleeps between frames, but wakes at once when the window asks it to stop.
            m_wake.wait_for(lock, std::chrono::milliseconds(kFrameIntervalMs),
                [this] { return !m_animating.load(); });
        }
        if (n >= kTileSize)
            n = 0;
    }
    // made and the animation's canvases go with this thread's stack.
}

void AboutWindow::takeLatestFrame()
{
    AboutFrame taken;
    {
        std::lock_guard lock(m_mutex);
        if (!m_hasLatest)
            return;
        taken = std::move(m_latest);
        m_latest = AboutFrame();
        m_hasLatest = false;
    }
    m_shown = std::move(taken.image);
    m_shownCreditsOffset = taken.creditsOffset;
    ++m_framesTaken;
    update();
}

void AboutWindow::stopAnimation()
{
    {
        std::lock_guard lock(m_mutex);
        m_animating.store(false);
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void AboutWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The frame reaches the client area shifted one pixel up and left; the strip it leaves at
    // the right and bottom shows the button face.
    painter.fillRect(rect(), ResolveColor(systemColor(kColorButtonFace)));
    if (!m_shown.isNull())
        painter.drawImage(QPoint(0, 0), m_shown, QRect(1, 1, kAboutWidth - 1, kAboutHeight - 1));
}

bool AboutWindow::event(QEvent *event)
{
    // The box answers whatever the program shows meanwhile: a modal window (a message box, a
    // file dialog) leaves usable only the windows that hang under it, so the box hangs itself
    // under each as it blocks the box, and lets go once that one is hidden (under the next
    // modal window then, if there is one).
    if (event->type() == QEvent::WindowBlocked) {
        QWindow *own = windowHandle();
        QWindow *modal = QGuiApplication::modalWindow();
        if (own && modal && modal != own && !own->isAncestorOf(modal, QWindow::IncludeTransients)) {
            own->setTransientParent(modal);
            connect(
                modal, &QWindow::visibleChanged, this,
                [this, modal](bool visible) {
                    if (visible)
                        return;
                    // Once the window has left the list of modal ones.
                    QTimer::singleShot(0, this, [this, modal = QPointer<QWindow>(modal)] {
                        if (windowHandle() && windowHandle()->transientParent() == modal)
                            windowHandle()->setTransientParent(nullptr);
                    });
                },
                Qt::SingleShotConnection);
        }
    }
    return QWidget::event(event);
}

void AboutWindow::closeEvent(QCloseEvent *event)
{
    // OK, Go WebSite and the close box all end here; the thread is gone before the window.
    stopAnimation();
    m_closed = true;
    event->accept();
}

std::uintptr_t openAboutBox()
{
    if (!onWidgetThread())
        return 0;
    // A box closed a moment ago waits only for its deletion; a new call opens a new box.
    if (s_aboutBox && !s_aboutBox->isClosed()) {
        s_aboutBox->raise();
        s_aboutBox->activateWindow();
        return s_aboutBox->threadHandle();
    }

    if (!s_exitHookAdded) {
        qAddPostRoutine(closeAboutBoxAtExit);
        QAccessible::installFactory(aboutBoxAccessible);
        s_exitHookAdded = true;
    }

    auto *box = new AboutWindow;
    if (!box->startAnimation()) {
        delete box;
        return 0;
    }
    s_aboutBox = box;
    // Shown by the event loop, so that the call returns at once, before the box appears; and
    // activated, so the keyboard reaches its OK button (a tool window is not, by itself).
    QTimer::singleShot(0, box, [box] {
        box->show();
        box->raise();
        box->activateWindow();
    });
    return box->threadHandle();
}

AboutWindow *currentAboutBox()
{
    return s_aboutBox.data();
}

} // namespace orvkit

#include "OrvSplash.h"

#include <orvkit/orvkit.h>

#include "OrvOwner.h"
#include "OrvShell.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>

namespace orvkit {

namespace {

// The window's title; never seen, since the window has no caption, but read by screen readers.
constexpr const char *kSplashTitle = "Loading...";

SplashState s_splash;
// Whether the running application will call endSplashAtExit when it goes.
bool s_exitHookAdded = false;

// Removes a splash still shown when the application goes away (Qt would only take its native
// window), so that a later application starts with no splash.
void endSplashAtExit()
{
    s_exitHookAdded = false;
    delete s_splash.window.data();
    s_splash.window = nullptr;
    s_splash.active = false;
    FreeCanvas(s_splash.canvas);
}

// The library unloaded while the application goes on (dlclose) takes its hook back: Qt would
// call into code no longer there when the application ends.
const struct ExitHookRemover {
    ~ExitHookRemover()
    {
        if (s_exitHookAdded)
            qRemovePostRoutine(endSplashAtExit);
    }
} s_exitHookRemover;

// Only the low 16 bits of a size argument count: 65536 + 100 is 100.
std::uint16_t low16(std::uintptr_t value)
{
    return static_cast<std::uint16_t>(value & 0xFFFF);
}

std::uintptr_t handleOf(SplashWindow *window)
{
    return window ? static_cast<std::uintptr_t>(window->winId()) : 0;
}

} // namespace

const SplashState &splashState()
{
    return s_splash;
}

SplashWindow::SplashWindow(QWidget *owner)
    // A tool window stays out of the task bar; frameless gives no border and no caption.
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("OV_SplashScreen"));
    setWindowTitle(QString::fromLatin1(kSplashTitle));
    setAccessibleName(QString::fromLatin1(kSplashTitle));
    setAttribute(Qt::WA_DeleteOnClose);
    // Every pixel comes from the canvas, so Qt need not clear the window first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

SplashWindow::~SplashWindow()
{
    // A splash that gave way to a newer one no longer owns the state.
    if (s_splash.window.data() != this)
        return;
    s_splash.active = false;
    FreeCanvas(s_splash.canvas);
}

void SplashWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (s_splash.canvas.isNull()) {
        painter.fillRect(rect(), Qt::white);
        return;
    }
    painter.drawImage(
        QPoint(0, 0), *s_splash.canvas.image(), QRect(0, 0, s_splash.width, s_splash.height));
}

SplashWindow *showSplash(
    QWidget *owner, const QImage *picture, std::uint16_t width, std::uint16_t height)
{
    // One splash at a time: the canvas is process-wide, so an older window must not outlive it.
    // The owner may be that older window (the handle of the splash now shown); it is gone once
    // the old splash is, and the new one then stands alone.
    const QPointer<QWidget> guardedOwner(owner);
    delete s_splash.window.data();
    owner = guardedOwner.data();
    s_splash.window = nullptr;
    s_splash.active = true;
    FreeCanvas(s_splash.canvas);
    if (std::int64_t(width) * height > kMaxSplashPixels) {
        s_splash.active = false;
        return nullptr;
    }

    s_splash.canvas = CreateCanvas(width, height);
    s_splash.width = width;
    s_splash.height = height;
    if (picture && !picture->isNull() && !s_splash.canvas.isNull())
        CopyBlock(*s_splash.canvas.painter(), 0, 0, width, height, *picture, 0, 0);

    if (!s_exitHookAdded) {
        qAddPostRoutine(endSplashAtExit);
        s_exitHookAdded = true;
    }
    auto *window = new SplashWindow(owner);
    s_splash.window = window;
    window->setFixedSize(width, height);
    window->move(CentreOnWorkArea(width, height));
    window->show();
    window->repaint();
    return window;
}

} // namespace orvkit

// The exported entry points. Each one catches everything at the library's edge: a C caller
// cannot take a C++ exception, and the library reports no errors of its own.

extern "C" ORVKIT_EXPORT uintptr_t OrvSplashScreen(
    uintptr_t parent, uintptr_t picture, uintptr_t width, uintptr_t height)
{
    try {
        if (!orvkit::onWidgetThread())
            return 0;
        return orvkit::handleOf(orvkit::showSplash(orvkit::ownerWindow(parent),
            reinterpret_cast<const QImage *>(picture), orvkit::low16(width),
            orvkit::low16(height)));
    } catch (...) {
        return 0;
    }
}

extern "C" ORVKIT_EXPORT uintptr_t OrvSplashScreenRES(
    uintptr_t parent, uintptr_t module, uintptr_t bitmap, uintptr_t width, uintptr_t height)
{
    try {
        if (!orvkit::onWidgetThread())
            return 0;
        // The loaded bitmap is only the source of the splash's own copy; it goes at once.
        orvkit::Canvas loaded = orvkit::LoadCanvas(module, bitmap);
        return orvkit::handleOf(orvkit::showSplash(orvkit::ownerWindow(parent), loaded.image(),
            orvkit::low16(width), orvkit::low16(height)));
    } catch (...) {
        return 0;
    }
}

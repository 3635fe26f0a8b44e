#pragma once

#include "OrvGraphics.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>

class QImage;

// The splash screen: a borderless, always-on-top picture window that a program shows while it
// starts and removes when it is ready. The library runs no timer and no thread for it; the
// window lives on the GUI thread and is served by the caller's event loop. All of it is GUI
// thread only.
namespace orvkit {

// The splash window. It paints the library's copy of the picture and does nothing when
// clicked. Closing it deletes it; deleting it (or its owner) ends the splash and frees the copy.
class SplashWindow final : public QWidget {
    Q_OBJECT

public:
    // Owned by `owner` (destroyed with it) when one is given, a window of its own otherwise.
    explicit SplashWindow(QWidget *owner);
    ~SplashWindow() override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The process-wide splash state: one splash at a time.
struct SplashState {
    QPointer<SplashWindow> window; // null until a window was made, and once it is gone
    bool active = false; // from the start of a splash call until its window is destroyed
    std::uint16_t width = 0; // size of the picture and of the window, in pixels
    std::uint16_t height = 0;
    Canvas canvas; // the library's own copy of the picture; freed with the window
};

// Read-only view of the state, for tests.
const SplashState &splashState();

// The most pixels a splash may have (a 256 MiB canvas). A larger picture could not be held
// (65535 x 65535 pixels would need 16 GiB), so such a call shows nothing and returns null.
inline constexpr std::int64_t kMaxSplashPixels = std::int64_t(1) << 26;

// Shows a splash of width x height pixels holding a copy, taken now, of the picture's top-left
// width x height pixels; white where the picture is null or does not reach. A splash still
// shown gives way to the new one (its window is destroyed); an owner destroyed with it, such as
// that window itself, counts as none. Returns the shown window, or null (and no splash) when
// the picture is too large to hold.
SplashWindow *showSplash(
    QWidget *owner, const QImage *picture, std::uint16_t width, std::uint16_t height);

} // namespace orvkit

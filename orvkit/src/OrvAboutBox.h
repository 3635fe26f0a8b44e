#pragma once

#include "OrvGraphics.h"

#include <QImage>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class QPushButton;

// The maker's about box: a small always-on-top tool window whose client area is an animation
// (a drifting tiled background, an inverted frame around the shadowed maker name, and a column
// of credits scrolling upward), with "Go WebSite" and "OK" buttons.
namespace orvkit {

// The about box's outer size and the parts of each frame, in pixels of the frame canvas.
inline constexpr int kAboutWidth = 305;
inline constexpr int kAboutHeight = 170;
inline constexpr int kTileSize = 81; // BACK is square; the picture repeats after this many frames
inline constexpr QRect kCreditsArea { 25, 72, 160, 70 };
// The credits column starts again from the lower edge once it has scrolled this far.
inline constexpr double kCreditsRestartPx = 350.0;
// Time between two frames of the animation thread.
inline constexpr int kFrameIntervalMs = 30;
// The animation thread's name, as /proc/<pid>/task/<tid>/comm shows it (15 bytes at most). The
// thread runs one nice step above the thread that opened the box where the system allows it.
inline constexpr const char *kAnimationThreadName = "orvkit-about";

// Composes the about box's frames. Not a QObject and not tied to a thread: it is made and
// draws frame 0 on the GUI thread, then belongs to the animation thread alone.
class AboutAnimation {
public:
    // Makes the canvases for one opening: the tiled background, the frame canvas and the
    // shadowed title. The credits offset starts at 0, so the credits start from the lower edge.
    AboutAnimation();

    // Composes frame n (0 to 81): the background seen from (n + 1, n + 1), the inverted frame
    // and box, the title combined by AND, then the credit lines, which advance by half a pixel.
    void composeFrame(int n);

    // The frame canvas's picture, 305 x 170; the window shows it shifted one pixel up and left.
    const QImage &frame() const { return *m_frame.image(); }
    // How far the credits have scrolled, in pixels; 0.5 more after each frame, and back to 0
    // once it passes 350.
    double creditsOffset() const { return m_creditsOffset; }

private:
    void drawCredits(Canvas &destination, const QRect &area);

    Canvas m_background; // kTileSize-periodic, one tile larger than the frame each way
    Canvas m_frame;
    Canvas m_title; // the name in black over its silver shadow, on white
    Canvas m_credits; // made on first use at the credits area's size
    double m_creditsOffset = 0.0;
};

// One composed frame as the animation thread hands it to the window.
struct AboutFrame {
    QImage image; // a detached copy, owned by whoever holds the record
    double creditsOffset = 0.0; // the offset after this frame was drawn
};

// The about box's window. Lives on the GUI thread; its animation thread composes frames into a
// mailbox of its own, guarded by a mutex, and a queued call has the window take the frame and
// paint it. The destructor (and closing) stops the animation thread and joins it.
class AboutWindow : public QWidget {
    Q_OBJECT

public:
    AboutWindow();
    ~AboutWindow() override;

    // Starts the animation thread. False if the system refused a thread; the box is then
    // useless and the caller deletes it.
    bool startAnimation();
    // The animation thread's native handle, as OrvAboutBox returns it; 0 before it starts.
    std::uintptr_t threadHandle() const { return m_threadHandle; }
    // True once the box has been closed; it is deleted when the event loop next runs.
    bool isClosed() const { return m_closed; }

    // Frames taken from the animation thread since opening, and the credits offset and the
    // picture of the frame shown. For watching the animation from outside; GUI thread only.
    int framesTaken() const { return m_framesTaken; }
    double shownCreditsOffset() const { return m_shownCreditsOffset; }
    const QImage &shownFrame() const { return m_shown; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void animate(std::unique_ptr<AboutAnimation> animation); // on the animation thread
    Q_INVOKABLE void takeLatestFrame(); // on the GUI thread
    void stopAnimation();

    QPushButton *m_okButton = nullptr;
    QPushButton *m_goButton = nullptr;
    QImage m_shown; // the frame on screen; GUI thread only
    double m_shownCreditsOffset = 0.0;
    int m_framesTaken = 0;
    bool m_closed = false;

    std::unique_ptr<AboutAnimation> m_firstAnimation; // until the thread takes it
    std::thread m_thread;
    std::uintptr_t m_threadHandle = 0;
    // 1 while the box runs; cleared by the GUI thread to end the animation thread.
    std::atomic<bool> m_animating { false };
    std::mutex m_mutex; // guards m_latest, m_hasLatest, and the wake-up of m_wake
    std::condition_variable m_wake;
    AboutFrame m_latest;
    bool m_hasLatest = false;
};

// Opens the about box, or raises the one already shown, and returns its animation thread's
// handle; 0 without a QApplication, off its thread, or if no thread could be started. The
// window is shown by the event loop, after the call has returned.
std::uintptr_t openAboutBox();

// The about box now shown (or waiting to be shown), or nullptr. GUI thread only.
AboutWindow *currentAboutBox();

} // namespace orvkit

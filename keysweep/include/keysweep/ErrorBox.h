#pragma once

#include <string_view>

namespace keysweep {

// True when a window system answers: the socket of $WAYLAND_DISPLAY, or the X server named by
// $DISPLAY (a local display is tried by connecting to its socket first), and Qt can open it.
// Call before any QApplication exists, from a process with one thread.
bool displayAvailable();

// Shows a modal box with no owner window: `text`, `caption` as its title, one OK button, no
// icon; returns when it is closed. Creates the QApplication first if there is none. Call from
// the main thread.
void showErrorBox(std::string_view text, std::string_view caption);

} // namespace keysweep

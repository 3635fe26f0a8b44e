/* orvkit: the Orvane Labs common user-interface routines, as a shared library (liborvkit.so).
 *
 * Five routines are exported by name with C linkage. Every argument and every result is a
 * pointer-sized integer, so a C caller can bind them with dlsym() and call them without Qt's
 * headers. The integers carry these things:
 *
 *   window handle    the native window id (QWidget::winId(), a WId) of a top-level window of
 *                    the calling process, or 0 for none. An id that names no window of this
 *                    process counts as 0.
 *   drawing context  a pointer to a QImage that the caller owns and keeps alive for the length
 *                    of the call; 0 for none. The library never keeps the pointer.
 *   module           the resource folder that holds a bitmap: 0 for this library's own resources
 *                    (":/orvkit"), otherwise a pointer to a zero-terminated UTF-8 string naming
 *                    a Qt resource folder of the caller, such as ":/myapp".
 *   bitmap           a pointer to a zero-terminated UTF-8 bitmap name, looked up as
 *                    "<module>/<name>" (a name that starts with ':' or '/' is taken as a
 *                    complete resource or file path and the module is ignored); or a numeric
 *                    identifier from 1 to 65535, looked up as "<module>/#<number>", so that
 *                    identifier 100 and the name "#100" find the same bitmap.
 *
 * Which arguments are pointers. A non-zero picture (OrvSplashScreen), a non-zero module and a
 * bitmap above 65535 (OrvSplashScreenRES), and a non-zero tipFile (ToolTip) are read through;
 * they must point to what is described here for the length of the call. The library cannot tell
 * an integer from a pointer: any other value there is undefined behaviour (most likely a crash),
 * not a quiet failure. Window handles are not pointers: any value is safe, and one that names no
 * window of this process counts as 0. owner (OrvAboutBox, GoOrvaneURL) and reserved1 and
 * reserved2 (ToolTip) are never read.
 *
 * This library's own resources are ":/orvkit/BACK" (81 x 81, the about box's background
 * tile), ":/orvkit/DYK" (142 x 34, the picture at the top of the tip dialog) and
 * ":/orvkit/MAINICON" (32 x 32, the library's icon).
 *
 * Threads: every routine must be called on the thread that runs the process's QApplication.
 * Without a QApplication, or from another thread, a routine shows nothing and returns its
 * failure value. The windows live on that thread and are served by its event loop: the splash
 * and the about box show, paint and answer clicks only while the caller runs its event loop.
 * No routine ever throws, prints or shows an error of its own.
 *
 * Windows the library still shows when the QApplication is destroyed go with it, and a later
 * QApplication in the same process starts with none.
 */
#pragma once

#include <stdint.h>

#if defined(ORVKIT_BUILDING)
#define ORVKIT_EXPORT __attribute__((visibility("default")))
#else
#define ORVKIT_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Shows the maker's animated about box, an always-on-top tool window, and returns at once,
 * before the box appears. The window runs on the caller's GUI thread, from its event loop; the
 * frames are composed on a thread of the library's own, named "orvkit-about", which runs one
 * nice step above the caller's thread where the system lets the process raise a thread (and
 * at the caller's step where it does not). The box closes by "OK", "Go WebSite" or its close
 * box; the caller need not do anything about it. owner has no effect. Returns a non-zero
 * handle of the animation thread (a pthread_t; while the box is shown, the same handle for
 * every call), or 0 if the box could not be started. A call while the box is shown raises the
 * box instead of opening a second one. */
ORVKIT_EXPORT uintptr_t OrvAboutBox(uintptr_t owner);

/* Shows a borderless, always-on-top splash window with a copy, taken now, of the top-left
 * width x height pixels of the picture (a drawing context, or 0 for a white splash), centred
 * on the screen and owned by parent (a window handle, or 0). Only the low 16 bits of width and
 * height are used. Returns the splash window's handle; the caller removes the splash by
 * destroying that window, or by destroying its owner. Returns 0 if no window was made. One
 * splash at a time: a splash still shown is removed first, and if it was parent, the new
 * splash has no owner. */
ORVKIT_EXPORT uintptr_t OrvSplashScreen(
    uintptr_t parent, uintptr_t picture, uintptr_t width, uintptr_t height);

/* Like OrvSplashScreen, with the picture loaded from a bitmap resource of module (see above).
 * A bitmap that cannot be loaded gives a white splash. */
ORVKIT_EXPORT uintptr_t OrvSplashScreenRES(
    uintptr_t parent, uintptr_t module, uintptr_t bitmap, uintptr_t width, uintptr_t height);

/* Opens the maker's web site in the user's browser, quietly: what Qt would print about a
 * missing browser is dropped. owner (a window handle, or 0) has no effect. Returns a value
 * greater than 32 when the browser was asked to open the address, and a value of 32 or less
 * when it could not be (no desktop session, no browser, wrong thread). */
ORVKIT_EXPORT intptr_t GoOrvaneURL(uintptr_t owner);

/* Shows the modal tip dialog for the tip file named by tipFile (a pointer to a zero-terminated
 * file name in the local 8-bit encoding, or 0), owned by parent (a window handle, or 0). Tip
 * lines may be of any length; only the first 4 KiB of a line are read into memory and shown.
 * reserved1 and reserved2 have no effect. Only the low 16 bits of showAtStart are used: non-zero
 * ticks "Show this when app starts" when the dialog opens. Returns -1 if the box was ticked when
 * the dialog closed, 0 if not; returns showAtStart unchanged when no tip could be shown. */
ORVKIT_EXPORT intptr_t ToolTip(uintptr_t parent, uintptr_t reserved1, uintptr_t reserved2,
    uintptr_t tipFile, intptr_t showAtStart);

#ifdef __cplusplus
}
#endif

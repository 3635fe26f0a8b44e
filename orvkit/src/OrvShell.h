#pragma once

#include <QString>

#include <cstdint>

// Things the library's parts share besides the drawing helpers: the maker's address, the
// results that GoOrvaneURL borrows from the shell it replaces, and the check that a routine is
// running where Qt allows it to.
namespace orvkit {

// The maker's home page, opened by GoOrvaneURL and shown among the about box's credits.
inline constexpr const char *kMakerAddress = "https://orvanelabs.example.org/";

// GoOrvaneURL's results, in the shell's convention: above 32 means success.
inline constexpr std::intptr_t kShellOpened = 33;
// No desktop service or browser took the address (the shell's "no association").
inline constexpr std::intptr_t kShellNoAssociation = 31;
// The library cannot act here: no application object, or not on its thread.
inline constexpr std::intptr_t kShellCannotRun = 0;

// True when a QGuiApplication exists and the caller runs on its thread.
bool onGuiThread();
// True when a QApplication (widgets) exists and the caller runs on its thread.
bool onWidgetThread();

// Opens the maker's address through the desktop's URL handler. GUI thread only.
std::intptr_t openMakerSite();

} // namespace orvkit

#pragma once

class QWidget;

// The program's two calls into the maker's shared library, liborvkit, which the program links
// at load time. Both results are ignored: a failure of the library leaves the program as it was.
// UI thread only, as the library requires.

// Shows the maker's animated about box and returns at once; the box runs and closes by itself
// and the main window stays usable. mainWindow is passed as the owner, which the library
// ignores; nullptr passes none.
void showOrvaneAboutBox(const QWidget *mainWindow);

// Opens the maker's web site in the user's browser, with no owner window.
void openOrvaneSite();

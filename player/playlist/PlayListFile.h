#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include "PathList.h"

#include <stdexcept>

namespace tunedeck {

// The file errors of play-list files, named after the stream errors whose texts they carry.
// They escape the menu handlers on purpose and reach the general error report, which shows
// what(): UTF-8 text.
class EFOpenError : public std::runtime_error {
public:
    explicit EFOpenError(const QString &fileName); // "Cannot open file %s"
    EFOpenError(const QString &fileName, const QString &reason); // "Cannot open file %s: %s"
};
class EFCreateError : public std::runtime_error {
public:
    explicit EFCreateError(const QString &fileName); // "Cannot create file %s"
    EFCreateError(const QString &fileName, const QString &reason); // "Cannot create file %s: %s"
};
class EWriteError : public std::runtime_error {
public:
    EWriteError(); // "Stream write error"
};

// A play-list file (".tdl") is one full file name per line, each followed by CR LF, with no
// header and nothing converted. These work on bytes, so tests and the fuzzer drive the same code
// as the menu handlers; any thread may call them.
namespace playlistfile {

// Splits a file's bytes into its lines: CR LF, a lone LF and a lone CR each end a line (so LF CR
// is two line ends with an empty line between them), a last line without an end counts, and a NUL
// ends the text. Every line, empty or not, is one entry; nothing is trimmed. (A file holding a
// list is its PathList::toLines().)
PathList parseList(QByteArrayView bytes);

// A list is read only so far: a file over kMaxBytes is refused, and only the first kMaxEntries
// names are taken (as many as one hand-over of files adds), so no file of any size can take the
// window's memory or time.
inline constexpr qsizetype kMaxBytes = qsizetype(64) << 20;
inline constexpr qsizetype kMaxEntries = 100000;

// Splits at most kMaxEntries lines off `bytes`; `cut` tells whether more lines followed.
PathList parseList(QByteArrayView bytes, bool *cut);

// Reads the file at `fileName` whole and parses it. Throws EFOpenError when it cannot be opened,
// is not a file one can read to its end (a folder, a pipe, a device) or is over kMaxBytes; a
// read that stops early is not an error: what was read counts. `cut`, when given, tells whether
// names after the first kMaxEntries were left out.
PathList load(const QString &fileName, bool *cut = nullptr);

// Writes `names` to `fileName` through a temporary file in the same folder that replaces it only
// once everything is written, so a failure leaves any earlier file as it was. Where no temporary
// file can stand beside it (a folder the user may not write to), a writable file that is there
// is written in place instead: cut to nothing, written and flushed to the disk. Throws
// EFCreateError when the file cannot be created (a new file in a folder we may not write to, a
// read-only file) or a name holds a line break (it would come back as two entries; nothing is
// written then), and EWriteError when the bytes cannot all be written.
void save(const QString &fileName, const PathList &names);

} // namespace playlistfile

} // namespace tunedeck

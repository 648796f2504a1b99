#ifndef BUILDFINDER_H
#define BUILDFINDER_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The search rules of the build-output finder, applied to directory listing texts.
namespace firmware {

// The name of the newest build directory in a listing of the Temp directory: the text from the
// first "build" after the first "<DIR>" up to and including the next ".tmp". With no such
// directory, the first four characters of the listing (a name that enters no directory).
QString buildDirName(const QString &listing);

// The first name in a listing that contains ".ino.hex" or ".cpp.hex", from the blank before it
// up to the end of that ending; empty when there is none. A name with blanks keeps only its
// part after the last blank.
QString hexFileName(const QString &listing);

// A last-write time (UTC) as the window shows it: UTC+8, "Y-MM-DD H:mm:ss".
QString generateTimeText(const QDateTime &utc);

// The size past which the trace file is moved aside to "<path>.1" (replacing an older one), so
// that a window left open for days keeps at most two such files.
const qint64 TraceLimit = 1024 * 1024;

// Appends `text` to the trace file, first moving it aside when the text would take it past
// `limit` bytes; false, with errno set, when it cannot be opened.
bool appendTrace(const QString &path, const QByteArray &text, qint64 limit = TraceLimit);

} // namespace firmware

#endif // BUILDFINDER_H

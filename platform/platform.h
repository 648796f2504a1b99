#ifndef PLATFORM_H
#define PLATFORM_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdio>

// The operating-system layer: user name, Temp directory, file times, directory listings and
// files opened by Unicode path. Windows and Linux implement the same interface.
namespace platform {

// The log-on user name; empty when the system cannot tell.
QString currentUserName();

// Where the sketch build tool leaves its build directories.
QString tempDirectory(const QString &userName);

// The user's cache directory, where current sketch build tools keep their build directories:
// $XDG_CACHE_HOME (when absolute) or ~/.cache on Linux, ~/Library/Caches on macOS,
// %LOCALAPPDATA% on Windows. Empty when the system cannot tell.
QString cacheDirectory();

// The Arduino IDE 1.8's settings directory, which holds its preferences.txt: ~/.arduino15 on
// Linux, ~/Library/Arduino15 on macOS, %LOCALAPPDATA%\Arduino15 on Windows.
QString arduinoSettingsDirectory();

// The sketchbook the Arduino IDE uses when its preferences name none: ~/Arduino on Linux and
// macOS, Documents\Arduino on Windows.
QString defaultSketchbookDirectory();

// The native path of a file in a directory of the Temp directory.
QString buildOutputPath(const QString &userName, const QString &dir, const QString &fileName);

// What a look at a file or directory needs, read in one system call: the build-output finder
// looks at thousands of them every 2 s.
struct FileStamp
{
    qint64 lastWriteMs = 0; // since the epoch, UTC
    qint64 size = 0;
    bool isDir = false;
};

// False when `path` cannot be queried.
bool fileStamp(const QString &path, FileStamp *stamp);

// A file's last-write time in UTC; false (and *utc untouched) when the file cannot be queried.
bool lastWriteTimeUtc(const QString &path, QDateTime *utc);

// Listing of the entries of the Temp directory whose names begin with "build", newest first.
// Each directory's line holds "<DIR>" before its name; a blank precedes every name.
QString buildDirListing(const QString &userName);

// buildDirListing() followed by the listing of the *.hex entries of `dir` inside the Temp
// directory, newest first. When `dir` names no directory there, the second part lists the
// Temp directory itself.
QString hexFileListing(const QString &userName, const QString &dir);

// The listing text that the Linux layer produces for the entries of `dirPath` matching
// `pattern` (a wildcard, case-insensitive), newest first by last-write time.
QString formatListing(const QString &dirPath, const QString &pattern);

// Whether the command interpreter's output ends with its prompt ("C:\...>" on a line of its
// own so far): it has run the lines it was given and waits for the next.
bool endsAtPrompt(const QByteArray &output);

// fopen() by Unicode path; errno tells why on failure.
FILE *openFile(const QString &path, const char *mode);

// A standard stream that carries bytes as they are: on Windows the C runtime's text mode would
// turn CR LF into LF and take Ctrl-Z for the end of input.
void binaryStream(FILE *stream);
// False when standard output was closed at the start; it then leads to the null device, so that
// a socket opened later cannot take its descriptor and receive what was meant for the output.
bool claimStandardOutput();
// write() to standard output's file descriptor, past the C library's buffer and lock: the bytes
// written (blocking until at least one is), or -1 with errno.
qint64 writeStandardOutput(const char *bytes, qint64 size);

// Reads the regular file at `path` whole into *contents, but never more than limit + 1 bytes,
// so that a caller can tell a longer file. The file is open only during the call, and opened so
// that another process may replace it meanwhile. False, with errno telling why, when it cannot
// be opened, is not a regular file, or a read fails.
bool readRegularFile(const QString &path, qint64 limit, QByteArray *contents);

// Replaces `to` by `from` in one step: a reader that has `to` open keeps its old contents.
// errno tells why on failure.
bool replaceFile(const QString &from, const QString &to);

// Hands memory freed inside the process's heap back to the system, after many objects went at once.
void releaseFreeMemory();

// Ends the sending half of a connected TCP socket (its native descriptor): the peer reads the
// end of the stream while this side can still receive. False when the system refuses.
bool shutdownSending(qintptr socketDescriptor);

// Characters per line of the terminal or console behind `stream`, 0 when unknown.
int terminalColumns(FILE *stream);

// Raises the process's soft limit of open files to its hard limit, as servers do, and returns the
// limit then in force; 0 when the system sets none (Windows: sockets and handles have no such
// small limit).
qint64 raiseOpenFileLimit();

} // namespace platform

#endif // PLATFORM_H

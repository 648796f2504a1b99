#ifndef PLATFORM_H
#define PLATFORM_H

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

// The native path of a file in a directory of the Temp directory.
QString buildOutputPath(const QString &userName, const QString &dir, const QString &fileName);

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

// fopen() by Unicode path; errno tells why on failure.
FILE *openFile(const QString &path, const char *mode);

// Replaces `to` by `from` in one step: a reader that has `to` open keeps its old contents.
// errno tells why on failure.
bool replaceFile(const QString &from, const QString &to);

// Hands memory freed inside the process's heap back to the system, after many objects went at once.
void releaseFreeMemory();

} // namespace platform

#endif // PLATFORM_H

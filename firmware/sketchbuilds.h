#ifndef SKETCHBUILDS_H
#define SKETCHBUILDS_H

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVector>

// The build directories of the sketch build tools since 2016 (one directory per sketch, reused
// by every build of it), and the choice of the newest HEX file among them and the build….tmp one.
namespace firmware {

// A HEX file as one look saw it.
struct HexCandidate
{
    QString path;        // native separators; empty: no file
    QDateTime lastWrite; // UTC
    qint64 size = -1;
};

// A directory in which a sketch build tool makes its build directories, and their names.
struct BuildPlace
{
    QString root;
    QRegularExpression dirName; // the whole name of a build directory
};

// The places of the current tools, given the temporary directory and the user's cache
// directory (either may be empty, and is then not looked at):
//   <temp>/arduino_build_<digits>                 IDE 1.6.6 to 1.8.x
//   <temp>/arduino-sketch-<32 hex digits>         command-line builder and IDE 2.0, to early 2023
//   <temp>/arduino/arduino-sketch-<32 hex digits> 2023 to mid-2024
//   <temp>/arduino/sketches/<32 hex digits>       2023 to mid-2024
//   <cache>/arduino/sketches/<32 hex digits>      since mid-2024
QVector<BuildPlace> currentToolPlaces(const QString &tempDir, const QString &cacheDir);

// "<sketch>.ino.hex" or "<sketch>.cpp.hex" with a non-empty sketch name, in lower case. The
// tools' "<sketch>.ino.with_bootloader.hex" holds the bootloader too and is never one.
bool isSketchHexName(const QString &fileName);

// The file's time and size; an empty candidate when it cannot be queried.
HexCandidate candidateAt(const QString &path);

// The newer of two candidates by last-write time (an empty one never wins); equal times go to
// the smaller path, so that repeated looks choose alike.
HexCandidate newer(const HexCandidate &a, const HexCandidate &b);

// Names read from directories, read again only when a directory's last-write time changed
// (a name is added, removed or renamed). A time within RacyMs of the read is not trusted: a name
// added within the same tick of a coarse file-system clock would not change it. Names are kept
// per directory and filter, since places with different patterns share a directory.
class DirectoryNames
{
public:
    static const qint64 RacyMs = 2000;

    // The sub-directories of `dir` whose names match `pattern`, or its files for which
    // isSketchHexName() holds; empty when `dir` is not a directory.
    QStringList buildDirs(const QString &dir, const QRegularExpression &pattern, qint64 nowMs);
    QStringList hexFiles(const QString &dir, qint64 nowMs);
    // Forgets the directories not read since the previous call (build directories deleted).
    void forgetUnread();

private:
    struct Listed
    {
        qint64 lastWriteMs;
        QStringList names;
        quint32 generation;
    };
    using Key = QPair<QString, QString>; // the directory; the pattern, empty for HEX files
    quint32 generation_ = 0;
    template<typename Accept>
    QStringList read(const Key &key, bool dirs, qint64 nowMs, Accept accept);

    QHash<Key, Listed> listed_;
};

// The newest sketch HEX file in the build directories of one place; *dirCount is the number of
// build directories looked into.
HexCandidate newestInPlace(const BuildPlace &place, DirectoryNames *names, qint64 nowMs, int *dirCount);

// Tells a finished file from one that a build tool is still writing: a file younger than
// SettleMs, or whose size changed since the previous look at the same file, is not settled.
class WriteSettleCheck
{
public:
    static const qint64 SettleMs = 1000;
    bool settled(const HexCandidate &file, const QDateTime &nowUtc);

private:
    QString path_;
    qint64 size_ = -1;
};

// What one look chose.
struct BuildOutputChoice
{
    QString path;              // the file to use; empty: keep the file in use
    bool stillWritten = false; // the newest file is being written; the next look takes it
};

// One look at every place: the newest of the build….tmp file found from the listings
// (`legacyPath`, may be empty) and the files in `places`. When no file can be queried, the
// legacy path is taken as it is. Appends what was looked at to *trace.
class BuildOutputSearch
{
public:
    BuildOutputChoice look(const QString &legacyPath, const QVector<BuildPlace> &places,
                           const QDateTime &nowUtc, QByteArray *trace);

private:
    WriteSettleCheck settle_;
    DirectoryNames names_;
};

} // namespace firmware

#endif // SKETCHBUILDS_H

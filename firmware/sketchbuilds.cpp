#include "sketchbuilds.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

// The build directories are read with QDir on every system, also on Windows where the build….tmp
// listing comes from the command interpreter: a direct read needs no child process (hundreds of
// directories are read in milliseconds, where each interpreter run costs a process start), and
// it gives names exactly, without a code page or the parsing of listing text.
namespace firmware {

namespace {

const QLatin1String InoHex(".ino.hex");
const QLatin1String CppHex(".cpp.hex");

BuildPlace place(const QString &root, const char *glob, const char *dirName)
{
    return BuildPlace{root, QLatin1String(glob),
                      QRegularExpression(QLatin1String(dirName), QRegularExpression::DontCaptureOption)};
}

QString timeText(const QDateTime &utc)
{
    return utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd  HH:mm:ss.zzz"));
}

QString describe(const HexCandidate &c)
{
    return QStringLiteral("%1 %2 %3").arg(timeText(c.lastWrite)).arg(c.size, 10).arg(c.path);
}

} // namespace

QVector<BuildPlace> currentToolPlaces(const QString &tempDir, const QString &cacheDir)
{
    const char *const sketchHash = "^arduino-sketch-[0-9A-Fa-f]{32}$";
    const char *const hash = "^[0-9A-Fa-f]{32}$";
    QVector<BuildPlace> places;
    if (!tempDir.isEmpty()) {
        places << place(tempDir, "arduino_build_*", "^arduino_build_[0-9]+$")
               << place(tempDir, "arduino-sketch-*", sketchHash)
               << place(tempDir + QStringLiteral("/arduino"), "arduino-sketch-*", sketchHash)
               << place(tempDir + QStringLiteral("/arduino/sketches"), "*", hash);
    }
    if (!cacheDir.isEmpty())
        places << place(cacheDir + QStringLiteral("/arduino/sketches"), "*", hash);
    return places;
}

bool isSketchHexName(const QString &fileName)
{
    return fileName.size() > InoHex.size() && (fileName.endsWith(InoHex) || fileName.endsWith(CppHex));
}

HexCandidate candidateAt(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return HexCandidate();
    return HexCandidate{QDir::toNativeSeparators(path), info.fileTime(QFileDevice::FileModificationTime).toUTC(),
                        info.size()};
}

HexCandidate newer(const HexCandidate &a, const HexCandidate &b)
{
    if (a.path.isEmpty())
        return b;
    if (b.path.isEmpty())
        return a;
    if (a.lastWrite != b.lastWrite)
        return a.lastWrite > b.lastWrite ? a : b;
    return b.path < a.path ? b : a;
}

HexCandidate newestInPlace(const BuildPlace &place, int *dirCount)
{
    HexCandidate best;
    *dirCount = 0;
    QDirIterator dirs(place.root, QStringList{place.glob}, QDir::Dirs | QDir::NoDotAndDotDot);
    while (dirs.hasNext()) {
        dirs.next();
        if (!place.dirName.match(dirs.fileName()).hasMatch())
            continue;
        ++*dirCount;
        QDirIterator files(dirs.filePath(), QStringList{QStringLiteral("*") + InoHex, QStringLiteral("*") + CppHex},
                           QDir::Files | QDir::CaseSensitive);
        while (files.hasNext()) {
            files.next();
            if (isSketchHexName(files.fileName()))
                best = newer(best, candidateAt(files.filePath()));
        }
    }
    return best;
}

bool WriteSettleCheck::settled(const HexCandidate &file, const QDateTime &nowUtc)
{
    const bool sizeChanged = file.path == path_ && file.size != size_;
    path_ = file.path;
    size_ = file.size;
    // A time ahead of this clock (a skewed file server) says nothing about writing: only the
    // size is judged then.
    const qint64 age = file.lastWrite.msecsTo(nowUtc);
    const bool young = age >= 0 && age < SettleMs;
    return !sizeChanged && !young;
}

BuildOutputChoice BuildOutputSearch::look(const QString &legacyPath, const QVector<BuildPlace> &places,
                                          const QDateTime &nowUtc, QByteArray *trace)
{
    QString text = QStringLiteral("\n Sketch build directories\n");
    HexCandidate best = candidateAt(legacyPath);
    for (const BuildPlace &p : places) {
        int dirs = 0;
        const HexCandidate inPlace = newestInPlace(p, &dirs);
        text += QStringLiteral(" %1 %2: %3 build directories\n")
                    .arg(QDir::toNativeSeparators(p.root), p.glob)
                    .arg(dirs);
        if (!inPlace.path.isEmpty())
            text += QStringLiteral("   newest %1\n").arg(describe(inPlace));
        best = newer(best, inPlace);
    }
    BuildOutputChoice choice;
    if (best.path.isEmpty()) {
        choice.path = legacyPath;
    } else if (settle_.settled(best, nowUtc)) {
        choice.path = best.path;
        text += QStringLiteral(" chosen %1\n").arg(describe(best));
    } else {
        choice.stillWritten = true;
        text += QStringLiteral(" being written, next look %1\n").arg(describe(best));
    }
    trace->append(text.toLocal8Bit());
    return choice;
}

} // namespace firmware

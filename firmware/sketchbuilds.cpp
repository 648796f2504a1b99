#include "sketchbuilds.h"

#include "platform.h"

#include <QDir>
#include <QDirIterator>

// The build directories are read with QDir on every system, also on Windows where the build….tmp
// listing comes from the command interpreter: a direct read needs no child process (hundreds of
// directories are read in milliseconds, where each interpreter run costs a process start), and
// it gives names exactly, without a code page or the parsing of listing text.
namespace firmware {

namespace {

const QLatin1String InoHex(".ino.hex");
const QLatin1String CppHex(".cpp.hex");

BuildPlace place(const QString &root, const char *dirName)
{
    return BuildPlace{root, QRegularExpression(QLatin1String(dirName), QRegularExpression::DontCaptureOption)};
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
        places << place(tempDir, "^arduino_build_[0-9]+$")
               << place(tempDir, sketchHash)
               << place(tempDir + QStringLiteral("/arduino"), sketchHash)
               << place(tempDir + QStringLiteral("/arduino/sketches"), hash);
    }
    if (!cacheDir.isEmpty())
        places << place(cacheDir + QStringLiteral("/arduino/sketches"), hash);
    return places;
}

bool isSketchHexName(const QString &fileName)
{
    return fileName.size() > InoHex.size() && (fileName.endsWith(InoHex) || fileName.endsWith(CppHex));
}

HexCandidate candidateAt(const QString &path)
{
    platform::FileStamp stamp;
    if (!platform::fileStamp(path, &stamp) || stamp.isDir)
        return HexCandidate();
    return HexCandidate{QDir::toNativeSeparators(path), QDateTime::fromMSecsSinceEpoch(stamp.lastWriteMs, Qt::UTC),
                        stamp.size};
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

template<typename Accept>
QStringList DirectoryNames::read(const Key &key, bool dirs, qint64 nowMs, Accept accept)
{
    const QString &dir = key.first;
    platform::FileStamp stamp;
    if (!platform::fileStamp(dir, &stamp) || !stamp.isDir) {
        listed_.remove(key);
        return QStringList();
    }
    const qint64 lastWrite = stamp.lastWriteMs;
    const auto it = listed_.find(key);
    if (it != listed_.end() && it->lastWriteMs == lastWrite && nowMs - lastWrite > RacyMs) {
        it->generation = generation_;
        return it->names;
    }
    // No name filters: matching the names here is many times cheaper than the iterator's.
    QStringList names;
    QDirIterator entries(dir, (dirs ? QDir::Dirs : QDir::Files) | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        if (accept(entries.fileName()))
            names << entries.fileName();
    }
    listed_.insert(key, Listed{lastWrite, names, generation_});
    return names;
}

void DirectoryNames::forgetUnread()
{
    for (auto it = listed_.begin(); it != listed_.end();) {
        if (it->generation == generation_)
            ++it;
        else
            it = listed_.erase(it);
    }
    ++generation_;
}

QStringList DirectoryNames::buildDirs(const QString &dir, const QRegularExpression &pattern, qint64 nowMs)
{
    return read(Key(dir, pattern.pattern()), true, nowMs, [&pattern](const QString &name) { return pattern.match(name).hasMatch(); });
}

QStringList DirectoryNames::hexFiles(const QString &dir, qint64 nowMs)
{
    return read(Key(dir, QString()), false, nowMs, isSketchHexName);
}

HexCandidate newestInPlace(const BuildPlace &place, DirectoryNames *names, qint64 nowMs, int *dirCount)
{
    HexCandidate best;
    const QStringList dirs = names->buildDirs(place.root, place.dirName, nowMs);
    *dirCount = dirs.size();
    for (const QString &d : dirs) {
        const QString dir = place.root + QLatin1Char('/') + d;
        for (const QString &file : names->hexFiles(dir, nowMs))
            best = newer(best, candidateAt(dir + QLatin1Char('/') + file));
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
        const HexCandidate inPlace = newestInPlace(p, &names_, nowUtc.toMSecsSinceEpoch(), &dirs);
        text += QStringLiteral(" %1 %2: %3 build directories\n")
                    .arg(QDir::toNativeSeparators(p.root), p.dirName.pattern())
                    .arg(dirs);
        if (!inPlace.path.isEmpty())
            text += QStringLiteral("   newest %1\n").arg(describe(inPlace));
        best = newer(best, inPlace);
    }
    names_.forgetUnread();
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

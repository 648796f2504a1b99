#include "buildfinder.h"

#include "platform.h"

#include <QFileInfo>

#include <cstdio>

namespace firmware {

namespace {

const QLatin1String DirMark("<DIR>");
const QLatin1String BuildPrefix("build");
const QLatin1String TmpSuffix(".tmp");
const QLatin1String InoHex(".ino.hex");
const QLatin1String CppHex(".cpp.hex");
const int FallbackNameLength = 4;
const int ChinaStandardOffset = 8 * 3600; // s, the generate time is shown in UTC+8

} // namespace

QString buildDirName(const QString &listing)
{
    const int n = listing.size();
    if (n > DirMark.size()) {
        const int i = listing.indexOf(DirMark);
        // The mark must not be the listing's last text, nor its very first.
        if (i > 0 && i <= n - DirMark.size() - 1) {
            const int j = listing.indexOf(BuildPrefix, i);
            const int k = j > 0 ? listing.indexOf(TmpSuffix, j) : -1;
            if (k >= 0)
                return listing.mid(j, k - j + TmpSuffix.size());
        }
    }
    return listing.left(FallbackNameLength);
}

QString hexFileName(const QString &listing)
{
    const int n = listing.size();
    if (n <= InoHex.size())
        return QString();
    const int ino = listing.indexOf(InoHex);
    const int cpp = listing.indexOf(CppHex);
    const int i = ino < 0 ? cpp : cpp < 0 ? ino : qMin(ino, cpp);
    // The ending must be followed by at least one character, and a name needs room before it.
    if (i <= 0 || i > n - InoHex.size() - 1)
        return QString();
    const int blank = listing.lastIndexOf(QLatin1Char(' '), i);
    const int start = blank >= 1 ? blank + 1 : 1;
    return listing.mid(start, i + InoHex.size() - start);
}

QString generateTimeText(const QDateTime &utc)
{
    const QDateTime t = utc.toUTC().addSecs(ChinaStandardOffset);
    const QDate d = t.date();
    const QTime h = t.time();
    const QLatin1Char zero('0');
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(d.year())
        .arg(d.month(), 2, 10, zero)
        .arg(d.day(), 2, 10, zero)
        .arg(h.hour())
        .arg(h.minute(), 2, 10, zero)
        .arg(h.second(), 2, 10, zero);
}

bool appendTrace(const QString &path, const QByteArray &text, qint64 limit)
{
    const QFileInfo info(path);
    const char *mode = "ab";
    // When the old file cannot be moved aside (say "<path>.1" is a directory), starting the
    // file anew still keeps it bounded.
    if (info.isFile() && info.size() > 0 && info.size() + text.size() > limit
        && !platform::replaceFile(path, path + QStringLiteral(".1")))
        mode = "wb";
    FILE *trace = platform::openFile(path, mode);
    if (!trace)
        return false;
    std::fwrite(text.constData(), 1, std::size_t(text.size()), trace);
    std::fclose(trace);
    return true;
}

} // namespace firmware

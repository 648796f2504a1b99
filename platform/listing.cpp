#include "platform.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace platform {

namespace {

struct Entry
{
    QString name;
    FileStamp stamp;
};

} // namespace

QString formatListing(const QString &dirPath, const QString &pattern)
{
    // The window lists every 2 s, with hundreds of build directories beside the ones it wants:
    // names are matched with one compiled expression (the iterator's own name filters cost many
    // times more) and each time is converted once.
    const QRegularExpression match(QRegularExpression::wildcardToRegularExpression(pattern),
                                   QRegularExpression::CaseInsensitiveOption);
    const QDir dir(dirPath);
    std::vector<Entry> entries;
    QDirIterator it(dir.path(), QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        if (!match.match(it.fileName()).hasMatch())
            continue;
        Entry entry{it.fileName(), FileStamp()};
        if (fileStamp(it.filePath(), &entry.stamp))
            entries.push_back(entry);
    }
    // Newest first; equal times keep a fixed order so that repeated runs list alike.
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return a.stamp.lastWriteMs != b.stamp.lastWriteMs ? a.stamp.lastWriteMs > b.stamp.lastWriteMs
                                                          : a.name < b.name;
    });

    QString text = QStringLiteral(" Directory of ") + QDir::toNativeSeparators(dir.absolutePath())
                   + QStringLiteral("\n\n");
    for (const Entry &entry : entries) {
        text += QDateTime::fromMSecsSinceEpoch(entry.stamp.lastWriteMs, Qt::LocalTime)
                    .toString(QStringLiteral("yyyy-MM-dd  HH:mm"));
        if (entry.stamp.isDir)
            text += QStringLiteral("    <DIR>          ");
        else
            text += QStringLiteral("%1 ").arg(entry.stamp.size, 18);
        text += entry.name + QLatin1Char('\n');
    }
    return text;
}

bool endsAtPrompt(const QByteArray &output)
{
    const int lineStart = output.lastIndexOf('\n') + 1;
    return output.endsWith('>') && output.size() - lineStart >= 3 && output.at(lineStart + 1) == ':'
           && output.at(lineStart + 2) == '\\';
}

} // namespace platform

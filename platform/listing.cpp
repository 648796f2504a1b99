#include "platform.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace platform {

QString formatListing(const QString &dirPath, const QString &pattern)
{
    QDir dir(dirPath);
    QFileInfoList entries = dir.entryInfoList(QStringList{pattern},
                                              QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    // Newest first; equal times keep a fixed order so that repeated runs list alike.
    std::sort(entries.begin(), entries.end(), [](const QFileInfo &a, const QFileInfo &b) {
        const qint64 ta = a.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
        const qint64 tb = b.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
        return ta != tb ? ta > tb : a.fileName() < b.fileName();
    });

    QString text = QStringLiteral(" Directory of ") + QDir::toNativeSeparators(dir.absolutePath())
                   + QStringLiteral("\n\n");
    for (const QFileInfo &entry : qAsConst(entries)) {
        text += entry.fileTime(QFileDevice::FileModificationTime)
                    .toLocalTime()
                    .toString(QStringLiteral("yyyy-MM-dd  HH:mm"));
        if (entry.isDir())
            text += QStringLiteral("    <DIR>          ");
        else
            text += QStringLiteral("%1 ").arg(entry.size(), 18);
        text += entry.fileName() + QLatin1Char('\n');
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

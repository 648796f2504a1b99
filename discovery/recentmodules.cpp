#include "recentmodules.h"

#include "portnumber.h"
#include "sharedsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace discovery {

namespace {

const qint64 MaxFileBytes = 64 * 1024; // a longer file is not read: it is not this program's

} // namespace

RecentModules::RecentModules(const QString &path)
    : filePath(path)
{
}

RecentModules::~RecentModules()
{
    if (!heard.isEmpty())
        write(lastWriteMs);
}

QString RecentModules::defaultPath()
{
    return sharedFilePath(QStringLiteral("heard.txt"));
}

RecentModules &RecentModules::shared()
{
    static RecentModules store;
    return store;
}

QHash<QString, RecentModules::Entry> RecentModules::readFile() const
{
    QHash<QString, Entry> entries;
    QFile file(filePath);
    if (!QFileInfo(filePath).isFile() || QFileInfo(filePath).size() > MaxFileBytes || !file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() != 5 || !fields[4].startsWith('='))
            continue;
        bool isNumber = false;
        const qint64 ms = fields[0].toLongLong(&isNumber);
        QString problem;
        const std::optional<KnownModule> module =
            knownModuleFromTexts(QString::fromLatin1(fields[1]), QString::fromLatin1(fields[2]),
                                 QString::fromLatin1(fields[3]), QString::fromUtf8(QByteArray::fromPercentEncoding(fields[4].mid(1))),
                                 &problem);
        if (isNumber && module && (!entries.contains(module->ip) || entries[module->ip].heardMs < ms))
            entries[module->ip] = {*module, ms};
    }
    return entries;
}

QVector<KnownModule> RecentModules::heardSince(qint64 nowMs) const
{
    QVector<Entry> recent;
    const QHash<QString, Entry> entries = readFile();
    for (const Entry &e : entries) {
        if (e.heardMs <= nowMs && nowMs - e.heardMs <= KeepMs)
            recent << e;
    }
    std::sort(recent.begin(), recent.end(), [](const Entry &a, const Entry &b) { return a.heardMs > b.heardMs; });
    QVector<KnownModule> modules;
    for (const Entry &e : recent)
        modules << e.module;
    return modules;
}

bool RecentModules::note(const Announcement &announcement, qint64 nowMs)
{
    const std::optional<quint16> dataPort = parsePort(announcement.dataPort);
    const std::optional<quint16> atPort = parsePort(announcement.atPort);
    QString ip;
    if (!dataPort || !atPort || !parseModuleAddress(announcement.hostIp, &ip))
        return true;
    const auto written = writtenMs.constFind(ip);
    if (written == writtenMs.constEnd() || nowMs - *written >= RefreshMs)
        heard[ip] = {KnownModule{ip, *dataPort, *atPort, announcement.hostName}, nowMs};
    if (heard.isEmpty() || nowMs - lastWriteMs < WriteGapMs)
        return true;
    return write(nowMs);
}

bool RecentModules::write(qint64 nowMs)
{
    lastWriteMs = nowMs;
    QHash<QString, Entry> entries = readFile();
    for (const Entry &e : qAsConst(heard)) {
        entries[e.module.ip] = e;
        writtenMs[e.module.ip] = e.heardMs;
    }
    heard.clear();
    // A flood of addresses must not grow it without end; forgetting only costs earlier rewrites.
    if (writtenMs.size() > 4 * MaxEntries)
        writtenMs.clear();
    QVector<Entry> kept;
    for (const Entry &e : qAsConst(entries)) {
        if (nowMs - e.heardMs <= KeepMs)
            kept << e;
    }
    std::sort(kept.begin(), kept.end(), [](const Entry &a, const Entry &b) { return a.heardMs > b.heardMs; });
    kept.resize(qMin(int(kept.size()), MaxEntries));
    QByteArray text;
    for (const Entry &e : qAsConst(kept))
        text += QByteArray::number(e.heardMs) + ' ' + e.module.ip.toLatin1() + ' ' + QByteArray::number(e.module.dataPort)
                + ' ' + QByteArray::number(e.module.atPort) + " =" + e.module.name.toUtf8().toPercentEncoding() + '\n';
    // Written beside it and put in its place, without the sync to disk of a QSaveFile: the window
    // writes from its own thread, and a file lost in a crash costs only a slower first discovery.
    // A reader in the moment between the two steps finds no file.
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    const QString fresh = filePath + QStringLiteral(".new");
    QFile out(fresh);
    const bool written = out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(text) == text.size();
    out.close();
    QFile::remove(filePath);
    return written && QFile::rename(fresh, filePath);
}

} // namespace discovery

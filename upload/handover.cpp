#include "handover.h"

#include "sharedsettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QVector>

#include <algorithm>

namespace upload {

namespace {

const qint64 MaxFileBytes = 16 * 1024; // a longer file is not read: it is not this program's
const int LockWait = 500;             // ms another program may hold the file's lock

struct Entry
{
    qint64 ms = 0;
    QByteArray ip;
    quint16 port = 0;
};

QVector<Entry> readEntries(const QString &path)
{
    QVector<Entry> entries;
    QFile file(path);
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() > MaxFileBytes || !file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() != 3)
            continue;
        bool msOk = false;
        bool portOk = false;
        const qint64 ms = fields[0].toLongLong(&msOk);
        const uint port = fields[2].toUInt(&portOk, 10);
        if (msOk && portOk && port >= 1 && port <= 65535 && !fields[1].isEmpty())
            entries << Entry{ms, fields[1], quint16(port)};
    }
    return entries;
}

} // namespace

Handover::Handover(const QString &path)
    : filePath(path)
{
}

QString Handover::defaultPath()
{
    return discovery::sharedFilePath(QStringLiteral("handovers.txt"));
}

bool Handover::noteLetGo(const QString &ip, quint16 port, qint64 nowMs)
{
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    QLockFile lock(filePath + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWait))
        return false;
    QVector<Entry> entries;
    const QByteArray address = ip.toLatin1();
    for (const Entry &e : readEntries(filePath)) {
        if (e.ip != address || e.port != port)
            entries << e;
    }
    entries << Entry{nowMs, address, port};
    std::stable_sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.ms > b.ms; });
    entries.resize(qMin(int(entries.size()), MaxEntries));
    QByteArray text;
    for (const Entry &e : qAsConst(entries))
        text += QByteArray::number(e.ms) + ' ' + e.ip + ' ' + QByteArray::number(e.port) + '\n';
    QSaveFile out(filePath);
    return out.open(QIODevice::WriteOnly) && out.write(text) == text.size() && out.commit();
}

bool Handover::letGoRecently(const QString &ip, quint16 port, qint64 nowMs) const
{
    const QByteArray address = ip.toLatin1();
    const QVector<Entry> entries = readEntries(filePath);
    return std::any_of(entries.begin(), entries.end(), [&](const Entry &e) {
        return e.ip == address && e.port == port && e.ms <= nowMs && nowMs - e.ms <= RecentMs;
    });
}

Refusal Handover::refusalFor(const QString &ip, quint16 port, Refusal given)
{
    if (given == Refusal::Retried
        || Handover().letGoRecently(ip, port, QDateTime::currentMSecsSinceEpoch()))
        return Refusal::Retried;
    return Refusal::Fails;
}

} // namespace upload

#include "moduleboards.h"

#include "knownmodules.h"
#include "sharedsettings.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace upload {

namespace {

const char NameKey[] = "name";
const char BoardKey[] = "board";
const char LearnedKey[] = "learned";

} // namespace

ModuleBoards::ModuleBoards(const QString &path)
    : filePath(path)
{
}

QString ModuleBoards::defaultPath()
{
    return discovery::sharedFilePath(QStringLiteral("boards.ini"));
}

QDateTime ModuleBoards::fileStamp() const
{
    return QFileInfo(filePath).fileTime(QFileDevice::FileModificationTime);
}

QStringList ModuleBoards::load()
{
    list.clear();
    const QFileInfo info(filePath);
    readStamp = fileStamp();
    readSize = info.exists() ? info.size() : -1;
    if (!info.exists())
        return {};
    const std::unique_ptr<QSettings> settings = discovery::openSharedFile(filePath);
    const QString shown = QDir::toNativeSeparators(filePath);
    if (settings->status() == QSettings::AccessError || !info.isFile())
        return {QStringLiteral("%1 cannot be read; no board types are remembered").arg(shown)};
    QStringList problems;
    if (settings->status() == QSettings::FormatError)
        problems << QStringLiteral("%1 is damaged; the board types that could be read are remembered").arg(shown);
    const QStringList groups = settings->childGroups();
    for (const QString &group : groups) {
        if (list.size() == MaxEntries) {
            problems << QStringLiteral("%1: only the first %2 modules are read").arg(shown).arg(MaxEntries);
            break;
        }
        settings->beginGroup(group);
        const QString name = settings->value(QLatin1String(NameKey)).toString();
        const QString boardName = settings->value(QLatin1String(BoardKey)).toString();
        const qint64 learned = settings->value(QLatin1String(LearnedKey)).toLongLong();
        settings->endGroup();
        // An address and a name as a module added by address must have them.
        QString problem;
        const std::optional<discovery::KnownModule> module =
            discovery::knownModuleFromTexts(group, QString(), QString(), name, &problem);
        const Board *board = findBoard(boardName);
        if (module && std::any_of(list.cbegin(), list.cend(), [&module](const Entry &e) { return e.ip == module->ip; }))
            problem = QStringLiteral("listed twice");
        else if (module && !board)
            problem = QStringLiteral("\"%1\" is no board type (%2)").arg(boardName, boardNames().join(QLatin1String(", ")));
        if (problem.isEmpty())
            list << Entry{module->ip, name, board, learned};
        else
            problems << QStringLiteral("%1: [%2] left out: %3").arg(shown, group, problem);
    }
    return problems;
}

QStringList ModuleBoards::refresh()
{
    const QFileInfo info(filePath);
    if (fileStamp() == readStamp && (info.exists() ? info.size() : -1) == readSize)
        return {};
    return load();
}

const Board *ModuleBoards::boardOf(const QString &ip, const QString &hostName) const
{
    const auto it = std::find_if(list.cbegin(), list.cend(), [&ip](const Entry &e) { return e.ip == ip; });
    if (it == list.cend())
        return nullptr;
    if (!hostName.isEmpty() && !it->hostName.isEmpty() && hostName != it->hostName)
        return nullptr;
    return it->board;
}

QVector<ModuleBoards::Entry>::iterator ModuleBoards::entry(const QString &ip)
{
    return std::find_if(list.begin(), list.end(), [&ip](const Entry &e) { return e.ip == ip; });
}

bool ModuleBoards::remember(const QVector<Learned> &learned, QString *error)
{
    // Another program may have learned modules meanwhile: room is made among all of them.
    refresh();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QVector<Entry> changed;
    QStringList evicted;
    for (const Learned &l : learned) {
        // What the file would refuse to read back is not written: a bad address is left out, a
        // bad name is kept as not known.
        QString problem;
        const bool nameFits = bool(discovery::knownModuleFromTexts(l.ip, QString(), QString(), l.hostName, &problem));
        if (!nameFits && !discovery::knownModuleFromTexts(l.ip, QString(), QString(), QString(), &problem))
            continue;
        auto it = entry(l.ip);
        if (it == list.end()) {
            if (list.size() >= MaxEntries) {
                const auto oldest = std::min_element(list.begin(), list.end(), [](const Entry &a, const Entry &b) {
                    return a.learned < b.learned;
                });
                evicted << oldest->ip;
                list.erase(oldest);
            }
            list << Entry{l.ip, QString(), nullptr, 0};
            it = list.end() - 1;
        }
        if (nameFits && !l.hostName.isEmpty())
            it->hostName = l.hostName;
        it->board = l.board;
        it->learned = now;
        changed << *it;
    }
    return write(changed, evicted, error);
}

bool ModuleBoards::takeName(const QString &ip, const QString &hostName, QString *error)
{
    refresh();
    const auto it = entry(ip);
    if (it == list.end() || it->hostName == hostName)
        return true;
    it->hostName = hostName;
    return write({*it}, {}, error);
}

bool ModuleBoards::write(const QVector<Entry> &changed, const QStringList &evicted, QString *error)
{
    const std::unique_ptr<QSettings> settings = discovery::openSharedFile(filePath);
    for (const QString &ip : evicted)
        settings->remove(ip);
    for (const Entry &e : changed) {
        settings->beginGroup(e.ip);
        settings->setValue(QLatin1String(NameKey), e.hostName);
        settings->setValue(QLatin1String(BoardKey), QLatin1String(e.board->name));
        settings->setValue(QLatin1String(LearnedKey), e.learned);
        settings->endGroup();
    }
    const bool written = discovery::writeSharedFile(*settings, error);
    readStamp = fileStamp();
    readSize = QFileInfo(filePath).size();
    return written;
}

} // namespace upload

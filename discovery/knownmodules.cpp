#include "knownmodules.h"

#include "portnumber.h"
#include "sharedsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

#include <algorithm>

namespace discovery {

namespace {

const char DataPortKey[] = "dataPort";
const char AtPortKey[] = "atPort";
const char NameKey[] = "name";

bool allDigits(const QString &text, int maxLength)
{
    if (text.isEmpty() || text.size() > maxLength)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

QString nameProblem(const QString &name)
{
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("the name holds a control character");
    }
    if (name.toUtf8().size() > MaxHostNameBytes)
        return QStringLiteral("the name is longer than %1 bytes").arg(MaxHostNameBytes);
    return QString();
}

bool earlier(const KnownModule &a, const KnownModule &b)
{
    return QHostAddress(a.ip).toIPv4Address() < QHostAddress(b.ip).toIPv4Address();
}

} // namespace

Announcement KnownModule::announcement() const
{
    Announcement a;
    a.hostIp = ip;
    a.dataPort = QString::number(dataPort);
    a.atPort = QString::number(atPort);
    a.hostName = name;
    return a;
}

bool KnownModule::operator==(const KnownModule &other) const
{
    return ip == other.ip && dataPort == other.dataPort && atPort == other.atPort && name == other.name;
}

bool parseIpv4(const QString &text, QString *canonical)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    QStringList numbers;
    for (const QString &part : parts) {
        if (!allDigits(part, 3) || part.toInt() > 255)
            return false;
        numbers << QString::number(part.toInt());
    }
    *canonical = numbers.join(QLatin1Char('.'));
    return true;
}

bool parseModuleAddress(const QString &text, QString *canonical)
{
    QString address;
    if (!parseIpv4(text, &address))
        return false;
    const int first = address.section(QLatin1Char('.'), 0, 0).toInt();
    if (first == 0 || first >= 224) // "this network", multicast, reserved and broadcast
        return false;
    *canonical = address;
    return true;
}

std::optional<KnownModule> knownModuleFromTexts(const QString &ip, const QString &dataPort, const QString &atPort,
                                                const QString &name, QString *problem)
{
    KnownModule module;
    module.name = name;
    if (!parseModuleAddress(ip.trimmed(), &module.ip)) {
        *problem = QStringLiteral("\"%1\" is not a module's IPv4 address (four numbers 0..255, as 192.168.1.20)").arg(ip);
        return std::nullopt;
    }
    const auto port = [problem](const QString &text, const char *what, quint16 *out) {
        if (text.isEmpty())
            return true;
        const std::optional<quint16> parsed = parsePort(text.trimmed());
        if (parsed) {
            *out = *parsed;
            return true;
        }
        *problem = QStringLiteral("%1 \"%2\" is not a port number (1..65535)").arg(QLatin1String(what), text);
        return false;
    };
    if (!port(dataPort, "data port", &module.dataPort) || !port(atPort, "AT-command port", &module.atPort))
        return std::nullopt;
    *problem = nameProblem(name);
    if (!problem->isEmpty())
        return std::nullopt;
    return module;
}

KnownModules::KnownModules(const QString &path)
    : filePath(path)
{
}

QString KnownModules::defaultPath()
{
    return sharedFilePath(QStringLiteral("modules.ini"));
}

QStringList KnownModules::load()
{
    list.clear();
    if (!QFileInfo::exists(filePath))
        return {};
    const std::unique_ptr<QSettings> file = openSharedFile(filePath);
    QSettings &settings = *file;
    const QString shown = QDir::toNativeSeparators(filePath);
    if (settings.status() == QSettings::AccessError || !QFileInfo(filePath).isFile())
        return {QStringLiteral("%1 cannot be read; no modules added by address are listed").arg(shown)};
    QStringList problems;
    if (settings.status() == QSettings::FormatError)
        problems << QStringLiteral("%1 is damaged; the modules that could be read are listed").arg(shown);
    const QStringList groups = settings.childGroups();
    for (const QString &group : groups) {
        if (list.size() == MaxEntries) {
            problems << QStringLiteral("%1: only the first %2 modules are read").arg(shown).arg(MaxEntries);
            break;
        }
        settings.beginGroup(group);
        QString problem;
        const std::optional<KnownModule> module =
            knownModuleFromTexts(group, settings.value(QLatin1String(DataPortKey)).toString(),
                                 settings.value(QLatin1String(AtPortKey)).toString(),
                                 settings.value(QLatin1String(NameKey)).toString(), &problem);
        settings.endGroup();
        if (!module || find(module->ip))
            problems << QStringLiteral("%1: [%2] left out: %3").arg(shown, group, module ? QStringLiteral("listed twice") : problem);
        else
            list << *module;
    }
    std::sort(list.begin(), list.end(), earlier);
    return problems;
}

QVector<KnownModule>::iterator KnownModules::entry(const QString &ip)
{
    return std::find_if(list.begin(), list.end(), [&ip](const KnownModule &m) { return m.ip == ip; });
}

const KnownModule *KnownModules::find(const QString &ip) const
{
    const auto it = std::find_if(list.begin(), list.end(), [&ip](const KnownModule &m) { return m.ip == ip; });
    return it == list.end() ? nullptr : &*it;
}

bool KnownModules::write(const KnownModule &module, QString *error) const
{
    const std::unique_ptr<QSettings> settings = openSharedFile(filePath);
    settings->beginGroup(module.ip);
    settings->setValue(QLatin1String(DataPortKey), module.dataPort);
    settings->setValue(QLatin1String(AtPortKey), module.atPort);
    settings->setValue(QLatin1String(NameKey), module.name);
    settings->endGroup();
    return writeSharedFile(*settings, error);
}

bool KnownModules::add(const KnownModule &module, QString *error)
{
    if (list.size() >= MaxEntries && entry(module.ip) == list.end()) {
        *error = QStringLiteral("%1 modules are added by address already; remove one first").arg(MaxEntries);
        return false;
    }
    if (!write(module, error))
        return false;
    const auto it = entry(module.ip);
    if (it != list.end()) {
        *it = module;
    } else {
        list << module;
        std::sort(list.begin(), list.end(), earlier);
    }
    return true;
}

bool KnownModules::remove(const QString &ip, QString *error)
{
    const auto it = entry(ip);
    if (it == list.end()) {
        *error = QStringLiteral("%1 is not a module added by address").arg(ip);
        return false;
    }
    const std::unique_ptr<QSettings> settings = openSharedFile(filePath);
    settings->remove(ip);
    if (!writeSharedFile(*settings, error))
        return false;
    list.erase(it);
    return true;
}

bool KnownModules::update(const KnownModule &module, QString *error)
{
    const auto kept = entry(module.ip);
    if (kept == list.end() || *kept == module)
        return false;
    *kept = module;
    write(module, error);
    return true;
}

bool KnownModules::takeAnnouncement(const Announcement &announcement, QString *error)
{
    const KnownModule *kept = find(announcement.hostIp);
    if (!kept)
        return false;
    KnownModule now = *kept;
    // A port not announced, or a name the list would refuse, keeps what is kept.
    now.dataPort = parsePort(announcement.dataPort).value_or(now.dataPort);
    now.atPort = parsePort(announcement.atPort).value_or(now.atPort);
    if (nameProblem(announcement.hostName).isEmpty())
        now.name = announcement.hostName;
    return update(now, error);
}

bool KnownModules::takeName(const QString &ip, const QString &name, QString *error)
{
    const KnownModule *kept = find(ip);
    if (!kept || !nameProblem(name).isEmpty())
        return false;
    KnownModule now = *kept;
    now.name = name;
    return update(now, error);
}

} // namespace discovery

#include "knownmodules.h"

#include "portnumber.h"
#include "sharedsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <QSet>

#include <algorithm>
#include <cstring>

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

const int LockWait = 2000; // ms another program may hold the file's lock

// One "[name]" section of the file: its header line and the lines up to the next one.
struct Section
{
    QString name;
    int header = 0; // index of the header line
    int end = 0;    // one past its last line
};

QByteArray withoutLineEnd(const QByteArray &line)
{
    return line.endsWith('\r') ? line.left(line.size() - 1) : line;
}

bool isBlankOrComment(const QByteArray &line)
{
    const QByteArray text = line.trimmed();
    return text.isEmpty() || text.startsWith(';') || text.startsWith('#');
}

// The sections in the order of the file. A header runs to its first ']' (or to the line end, when
// damaged: the damage stays within its own section).
QVector<Section> sectionsOf(const QList<QByteArray> &lines)
{
    QVector<Section> sections;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray text = withoutLineEnd(lines[i]).trimmed();
        if (!text.startsWith('['))
            continue;
        if (!sections.isEmpty())
            sections.last().end = i;
        const int close = text.indexOf(']');
        sections.append({QString::fromUtf8(text.mid(1, close < 0 ? -1 : close - 1)), i, int(lines.size())});
    }
    return sections;
}

// The address a section is of, in its canonical form; empty for any other section.
QString addressOf(const Section &section)
{
    QString ip;
    return parseModuleAddress(section.name.trimmed(), &ip) ? ip : QString();
}

// A value as QSettings writes it: quoted parts, backslash escapes (\n, \x41, \101, ...), "@@"
// for a leading '@'. Nothing, with *problem, for a quote never closed or a line continued.
std::optional<QString> iniValue(const QByteArray &raw, QString *problem)
{
    const QString text = QString::fromUtf8(raw.trimmed());
    QString value;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            continue;
        }
        if (c != QLatin1Char('\\')) {
            value += c;
            continue;
        }
        if (++i == text.size()) {
            *problem = QStringLiteral("a value continues past its line");
            return std::nullopt;
        }
        const char e = text[i].toLatin1();
        const int base = e == 'x' ? 16 : (e >= '0' && e <= '7') ? 8 : 0;
        if (base == 0) {
            const char Named[] = "abfnrtv";
            const char Meant[] = "\a\b\f\n\r\t\v";
            const char *named = e ? std::strchr(Named, e) : nullptr;
            value += named ? QChar(QLatin1Char(Meant[named - Named])) : text[i];
            continue;
        }
        int start = e == 'x' ? i + 1 : i;
        int end = start;
        while (end < text.size() && end - start < 4
               && QStringLiteral("0123456789abcdefABCDEF").left(base == 16 ? 22 : 8).contains(text[end]))
            ++end;
        value += QChar(ushort(text.mid(start, end - start).toUInt(nullptr, base)));
        i = end - 1;
    }
    if (quoted) {
        *problem = QStringLiteral("a quote is never closed");
        return std::nullopt;
    }
    if (value.startsWith(QLatin1String("@@")))
        value.remove(0, 1);
    return value;
}

// A name as a quoted value that QSettings reads back.
QByteArray iniQuoted(const QString &text)
{
    QByteArray out = text.toUtf8();
    out.replace('\\', "\\\\");
    out.replace('"', "\\\"");
    return '"' + out + '"';
}

// The lines `added` at the end, the file still ending with a line end.
void appendLines(QList<QByteArray> *lines, const QList<QByteArray> &added)
{
    if (!lines->isEmpty() && lines->last().isEmpty())
        lines->removeLast();
    *lines += added;
    lines->append(QByteArray());
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
    const QString shown = QDir::toNativeSeparators(filePath);
    QFile file(filePath);
    if (!QFileInfo(filePath).isFile() || !file.open(QIODevice::ReadOnly))
        return {QStringLiteral("%1 cannot be read; no modules added by address are listed").arg(shown)};
    const QList<QByteArray> lines = file.readAll().split('\n');
    const QVector<Section> sections = sectionsOf(lines);
    QStringList problems;
    for (int i = 0; i < (sections.isEmpty() ? lines.size() : sections.first().header); ++i) {
        if (!isBlankOrComment(lines[i]))
            problems << QStringLiteral("%1: line %2 is in no [address] section; ignored").arg(shown).arg(i + 1);
    }
    for (const Section &section : sections) {
        if (list.size() == MaxEntries) {
            problems << QStringLiteral("%1: only the first %2 modules are read").arg(shown).arg(MaxEntries);
            break;
        }
        QHash<QByteArray, QString> values;
        QString problem;
        for (int i = section.header + 1; i < section.end && problem.isEmpty(); ++i) {
            const QByteArray line = withoutLineEnd(lines[i]);
            const int equals = line.indexOf('=');
            if (isBlankOrComment(line))
                continue;
            if (equals < 0) {
                problem = QStringLiteral("line %1 is not KEY=VALUE").arg(i + 1);
                break;
            }
            const QByteArray key = line.left(equals).trimmed();
            if (const std::optional<QString> value = iniValue(line.mid(equals + 1), &problem))
                values[key] = *value;
            else
                problem = QStringLiteral("line %1: %2").arg(i + 1).arg(problem);
        }
        std::optional<KnownModule> module;
        if (problem.isEmpty())
            module = knownModuleFromTexts(section.name, values.value(DataPortKey), values.value(AtPortKey),
                                          values.value(NameKey), &problem);
        if (module && find(module->ip))
            problem = QStringLiteral("listed twice");
        if (problem.isEmpty())
            list << *module;
        else
            problems << QStringLiteral("%1: [%2] left out: %3").arg(shown, section.name, problem);
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

bool KnownModules::rewrite(const std::function<bool(QList<QByteArray> *, QString *)> &change, QString *error) const
{
    const QString shown = QDir::toNativeSeparators(filePath);
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    QLockFile lock(filePath + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWait)) {
        *error = QStringLiteral("cannot write %1: another program holds %1.lock").arg(shown);
        return false;
    }
    QList<QByteArray> lines;
    QFile current(filePath);
    if (current.exists()) {
        if (!QFileInfo(filePath).isFile() || !current.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot write %1").arg(shown);
            return false;
        }
        lines = current.readAll().split('\n');
        current.close();
    }
    if (!change(&lines, error))
        return false;
    QSaveFile out(filePath);
    const QByteArray text = lines.join('\n');
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
        *error = QStringLiteral("cannot write %1").arg(shown);
        return false;
    }
    return true;
}

bool KnownModules::write(const KnownModule &module, QString *error) const
{
    return rewrite(
        [&module](QList<QByteArray> *lines, QString *) {
            const QVector<QPair<QByteArray, QByteArray>> wanted{
                {DataPortKey, QByteArray::number(module.dataPort)},
                {AtPortKey, QByteArray::number(module.atPort)},
                {NameKey, iniQuoted(module.name)}};
            const QVector<Section> sections = sectionsOf(*lines);
            const auto own = std::find_if(sections.begin(), sections.end(),
                                          [&module](const Section &s) { return addressOf(s) == module.ip; });
            if (own == sections.end()) {
                QList<QByteArray> added{'[' + module.ip.toLatin1() + ']'};
                for (const auto &key : wanted)
                    added << key.first + '=' + key.second;
                appendLines(lines, added);
                return true;
            }
            // The section's own keys change in place; its other lines stay.
            QList<QByteArray> body;
            QSet<QByteArray> written;
            for (int i = own->header + 1; i < own->end; ++i) {
                const QByteArray line = lines->at(i);
                const int equals = line.indexOf('=');
                const QByteArray key = equals < 0 ? QByteArray() : line.left(equals).trimmed();
                const auto keyed = std::find_if(wanted.begin(), wanted.end(),
                                                [&key](const auto &k) { return k.first == key; });
                if (keyed == wanted.end() || isBlankOrComment(line))
                    body << line;
                else if (!written.contains(key))
                    body << key + '=' + keyed->second;
                written << key;
            }
            int last = int(body.size());
            while (last > 0 && withoutLineEnd(body[last - 1]).trimmed().isEmpty())
                --last;
            for (const auto &key : wanted) {
                if (!written.contains(key.first))
                    body.insert(last++, key.first + '=' + key.second);
            }
            if (own->end == lines->size() && (body.isEmpty() || !body.last().isEmpty()))
                body << QByteArray(); // the file keeps its last line end
            *lines = lines->mid(0, own->header + 1) + body + lines->mid(own->end);
            return true;
        },
        error);
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
    const bool removed = rewrite(
        [this, &ip](QList<QByteArray> *lines, QString *error) {
            const QVector<Section> sections = sectionsOf(*lines);
            bool found = false;
            for (auto s = sections.rbegin(); s != sections.rend(); ++s) {
                if (addressOf(*s) != ip)
                    continue;
                found = true;
                lines->erase(lines->begin() + s->header, lines->begin() + s->end);
            }
            if (!lines->isEmpty() && !lines->last().isEmpty())
                lines->append(QByteArray()); // the file keeps its last line end
            if (!found)
                *error = QStringLiteral("%1 holds no section of %2 any more").arg(QDir::toNativeSeparators(filePath), ip);
            return found;
        },
        error);
    if (removed)
        list.erase(it);
    return removed;
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

#include "commandline.h"

#include "boardtable.h"
#include "discoverycommand.h"
#include "exitcodes.h"
#include "identifycommand.h"
#include "idesetupcommand.h"
#include "knownmodules.h"
#include "modulescommand.h"
#include "monitorcommand.h"
#include "pluggablemonitorcommand.h"
#include "portnumber.h"
#include "renamecommand.h"
#include "scancommand.h"
#include "uploadcommand.h"

#include <QCommandLineParser>

#include <cmath>

namespace cli {

namespace {

const int MaxPort = 65535;

const char OverviewUsage[] =
    "Usage: quarnel-cli COMMAND [options]\n"
    "Finds Wi-Fi serial modules, writes firmware into the AVR boards behind them, renames them\n"
    "and shows what the boards print, without a window; the same discovery, conversion, upload\n"
    "and monitor code as the window.\n"
    "\n"
    "Commands:\n";
const char OverviewTail[] =
    "\n"
    "quarnel-cli COMMAND --help describes each command; quarnel-cli --version prints the version.\n"
    "\n";

bool allDigits(const QString &text, int maxLength)
{
    if (text.isEmpty() || text.size() > maxLength)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// "scan, upload, identify, rename, modules, discovery, ide-setup, monitor or pluggable-monitor"
QString commandNames()
{
    QStringList names;
    for (const CommandRow &row : commandTable())
        names << QLatin1String(row.name);
    return spoken(names, "or");
}

QString overviewHelp()
{
    const int nameWidth = 9; // a longer name puts its summary on a line of its own, in that column
    QString text = QLatin1String(OverviewUsage);
    for (const CommandRow &row : commandTable()) {
        const QLatin1String name(row.name);
        const QString gap = name.size() > nameWidth ? QLatin1String("\n") + QString(nameWidth + 3, QLatin1Char(' '))
                                                    : QString(nameWidth + 1 - name.size(), QLatin1Char(' '));
        text += QLatin1String("  ") + name + gap + QLatin1String(row.summary) + QLatin1Char('\n');
    }
    return text + QLatin1String(OverviewTail) + QLatin1String(OverviewExitHelp);
}

} // namespace

const QList<CommandRow> &commandTable()
{
    static const QList<CommandRow> rows = {ScanCommand,     UploadCommand,  IdentifyCommand,
                                           RenameCommand,   ModulesCommand, DiscoveryCommand,
                                           IdeSetupCommand, MonitorCommand, PluggableMonitorCommand};
    return rows;
}

QString spoken(const QStringList &names, const char *conjunction)
{
    if (names.size() < 2)
        return names.join(QString());
    return names.mid(0, names.size() - 1).join(QLatin1String(", ")) + QLatin1Char(' ')
           + QLatin1String(conjunction) + QLatin1Char(' ') + names.last();
}

QCommandLineOption valued(const char *name, const char *valueName)
{
    return QCommandLineOption(QLatin1String(name), QString(), QLatin1String(valueName));
}

QCommandLineOption flag(const char *name)
{
    return QCommandLineOption(QLatin1String(name));
}

const CommandRow *findCommand(Command command)
{
    for (const CommandRow &row : commandTable()) {
        if (row.command == command)
            return &row;
    }
    return nullptr;
}

const CommandRow *findCommand(const QString &name)
{
    for (const CommandRow &row : commandTable()) {
        if (name == QLatin1String(row.name))
            return &row;
    }
    return nullptr;
}

Arguments::Arguments(const QCommandLineParser &parser, const QString &command, QString *error)
    : parser(parser), command(command), error(error)
{
}

bool Arguments::isSet(const char *option) const
{
    return parser.isSet(QLatin1String(option));
}

QString Arguments::value(const char *option) const
{
    return parser.value(QLatin1String(option));
}

QStringList Arguments::values(const char *option) const
{
    return parser.values(QLatin1String(option));
}

QStringList Arguments::positional() const
{
    return parser.positionalArguments();
}

void Arguments::fail(const QString &text)
{
    if (error->isEmpty())
        *error = command + QLatin1String(": ") + text;
}

void Arguments::seconds(double defaultSeconds, double *seconds)
{
    *seconds = defaultSeconds;
    if (isSet("seconds") && !parseSeconds(value("seconds"), seconds))
        fail(QStringLiteral("--seconds %1: expected a number of seconds above 0, at most %2")
                 .arg(value("seconds"))
                 .arg(MaxSeconds));
}

void Arguments::port(const char *option, quint16 *port)
{
    if (!isSet(option))
        return;
    const std::optional<quint16> parsed = discovery::parsePort(value(option));
    if (parsed)
        *port = *parsed;
    else
        fail(QStringLiteral("--%1 %2: not a port number (1..%3)").arg(QLatin1String(option), value(option)).arg(MaxPort));
}

void Arguments::modulePorts(quint16 *dataPort, quint16 *atPort)
{
    port("at-port", atPort);
    port("data-port", dataPort);
    if (isSet("module-ports") && (isSet("data-port") || isSet("at-port")))
        fail(QStringLiteral("--module-ports and --data-port or --at-port exclude each other"));
    else if (isSet("module-ports") && !parseModulePorts(value("module-ports"), dataPort, atPort))
        fail(QStringLiteral("--module-ports %1: expected DATA:AT, each a port number 1..%2 or empty; the sketch "
                            "build tool did not know the module's ports: is the module listed under Tools > Port?")
                 .arg(value("module-ports"))
                 .arg(MaxPort));
}

void Arguments::ip(QString *canonical)
{
    if (!isSet("ip"))
        fail(QStringLiteral("--ip is required"));
    else
        address(value("ip"), canonical);
}

bool Arguments::address(const QString &text, QString *canonical)
{
    if (parseIpv4(text, canonical))
        return true;
    fail(QStringLiteral("--ip %1: not an IPv4 address (four numbers 0..255, as 192.168.1.20)").arg(text));
    return false;
}

void Arguments::noPositional()
{
    if (!positional().isEmpty())
        fail(QStringLiteral("unexpected argument \"%1\"").arg(positional().first()));
}

void Arguments::noSecondsNorPositional()
{
    if (isSet("seconds"))
        fail(QStringLiteral("Unknown option 'seconds'."));
    noPositional();
}

Invocation parseCommandLine(const QStringList &arguments, QString *error)
{
    Invocation inv;
    error->clear();
    if (arguments.isEmpty()) {
        *error = QStringLiteral("no command given; expected %1 (quarnel-cli --help)").arg(commandNames());
        return inv;
    }
    const QString &first = arguments.first();
    if (first == QLatin1String("-h") || first == QLatin1String("--help") || first == QLatin1String("help")) {
        inv.help = true;
        const CommandRow *row = arguments.size() > 1 ? findCommand(arguments.at(1)) : nullptr;
        if (first == QLatin1String("help") && row)
            inv.command = row->command;
        return inv;
    }
    const CommandRow *row = findCommand(first);
    if (!row) {
        *error = QStringLiteral("unknown command \"%1\"; expected %2 (quarnel-cli --help)").arg(first, commandNames());
        return inv;
    }

    QCommandLineParser parser;
    parser.addOptions({QCommandLineOption(QStringList{"h", "help"}), valued("seconds", "N")});
    parser.addOptions(row->options());
    if (!parser.parse(arguments)) {
        *error = first + QLatin1String(": ") + parser.errorText();
        return inv;
    }
    inv.command = row->command;
    if (parser.isSet(QStringLiteral("help"))) {
        inv.help = true;
        return inv;
    }
    Arguments args(parser, first, error);
    row->parse(args, &inv);
    return inv;
}

QString helpText(Command command)
{
    const CommandRow *row = findCommand(command);
    return row ? row->help() : overviewHelp();
}

bool parseIpv4(const QString &text, QString *canonical)
{
    return discovery::parseIpv4(text, canonical);
}

bool parseModulePorts(const QString &text, quint16 *dataPort, quint16 *atPort)
{
    const QStringList sides = text.split(QLatin1Char(':'));
    if (sides.size() != 2)
        return false;
    quint16 ports[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        // A placeholder the tool left unexpanded, e.g. "{upload.port.properties.dataport}" when
        // arduino-cli found no port in time: the tool did not know the port.
        const bool unexpanded = sides.at(i).startsWith(QLatin1Char('{')) && sides.at(i).endsWith(QLatin1Char('}'));
        if (sides.at(i).isEmpty() || unexpanded)
            continue;
        const std::optional<quint16> port = discovery::parsePort(sides.at(i));
        if (!port)
            return false;
        ports[i] = *port;
    }
    *dataPort = ports[0];
    *atPort = ports[1];
    return true;
}

bool parseBoard(const QString &text, QString *board)
{
    const upload::Board *row = upload::findBoard(text, Qt::CaseInsensitive);
    if (row)
        *board = QLatin1String(row->name);
    return row != nullptr;
}

bool parseSeconds(const QString &text, double *seconds)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || !(value > 0) || value > MaxSeconds)
        return false;
    *seconds = value;
    return true;
}

bool parseCount(const QString &text, int min, int max, int *count)
{
    if (!allDigits(text, 9))
        return false;
    const int value = text.toInt();
    if (value < min || value > max)
        return false;
    *count = value;
    return true;
}

} // namespace cli

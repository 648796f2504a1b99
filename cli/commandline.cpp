#include "commandline.h"

#include "boardtable.h"
#include "commands.h"
#include "discoverycommand.h"
#include "exitcodes.h"
#include "hostname.h"
#include "identifycommand.h"
#include "idesetup.h"
#include "pluggablemonitor.h"
#include "portnumber.h"

#include <QCommandLineParser>

#include <cmath>

namespace cli {

namespace {

const int MaxPort = 65535;
const QString NotAnAddress = QStringLiteral("--ip %1: not an IPv4 address (four numbers 0..255, as 192.168.1.20)");

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

const char ScanHelp[] =
    "Usage: quarnel-cli scan [--seconds N] [--json]\n"
    "Listens on UDP port 3333 (shared with the window and other listeners) and lists every\n"
    "module heard: IP, data port, AT-command port, seconds since last heard (AGE) and host\n"
    "name, sorted by IP, with the values of each module's latest announcement.\n"
    "\n"
    "Options:\n"
    "  --seconds N   listen for N seconds (default 3; decimals allowed; at most 3600)\n"
    "  --json        print a JSON array of {ip, dataPort, atPort, hostname, secondsSinceHeard};\n"
    "                ports are the announced texts\n"
    "  -h, --help    this text\n"
    "\n";

const char UploadHelp[] =
    "Usage: quarnel-cli upload (--ip IP [--ip IP ...] | --all [--name GLOB]) [--board BOARD]\n"
    "                          [options] FILE.hex\n"
    "Converts FILE.hex once into a flash image in a temporary directory (never ./update.bin)\n"
    "and writes it into the board behind each module through the board's serial bootloader:\n"
    "STK500 version 1 for %1, version 2 for %2, all boards at once.\n"
    "A HEX file with malformed records or without its end record is refused.\n"
    "One board: a progress bar on a terminal, otherwise one line per new percentage. Several\n"
    "boards: one line per board redrawn in place on a terminal, otherwise one line per event;\n"
    "then a table (IP, host name, bytes, seconds, retries, result) and the line\n"
    "\"N of M boards written[ and verified]\".\n"
    "\n"
    "Options:\n"
    "  --ip IP          a module's IPv4 address; repeat it for several boards\n"
    "  --all            every module heard on UDP port 3333 within --seconds (default 3)\n"
    "  --name GLOB      with --all: only modules whose host name matches GLOB ('*' any text,\n"
    "                   '?' one character), for example 'uno-*'\n"
    "  --board BOARD    %3 (letter case does not matter); one\n"
    "                   board type per command. Without it, each board is written as the type\n"
    "                   remembered for its module (quarnel-cli identify, an earlier upload, the\n"
    "                   window's Device box); a module whose type is not known is identified\n"
    "                   first, as quarnel-cli identify does\n"
    "  --data-port P    the modules' data port\n"
    "  --at-port P      the modules' AT-command port; a port not given is taken from each\n"
    "                   module's announcement on UDP port 3333\n"
    "  --module-ports DATA:AT\n"
    "                   the data and AT-command ports in one argument, as the sketch build\n"
    "                   tools pass them; a side left empty (or an unexpanded {...} placeholder)\n"
    "                   is taken from the known modules or the announcement\n"
    "  --seconds N      wait at most N seconds for those announcements (default 5)\n"
    "  --jobs N         write at most N boards at the same time (default: all, as many as\n"
    "                   the open-file limit allows)\n"
    "  --retries K      when a board stops answering after the mode switch, connect again and\n"
    "                   go on from the first page not acknowledged, at most K times per board\n"
    "                   (default 0)\n"
    "  --verify         read the flash back through the bootloader and compare it with the\n"
    "                   image; a difference names the first differing address\n"
    "  --verify-upload true|false\n"
    "                   --verify when true, as the Arduino IDE's \"Verify code after upload\"\n"
    "                   passes it\n"
    "  --json           print the summary as JSON (the display goes to standard error)\n"
    "  --verbose        the protocol trace lines on standard error\n"
    "  -h, --help       this text\n"
    "\n";

const char RenameHelp[] =
    "Usage: quarnel-cli rename --ip IP [--at-port P] NAME\n"
    "Sends \"AT+HOSTNAME=NAME\" to the module's AT-command port, as the window does when a\n"
    "Name cell is edited. The module's answer is not examined; its next announcements carry\n"
    "the new name. NAME must be 1 to 32 characters of Latin-1 text without control\n"
    "characters; put -- before a name that begins with '-'.\n"
    "\n"
    "Options:\n"
    "  --ip IP          the module's IPv4 address\n"
    "  --at-port P      the module's AT-command port; when not given it is taken from the\n"
    "                   module's announcement on UDP port 3333\n"
    "  --seconds N      wait at most N seconds for that announcement (default 5)\n"
    "  -h, --help       this text\n"
    "\n";

const char DiscoveryHelp[] =
    "Usage: quarnel-cli discovery\n"
    "Reports every module heard on UDP port 3333 (shared with the window and other listeners),\n"
    "and every known module (quarnel-cli modules) that answers its probe, as a port of the\n"
    "sketch build tools, speaking their discovery protocol on standard input and output:\n"
    "pluggable discovery version 1 (arduino-cli, Arduino IDE 2) after HELLO 1 \"AGENT\", and\n"
    "the Arduino IDE 1.8's form, which starts with START_SYNC. A port is\n"
    "labelled \"HOSTNAME at IP\" and carries the data port, AT-command port and host name,\n"
    "and the board behind the module once it is known (learned by quarnel-cli identify or an\n"
    "upload, or chosen in the window), which the tools show beside the port; a module silent\n"
    "for 6 to 8 seconds is removed. The sketch build tools start it themselves\n"
    "(quarnel-cli ide-setup).\n"
    "\n"
    "Options:\n"
    "  -h, --help       this text\n"
    "\n";

const char IdeSetupHelp[] =
    "Usage: quarnel-cli ide-setup [--sketchbook DIR]\n"
    "Writes the board platform quarnel:avr (\"Arduino UNO via Wi-Fi\", \"Arduino Mega 2560 via\n"
    "Wi-Fi\") into DIR/hardware/quarnel/avr, replacing an older one: the boards build with the\n"
    "arduino:avr core, their modules appear under Tools > Port, and Upload runs this\n"
    "quarnel-cli. Restart the Arduino IDE afterwards.\n"
    "\n"
    "Options:\n"
    "  --sketchbook DIR the sketchbook (default: the Arduino IDE's, from its preferences, else\n"
    "                   ~/Arduino; Documents\\Arduino on Windows)\n"
    "  -h, --help       this text\n"
    "\n";

const char MonitorHelp[] =
    "Usage: quarnel-cli monitor --ip IP [--data-port P] [--seconds N] [--eol lf|cr|crlf|none]\n"
    "                           [--timestamps] [--log FILE]\n"
    "A serial monitor over Wi-Fi: connects to the module's data port, a transparent pipe to the\n"
    "board's serial line at the module's line speed, without switching the module to upload\n"
    "mode or resetting the board. What the board sends goes to standard output as it comes,\n"
    "bytes unchanged; each line read from standard input is sent with the chosen line end. The\n"
    "end of standard input does not end the monitor; Ctrl-C does. A link that drops is reported\n"
    "in one line on standard error and connected again every second. The data port serves one\n"
    "client at a time: an upload to the module fails while a monitor holds it.\n"
    "\n"
    "Options:\n"
    "  --ip IP          the module's IPv4 address\n"
    "  --data-port P    the module's data port; when not given it is taken from the module's\n"
    "                   announcement on UDP port 3333 (waiting at most 5 s)\n"
    "  --seconds N      end after N seconds with status 0 (decimals allowed; at most 3600)\n"
    "  --eol END        the line end sent after each typed line: lf (default), cr, crlf, none\n"
    "  --timestamps     put the time each line began before it (HH:MM:SS.mmm -> )\n"
    "  -h, --help       this text\n"
    "\n";

const char PluggableMonitorHelp[] =
    "Usage: quarnel-cli pluggable-monitor [--seconds N]\n"
    "The serial monitor that arduino-cli and the Arduino IDE 2 start for the modules' ports\n"
    "(pluggable monitor protocol, version 1): commands on standard input (HELLO, DESCRIBE,\n"
    "CONFIGURE, OPEN, CLOSE, QUIT), one JSON reply each on standard output. OPEN CLIENT PORT\n"
    "connects the module's data port (PORT: the module's IP address, its data port taken from\n"
    "its announcement, or IP:DATAPORT) with the client's TCP address. The line speed (baudrate)\n"
    "is the module's, %1, and cannot be changed.\n"
    "\n"
    "Options:\n"
    "  --seconds N      wait at most N seconds for a module's announcement (default 5)\n"
    "  -h, --help       this text\n"
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

QString boardList()
{
    return upload::boardNames().join(QLatin1String(", "));
}

// Names as a sentence says them: "A, B and C".
QString spoken(const QStringList &names, const char *conjunction)
{
    if (names.size() < 2)
        return names.join(QString());
    return names.mid(0, names.size() - 1).join(QLatin1String(", ")) + QLatin1Char(' ')
           + QLatin1String(conjunction) + QLatin1Char(' ') + names.last();
}

// Upload's boards: every --ip (each once), or --all with an optional --name.
void parseTargets(Arguments &args, Invocation *inv)
{
    inv->all = args.isSet("all");
    if (inv->all && args.isSet("ip"))
        args.fail(QStringLiteral("--ip and --all exclude each other"));
    else if (!inv->all && !args.isSet("ip"))
        args.fail(QStringLiteral("--ip or --all is required"));
    if (args.isSet("name") && !inv->all)
        args.fail(QStringLiteral("--name needs --all"));
    inv->nameGlob = args.isSet("name") ? args.value("name") : QStringLiteral("*");
    if (inv->nameGlob.isEmpty())
        args.fail(QStringLiteral("--name: the pattern is empty"));
    for (const QString &text : args.values("ip")) {
        QString canonical;
        if (!parseIpv4(text, &canonical))
            args.fail(NotAnAddress.arg(text));
        else if (inv->ips.contains(canonical))
            args.fail(QStringLiteral("--ip %1: given twice").arg(text));
        else
            inv->ips << canonical;
    }
}

// scan: how long to listen, and the output form.
QList<QCommandLineOption> scanOptions()
{
    return {flag("json")};
}

void parseScan(Arguments &args, Invocation *inv)
{
    args.seconds(DefaultScanSeconds, &inv->seconds);
    inv->json = args.isSet("json");
    if (!args.positional().isEmpty())
        args.fail(QStringLiteral("unexpected argument \"%1\"").arg(args.positional().first()));
}

QString scanHelp()
{
    return QString::fromLatin1(ScanHelp) + QLatin1String(ScanExitHelp);
}

// upload: the boards, their board type and ports, the run's settings, the HEX file.
QList<QCommandLineOption> uploadOptions()
{
    return {valued("ip", "IP"),        valued("board", "BOARD"), valued("data-port", "P"), valued("at-port", "P"),
            flag("verify"),            flag("verbose"),          flag("all"),              valued("name", "GLOB"),
            valued("jobs", "N"),       valued("retries", "K"),   flag("json"),
            valued("module-ports", "DATA:AT"), valued("verify-upload", "BOOL")};
}

void parseUpload(Arguments &args, Invocation *inv)
{
    args.seconds(args.isSet("all") ? DefaultScanSeconds : DefaultAnnouncementSeconds, &inv->seconds);
    parseTargets(args, inv);
    args.modulePorts(&inv->dataPort, &inv->atPort);
    if (args.isSet("board") && !parseBoard(args.value("board"), &inv->board))
        args.fail(QStringLiteral("--board %1: unknown board; expected one of %2").arg(args.value("board"), boardList()));
    inv->verify = args.isSet("verify");
    if (args.isSet("verify-upload")) {
        const QString setting = args.value("verify-upload");
        if (setting != QLatin1String("true") && setting != QLatin1String("false"))
            args.fail(QStringLiteral("--verify-upload %1: expected true or false").arg(setting));
        else if (inv->verify && setting == QLatin1String("false"))
            args.fail(QStringLiteral("--verify and --verify-upload false contradict each other"));
        inv->verify = setting == QLatin1String("true");
    }
    inv->verbose = args.isSet("verbose");
    inv->json = args.isSet("json");
    if (args.isSet("jobs") && !parseCount(args.value("jobs"), 1, MaxJobs, &inv->jobs))
        args.fail(QStringLiteral("--jobs %1: expected a number of boards 1..%2").arg(args.value("jobs")).arg(MaxJobs));
    if (args.isSet("retries") && !parseCount(args.value("retries"), 0, MaxRetries, &inv->retries))
        args.fail(QStringLiteral("--retries %1: expected a number 0..%2").arg(args.value("retries")).arg(MaxRetries));
    const QStringList positional = args.positional();
    if (positional.size() != 1)
        args.fail(QStringLiteral("expected one HEX file, got %1 arguments").arg(positional.size()));
    else
        inv->hexPath = positional.first();
}

QString uploadHelp()
{
    const upload::Protocol v1 = upload::Protocol::Stk500v1;
    const upload::Protocol v2 = upload::Protocol::Stk500v2;
    const QStringList v1Boards = upload::boardNames(&v1);
    const QStringList v2Boards = upload::boardNames(&v2);
    return QString::fromLatin1(UploadHelp).arg(spoken(v1Boards, "and"), spoken(v2Boards, "and"),
                                               spoken(v1Boards + v2Boards, "or"))
           + QLatin1String(UploadExitHelp);
}

// rename: the module and its new name.
QList<QCommandLineOption> renameOptions()
{
    return {valued("ip", "IP"), valued("at-port", "P")};
}

void parseRename(Arguments &args, Invocation *inv)
{
    args.seconds(DefaultAnnouncementSeconds, &inv->seconds);
    args.ip(&inv->ip);
    args.port("at-port", &inv->atPort);
    const QStringList positional = args.positional();
    if (positional.size() != 1) {
        args.fail(QStringLiteral("expected one NAME, got %1 arguments").arg(positional.size()));
        return;
    }
    inv->name = positional.first();
    const QString problem = config::hostNameProblem(inv->name, config::OutsideLatin1::Refused);
    if (!problem.isEmpty())
        args.fail(problem);
}

QString renameHelp()
{
    return QString::fromLatin1(RenameHelp) + QLatin1String(RenameExitHelp);
}

// Commands that take no --seconds (every parser knows it) and no positional argument.
void noSecondsNorArguments(Arguments &args)
{
    if (args.isSet("seconds"))
        args.fail(QStringLiteral("Unknown option 'seconds'."));
    if (!args.positional().isEmpty())
        args.fail(QStringLiteral("unexpected argument \"%1\"").arg(args.positional().first()));
}

// discovery: started by the sketch build tools; everything else comes on standard input.
QList<QCommandLineOption> discoveryOptions()
{
    return {};
}

void parseDiscovery(Arguments &args, Invocation *)
{
    noSecondsNorArguments(args);
}

QString discoveryHelp()
{
    return QString::fromLatin1(DiscoveryHelp) + QLatin1String(DiscoveryExitHelp);
}

// ide-setup: the sketchbook.
QList<QCommandLineOption> ideSetupOptions()
{
    return {valued("sketchbook", "DIR")};
}

void parseIdeSetup(Arguments &args, Invocation *inv)
{
    noSecondsNorArguments(args);
    if (args.isSet("sketchbook")) {
        inv->sketchbook = args.value("sketchbook");
        if (inv->sketchbook.isEmpty())
            args.fail(QStringLiteral("--sketchbook: the directory is empty"));
    }
}

QString ideSetupHelp()
{
    return QString::fromLatin1(IdeSetupHelp) + QLatin1String(IdeSetupExitHelp);
}

// monitor: the module, its data port, how long to run, the line end, the time stamps and the log.
QList<QCommandLineOption> monitorOptions()
{
    return {valued("ip", "IP"), valued("data-port", "P"), valued("eol", "END"), flag("timestamps"),
            valued("log", "FILE")};
}

void parseMonitor(Arguments &args, Invocation *inv)
{
    // --seconds is how long the monitor runs; the announcement is waited for as long as ever.
    double runSeconds = 0;
    args.seconds(0, &runSeconds);
    inv->runSeconds = runSeconds;
    inv->seconds = DefaultAnnouncementSeconds;
    args.ip(&inv->ip);
    args.port("data-port", &inv->dataPort);
    inv->timestamps = args.isSet("timestamps");
    if (args.isSet("log") && args.value("log").isEmpty())
        args.fail(QStringLiteral("--log: expected a file name"));
    inv->logPath = args.value("log");
    if (args.isSet("eol") && !monitor::parseLineEnd(args.value("eol"), &inv->lineEnd))
        args.fail(QStringLiteral("--eol %1: expected one of %2")
                      .arg(args.value("eol"), monitor::lineEndNames().join(QLatin1String(", "))));
    if (!args.positional().isEmpty())
        args.fail(QStringLiteral("unexpected argument \"%1\"").arg(args.positional().first()));
}

QString monitorHelp()
{
    return QString::fromLatin1(MonitorHelp) + QLatin1String(MonitorExitHelp);
}

// pluggable-monitor: only how long an OPEN waits for a module's announcement.
QList<QCommandLineOption> pluggableMonitorOptions()
{
    return {};
}

void parsePluggableMonitor(Arguments &args, Invocation *inv)
{
    args.seconds(DefaultAnnouncementSeconds, &inv->seconds);
    if (!args.positional().isEmpty())
        args.fail(QStringLiteral("unexpected argument \"%1\"").arg(args.positional().first()));
}

QString pluggableMonitorHelp()
{
    return QString::fromLatin1(PluggableMonitorHelp).arg(monitor::PluggableMonitor::ModuleBaud)
           + QLatin1String(PluggableMonitorExitHelp);
}

// "scan, upload, rename, modules, discovery, ide-setup, monitor or pluggable-monitor"
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
    static const QList<CommandRow> rows = {
        {Command::Scan, "scan", "list the modules announcing themselves on UDP port 3333", scanOptions, parseScan,
         scanHelp, runScan},
        {Command::Upload, "upload", "convert an Intel HEX file and write it into one board or many", uploadOptions,
         parseUpload, uploadHelp, runUpload},
        {Command::Identify, "identify", "tell which board is behind a module, without writing it", identifyOptions,
         parseIdentify, identifyHelp, runIdentify},
        {Command::Rename, "rename", "give a module a new host name", renameOptions, parseRename, renameHelp,
         runRename},
        {Command::Modules, "modules", "add, list or remove modules given by address (for networks that drop "
         "announcements)", modulesOptions, parseModules, modulesHelp, runModules},
        {Command::Discovery, "discovery",
         "report the modules as ports to the Arduino IDE and arduino-cli (stdin/stdout)", discoveryOptions,
         parseDiscovery, discoveryHelp, runDiscovery},
        {Command::IdeSetup, "ide-setup", "put the boards for uploads over Wi-Fi into the Arduino IDE's sketchbook",
         ideSetupOptions, parseIdeSetup, ideSetupHelp, runIdeSetup},
        {Command::Monitor, "monitor", "show what the board sends on its serial line, send what is typed",
         monitorOptions, parseMonitor, monitorHelp, runMonitor},
        {Command::PluggableMonitor, "pluggable-monitor",
         "the serial monitor for the sketch build tools (arduino-cli, IDE 2)", pluggableMonitorOptions,
         parsePluggableMonitor, pluggableMonitorHelp, runPluggableMonitor},
    };
    return rows;
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
    else if (!parseIpv4(value("ip"), canonical))
        fail(NotAnAddress.arg(value("ip")));
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

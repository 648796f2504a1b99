#include "commandline.h"

#include "boardtable.h"
#include "hostname.h"
#include "pluggablemonitor.h"

#include <QCommandLineParser>

#include <cmath>

namespace cli {

namespace {

const int MaxPort = 65535;

const char OverviewHelp[] =
    "Usage: quarnel-cli COMMAND [options]\n"
    "Finds Wi-Fi serial modules, writes firmware into the AVR boards behind them, renames them\n"
    "and shows what the boards print, without a window; the same discovery, conversion, upload\n"
    "and monitor code as the window.\n"
    "\n"
    "Commands:\n"
    "  scan      list the modules announcing themselves on UDP port 3333\n"
    "  upload    convert an Intel HEX file and write it into one board or many\n"
    "  rename    give a module a new host name\n"
    "  monitor   show what the board sends on its serial line, send what is typed\n"
    "  pluggable-monitor\n"
    "            the serial monitor for the sketch build tools (arduino-cli, IDE 2)\n"
    "\n"
    "quarnel-cli COMMAND --help describes each command; quarnel-cli --version prints the version.\n"
    "\n"
    "Exit status: 0 success, 1 upload failed, 2 usage error, 3 module unreachable or not heard,\n"
    "4 HEX file error, 5 verify failed, 6 local failure (port 3333, temporary image),\n"
    "130 interrupted (Ctrl-C), 143 terminated (SIGTERM), 129 hung up (SIGHUP).\n";

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
    "\n"
    "Exit status: 0 at least one module heard, 3 none heard, 2 usage error, 6 port not bound.\n";

const char UploadHelp[] =
    "Usage: quarnel-cli upload (--ip IP [--ip IP ...] | --all [--name GLOB]) --board BOARD\n"
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
    "                   board type per command\n"
    "  --data-port P    the modules' data port\n"
    "  --at-port P      the modules' AT-command port; a port not given is taken from each\n"
    "                   module's announcement on UDP port 3333\n"
    "  --seconds N      wait at most N seconds for those announcements (default 5)\n"
    "  --jobs N         write at most N boards at the same time (default: all, as many as\n"
    "                   the open-file limit allows)\n"
    "  --retries K      when a board stops answering after the mode switch, connect again and\n"
    "                   go on from the first page not acknowledged, at most K times per board\n"
    "                   (default 0)\n"
    "  --verify         read the flash back through the bootloader and compare it with the\n"
    "                   image; a difference names the first differing address\n"
    "  --json           print the summary as JSON (the display goes to standard error)\n"
    "  --verbose        the protocol trace lines on standard error\n"
    "  -h, --help       this text\n"
    "\n"
    "Exit status: 0 every board written (and verified); otherwise, of the boards' failures,\n"
    "the first in this order: 1 upload failed, 5 verify failed, 3 module unreachable or not\n"
    "heard; 2 usage error, 4 HEX file error, 6 local failure; 130 interrupted (Ctrl-C),\n"
    "143 terminated (SIGTERM), 129 hung up (SIGHUP).\n";

const char MonitorHelp[] =
    "Usage: quarnel-cli monitor --ip IP [--data-port P] [--seconds N] [--eol lf|cr|crlf|none]\n"
    "                           [--timestamps]\n"
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
    "\n"
    "Exit status: 0 ended after --seconds, 2 usage error, 3 module unreachable or not heard,\n"
    "6 local failure (port 3333), 130 interrupted (Ctrl-C), 143 terminated (SIGTERM), 129 hung\n"
    "up (SIGHUP).\n";

const char PluggableMonitorHelp[] =
    "Usage: quarnel-cli pluggable-monitor\n"
    "The serial monitor that arduino-cli and the Arduino IDE 2 start for the modules' ports\n"
    "(pluggable monitor protocol, version 1): commands on standard input (HELLO, DESCRIBE,\n"
    "CONFIGURE, OPEN, CLOSE, QUIT), one JSON reply each on standard output. OPEN CLIENT PORT\n"
    "connects the module's data port (PORT: the module's IP address, its data port taken from\n"
    "its announcement, or IP:DATAPORT) with the client's TCP address. The line speed (baudrate)\n"
    "is the module's, %1, and cannot be changed.\n"
    "\n"
    "Exit status: 0 after QUIT or at the end of standard input.\n";

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
    "\n"
    "Exit status: 0 sent, 2 usage error, 3 module unreachable or not heard, 6 local failure.\n";

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

Command commandNamed(const QString &name)
{
    if (name == QLatin1String("scan"))
        return Command::Scan;
    if (name == QLatin1String("upload"))
        return Command::Upload;
    if (name == QLatin1String("rename"))
        return Command::Rename;
    if (name == QLatin1String("monitor"))
        return Command::Monitor;
    if (name == QLatin1String("pluggable-monitor"))
        return Command::PluggableMonitor;
    return Command::None;
}

// Upload's boards: every --ip (each once), or --all with an optional --name.
template <typename Fail>
void parseTargets(const QCommandLineParser &parser, const QCommandLineOption &ip, const QCommandLineOption &all,
                  const QCommandLineOption &nameGlob, Invocation *inv, const Fail &fail)
{
    inv->all = parser.isSet(all);
    if (inv->all && parser.isSet(ip))
        fail(QStringLiteral("--ip and --all exclude each other"));
    else if (!inv->all && !parser.isSet(ip))
        fail(QStringLiteral("--ip or --all is required"));
    if (parser.isSet(nameGlob) && !inv->all)
        fail(QStringLiteral("--name needs --all"));
    inv->nameGlob = parser.isSet(nameGlob) ? parser.value(nameGlob) : QStringLiteral("*");
    if (inv->nameGlob.isEmpty())
        fail(QStringLiteral("--name: the pattern is empty"));
    for (const QString &text : parser.values(ip)) {
        QString canonical;
        if (!parseIpv4(text, &canonical))
            fail(QStringLiteral("--ip %1: not an IPv4 address (four numbers 0..255, as 192.168.1.20)").arg(text));
        else if (inv->ips.contains(canonical))
            fail(QStringLiteral("--ip %1: given twice").arg(text));
        else
            inv->ips << canonical;
    }
}

// Parses the options of `command`; the arguments start with the command's name.
void parseCommand(Command command, const QStringList &arguments, Invocation *inv, QString *error)
{
    const QCommandLineOption help(QStringList{"h", "help"});
    const QCommandLineOption seconds(QStringLiteral("seconds"), QString(), QStringLiteral("N"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption ip(QStringLiteral("ip"), QString(), QStringLiteral("IP"));
    const QCommandLineOption board(QStringLiteral("board"), QString(), QStringLiteral("BOARD"));
    const QCommandLineOption dataPort(QStringLiteral("data-port"), QString(), QStringLiteral("P"));
    const QCommandLineOption atPort(QStringLiteral("at-port"), QString(), QStringLiteral("P"));
    const QCommandLineOption verify(QStringLiteral("verify"));
    const QCommandLineOption verbose(QStringLiteral("verbose"));
    const QCommandLineOption all(QStringLiteral("all"));
    const QCommandLineOption nameGlob(QStringLiteral("name"), QString(), QStringLiteral("GLOB"));
    const QCommandLineOption jobs(QStringLiteral("jobs"), QString(), QStringLiteral("N"));
    const QCommandLineOption retries(QStringLiteral("retries"), QString(), QStringLiteral("K"));
    const QCommandLineOption eol(QStringLiteral("eol"), QString(), QStringLiteral("END"));
    const QCommandLineOption timestamps(QStringLiteral("timestamps"));

    QCommandLineParser parser;
    parser.addOption(help);
    if (command != Command::PluggableMonitor)
        parser.addOption(seconds);
    switch (command) {
    case Command::Scan:
        parser.addOption(json);
        break;
    case Command::Upload:
        parser.addOptions({ip, board, dataPort, atPort, verify, verbose, all, nameGlob, jobs, retries, json});
        break;
    case Command::Rename:
        parser.addOptions({ip, atPort});
        break;
    case Command::Monitor:
        parser.addOptions({ip, dataPort, eol, timestamps});
        break;
    case Command::PluggableMonitor:
    case Command::None:
        break;
    }

    const QString &name = arguments.first();
    if (!parser.parse(arguments)) {
        *error = name + QLatin1String(": ") + parser.errorText();
        return;
    }
    inv->command = command;
    if (parser.isSet(help)) {
        inv->help = true;
        return;
    }

    if (command == Command::PluggableMonitor) {
        if (!parser.positionalArguments().isEmpty())
            *error = name + QStringLiteral(": unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return;
    }

    // Each check sets the error once; later checks do not overwrite the first.
    const auto fail = [&](const QString &text) {
        if (error->isEmpty())
            *error = name + QLatin1String(": ") + text;
    };
    const auto value = [&](const QCommandLineOption &option) { return parser.value(option); };

    const bool listening = command == Command::Scan || (command == Command::Upload && parser.isSet(all));
    inv->seconds = listening ? DefaultScanSeconds : DefaultAnnouncementSeconds;
    if (parser.isSet(seconds) && !parseSeconds(value(seconds), &inv->seconds))
        fail(QStringLiteral("--seconds %1: expected a number of seconds above 0, at most %2")
                 .arg(value(seconds))
                 .arg(MaxSeconds));

    const QStringList positional = parser.positionalArguments();
    if (command == Command::Monitor) {
        // --seconds is how long the monitor runs; the announcement is waited for as long as ever.
        inv->runSeconds = parser.isSet(seconds) ? inv->seconds : 0;
        inv->seconds = DefaultAnnouncementSeconds;
        inv->timestamps = parser.isSet(timestamps);
        if (parser.isSet(eol) && !monitor::parseLineEnd(value(eol), &inv->lineEnd))
            fail(QStringLiteral("--eol %1: expected one of %2")
                     .arg(value(eol), monitor::lineEndNames().join(QLatin1String(", "))));
    }
    if (command == Command::Scan) {
        inv->json = parser.isSet(json);
        if (!positional.isEmpty())
            fail(QStringLiteral("unexpected argument \"%1\"").arg(positional.first()));
        return;
    }

    if (command == Command::Upload)
        parseTargets(parser, ip, all, nameGlob, inv, fail);
    else if (!parser.isSet(ip))
        fail(QStringLiteral("--ip is required"));
    else if (!parseIpv4(value(ip), &inv->ip))
        fail(QStringLiteral("--ip %1: not an IPv4 address (four numbers 0..255, as 192.168.1.20)").arg(value(ip)));

    const auto port = [&](const QCommandLineOption &option, quint16 *out) {
        if (parser.isSet(option) && !parsePort(value(option), out))
            fail(QStringLiteral("--%1 %2: not a port number (1..%3)")
                     .arg(option.names().first(), value(option))
                     .arg(MaxPort));
    };
    if (command != Command::Monitor)
        port(atPort, &inv->atPort);
    if (command != Command::Rename)
        port(dataPort, &inv->dataPort);
    if (command == Command::Monitor) {
        if (!positional.isEmpty())
            fail(QStringLiteral("unexpected argument \"%1\"").arg(positional.first()));
        return;
    }

    if (command == Command::Upload) {
        if (!parser.isSet(board))
            fail(QStringLiteral("--board is required (one of %1)").arg(boardList()));
        else if (!parseBoard(value(board), &inv->board))
            fail(QStringLiteral("--board %1: unknown board; expected one of %2").arg(value(board), boardList()));
        inv->verify = parser.isSet(verify);
        inv->verbose = parser.isSet(verbose);
        inv->json = parser.isSet(json);
        if (parser.isSet(jobs) && !parseCount(value(jobs), 1, MaxJobs, &inv->jobs))
            fail(QStringLiteral("--jobs %1: expected a number of boards 1..%2").arg(value(jobs)).arg(MaxJobs));
        if (parser.isSet(retries) && !parseCount(value(retries), 0, MaxRetries, &inv->retries))
            fail(QStringLiteral("--retries %1: expected a number 0..%2").arg(value(retries)).arg(MaxRetries));
        if (positional.size() != 1)
            fail(QStringLiteral("expected one HEX file, got %1 arguments").arg(positional.size()));
        else
            inv->hexPath = positional.first();
        return;
    }

    if (positional.size() != 1) {
        fail(QStringLiteral("expected one NAME, got %1 arguments").arg(positional.size()));
        return;
    }
    inv->name = positional.first();
    const QString problem = hostNameProblem(inv->name);
    if (!problem.isEmpty())
        fail(problem);
}

} // namespace

Invocation parseCommandLine(const QStringList &arguments, QString *error)
{
    Invocation inv;
    error->clear();
    if (arguments.isEmpty()) {
        *error = QStringLiteral("no command given; expected scan, upload, rename, monitor or pluggable-monitor (quarnel-cli --help)");
        return inv;
    }
    const QString &first = arguments.first();
    if (first == QLatin1String("-h") || first == QLatin1String("--help") || first == QLatin1String("help")) {
        inv.help = true;
        if (first == QLatin1String("help") && arguments.size() > 1)
            inv.command = commandNamed(arguments.at(1));
        return inv;
    }
    const Command command = commandNamed(first);
    if (command == Command::None) {
        *error = QStringLiteral("unknown command \"%1\"; expected scan, upload, rename, monitor or pluggable-monitor (quarnel-cli --help)").arg(first);
        return inv;
    }
    parseCommand(command, arguments, &inv, error);
    return inv;
}

QString helpText(Command command)
{
    switch (command) {
    case Command::Scan:
        return QString::fromLatin1(ScanHelp);
    case Command::Upload: {
        const upload::Protocol v1 = upload::Protocol::Stk500v1;
        const upload::Protocol v2 = upload::Protocol::Stk500v2;
        const QStringList v1Boards = upload::boardNames(&v1);
        const QStringList v2Boards = upload::boardNames(&v2);
        return QString::fromLatin1(UploadHelp)
            .arg(spoken(v1Boards, "and"), spoken(v2Boards, "and"), spoken(v1Boards + v2Boards, "or"));
    }
    case Command::Rename:
        return QString::fromLatin1(RenameHelp);
    case Command::Monitor:
        return QString::fromLatin1(MonitorHelp);
    case Command::PluggableMonitor:
        return QString::fromLatin1(PluggableMonitorHelp).arg(monitor::PluggableMonitor::ModuleBaud);
    case Command::None:
        break;
    }
    return QString::fromLatin1(OverviewHelp);
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

bool parsePort(const QString &text, quint16 *port)
{
    if (!allDigits(text, 5))
        return false;
    const int value = text.toInt();
    if (value < 1 || value > MaxPort)
        return false;
    *port = quint16(value);
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

QString hostNameProblem(const QString &name)
{
    for (const QChar c : name) {
        if (c.unicode() > 0xFF)
            return QStringLiteral("the name holds \"%1\", which is not a Latin-1 character").arg(c);
    }
    return config::hostNameProblem(name);
}

} // namespace cli

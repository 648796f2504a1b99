#include "simoptions.h"

#include <functional>

namespace sim {

namespace {

const int MaxCount = 4096;
const int MaxAnnounceMs = 3600000;
const int MinBaud = 300;
const int MaxBaud = 2000000;
const int MaxSplit = 64;
const int MaxDelayMs = 60000;
const int MaxRelistenMs = 60000;
const int UnoFlashSize = 32 * 1024;
const int MegaFlashSize = 256 * 1024;

bool parseInt(const QString &text, qint64 min, qint64 max, qint64 *value)
{
    bool ok = false;
    const qint64 v = text.startsWith(QLatin1String("0x")) ? text.mid(2).toLongLong(&ok, 16)
                                                          : text.toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

bool parseConnectionFault(const QString &text, Faults *faults, Faults::Connection kind)
{
    if (text == QLatin1String("at"))
        faults->atConnection = kind;
    else if (text == QLatin1String("data"))
        faults->dataConnection = kind;
    else
        return false;
    return true;
}

struct OptionSpec
{
    const char *name;
    // Stores the value; false if it is invalid. The message then says what was expected.
    std::function<bool(const QString &, SimOptions *)> store;
    const char *expected; // null for a switch, which takes no value
};

// Builds a store function for an integer option kept in a field of type T.
template<typename T>
std::function<bool(const QString &, SimOptions *)> intField(T SimOptions::*field, qint64 min, qint64 max)
{
    return [field, min, max](const QString &text, SimOptions *o) {
        qint64 v = 0;
        if (!parseInt(text, min, max, &v))
            return false;
        o->*field = T(v);
        return true;
    };
}

template<typename T>
std::function<bool(const QString &, SimOptions *)> faultField(T Faults::*field, qint64 min, qint64 max)
{
    return [field, min, max](const QString &text, SimOptions *o) {
        qint64 v = 0;
        if (!parseInt(text, min, max, &v))
            return false;
        o->faults.*field = T(v);
        return true;
    };
}

const QList<OptionSpec> &optionSpecs()
{
    static const QList<OptionSpec> specs = {
        {"--ip",
         [](const QString &t, SimOptions *o) {
             const QHostAddress a(t);
             if (a.protocol() != QAbstractSocket::IPv4Protocol)
                 return false;
             o->ip = a;
             return true;
         },
         "an IPv4 address"},
        {"--board",
         [](const QString &t, SimOptions *o) {
             if (!boardNames().contains(t))
                 return false;
             o->board = t;
             return true;
         },
         "one of UNO, MEGA2560, zariV3, zureD0, none"},
        {"--name",
         [](const QString &t, SimOptions *o) {
             o->name = t;
             return !t.isEmpty();
         },
         "a non-empty name"},
        {"--data-port", intField(&SimOptions::dataPort, 0, 65535), "a port number 0..65535"},
        {"--at-port", intField(&SimOptions::atPort, 0, 65535), "a port number 0..65535"},
        {"--announce-ms", intField(&SimOptions::announceMs, 0, MaxAnnounceMs), "milliseconds 0..3600000"},
        {"--target",
         [](const QString &t, SimOptions *o) {
             const int colon = t.lastIndexOf(QLatin1Char(':'));
             if (colon < 0)
                 return false;
             const QHostAddress host(t.left(colon));
             qint64 port = 0;
             if (host.protocol() != QAbstractSocket::IPv4Protocol || !parseInt(t.mid(colon + 1), 1, 65535, &port))
                 return false;
             o->targetHost = host;
             o->targetPort = quint16(port);
             return true;
         },
         "HOST:PORT with an IPv4 host"},
        {"--baud", intField(&SimOptions::baud, MinBaud, MaxBaud), "a baud rate 300..2000000"},
        {"--quiet-ms", intField(&SimOptions::quietMs, 1, 1000), "milliseconds 1..1000"},
        {"--relisten-ms", intField(&SimOptions::relistenMs, 0, MaxRelistenMs), "milliseconds 0..60000"},
        {"--answer-before-reset",
         [](const QString &, SimOptions *o) {
             o->answerBeforeReset = true;
             return true;
         },
         nullptr},
        {"--app",
         [](const QString &t, SimOptions *o) {
             o->appPath = t;
             return !t.isEmpty();
         },
         "an Intel HEX file"},
        {"--flash-out",
         [](const QString &t, SimOptions *o) {
             o->flashOutPath = t;
             return !t.isEmpty();
         },
         "a file name"},
        {"--count", intField(&SimOptions::count, 1, MaxCount), "a count 1..4096"},
        {"--control-port", intField(&SimOptions::controlPort, 0, 65535), "a port number 0..65535"},
        {"--forgiving-uart",
         [](const QString &, SimOptions *o) {
             o->forgivingUart = true;
             return true;
         },
         nullptr},
        {"--refuse",
         [](const QString &t, SimOptions *o) { return parseConnectionFault(t, &o->faults, Faults::Connection::Refuse); },
         "at or data"},
        {"--ignore",
         [](const QString &t, SimOptions *o) { return parseConnectionFault(t, &o->faults, Faults::Connection::Ignore); },
         "at or data"},
        {"--at-reply",
         [](const QString &t, SimOptions *o) {
             if (t == QLatin1String("full"))
                 o->faults.atReply = Faults::AtReply::Full;
             else if (t == QLatin1String("one"))
                 o->faults.atReply = Faults::AtReply::OneByte;
             else if (t == QLatin1String("none"))
                 o->faults.atReply = Faults::AtReply::None;
             else
                 return false;
             return true;
         },
         "full, one or none"},
        {"--split-replies", faultField(&Faults::splitReplies, 1, MaxSplit), "a piece count 1..64"},
        {"--extra-byte", faultField(&Faults::extraByteReply, 1, 1000000), "a reply number from 1"},
        {"--drop-after-pages", faultField(&Faults::dropAfterPages, 1, 1000000), "a page count from 1"},
        {"--drops", faultField(&Faults::drops, 1, 1000000), "a count from 1"},
        {"--delay-ms", faultField(&Faults::delayMs, 0, MaxDelayMs), "milliseconds 0..60000"},
        {"--flip-address", faultField(&Faults::flipAddress, 0, MegaFlashSize - 1),
         "a flash byte address (decimal or 0x hex)"},
    };
    return specs;
}

} // namespace

const QStringList &boardNames()
{
    static const QStringList names = {QStringLiteral("UNO"), QStringLiteral("MEGA2560"), QStringLiteral("zariV3"),
                                      QStringLiteral("zureD0"), QStringLiteral("none")};
    return names;
}

bool isUnoBoard(const QString &board)
{
    return board == QLatin1String("UNO");
}

int boardFlashSize(const QString &board)
{
    if (board == QLatin1String("none"))
        return 0;
    return isUnoBoard(board) ? UnoFlashSize : MegaFlashSize;
}

bool parseSimOptions(const QStringList &arguments, SimOptions *options, QString *error, bool *helpRequested)
{
    *helpRequested = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            *helpRequested = true;
            return true;
        }
        QString name = argument;
        QString value;
        bool inlineValue = false;
        const int equals = argument.indexOf(QLatin1Char('='));
        if (argument.startsWith(QLatin1String("--")) && equals > 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
            inlineValue = true;
        }
        const OptionSpec *option = nullptr;
        for (const OptionSpec &candidate : optionSpecs()) {
            if (name == QLatin1String(candidate.name))
                option = &candidate;
        }
        if (!option) {
            *error = QStringLiteral("unknown option %1 (see --help)").arg(argument);
            return false;
        }
        if (!option->expected) {
            if (inlineValue) {
                *error = QStringLiteral("%1 takes no value").arg(name);
                return false;
            }
        } else if (!inlineValue) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a value: %2").arg(name, QLatin1String(option->expected));
                return false;
            }
            value = arguments.at(++i);
        }
        if (!option->store(value, options)) {
            *error = QStringLiteral("%1 %2: expected %3").arg(name, value, QLatin1String(option->expected));
            return false;
        }
    }
    if (quint64(options->ip.toIPv4Address()) + quint64(options->count) - 1 > 0xFFFFFFFFull) {
        *error = QStringLiteral("--count %1 runs past the last IPv4 address").arg(options->count);
        return false;
    }
    if (options->board == QLatin1String("none") && !options->appPath.isEmpty()) {
        *error = QStringLiteral("--app needs a board; --board none has none");
        return false;
    }
    if (options->faults.flipAddress >= boardFlashSize(options->board)) {
        *error = QStringLiteral("--flip-address lies beyond the board's %1 bytes of flash")
                     .arg(boardFlashSize(options->board));
        return false;
    }
    return true;
}

QHostAddress moduleAddress(const SimOptions &options, int index)
{
    return QHostAddress(options.ip.toIPv4Address() + quint32(index));
}

QString moduleName(const SimOptions &options, int index)
{
    if (options.count == 1)
        return options.name;
    return QStringLiteral("%1-%2").arg(options.name).arg(index + 1);
}

QString moduleFlashOutPath(const SimOptions &options, int index)
{
    QString path = options.flashOutPath;
    if (path.isEmpty() || options.count == 1)
        return path;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    const int insertAt = dot > slash + 1 ? dot : path.size(); // a leading dot names, not extends
    return path.insert(insertAt, QLatin1Char('-') + moduleAddress(options, index).toString());
}

QString simHelpText()
{
    return QStringLiteral(
        "Usage: quarnel-sim [options]\n"
        "Simulates Wi-Fi serial modules, each in front of a simulated AVR board that runs its real\n"
        "serial bootloader. Every module uses its own IPv4 address (127.0.0.2 and up on loopback),\n"
        "announces itself by UDP and serves an AT-command port and a data port over TCP, one client\n"
        "at a time. Prints one line \"quarnel-sim ready: ...\" on standard output once every module\n"
        "listens; stops cleanly on SIGINT or SIGTERM.\n"
        "\n"
        "Module:\n"
        "  --ip ADDRESS          address of the (first) module (default 127.0.0.2)\n"
        "  --board TYPE          UNO (ATmega328P, Optiboot), MEGA2560, zariV3 or zureD0 (ATmega2560,\n"
        "                        STK500v2 bootloader), or none: announce and answer AT commands only,\n"
        "                        no data port (default MEGA2560)\n"
        "  --name NAME           host name announced (default quarnel-sim)\n"
        "  --data-port N         TCP data port, a transparent pipe to the board's serial line\n"
        "                        (default 8000; 0 picks a free port)\n"
        "  --at-port N           TCP AT-command port (default 8001; 0 picks a free port)\n"
        "  --announce-ms N       announcement interval in ms (default 2000; 0 never announces)\n"
        "  --target HOST:PORT    where announcements go (default 127.0.0.1:3333)\n"
        "  --baud N              serial line speed, 8N1, paced in real time (default 115200)\n"
        "  --quiet-ms N          bytes from the board reach the host in one TCP write once the serial\n"
        "                        line has been quiet for N ms (default 2; at least three character\n"
        "                        times), as a module packs its UART data\n"
        "  --relisten-ms N       after its client leaves, the data port listens again only N ms\n"
        "                        later and refuses connections until then, as a module does\n"
        "                        (default 100; 0 listens again at once)\n"
        "  --answer-before-reset AT+MCUUPDATE is answered at once and the board is reset 10 ms\n"
        "                        later, while its application still runs (default: the board is\n"
        "                        reset at once and the answer comes 100 ms later, once its\n"
        "                        bootloader runs)\n"
        "  --app FILE.hex        application preloaded below the bootloader (Intel HEX); the board\n"
        "                        runs from power-on, its bootloader's wait and then this application\n"
        "  --flash-out FILE      the board's whole flash, raw, is written to FILE whenever a data\n"
        "                        connection closes and when the simulator stops; with --count above 1\n"
        "                        each module writes FILE with \"-ADDRESS\" before the extension\n"
        "  --count N             N modules on consecutive addresses from --ip, named NAME-1..NAME-N,\n"
        "                        all with the same ports (default 1)\n"
        "  --control-port N      control channel on the first module's address (0 picks a free port):\n"
        "                        the line \"flash I\" answers the decimal size, a line feed and module\n"
        "                        I's (0-based) whole flash; \"pages I\" answers the number of pages\n"
        "                        written since start; \"client I\" answers 1 while the data port\n"
        "                        serves a client, else 0\n"
        "  --forgiving-uart      the board's receiver keeps host bytes that arrive while the firmware\n"
        "                        reads nothing, up to 63, and the line waits; without it the receiver\n"
        "                        holds three (two in its buffer, one in its shift register) and loses\n"
        "                        the rest (data overrun), as a real ATmega does\n"
        "\n"
        "AT commands (parsed by what one read delivers, with or without a line end):\n"
        "  AT+U2W=CLIENT, AT+MCUUPDATE=MEGA, AT+MCUUPDATE=UNO (resets the board into its\n"
        "  bootloader), AT+HOSTNAME=NAME (1..32 printable bytes; later announcements carry it)\n"
        "  answer \"OK\\r\\n\"; anything else answers \"ERROR\\r\\n\".\n"
        "\n"
        "Faults:\n"
        "  --refuse at|data      refuse connections on that port (connection refused)\n"
        "  --ignore at|data      never answer connections on that port (the handshake never completes)\n"
        "  --at-reply full|one|none  answer AT commands in full, with one byte, or not at all\n"
        "  --split-replies N     send every reply from the board in N pieces, 5 ms apart\n"
        "  --extra-byte N        add one byte (0x00) to the N-th reply of each data connection\n"
        "  --drop-after-pages N  drop the data connection once N flash pages were written in it\n"
        "  --drops N             with --drop-after-pages: drop only the first N such connections\n"
        "  --delay-ms N          delay each direction by N ms, as a slow radio link would\n"
        "  --flip-address A      flip (xor 0xFF) the flash byte at A as it is written\n"
        "  -h, --help            this text\n"
        "  --version             the version (given alone)\n");
}

} // namespace sim

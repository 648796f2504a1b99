#ifndef CLI_COMMANDLINE_H
#define CLI_COMMANDLINE_H

#include "modulescommand.h"
#include "monitortext.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QCommandLineParser;

namespace cli {

enum class Command { None, Scan, Upload, Identify, Rename, Modules, Discovery, IdeSetup, Monitor, PluggableMonitor };

// What one quarnel-cli run was asked to do, checked and in the form the libraries take.
struct Invocation
{
    Command command = Command::None;
    bool help = false;     // print the help of `command` (None: the overview) and stop
    double seconds = 0;    // scan, upload --all: how long to listen; otherwise the longest wait for announcements
    bool json = false;     // scan; upload: the summary as JSON; identify: the result as JSON
    bool verify = false;   // upload
    bool verbose = false;  // upload: the worker's trace lines on standard error
    QString ip;            // rename, identify: dotted IPv4 text, canonical
    QStringList ips;       // upload: every --ip, canonical, each once
    bool all = false;      // upload: every module heard in `seconds`
    QString nameGlob;      // upload --all: host names to take ("*": all)
    int jobs = 0;          // upload: boards written at the same time; 0: all
    int retries = 0;       // upload: resumptions per board after a failure past the mode switch
    QString board;         // exactly as the worker dispatches on it; upload: empty for each module's own
    QString hexPath;       // upload
    quint16 dataPort = 0;  // upload, identify: 0 takes the port from the module's announcement
    quint16 atPort = 0;    // upload, identify, rename: 0 takes the port from the module's announcement
    QString name;          // rename
    ModulesRequest modules; // modules
    QString sketchbook;    // ide-setup: empty for the sketch build tool's own
    double runSeconds = 0; // monitor: end after this long; 0 runs until Ctrl-C
    monitor::LineEnd lineEnd = monitor::LineEnd::Lf; // monitor: sent after each typed line
    bool timestamps = false; // monitor: the time before each line received
    QString logPath;         // monitor: a file that also gets what standard output gets
};

const double DefaultScanSeconds = 3;
const double DefaultAnnouncementSeconds = 5;
const double MaxSeconds = 3600;
const int MaxJobs = 4096;   // as many modules as a scan lists
const int MaxRetries = 100;

// One command's arguments as its parser reads them; the first usage error found is the one kept.
class Arguments
{
public:
    Arguments(const QCommandLineParser &parser, const QString &command, QString *error);

    bool isSet(const char *option) const;
    QString value(const char *option) const;
    QStringList values(const char *option) const;
    QStringList positional() const;
    // A usage error: "COMMAND: text", unless an earlier one was found.
    void fail(const QString &text);

    // The shared option readers; each reports its own usage error.
    void seconds(double defaultSeconds, double *seconds);
    void port(const char *option, quint16 *port);
    void ip(QString *canonical); // --ip, required
    // A typed IPv4 address (an --ip value); false after a usage error.
    bool address(const QString &text, QString *canonical);
    // --data-port and --at-port, or --module-ports DATA:AT; a port not given stays as it was.
    void modulePorts(quint16 *dataPort, quint16 *atPort);
    // A command that takes no positional argument: the first one given is a usage error.
    void noPositional();
    // A command that takes no --seconds (every parser knows it) and no positional argument.
    void noSecondsNorPositional();

private:
    const QCommandLineParser &parser;
    QString command;
    QString *error;
};

// One command of quarnel-cli: a row of the command table. Adding a command is adding a row (and
// its Command value): its options, the parser of its arguments, its help text and its handler,
// defined together in the command's own file (scancommand.cpp, uploadcommand.cpp, ...).
struct CommandRow
{
    Command command;
    const char *name;
    const char *summary;                      // its line in the overview
    QList<QCommandLineOption> (*options)();   // besides -h/--help and --seconds
    void (*parse)(Arguments &args, Invocation *inv);
    QString (*help)();
    int (*run)(const Invocation &inv);        // needs a running QCoreApplication; the exit status
};

// The options of the command rows: one with a value, shown as `valueName` in errors, and a flag.
QCommandLineOption valued(const char *name, const char *valueName);
QCommandLineOption flag(const char *name);

// Names as a sentence says them: "A, B and C" with `conjunction` "and".
QString spoken(const QStringList &names, const char *conjunction);

// The rows, in the order of the overview.
const QList<CommandRow> &commandTable();
// The row of a command; nothing for Command::None or a name no row has.
const CommandRow *findCommand(Command command);
const CommandRow *findCommand(const QString &name);

// Parses the arguments after the program name. On a usage error returns an Invocation and sets
// *error to one line saying what is wrong; *error stays empty otherwise.
Invocation parseCommandLine(const QStringList &arguments, QString *error);

// The --help text of a command; Command::None gives the overview.
QString helpText(Command command);

// Checked forms of the values a user types. Each gives false for anything but the plain form.
bool parseIpv4(const QString &text, QString *canonical);       // four decimal parts 0..255
bool parseBoard(const QString &text, QString *board);          // a board name, any letter case
bool parseSeconds(const QString &text, double *seconds);       // decimal, above 0, at most MaxSeconds
bool parseCount(const QString &text, int min, int max, int *count); // decimal min..max
// "DATA:AT" as a sketch build tool passes a module's ports; a side left empty stays 0 (taken from
// the announcement).
bool parseModulePorts(const QString &text, quint16 *dataPort, quint16 *atPort);

} // namespace cli

#endif // CLI_COMMANDLINE_H

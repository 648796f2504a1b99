#ifndef CLI_COMMANDLINE_H
#define CLI_COMMANDLINE_H

#include "monitortext.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace cli {

enum class Command { None, Scan, Upload, Rename, Monitor, PluggableMonitor };

// What one quarnel-cli run was asked to do, checked and in the form the libraries take.
struct Invocation
{
    Command command = Command::None;
    bool help = false;     // print the help of `command` (None: the overview) and stop
    double seconds = 0;    // scan, upload --all: how long to listen; otherwise the longest wait for announcements
    bool json = false;     // scan; upload: the summary as JSON
    bool verify = false;   // upload
    bool verbose = false;  // upload: the worker's trace lines on standard error
    QString ip;            // rename: dotted IPv4 text, canonical
    QStringList ips;       // upload: every --ip, canonical, each once
    bool all = false;      // upload: every module heard in `seconds`
    QString nameGlob;      // upload --all: host names to take ("*": all)
    int jobs = 0;          // upload: boards written at the same time; 0: all
    int retries = 0;       // upload: resumptions per board after a failure past the mode switch
    QString board;         // exactly as the worker dispatches on it
    QString hexPath;       // upload
    quint16 dataPort = 0;  // upload: 0 takes the port from the module's announcement
    quint16 atPort = 0;    // upload, rename: 0 takes the port from the module's announcement
    QString name;          // rename
    double runSeconds = 0; // monitor: end after this long; 0 runs until Ctrl-C
    monitor::LineEnd lineEnd = monitor::LineEnd::Lf; // monitor: sent after each typed line
    bool timestamps = false; // monitor: the time before each line received
};

const double DefaultScanSeconds = 3;
const double DefaultAnnouncementSeconds = 5;
const double MaxSeconds = 3600;
const int MaxJobs = 4096;   // as many modules as a scan lists
const int MaxRetries = 100;

// Parses the arguments after the program name. On a usage error returns an Invocation and sets
// *error to one line saying what is wrong; *error stays empty otherwise.
Invocation parseCommandLine(const QStringList &arguments, QString *error);

// The --help text of a command; Command::None gives the overview.
QString helpText(Command command);

// Checked forms of the values a user types. Each gives false for anything but the plain form.
bool parseIpv4(const QString &text, QString *canonical);       // four decimal parts 0..255
bool parsePort(const QString &text, quint16 *port);            // decimal 1..65535
bool parseBoard(const QString &text, QString *board);          // a board name, any letter case
bool parseSeconds(const QString &text, double *seconds);       // decimal, above 0, at most MaxSeconds
bool parseCount(const QString &text, int min, int max, int *count); // decimal min..max
// Empty when `name` can be sent as it is; else why not.
QString hostNameProblem(const QString &name);

} // namespace cli

#endif // CLI_COMMANDLINE_H

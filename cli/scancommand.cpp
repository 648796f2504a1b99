#include "scancommand.h"

#include "commandsupport.h"
#include "discoveryconstants.h"
#include "exitcodes.h"
#include "modulescan.h"
#include "modulescommand.h"
#include "scanoutput.h"

#include <cstdio>

namespace cli {

namespace {

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

// scan: how long to listen, and the output form.
QList<QCommandLineOption> scanOptions()
{
    return {flag("json")};
}

void parseScan(Arguments &args, Invocation *inv)
{
    args.seconds(DefaultScanSeconds, &inv->seconds);
    inv->json = args.isSet("json");
    args.noPositional();
}

QString scanHelp()
{
    return QString::fromLatin1(ScanHelp) + QLatin1String(ScanExitHelp);
}

// A known module that announced itself is the same module: the list keeps what it announced.
void rememberAnnounced(discovery::KnownModules *known, const QVector<HeardModule> &modules)
{
    for (const HeardModule &m : modules) {
        QString error;
        if (m.heard && m.known)
            known->takeAnnouncement(m.announcement, &error);
        if (!error.isEmpty())
            fail(error);
    }
}

int runScan(const Invocation &inv)
{
    ModuleScan scan;
    QString error;
    if (!scan.listen(discovery::AnnouncementPort, &error)) {
        fail(QStringLiteral("cannot listen on UDP port %1: %2").arg(discovery::AnnouncementPort).arg(error));
        return ExitLocalFailure;
    }
    discovery::KnownModules known = loadKnownModules();
    scan.probeKnown(known.modules());
    scan.listenFor(milliseconds(inv.seconds));

    const QVector<HeardModule> modules = scan.modules();
    rememberAnnounced(&known, modules);
    if (inv.json) {
        std::fputs(scanJson(modules, scan.nowMs()).constData(), stdout);
        std::fflush(stdout);
    } else if (!modules.isEmpty()) {
        std::fputs(scanTable(modules, scan.nowMs()).toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
    }
    warnOverflow(scan);
    if (modules.isEmpty()) {
        fail(QStringLiteral("no module heard on UDP port %1 in %2 s; check that the modules are on and on "
                            "this network, and that no firewall drops UDP port %1")
                 .arg(discovery::AnnouncementPort)
                 .arg(givenSeconds(inv.seconds)));
        return ExitUnreachable;
    }
    return ExitSuccess;
}

} // namespace

const CommandRow ScanCommand = {
    Command::Scan, "scan",
    "list the modules announcing themselves on UDP port 3333",
    scanOptions, parseScan, scanHelp, runScan};

} // namespace cli

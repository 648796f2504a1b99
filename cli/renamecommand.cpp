#include "renamecommand.h"

#include "commandsupport.h"
#include "exitcodes.h"
#include "hostname.h"
#include "moduleboards.h"
#include "modulescommand.h"

namespace cli {

namespace {

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

int runRename(const Invocation &inv)
{
    discovery::KnownModules known = loadKnownModules();
    quint16 atPort = inv.atPort;
    int exitCode = ExitSuccess;
    if (atPort == 0 && !modulePorts(inv, known, nullptr, inv.ip, nullptr, &atPort, &exitCode))
        return exitCode;
    if (!config::sendHostName(inv.ip, atPort, inv.name)) {
        fail(QStringLiteral("cannot connect to the AT-command port %1 of %2 within %3 ms; check that the module "
                            "is on, that %1 is its AT-command port (quarnel-cli scan lists it) and that no other "
                            "program holds the connection")
                 .arg(atPort)
                 .arg(inv.ip)
                 .arg(config::RenameConnectTimeout));
        return ExitUnreachable;
    }
    printLine(stdout, QStringLiteral("quarnel-cli: %1: sent AT+HOSTNAME=%2 to AT-command port %3")
                          .arg(inv.ip, inv.name)
                          .arg(atPort));
    QString error;
    known.takeName(inv.ip, inv.name, &error);
    // The board behind the module stays its own under the new name.
    upload::ModuleBoards boards;
    boards.load();
    boards.takeName(inv.ip, inv.name, &error);
    if (!error.isEmpty())
        fail(error);
    return ExitSuccess;
}

} // namespace

const CommandRow RenameCommand = {
    Command::Rename, "rename",
    "give a module a new host name",
    renameOptions, parseRename, renameHelp, runRename};

} // namespace cli

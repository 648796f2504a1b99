#ifndef CLI_MODULESCOMMAND_H
#define CLI_MODULESCOMMAND_H

#include "knownmodules.h"

#include <QString>
#include <QStringList>

namespace cli {

// quarnel-cli modules: the list of modules added by address, which the window shares.
struct ModulesRequest
{
    enum class Action { Add, List, Remove };

    Action action = Action::List;
    discovery::KnownModule module; // add: the module; remove: its ip
    bool json = false;             // list
};

// Parses the arguments from "modules" on. On a usage error returns false with *error set to one
// line saying what is wrong; with --help sets *help instead.
bool parseModules(const QStringList &arguments, ModulesRequest *request, bool *help, QString *error);

QString modulesHelp();

// Runs the request on the list at `path`; the exit status.
int runModules(const ModulesRequest &request, const QString &path = discovery::KnownModules::defaultPath());

// The list at `path` read, its problems reported on standard error: what scan, upload and rename
// take known modules from.
discovery::KnownModules loadKnownModules(const QString &path = discovery::KnownModules::defaultPath());

// The list as runModules prints it: a table (IP, DATA, AT, HOSTNAME) or a JSON array of
// {ip, dataPort, atPort, hostname}.
QString knownTable(const QVector<discovery::KnownModule> &modules);
QByteArray knownJson(const QVector<discovery::KnownModule> &modules);

} // namespace cli

#endif // CLI_MODULESCOMMAND_H

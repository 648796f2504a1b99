#ifndef CLI_MODULESCOMMAND_H
#define CLI_MODULESCOMMAND_H

#include "knownmodules.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

namespace cli {

class Arguments;
struct Invocation;

// quarnel-cli modules: the list of modules added by address, which the window shares.
struct ModulesRequest
{
    enum class Action { Add, List, Remove };

    Action action = Action::List;
    discovery::KnownModule module; // add: the module; remove: its ip
    bool json = false;             // list
};

// The row of the command table: its options, parser, help text and handler (the list at
// KnownModules::defaultPath()).
QList<QCommandLineOption> modulesOptions();
void parseModules(Arguments &args, Invocation *inv);
QString modulesHelp();
int runModules(const Invocation &inv);

// The list at `path` read, its problems reported on standard error: what scan, upload and rename
// take known modules from.
discovery::KnownModules loadKnownModules(const QString &path = discovery::KnownModules::defaultPath());

// The list as runModules prints it: a table (IP, DATA, AT, HOSTNAME) or a JSON array of
// {ip, dataPort, atPort, hostname}.
QString knownTable(const QVector<discovery::KnownModule> &modules);
QByteArray knownJson(const QVector<discovery::KnownModule> &modules);

} // namespace cli

#endif // CLI_MODULESCOMMAND_H

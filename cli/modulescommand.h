#ifndef CLI_MODULESCOMMAND_H
#define CLI_MODULESCOMMAND_H

#include "knownmodules.h"

#include <QString>
#include <QStringList>

namespace cli {

struct CommandRow;

// quarnel-cli modules: the list of modules added by address, which the window shares.
struct ModulesRequest
{
    enum class Action { Add, List, Remove };

    Action action = Action::List;
    discovery::KnownModule module; // add: the module; remove: its ip
    bool json = false;             // list
};

// The row of the command table (the list at KnownModules::defaultPath()).
extern const CommandRow ModulesCommand;

// The list at `path` read, its problems reported on standard error: what scan, upload and rename
// take known modules from.
discovery::KnownModules loadKnownModules(const QString &path = discovery::KnownModules::defaultPath());

// The list as runModules prints it: a table (IP, DATA, AT, HOSTNAME) or a JSON array of
// {ip, dataPort, atPort, hostname}.
QString knownTable(const QVector<discovery::KnownModule> &modules);
QByteArray knownJson(const QVector<discovery::KnownModule> &modules);

} // namespace cli

#endif // CLI_MODULESCOMMAND_H

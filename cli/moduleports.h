#ifndef CLI_MODULEPORTS_H
#define CLI_MODULEPORTS_H

#include "announcement.h"
#include "knownmodules.h"

#include <QString>

#include <optional>

namespace cli {

// A port that a command needs and the module does not give.
struct MissingPort
{
    const char *what;   // "data port", "AT-command port"
    const char *option; // the option that gives it: "--data-port", "--at-port"
    QString announced;  // what the module announced instead
};

// The one resolver of a module's ports for every command: each port still 0 is taken from the
// module's announcement (a port null: the command needs none). Nothing when every port is
// there; else the first one missing, the other ports left as they were taken.
std::optional<MissingPort> resolvePorts(const discovery::Announcement &announcement, quint16 *dataPort,
                                        quint16 *atPort);

// The same from the known-modules list: false when it does not list `ip`. A module added by
// address may never announce itself; its listed ports stand for its announcement.
bool portsFromKnown(const discovery::KnownModules &known, const QString &ip, quint16 *dataPort, quint16 *atPort);

} // namespace cli

#endif // CLI_MODULEPORTS_H

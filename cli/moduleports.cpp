#include "moduleports.h"

#include "portnumber.h"

namespace cli {

std::optional<MissingPort> resolvePorts(const discovery::Announcement &announcement, quint16 *dataPort,
                                        quint16 *atPort)
{
    const auto take = [](const QString &announced, quint16 *port) {
        if (*port == 0)
            *port = discovery::portNumber(announced);
        return *port != 0;
    };
    if (dataPort && !take(announcement.dataPort, dataPort))
        return MissingPort{"data port", "--data-port", announcement.dataPort};
    if (atPort && !take(announcement.atPort, atPort))
        return MissingPort{"AT-command port", "--at-port", announcement.atPort};
    return std::nullopt;
}

bool portsFromKnown(const discovery::KnownModules &known, const QString &ip, quint16 *dataPort, quint16 *atPort)
{
    const discovery::KnownModule *listed = known.find(ip);
    if (!listed)
        return false;
    // A listed port is always a port number: nothing can be missing.
    resolvePorts(listed->announcement(), dataPort, atPort);
    return true;
}

} // namespace cli

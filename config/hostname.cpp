#include "hostname.h"

namespace config {

QByteArray hostNameCommand(const QString &name)
{
    return QByteArrayLiteral("AT+HOSTNAME=") + name.toLatin1();
}

} // namespace config

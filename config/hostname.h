#ifndef HOSTNAME_H
#define HOSTNAME_H

#include <QByteArray>
#include <QString>

namespace config {

// "AT+HOSTNAME=" followed by the name in Latin-1, no line end.
QByteArray hostNameCommand(const QString &name);

} // namespace config

#endif // HOSTNAME_H

#ifndef PLATFORM_H
#define PLATFORM_H

#include <QDateTime>
#include <QString>

// The operating-system layer: user name, Temp directory, file times and directory listings.
namespace platform {

QString currentUserName();

} // namespace platform

#endif // PLATFORM_H

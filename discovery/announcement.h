#ifndef ANNOUNCEMENT_H
#define ANNOUNCEMENT_H

#include <QString>

namespace discovery {

// The four values a module announces.
struct Announcement
{
    QString hostIp;
    QString atPort;
    QString dataPort;
    QString hostName = QStringLiteral("quarnel");
};

} // namespace discovery

#endif // ANNOUNCEMENT_H

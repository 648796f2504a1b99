#ifndef DISCOVERYCONSTANTS_H
#define DISCOVERYCONSTANTS_H

#include <QtGlobal>

namespace discovery {

// UDP port on which modules announce themselves.
constexpr quint16 AnnouncementPort = 3333;

} // namespace discovery

#endif // DISCOVERYCONSTANTS_H

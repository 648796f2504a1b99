#ifndef DISCOVERYCONSTANTS_H
#define DISCOVERYCONSTANTS_H

#include <QtGlobal>

namespace discovery {

// UDP port on which modules announce themselves.
constexpr quint16 AnnouncementPort = 3333;

// The most modules listed at once: a flood of made-up addresses cannot grow a list past this.
constexpr int MaxModules = 4096;

} // namespace discovery

#endif // DISCOVERYCONSTANTS_H

#include "platform.h"

namespace platform {

QString currentUserName()
{
    return QString();
}

} // namespace platform

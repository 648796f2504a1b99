#ifndef DEVICECOLUMNS_H
#define DEVICECOLUMNS_H

#include <Qt>

namespace discovery {

// Columns of the device table; every Part of the window reads rows by these indexes.
enum DeviceColumn {
    ColumnName = 0,
    ColumnDevice = 1,
    ColumnIp = 2, // the row key
    ColumnDataPort = 3,
    ColumnAtPort = 4,
    ColumnSend = 5,
    ColumnProgress = 6,
};

// The Name item keeps the module's name in this role: what it announced, or what it was last
// sent, so that a refused rename can show it again.
constexpr int ModuleNameRole = Qt::UserRole;

} // namespace discovery

#endif // DEVICECOLUMNS_H

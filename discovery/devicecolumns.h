#ifndef DEVICECOLUMNS_H
#define DEVICECOLUMNS_H

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

} // namespace discovery

#endif // DEVICECOLUMNS_H

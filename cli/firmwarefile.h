#ifndef CLI_FIRMWAREFILE_H
#define CLI_FIRMWAREFILE_H

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace cli {

// An Intel HEX file read through the window's converter, for an upload that must not guess:
// a file the converter had to skip records of, or that ends before its end record, is refused.
struct FirmwareFile
{
    // The largest HEX file read; far above the text of the largest AVR flash.
    static const qint64 MaxFileSize = 64 * 1024 * 1024; // bytes

    QByteArray image;        // the flash image, valid when error is empty
    QStringList diagnostics; // the converter's problem lines ("line N: ...")
    QString error;           // why there is no image to write; empty when there is one

    static FirmwareFile read(const QString &path);
};

} // namespace cli

#endif // CLI_FIRMWAREFILE_H

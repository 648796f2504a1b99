#include "firmwarefile.h"

#include "hexconvert.h"

#include <QFile>
#include <QFileInfo>

namespace cli {

namespace {

const qint64 ReadChunk = qint64(64) * 1024; // bytes per read

} // namespace

FirmwareFile FirmwareFile::read(const QString &path)
{
    FirmwareFile f;
    const QFileInfo info(path);
    if (!info.exists()) {
        f.error = QStringLiteral("no such file");
        return f;
    }
    // A device or a pipe may never end; only a regular file has a known end.
    if (!info.isFile()) {
        f.error = QStringLiteral("not a regular file");
        return f;
    }
    if (info.size() > MaxFileSize) {
        f.error = QStringLiteral("larger than %1 MiB, too large for a program of an AVR").arg(MaxFileSize >> 20);
        return f;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        f.error = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return f;
    }

    firmware::HexImage hex;
    qint64 total = 0;
    char last = '\n';
    while (!hex.done() && total <= MaxFileSize) {
        const QByteArray chunk = file.read(ReadChunk);
        if (chunk.isEmpty())
            break;
        total += chunk.size();
        last = chunk.back();
        hex.feed(chunk.constData(), std::size_t(chunk.size()));
    }
    if (file.error() != QFileDevice::NoError) {
        f.error = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return f;
    }
    // The converter knows the end record only with its line end; a file whose last line
    // lacks one still ends properly.
    if (last != '\n')
        hex.feed("\n", 1);
    hex.finish();
    f.diagnostics = hex.diagnostics();

    if (hex.refused())
        f.error = QStringLiteral("data beyond the %1 KiB image limit").arg(firmware::HexImage::MaxImageSize / 1024);
    else if (!f.diagnostics.isEmpty())
        f.error = QStringLiteral("not a well-formed Intel HEX file (see the problems above)");
    else if (!hex.ended())
        f.error = QStringLiteral("no end record (\":00000001FF\"); the file may be cut short");
    else if (hex.image().isEmpty())
        f.error = QStringLiteral("no data records");
    else
        f.image = hex.image();
    return f;
}

} // namespace cli

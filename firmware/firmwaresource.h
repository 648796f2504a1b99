#ifndef FIRMWARESOURCE_H
#define FIRMWARESOURCE_H

#include "sketchbuilds.h"

#include <QString>

namespace firmware {

// The firmware an Upload press sends: the newest build output ("Use Default file") or a file the
// user picked ("Manual Assign File"), with the name and time shown for it, and its conversion into
// the image. Knows no widgets: the window shows what it holds after each call.
class FirmwareSource
{
public:
    explicit FirmwareSource(const QString &traceFile = QStringLiteral("./log.txt"),
                            const QString &imagePath = QStringLiteral("./update.bin"));

    bool manualMode() const { return manualMode_; }
    void setManualMode(bool manual) { manualMode_ = manual; }

    // The picked file's path, '/' separators; null until a dialog returned, empty after a cancel.
    QString manualFilePath() const { return manualFilePath_; }
    // The newest build output's path, as the finder built it; "" until one is found.
    QString defaultFilePath() const { return defaultFilePath_; }
    // The file-name part of the file in use; empty while none is in use.
    QString currentFileName() const { return currentFileName_; }
    // The last-write time text of the file in use; null until a time was read.
    QString generateTime() const { return generateTime_; }

    // Runs the build-output finder: appends the listings to the trace file and, when they name a
    // finished hex file, makes the newest the default file and reads its time. Finding nothing
    // keeps both. A trace file that cannot be written is named once on standard error.
    void refreshDefaultFile();
    // The default file becomes the one in use (its name after the last separator).
    void useDefaultFile();

    // The Open File dialog's answer, also when empty; false when empty (cancelled). Otherwise its
    // time is read (and kept as it was when the file cannot be queried).
    bool chooseManualFile(const QString &path);
    // The chosen file becomes the one in use (its name after the last '/').
    void useManualFile();

    // Converts the manual or the default file into the image; true when a new image is in place.
    bool convertManualFile();
    bool convertDefaultFile();
    // False after a conversion failed: the image is not that of the file in use.
    bool imageConverted() const { return imageConverted_; }
    // Where the conversions put the image.
    QString imageFile() const { return imagePath; }

    // The file-name part of a path, after its last '/' or native separator.
    static QString fileNameOf(const QString &path);

private:
    void readFileTime(const QString &path);

    QString traceFile;
    QString imagePath;
    bool manualMode_ = false;
    QString manualFilePath_;
    QString defaultFilePath_ = QStringLiteral("");
    QString currentFileName_;
    QString generateTime_;
    bool imageConverted_ = true;
    bool traceUnwritable = false; // said so on standard error
    BuildOutputSearch outputSearch; // the current tools' build directories, across looks
};

} // namespace firmware

#endif // FIRMWARESOURCE_H

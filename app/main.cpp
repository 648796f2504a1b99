#include "quarnelversion.h"
#include "startoptions.h"
#include "widget.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <cstdio>

namespace {

// Every size of the icon resource (cmake/Packaging.cmake renders them from the SVG).
QIcon applicationIcon()
{
    QIcon icon;
    const QDir icons(QStringLiteral(":/icons"));
    for (const QString &name : icons.entryList(QDir::Files))
        icon.addFile(icons.filePath(name));
    return icon;
}

} // namespace

int main(int argc, char *argv[])
{
    const StartOptions options = takeStartOptions(&argc, argv);
    if (options.version) {
        std::printf("quarnel-uploader %s\n", QUARNEL_VERSION);
        return 0;
    }
    QApplication a(argc, argv);
    QApplication::setWindowIcon(applicationIcon());
    if (options.useDataDir) {
        const QString problem = enterDataDirectory();
        // The window still works; its files then stay in the directory it was started in.
        if (!problem.isEmpty())
            std::fprintf(stderr, "quarnel-uploader: %s\n", qPrintable(problem));
    }
    Widget w;
    w.show();
    return a.exec();
}

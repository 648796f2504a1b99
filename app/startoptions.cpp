#include "startoptions.h"

#include <QDir>
#include <QStandardPaths>

#include <cstring>

StartOptions takeStartOptions(int *argc, char **argv)
{
    StartOptions options;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0)
            options.version = true;
        else if (std::strcmp(argv[i], "--use-data-dir") == 0)
            options.useDataDir = true;
        else
            argv[kept++] = argv[i];
    }
    // argv[argc] is a null pointer, as the application object expects.
    if (kept < *argc)
        argv[kept] = nullptr;
    *argc = kept;
    return options;
}

QString enterDataDirectory()
{
    // Without an organization name this is ~/.local/share/<application name>.
    const QString path = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (path.isEmpty())
        return QStringLiteral("no data directory is known for this user");
    if (!QDir().mkpath(path))
        return QStringLiteral("cannot create %1").arg(path);
    if (!QDir::setCurrent(path))
        return QStringLiteral("cannot enter %1").arg(path);
    return QString();
}

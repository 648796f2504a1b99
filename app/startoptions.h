#ifndef STARTOPTIONS_H
#define STARTOPTIONS_H

#include <QString>

// What quarnel-uploader takes from its command line before the window exists; every other
// argument stays for the application object.
struct StartOptions
{
    bool version = false;    // --version: print the version and stop
    bool useDataDir = false; // --use-data-dir: work in the tool's data directory (the menu entry)
};

// Takes --version and --use-data-dir out of argv (wherever they stand) and lowers *argc.
StartOptions takeStartOptions(int *argc, char **argv);

// Makes the tool's data directory (~/.local/share/quarnel-uploader) the working directory, so
// that ./update.bin and ./log.txt land there. Creates it when missing. Returns an empty string,
// or why the directory could not be made or entered.
QString enterDataDirectory();

#endif // STARTOPTIONS_H

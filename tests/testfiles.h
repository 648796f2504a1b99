#ifndef TESTFILES_H
#define TESTFILES_H

// Reading and writing whole files in tests, and where the AVR programs built for them lie.
// Header-only.

#include <QByteArray>
#include <QFile>
#include <QString>

// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file's contents; false unless every byte was written.
inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// build/avr/<name>: blink_uno.hex, full_uno.bin, ...
inline QString avrPath(const QString &name)
{
    return QStringLiteral(QUARNEL_BIN_DIR "/../avr/") + name;
}

#endif // TESTFILES_H

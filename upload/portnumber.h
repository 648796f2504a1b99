#ifndef PORTNUMBER_H
#define PORTNUMBER_H

#include <QString>

namespace upload {

// A port cell's text as a port number: decimal, 0 when it does not convert, low 16 bits kept.
// The table's port cells feed both the upload worker and the rename.
inline quint16 portNumber(const QString &text)
{
    return static_cast<quint16>(text.toInt(nullptr, 10));
}

} // namespace upload

#endif // PORTNUMBER_H

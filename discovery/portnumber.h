#ifndef PORTNUMBER_H
#define PORTNUMBER_H

#include <QString>

#include <optional>

namespace discovery {

// The one reading of a TCP port number, wherever a port comes from (an announcement, a row's
// cell, a command-line option): decimal digits only, at most five, value 1..65535; a leading
// zero is still decimal. Nothing for any other text.
inline std::optional<quint16> parsePort(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int port = text.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

// A row's port cell as a port number: 0 when it holds none (a module that announced no port).
inline quint16 portNumber(const QString &text)
{
    return parsePort(text).value_or(0);
}

} // namespace discovery

#endif // PORTNUMBER_H

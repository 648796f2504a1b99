#ifndef OBJECTLITERAL_H
#define OBJECTLITERAL_H

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace discovery {

// Deepest nesting of objects and arrays accepted, the outer object included.
constexpr int ObjectLiteralMaxDepth = 32;

// Reads text that must be exactly one object literal of script syntax (JSON is one) whose
// values are plain literals, without evaluating anything. For every name in `names` the
// result holds, at the same index, the script string conversion of the value of the last
// top-level member with that exact name, or a null string when there is none. Anything
// else (expressions, calls, identifiers as values, trailing text) gives no result.
std::optional<QStringList> readObjectLiteral(QStringView text, const QStringList &names);

// The script string conversion of a number: shortest round-trip digits, plain notation for
// decimal exponents from -7 to 20, exponent notation otherwise ("1e+21", "1e-7").
QString scriptNumberText(double value);

} // namespace discovery

#endif // OBJECTLITERAL_H

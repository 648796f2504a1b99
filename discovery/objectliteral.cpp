#include "objectliteral.h"

#include <QByteArray>
#include <QLocale>
#include <QSet>

#include <cmath>

// Assumptions. Announcements come from any host on the LAN, so they are read, never run.
// The accepted text is one object literal and nothing else:
//   object  = "{" [ member { "," member } [ "," ] ] "}"
//   member  = key ":" value
//   key     = string | name | number        (name: ASCII identifier, not a reserved word)
//   value   = string | number | "-" number | "true" | "false" | "null" | object | array
//   array   = "[" elements "]"               (holes and one trailing comma, as in scripts)
//   string  = '...' or "..." with the escapes \b \f \n \r \t \v \0 \xHH \uHHHH and \c for c
//   number  = decimal (no leading zero before a digit) or 0x hex, at most 2^53
// A value converts to text as a script does: strings as they are, numbers in their shortest
// form, true/false/null by name, arrays joined with commas (null and holes as empty), objects as
// "[object Object]". Refused although scripts accept them: octal numbers and escapes, hex above
// 2^53 (scripts round those inexactly), names with escapes or outside ASCII, comments, line
// continuations, a "+" sign or a blank after "-", nesting deeper than ObjectLiteralMaxDepth, and
// a nested object with a member "toString" or "__proto__", whose text a script would take from
// that member instead.

namespace discovery {

namespace {

const char ObjectText[] = "[object Object]";
constexpr quint64 MaxExactInteger = quint64(1) << 53;

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

bool isNameStart(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == '$';
}

bool isNamePart(QChar c)
{
    return isNameStart(c) || isDigit(c);
}

bool isLineTerminator(QChar c)
{
    const ushort u = c.unicode();
    return u == '\n' || u == '\r' || u == 0x2028 || u == 0x2029;
}

// Keywords and reserved words of every script edition: none of them is a property name to an
// older script engine.
bool isReservedWord(const QString &name)
{
    static const QSet<QString> words = {
        "abstract", "boolean", "break",     "byte",       "case",      "catch",      "char",
        "class",    "const",   "continue",  "debugger",   "default",   "delete",     "do",
        "double",   "else",    "enum",      "export",     "extends",   "false",      "final",
        "finally",  "float",   "for",       "function",   "goto",      "if",         "implements",
        "import",   "in",      "instanceof", "int",       "interface", "let",        "long",
        "native",   "new",     "null",      "package",    "private",   "protected",  "public",
        "return",   "short",   "static",    "super",      "switch",    "synchronized", "this",
        "throw",    "throws",  "transient", "true",       "try",       "typeof",     "var",
        "void",     "volatile", "while",    "with",       "yield",
    };
    return words.contains(name);
}

// A present value is never a null string, so that callers can tell "" from absent.
QString present(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

// Recursive descent over the text; a member function returns false at the first character that
// does not fit. Text is built only where a caller asks for it (a non-null out pointer).
class Reader
{
public:
    explicit Reader(QStringView text)
        : s(text)
    {
    }

    bool readTopLevel(const QStringList &names, QStringList &values)
    {
        skipSpace();
        if (peek() != QLatin1Char('{'))
            return false;
        values.clear();
        for (int i = 0; i < names.size(); ++i)
            values.append(QString());
        if (!object(nullptr, &names, &values))
            return false;
        skipSpace();
        return atEnd();
    }

private:
    bool atEnd() const { return pos >= s.size(); }
    QChar peek() const { return atEnd() ? QChar() : s[pos]; }

    void skipSpace()
    {
        while (!atEnd()) {
            const ushort u = s[pos].unicode();
            if (u != ' ' && u != '\t' && u != '\n' && u != '\r' && u != '\v' && u != '\f')
                return;
            ++pos;
        }
    }

    bool enter() { return ++depth <= ObjectLiteralMaxDepth; }

    // names/values are given for the outer object only: its members are the ones picked.
    bool object(QString *text, const QStringList *names, QStringList *values)
    {
        if (!enter())
            return false;
        ++pos; // '{'
        for (;;) {
            skipSpace();
            if (peek() == QLatin1Char('}'))
                break;
            QString name;
            if (!key(name))
                return false;
            if (!names && (name == QLatin1String("toString") || name == QLatin1String("__proto__")))
                return false;
            skipSpace();
            if (peek() != QLatin1Char(':'))
                return false;
            ++pos;
            skipSpace();
            const int picked = names ? int(names->indexOf(name)) : -1;
            QString memberText;
            if (!value(picked >= 0 ? &memberText : nullptr, nullptr))
                return false;
            if (picked >= 0)
                (*values)[picked] = present(memberText);
            skipSpace();
            if (peek() == QLatin1Char(','))
                ++pos;
            else if (peek() != QLatin1Char('}'))
                return false;
        }
        ++pos; // '}'
        --depth;
        if (text)
            *text = QLatin1String(ObjectText);
        return true;
    }

    bool array(QString *text)
    {
        if (!enter())
            return false;
        ++pos; // '['
        QString joined;
        bool first = true;
        const auto append = [&](const QString &element) {
            if (text) {
                if (!first)
                    joined += QLatin1Char(',');
                joined += element;
            }
            first = false;
        };
        for (;;) {
            skipSpace();
            if (peek() == QLatin1Char(']'))
                break;
            if (peek() == QLatin1Char(',')) { // a hole
                ++pos;
                append(QString());
                continue;
            }
            QString element;
            bool isNull = false;
            if (!value(text ? &element : nullptr, &isNull))
                return false;
            append(isNull ? QString() : element);
            skipSpace();
            if (peek() == QLatin1Char(','))
                ++pos;
            else if (peek() != QLatin1Char(']'))
                return false;
        }
        ++pos; // ']'
        --depth;
        if (text)
            *text = joined;
        return true;
    }

    bool value(QString *text, bool *isNull)
    {
        const QChar c = peek();
        if (c == QLatin1Char('{'))
            return object(text, nullptr, nullptr);
        if (c == QLatin1Char('['))
            return array(text);
        if (c == QLatin1Char('"') || c == QLatin1Char('\''))
            return string(text);
        if (c == QLatin1Char('-')) {
            ++pos;
            return number(true, text);
        }
        if (isDigit(c) || c == QLatin1Char('.'))
            return number(false, text);
        for (const char *word : {"true", "false", "null"}) {
            if (s.mid(pos).startsWith(QLatin1String(word))) {
                pos += qsizetype(qstrlen(word));
                if (text)
                    *text = QLatin1String(word);
                if (isNull)
                    *isNull = word[0] == 'n';
                return true;
            }
        }
        return false;
    }

    bool key(QString &name)
    {
        const QChar c = peek();
        if (c == QLatin1Char('"') || c == QLatin1Char('\''))
            return string(&name);
        if (isDigit(c) || c == QLatin1Char('.'))
            return number(false, &name);
        if (!isNameStart(c))
            return false;
        const qsizetype start = pos;
        while (!atEnd() && isNamePart(s[pos]))
            ++pos;
        name = s.mid(start, pos - start).toString();
        return !isReservedWord(name);
    }

    bool string(QString *text)
    {
        const QChar quote = s[pos++];
        QString out;
        for (;;) {
            if (atEnd())
                return false;
            const QChar c = s[pos++];
            if (c == quote)
                break;
            if (isLineTerminator(c))
                return false;
            if (c != QLatin1Char('\\')) {
                if (text)
                    out += c;
                continue;
            }
            if (atEnd())
                return false;
            const QChar e = s[pos++];
            QChar decoded = e;
            switch (e.unicode()) {
            case 'b': decoded = QChar(0x08); break;
            case 'f': decoded = QChar(0x0c); break;
            case 'n': decoded = QChar(0x0a); break;
            case 'r': decoded = QChar(0x0d); break;
            case 't': decoded = QChar(0x09); break;
            case 'v': decoded = QChar(0x0b); break;
            case '0':
                if (isDigit(peek())) // an octal escape
                    return false;
                decoded = QChar(0);
                break;
            case 'x':
            case 'u': {
                const int count = e == QLatin1Char('x') ? 2 : 4;
                int code = 0;
                for (int i = 0; i < count; ++i) {
                    const int digit = hexValue(peek());
                    if (digit < 0)
                        return false;
                    code = code * 16 + digit;
                    ++pos;
                }
                decoded = QChar(ushort(code));
                break;
            }
            default:
                if (isDigit(e) || isLineTerminator(e))
                    return false;
                break;
            }
            if (text)
                out += decoded;
        }
        if (text)
            *text = out;
        return true;
    }

    bool number(bool negative, QString *text)
    {
        const qsizetype start = pos;
        double result = 0;
        if (peek() == QLatin1Char('0') && pos + 1 < s.size()
            && (s[pos + 1] == QLatin1Char('x') || s[pos + 1] == QLatin1Char('X'))) {
            pos += 2;
            quint64 accumulated = 0;
            const qsizetype digitsStart = pos;
            for (int digit; (digit = hexValue(peek())) >= 0; ++pos) {
                accumulated = accumulated * 16 + quint64(digit);
                if (accumulated > MaxExactInteger)
                    return false;
            }
            if (pos == digitsStart)
                return false;
            result = double(accumulated);
        } else {
            const qsizetype integerStart = pos;
            while (isDigit(peek()))
                ++pos;
            const qsizetype integerDigits = pos - integerStart;
            if (integerDigits > 1 && s[integerStart] == QLatin1Char('0'))
                return false;
            qsizetype fractionDigits = 0;
            if (peek() == QLatin1Char('.')) {
                ++pos;
                const qsizetype fractionStart = pos;
                while (isDigit(peek()))
                    ++pos;
                fractionDigits = pos - fractionStart;
            }
            if (integerDigits + fractionDigits == 0)
                return false;
            if (peek() == QLatin1Char('e') || peek() == QLatin1Char('E')) {
                ++pos;
                if (peek() == QLatin1Char('+') || peek() == QLatin1Char('-'))
                    ++pos;
                const qsizetype exponentStart = pos;
                while (isDigit(peek()))
                    ++pos;
                if (pos == exponentStart)
                    return false;
            }
            if (!text)
                return true;
            // Correctly rounded; out of range gives infinity or zero as a script does.
            result = s.mid(start, pos - start).toLatin1().toDouble();
        }
        if (text)
            *text = scriptNumberText(negative ? -result : result);
        return true;
    }

    QStringView s;
    qsizetype pos = 0;
    int depth = 0;
};

} // namespace

std::optional<QStringList> readObjectLiteral(QStringView text, const QStringList &names)
{
    QStringList values;
    Reader reader(text);
    if (!reader.readTopLevel(names, values))
        return std::nullopt;
    return values;
}

QString scriptNumberText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (value == 0)
        return QStringLiteral("0"); // also for -0
    if (value < 0)
        return QLatin1Char('-') + scriptNumberText(-value);
    if (std::isinf(value))
        return QStringLiteral("Infinity");

    // "d.ddde+XX": the shortest digits that read back as the same number, and their exponent.
    const QString scientific = QString::number(value, 'e', QLocale::FloatingPointShortest);
    const int e = scientific.indexOf(QLatin1Char('e'));
    QString digits = scientific.left(e);
    digits.remove(QLatin1Char('.'));
    const int k = digits.size();
    const int n = scientific.mid(e + 1).toInt() + 1; // value = 0.digits * 10^n

    if (k <= n && n <= 21)
        return digits + QString(n - k, QLatin1Char('0'));
    if (0 < n && n <= 21)
        return digits.left(n) + QLatin1Char('.') + digits.mid(n);
    if (-6 < n && n <= 0)
        return QStringLiteral("0.") + QString(-n, QLatin1Char('0')) + digits;
    const QString exponent = (n - 1 >= 0 ? QStringLiteral("e+") : QStringLiteral("e-"))
                             + QString::number(std::abs(n - 1));
    if (k == 1)
        return digits + exponent;
    return digits.left(1) + QLatin1Char('.') + digits.mid(1) + exponent;
}

} // namespace discovery

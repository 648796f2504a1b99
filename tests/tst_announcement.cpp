#include "announcement.h"
#include "objectliteral.h"
#include "portnumber.h"

#include <QRandomGenerator>
#include <QScriptEngine>
#include <QScriptValueIterator>
#include <QTest>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

using discovery::Announcement;
using discovery::readAnnouncement;
using discovery::readObjectLiteral;
using discovery::scriptNumberText;

Q_DECLARE_METATYPE(Announcement)

namespace {

QByteArray nested(int depth)
{
    QByteArray text = "{\"host ip\":\"1.2.3.4\",\"n\":";
    text += QByteArray(depth - 1, '[');
    text += QByteArray(depth - 1, ']');
    return text + '}';
}

// What the script engine makes of an accepted literal: every own property, name to text.
QMap<QString, QString> evaluated(QScriptEngine &engine, const QString &literal)
{
    QMap<QString, QString> members;
    const QScriptValue value = engine.evaluate(QStringLiteral("value = ") + literal);
    if (engine.hasUncaughtException()) {
        engine.clearExceptions();
        members.insert(QStringLiteral("<exception>"), value.toString());
        return members;
    }
    QScriptValueIterator it(value);
    while (it.hasNext()) {
        it.next();
        members.insert(it.name(), it.value().toString());
    }
    return members;
}

// Random literals for the comparison with the script engine, in every accepted form.
class LiteralGenerator
{
public:
    explicit LiteralGenerator(quint32 seed)
        : random(seed)
    {
    }

    QString object(int depth)
    {
        QString text = QStringLiteral("{");
        const int members = int(random.bounded(5));
        for (int i = 0; i < members; ++i) {
            text += space() + key() + space() + QLatin1Char(':') + space() + value(depth + 1) + space();
            if (i + 1 < members || random.bounded(3) == 0)
                text += QLatin1Char(',');
        }
        return text + QLatin1Char('}');
    }

private:
    QString space() { return QString(int(random.bounded(3)), random.bounded(2) ? QLatin1Char(' ') : QLatin1Char('\n')); }

    QString key()
    {
        static const char *const names[] = {"host ip", "hostname", "a", "data port", "", "x y", "9"};
        switch (random.bounded(4)) {
        case 0: return QStringLiteral("\"%1\"").arg(QLatin1String(names[random.bounded(int(std::size(names)))]));
        case 1: return QStringLiteral("k%1").arg(random.bounded(3));
        case 2: return string();
        default: return number();
        }
    }

    QString value(int depth)
    {
        const int kinds = depth < 4 ? 7 : 5;
        switch (random.bounded(kinds)) {
        case 0: return string();
        case 1: return number();
        case 2: return random.bounded(2) ? QStringLiteral("-") + number() : number();
        case 3: return QLatin1String(random.bounded(2) ? "true" : "false");
        case 4: return QStringLiteral("null");
        case 5: return object(depth);
        default: return array(depth);
        }
    }

    QString array(int depth)
    {
        QString text = QStringLiteral("[");
        const int elements = int(random.bounded(5));
        for (int i = 0; i < elements; ++i) {
            if (random.bounded(5) != 0) // else a hole
                text += value(depth + 1);
            if (i + 1 < elements || random.bounded(2))
                text += QLatin1Char(',');
        }
        return text + QLatin1Char(']');
    }

    QString string()
    {
        static const char *const pieces[] = {"a", " ", "\\n", "\\t", "\\\\", "\\'", "\\\"", "\\x41", "\\u00e9",
                                             "\\u20AC", "\\ud83d\\ude00", "\\q", "\\0", "\\v", "\xc3\xa9", "'", "\""};
        const QLatin1Char quote(random.bounded(2) ? '\'' : '"');
        QString text(quote);
        const int count = int(random.bounded(6));
        for (int i = 0; i < count; ++i) {
            const QString piece = QString::fromUtf8(pieces[random.bounded(int(std::size(pieces)))]);
            if (piece != QString(quote))
                text += piece;
        }
        return text + quote;
    }

    QString number()
    {
        switch (random.bounded(6)) {
        case 0: return QString::number(random.bounded(100000));
        case 1: return QStringLiteral("0x%1").arg(random.generate64() >> 12, 0, 16);
        case 2: return QStringLiteral("%1.%2").arg(random.bounded(1000)).arg(random.bounded(1000));
        case 3: return QStringLiteral("%1e%2").arg(random.bounded(1, 100)).arg(int(random.bounded(80)) - 40);
        case 4: return QStringLiteral(".%1").arg(random.bounded(100000));
        default: {
            double d;
            const quint64 bits = random.generate64();
            std::memcpy(&d, &bits, sizeof d);
            if (!std::isfinite(d))
                d = 1.0 / 3.0;
            return QString::number(std::abs(d), 'g', 17);
        }
        }
    }

    QRandomGenerator random;
};

} // namespace

// The announcement reader: datagram bytes in, the four texts out, nothing ever evaluated.
class tst_Announcement : public QObject
{
    Q_OBJECT

private slots:
    void readsAnnouncement_data();
    void readsAnnouncement();
    void acceptsAnnouncement_data();
    void acceptsAnnouncement();
    void parsePort_data();
    void parsePort();
    void longHostNameIsCut();
    void refusesNonLiteral_data();
    void refusesNonLiteral();
    void nestingDepthLimit_data();
    void nestingDepthLimit();
    void valueText_data();
    void valueText();
    void agreesWithScriptEngine_data();
    void agreesWithScriptEngine();
    void randomLiteralsAgreeWithScriptEngine();
    void numberTextAgreesWithScriptEngine_data();
    void numberTextAgreesWithScriptEngine();
    void randomNumbersAgreeWithScriptEngine();
    void hostileBytesDoNoHarm_data();
    void hostileBytesDoNoHarm();

private:
    QScriptEngine engine;
};

void tst_Announcement::readsAnnouncement_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("hostIp");
    QTest::addColumn<QString>("atPort");
    QTest::addColumn<QString>("dataPort");
    QTest::addColumn<QString>("hostName");

    QTest::newRow("numbers and strings, no hostname")
        << QByteArray(R"({"host ip":"192.168.1.20","atcomd port":8001,"data port":8000})")
        << "192.168.1.20" << "8001" << "8000" << "quarnel";
    QTest::newRow("all four as strings")
        << QByteArray(R"({"hostname":"bench","data port":"8000","atcomd port":"8001","host ip":"10.0.0.7"})")
        << "10.0.0.7" << "8001" << "8000" << "bench";
    QTest::newRow("empty hostname stays empty")
        << QByteArray(R"({"host ip":"10.0.0.7","hostname":""})") << "10.0.0.7" << "" << "" << "";
    QTest::newRow("capitalised name is another member")
        << QByteArray(R"({"Host IP":"10.0.0.7","HostName":"x"})") << "" << "" << "" << "quarnel";
    QTest::newRow("empty host ip") << QByteArray(R"({"host ip":"","hostname":"m"})") << "" << "" << "" << "m";
    QTest::newRow("last occurrence wins")
        << QByteArray(R"({"host ip":"1.1.1.1","hostname":"a","host ip":"2.2.2.2","hostname":"b"})")
        << "2.2.2.2" << "" << "" << "b";
    QTest::newRow("trailing NUL and garbage")
        << QByteArray("{\"host ip\":\"10.0.0.7\",\"data port\":8000}\0garbage{[\"", 47)
        << "10.0.0.7" << "" << "8000" << "quarnel";
    QTest::newRow("script syntax: quotes, bare name, trailing comma")
        << QByteArray("{'host ip': '10.0.0.7', hostname: 'bare', \"data port\": 0x1F40,}")
        << "10.0.0.7" << "" << "8000" << "bare";
    QTest::newRow("escaped member name")
        << QByteArray(R"({"host\u0020ip":"10.0.0.7","host\x6eame":"esc"})") << "10.0.0.7" << "" << "" << "esc";
    QTest::newRow("blanks everywhere")
        << QByteArray(" \t\r\n{ \"host ip\" :\n\"10.0.0.7\" , \"atcomd port\"\t: 1 } \n")
        << "10.0.0.7" << "1" << "" << "quarnel";
    QTest::newRow("other members ignored")
        << QByteArray(R"({"x":[1,{"y":[]}],"host ip":"10.0.0.7","z":{"hostname":"inner"}})")
        << "10.0.0.7" << "" << "" << "quarnel";
    QTest::newRow("UTF-8 host name")
        << QByteArray("{\"host ip\":\"10.0.0.7\",\"hostname\":\"k\xc3\xbc" "che\"}") << "10.0.0.7" << ""
        << "" << QString::fromUtf8("k\xc3\xbc" "che");
}

void tst_Announcement::readsAnnouncement()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, hostIp);
    QFETCH(QString, atPort);
    QFETCH(QString, dataPort);
    QFETCH(QString, hostName);

    const std::optional<Announcement> announcement = readAnnouncement(datagram);
    QVERIFY(announcement);
    QCOMPARE(announcement->hostIp, hostIp);
    QCOMPARE(announcement->atPort, atPort);
    QCOMPARE(announcement->dataPort, dataPort);
    QCOMPARE(announcement->hostName, hostName);
}

void tst_Announcement::acceptsAnnouncement_data()
{
    QTest::addColumn<QString>("hostIp");
    QTest::addColumn<QString>("port"); // announced as both ports
    QTest::addColumn<bool>("accepted");
    QTest::newRow("module") << "192.168.1.20" << "8000" << true;
    QTest::newRow("ports not announced") << "10.0.0.7" << "" << true;
    QTest::newRow("port 0") << "10.0.0.7" << "0" << false;
    QTest::newRow("empty host ip") << "" << "8000" << false;
    QTest::newRow("host ip of three parts") << "10.0.7" << "8000" << false;
    QTest::newRow("host ip part above 255") << "10.0.0.256" << "8000" << false;
    QTest::newRow("host ip with a leading zero") << "10.0.0.07" << "8000" << false;
    QTest::newRow("host ip with text after it") << "10.0.0.7 ; rm" << "8000" << false;
    QTest::newRow("IPv6 host ip") << "::1" << "8000" << false;
}

// The rule of the window and quarnel-cli scan: addresses and ports that an upload could not use
// as announced make the announcement ignored.
void tst_Announcement::acceptsAnnouncement()
{
    QFETCH(QString, hostIp);
    QFETCH(QString, port);
    QFETCH(bool, accepted);
    const QByteArray datagram = QStringLiteral(R"({"host ip":"%1","data port":"%2","atcomd port":"%2"})")
                                    .arg(hostIp, port)
                                    .toUtf8();
    const std::optional<Announcement> announcement = discovery::acceptAnnouncement(datagram);
    QCOMPARE(bool(announcement), accepted);
    if (accepted)
        QCOMPARE(announcement->dataPort, port);
}

// The one reading of a port, for announcements, row cells and command-line options alike.
void tst_Announcement::parsePort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port"); // 0: no port

    QTest::newRow("decimal") << "8000" << 8000;
    QTest::newRow("leading zero is still decimal") << "08000" << 8000;
    QTest::newRow("highest port") << "65535" << 65535;
    QTest::newRow("above 65535") << "65536" << 0;
    QTest::newRow("beyond 16 bits, not wrapped") << "73536" << 0;
    QTest::newRow("port 0") << "0" << 0;
    QTest::newRow("minus sign") << "-1" << 0;
    QTest::newRow("plus sign") << "+80" << 0;
    QTest::newRow("fraction") << "8000.5" << 0;
    QTest::newRow("blank inside") << "80 80" << 0;
    QTest::newRow("hexadecimal") << "0x1F40" << 0;
    QTest::newRow("trailing letter") << "8000a" << 0;
    QTest::newRow("empty, as a port not announced") << "" << 0;
}

void tst_Announcement::parsePort()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    QCOMPARE(int(discovery::parsePort(text).value_or(0)), port);
    QCOMPARE(int(discovery::portNumber(text)), port);
}

// A host name is kept up to 255 bytes of UTF-8, never cut inside a character.
void tst_Announcement::longHostNameIsCut()
{
    const QString twoByte = QString::fromUtf8("\xc3\xbc");
    for (const QString &name : {QString(300, 'n'), QString(254, 'n') + twoByte, QString(200, twoByte.at(0))}) {
        const QByteArray datagram = R"({"host ip":"10.0.0.7","hostname":")" + name.toUtf8() + R"("})";
        const std::optional<Announcement> announcement = discovery::acceptAnnouncement(datagram);
        QVERIFY(announcement);
        const QByteArray kept = announcement->hostName.toUtf8();
        QVERIFY(kept.size() <= discovery::MaxHostNameBytes && kept.size() >= discovery::MaxHostNameBytes - 1);
        QVERIFY(name.startsWith(announcement->hostName));
    }
}

void tst_Announcement::refusesNonLiteral_data()
{
    QTest::addColumn<QByteArray>("datagram");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("only NUL") << QByteArray("\0{\"host ip\":\"1.2.3.4\"}", 22);
    QTest::newRow("NUL inside the object") << QByteArray("{\"host ip\":\"1.2.3.4\"\0}", 22);
    QTest::newRow("plain text") << QByteArray("hello");
    QTest::newRow("top-level array") << QByteArray(R"([{"host ip":"1.2.3.4"}])");
    QTest::newRow("top-level string") << QByteArray(R"("host ip")");
    QTest::newRow("top-level number") << QByteArray("42");
    QTest::newRow("endless loop") << QByteArray("0; while (true) {}");
    QTest::newRow("loop inside a value") << QByteArray(R"({"host ip": (function(){for(;;){}})()})");
    QTest::newRow("call") << QByteArray(R"({"host ip": f()})");
    QTest::newRow("assignment") << QByteArray(R"({"host ip": value = "1.2.3.4"})");
    QTest::newRow("assignment after object") << QByteArray(R"({"host ip":"1.2.3.4"}; x = 1)");
    QTest::newRow("comma expression") << QByteArray(R"({"host ip":"1.2.3.4"}, 1)");
    QTest::newRow("member access") << QByteArray(R"({"host ip":"1.2.3.4"}.x)");
    QTest::newRow("concatenation") << QByteArray(R"({"host ip": "1.2" + ".3.4"})");
    QTest::newRow("huge array expression") << QByteArray(R"({"host ip": new Array(1e9).join("x")})");
    QTest::newRow("string repetition") << QByteArray(R"({"host ip": "x".repeat(1e9)})");
    QTest::newRow("identifier value") << QByteArray(R"({"host ip": ip})");
    QTest::newRow("undefined") << QByteArray(R"({"host ip": undefined})");
    QTest::newRow("NaN") << QByteArray(R"({"host ip": NaN})");
    QTest::newRow("Infinity") << QByteArray(R"({"host ip": Infinity})");
    QTest::newRow("getter") << QByteArray(R"({get "host ip"() { return "1.2.3.4"; }})");
    QTest::newRow("function value") << QByteArray(R"({"host ip": function() {}})");
    QTest::newRow("regular expression") << QByteArray(R"({"host ip": /x/})");
    QTest::newRow("trailing garbage") << QByteArray(R"({"host ip":"1.2.3.4"} x)");
    QTest::newRow("second object") << QByteArray(R"({"host ip":"1.2.3.4"}{})");
    QTest::newRow("trailing semicolon") << QByteArray(R"({"host ip":"1.2.3.4"};)");
    QTest::newRow("comment") << QByteArray(R"({"host ip":"1.2.3.4"} // c)");
    QTest::newRow("unterminated object") << QByteArray(R"({"host ip":"1.2.3.4")");
    QTest::newRow("unterminated string") << QByteArray(R"({"host ip":"1.2.3.4})");
    QTest::newRow("raw line break in string") << QByteArray("{\"host ip\":\"1.2\n.3.4\"}");
    QTest::newRow("line continuation") << QByteArray("{\"host ip\":\"1.2\\\n.3.4\"}");
    QTest::newRow("missing colon") << QByteArray(R"({"host ip" "1.2.3.4"})");
    QTest::newRow("missing value") << QByteArray(R"({"host ip":})");
    QTest::newRow("missing comma") << QByteArray(R"({"a":1 "host ip":"1.2.3.4"})");
    QTest::newRow("double comma") << QByteArray(R"({"host ip":"1.2.3.4",,})");
    QTest::newRow("lone comma") << QByteArray("{,}");
    QTest::newRow("reserved word as name") << QByteArray(R"({if: 1, "host ip":"1.2.3.4"})");
    QTest::newRow("escape in bare name") << QByteArray(R"({host\u0069p: 1})");
    QTest::newRow("non-ASCII bare name") << QByteArray("{\xc3\xa9: 1}");
    QTest::newRow("octal number") << QByteArray(R"({"host ip":"1.2.3.4","data port":010})");
    QTest::newRow("leading zero") << QByteArray(R"({"host ip":"1.2.3.4","data port":08})");
    QTest::newRow("octal escape") << QByteArray(R"({"host ip":"1.2.3.4\1"})");
    QTest::newRow("NUL escape before digit") << QByteArray(R"({"host ip":"\01"})");
    QTest::newRow("short hex escape") << QByteArray(R"({"host ip":"\x4"})");
    QTest::newRow("short unicode escape") << QByteArray(R"({"host ip":"\u004"})");
    QTest::newRow("braced unicode escape") << QByteArray(R"({"host ip":"\u{41}"})");
    QTest::newRow("plus sign") << QByteArray(R"({"host ip":"1.2.3.4","data port":+8000})");
    QTest::newRow("blank after minus") << QByteArray(R"({"host ip":"1.2.3.4","data port":- 8000})");
    QTest::newRow("double minus") << QByteArray(R"({"host ip":"1.2.3.4","data port":--8000})");
    QTest::newRow("minus on string") << QByteArray(R"({"host ip":"1.2.3.4","data port":-"8000"})");
    QTest::newRow("exponent without digits") << QByteArray(R"({"host ip":"1.2.3.4","data port":1e})");
    QTest::newRow("hex without digits") << QByteArray(R"({"host ip":"1.2.3.4","data port":0x})");
    QTest::newRow("lone dot") << QByteArray(R"({"host ip":"1.2.3.4","data port":.})");
    QTest::newRow("two dots") << QByteArray(R"({"host ip":"1.2.3.4","data port":1.2.3})");
    QTest::newRow("hex above 2^53") << QByteArray(R"({"host ip":"1.2.3.4","data port":0x20000000000001})");
    QTest::newRow("nested toString") << QByteArray(R"({"host ip":"1.2.3.4","hostname":{"toString":"x"}})");
    QTest::newRow("nested __proto__ in array") << QByteArray(R"({"host ip":"1.2.3.4","x":[{"__proto__":[]}]})");
    QTest::newRow("escaped nested toString") << QByteArray(R"({"host ip":"1.2.3.4","x":{"to\u0053tring":1}})");
    QTest::newRow("parenthesised") << QByteArray(R"(({"host ip":"1.2.3.4"}))");
    QTest::newRow("unclosed array") << QByteArray(R"({"host ip":"1.2.3.4","x":[1,2})");
}

void tst_Announcement::refusesNonLiteral()
{
    QFETCH(QByteArray, datagram);
    QVERIFY(!readAnnouncement(datagram));
}

void tst_Announcement::nestingDepthLimit_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("at the limit") << discovery::ObjectLiteralMaxDepth << true;
    QTest::newRow("one past the limit") << discovery::ObjectLiteralMaxDepth + 1 << false;
    QTest::newRow("ten thousand levels") << 10000 << false;
}

void tst_Announcement::nestingDepthLimit()
{
    QFETCH(int, depth);
    QFETCH(bool, accepted);
    QCOMPARE(bool(readAnnouncement(nested(depth))), accepted);
    // Objects count as arrays do.
    QByteArray objects = "{\"host ip\":\"1.2.3.4\",\"n\":";
    objects += QByteArray(depth - 1, '{').replace("{", "{\"a\":");
    objects += "1" + QByteArray(depth - 1, '}') + '}';
    QCOMPARE(bool(readAnnouncement(objects)), accepted);
}

void tst_Announcement::valueText_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("integer") << "8000" << "8000";
    QTest::newRow("trailing zero dropped") << "1.50" << "1.5";
    QTest::newRow("hex") << "0x1F40" << "8000";
    QTest::newRow("hex at 2^53") << "0x20000000000000" << "9007199254740992";
    QTest::newRow("1e21 in exponent form") << "1e21" << "1e+21";
    QTest::newRow("1e20 in plain form") << "1e20" << "100000000000000000000";
    QTest::newRow("1e-6 in plain form") << "1e-6" << "0.000001";
    QTest::newRow("1e-7 in exponent form") << "1e-7" << "1e-7";
    QTest::newRow("negative") << "-8000" << "-8000";
    QTest::newRow("negative zero") << "-0" << "0";
    QTest::newRow("leading dot") << ".5" << "0.5";
    QTest::newRow("trailing dot") << "5." << "5";
    QTest::newRow("shortest digits") << "0.1" << "0.1";
    QTest::newRow("rounded to double") << "123456789012345678901234567890" << "1.2345678901234568e+29";
    QTest::newRow("overflow") << "1e400" << "Infinity";
    QTest::newRow("negative overflow") << "-1e400" << "-Infinity";
    QTest::newRow("underflow") << "1e-400" << "0";
    QTest::newRow("capital exponent with sign") << "25E+2" << "2500";
    QTest::newRow("true") << "true" << "true";
    QTest::newRow("false") << "false" << "false";
    QTest::newRow("null") << "null" << "null";
    QTest::newRow("object") << "{\"a\":1}" << "[object Object]";
    QTest::newRow("empty array") << "[]" << "";
    QTest::newRow("array joined") << "[1, \"a\", [2, 3], true]" << "1,a,2,3,true";
    QTest::newRow("array null and holes empty") << "[null, , 1, ]" << ",,1";
    QTest::newRow("array of objects") << "[{}, {}]" << "[object Object],[object Object]";
    QTest::newRow("escapes") << R"("\x41\u0042\n\t\\\'\"\q")" << "AB\n\t\\'\"q";
    QTest::newRow("NUL escape") << R"("a\0b")" << QString::fromUtf16(u"a\u0000b", 3);
    QTest::newRow("surrogate pair escape") << R"("\ud83d\ude00")" << QString::fromUtf8("\xf0\x9f\x98\x80");
    QTest::newRow("single quotes") << "'say \"hi\"'" << "say \"hi\"";
}

void tst_Announcement::valueText()
{
    QFETCH(QString, value);
    QFETCH(QString, text);
    const std::optional<QStringList> values = readObjectLiteral(QStringLiteral("{\"v\": %1}").arg(value), {"v"});
    QVERIFY(values);
    QCOMPARE(values->at(0), text);
    QVERIFY(!values->at(0).isNull());
}

void tst_Announcement::agreesWithScriptEngine_data()
{
    QTest::addColumn<QString>("literal");
    QTest::newRow("announcement") << R"({"host ip":"192.168.1.20","atcomd port":8001,"data port":8000})";
    QTest::newRow("numbers") << "{a: 1.50, b: 0x1F40, c: 1e21, d: 1e-7, e: -0, f: 5e-324, g: 1.7976931348623157e308}";
    QTest::newRow("rounding") << "{a: 0.1, b: 0.30000000000000004, c: 9007199254740993, d: 2.5e-7, e: 4.35}";
    QTest::newRow("number keys") << "{1: 'a', 1.5: 'b', 0x10: 'c', 1e3: 'd', .5: 'e'}";
    QTest::newRow("literals") << "{a: true, b: false, c: null, d: {}, e: [], f: [[], [[]], [{}]]}";
    QTest::newRow("holes") << "{a: [1,,2], b: [,], c: [1,], d: [1,,], e: [null, true, {}]}";
    QTest::newRow("duplicates") << "{a: 1, b: 2, a: 3, 'a': 4}";
    QTest::newRow("escapes") << R"({a: "\b\f\n\r\t\v\0", b: '\x7f\u00ff\uFFFF', c: "\a\c\d\e\g"})";
    QTest::newRow("empty name") << R"({"": 1, '': 2})";
    QTest::newRow("__proto__ at top level") << R"({"__proto__": {"a": 1}, "b": 2})";
    QTest::newRow("toString at top level") << R"({"toString": 1, "valueOf": 2, "b": 3})";
}

void tst_Announcement::agreesWithScriptEngine()
{
    QFETCH(QString, literal);
    const QMap<QString, QString> expected = evaluated(engine, literal);
    QVERIFY2(!expected.contains("<exception>"), qPrintable(expected.value("<exception>")));
    const std::optional<QStringList> values = readObjectLiteral(literal, expected.keys());
    QVERIFY(values);
    QCOMPARE(*values, expected.values());
}

void tst_Announcement::randomLiteralsAgreeWithScriptEngine()
{
    LiteralGenerator generator(20240521);
    for (int i = 0; i < 3000; ++i) {
        const QString literal = generator.object(0);
        const QMap<QString, QString> expected = evaluated(engine, literal);
        QVERIFY2(!expected.contains("<exception>"), qPrintable(literal));
        const std::optional<QStringList> values = readObjectLiteral(literal, expected.keys());
        QVERIFY2(values, qPrintable(literal));
        QCOMPARE(*values, expected.values());
    }
}

void tst_Announcement::numberTextAgreesWithScriptEngine_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("zero") << 0.0;
    QTest::newRow("negative zero") << -0.0;
    QTest::newRow("one") << 1.0;
    QTest::newRow("third") << 1.0 / 3.0;
    QTest::newRow("2^53 + 2") << 9007199254740994.0;
    QTest::newRow("largest plain") << 1e20 * 9.99;
    QTest::newRow("1e21") << 1e21;
    QTest::newRow("smallest plain") << 1e-6;
    QTest::newRow("below plain") << 9.99e-7;
    QTest::newRow("largest") << std::numeric_limits<double>::max();
    QTest::newRow("smallest normal") << std::numeric_limits<double>::min();
    QTest::newRow("smallest subnormal") << std::numeric_limits<double>::denorm_min();
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
    QTest::newRow("negative infinity") << -std::numeric_limits<double>::infinity();
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
}

void tst_Announcement::numberTextAgreesWithScriptEngine()
{
    QFETCH(double, value);
    QCOMPARE(scriptNumberText(value), QScriptValue(&engine, value).toString());
}

void tst_Announcement::randomNumbersAgreeWithScriptEngine()
{
    QRandomGenerator random(7);
    for (int i = 0; i < 100000; ++i) {
        double value;
        const quint64 bits = random.generate64();
        std::memcpy(&value, &bits, sizeof value);
        if (i % 2) // also numbers a module would send
            value = double(bits % 100000) / double(1 + bits % 1000);
        else if (std::isnan(value)) // the engine boxes values in NaN space: only its own NaN is safe
            value = std::numeric_limits<double>::quiet_NaN();
        const QString expected = QScriptValue(&engine, value).toString();
        if (scriptNumberText(value) != expected)
            QCOMPARE(scriptNumberText(value), expected); // reports the first difference
    }
}

void tst_Announcement::hostileBytesDoNoHarm_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("hostIp");

    const QByteArray badBytes = "\xff\xfe\xc3\x28\xed\xa0\x80";
    QTest::newRow("invalid UTF-8 in a string")
        << "{\"host ip\":\"" + badBytes + "\"}" << true << QString::fromUtf8(badBytes);
    QTest::newRow("invalid UTF-8 outside strings") << "{" + badBytes + ":1}" << false << QString();
    QByteArray largest = R"({"host ip":"1.2.3.4","hostname":")";
    largest += QByteArray(65507 - largest.size() - 2, 'x') + "\"}";
    QTest::newRow("65507 bytes") << largest << true << "1.2.3.4";
    QByteArray expanding = R"({"host ip":"1.2.3.4","hostname":[)";
    while (expanding.size() < 65500)
        expanding += "1e20,{},";
    QTest::newRow("65500 bytes of expanding values") << expanding + "0]}" << true << "1.2.3.4";
    QTest::newRow("65507 opening brackets") << QByteArray(65507, '[') << false << QString();
    QTest::newRow("65507 opening braces") << QByteArray(65507, '{') << false << QString();
    QTest::newRow("65507 quotes") << QByteArray(65507, '"') << false << QString();
    QTest::newRow("65495 digits") << "{\"host ip\":" + QByteArray(65495, '7') + "}" << true << "Infinity";
    QTest::newRow("65493 backslashes") << "{\"host ip\":\"" + QByteArray(65493, '\\') + "\"}" << false << QString();
    QTest::newRow("65507 NULs") << QByteArray(65507, '\0') << false << QString();
}

void tst_Announcement::hostileBytesDoNoHarm()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, accepted);
    QFETCH(QString, hostIp);
    const std::optional<Announcement> announcement = readAnnouncement(datagram);
    QCOMPARE(bool(announcement), accepted);
    if (announcement)
        QCOMPARE(announcement->hostIp, hostIp);
}

QTEST_GUILESS_MAIN(tst_Announcement)
#include "tst_announcement.moc"

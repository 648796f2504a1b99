// libFuzzer target: the announcement reader must take any bytes without a crash, and every
// literal it accepts must give, member by member, the texts the script engine gives for it.
#include "announcement.h"
#include "objectliteral.h"

#include <QCoreApplication>
#include <QMap>
#include <QScriptEngine>
#include <QScriptValueIterator>

#include <cstddef>
#include <cstdint>

// The engine keeps its objects in a heap of its own that the leak checker cannot see into, so
// what it allocates looks lost; leaks anywhere else are still reported.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libQt5Script.so\n";
}

// The script engine needs an application object.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char *>(data), int(size));
    const std::optional<discovery::Announcement> announcement = discovery::readAnnouncement(datagram);

    const int end = datagram.indexOf('\0');
    const QString text = QString::fromUtf8(datagram.constData(), end < 0 ? datagram.size() : end);
    if (bool(discovery::readObjectLiteral(text, {})) != bool(announcement))
        __builtin_trap();
    if (!announcement)
        return 0;

    // Accepted: a plain literal, so evaluating it is safe and bounded.
    static QScriptEngine engine;
    static int evaluations = 0;
    const QScriptValue value = engine.evaluate(QStringLiteral("value = ") + text);
    if (engine.hasUncaughtException())
        __builtin_trap();
    QMap<QString, QString> expected;
    QScriptValueIterator it(value);
    while (it.hasNext()) {
        it.next();
        expected.insert(it.name(), it.value().toString());
    }
    if (engine.hasUncaughtException())
        __builtin_trap();
    const std::optional<QStringList> values = discovery::readObjectLiteral(text, expected.keys());
    if (!values || *values != expected.values())
        __builtin_trap();
    if (++evaluations % 1000 == 0)
        engine.collectGarbage();
    return 0;
}

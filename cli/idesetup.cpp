#include "idesetup.h"

#include "platform.h"
#include "quarnelversion.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

// Q_INIT_RESOURCE names a function of the global namespace: the templates live in this library.
static void initPlatformTemplates()
{
    Q_INIT_RESOURCE(ide);
}

namespace cli {

namespace {

const char CliPlaceholder[] = "@QUARNEL_CLI@";
const char VersionPlaceholder[] = "@QUARNEL_VERSION@";
const char SketchbookKey[] = "sketchbook.path";
const char QuoteChars[] = "\"'";

// The templates quote the program's argument with '"'; these are those arguments.
const char *const QuotedInTemplates[] = {"\"@QUARNEL_CLI@\"", "\"{path}\"", "\"{cmd.path}\""};

#if defined(Q_OS_WIN)
const char SystemSuffix[] = ".windows";
#elif defined(Q_OS_MACOS)
const char SystemSuffix[] = ".macosx";
#else
const char SystemSuffix[] = ".linux";
#endif

// The quote that carries `path` through toolArguments() as one argument.
std::optional<QChar> quoteFor(const QString &path)
{
    for (const char q : {'"', '\''}) {
        const QString quote(QLatin1Char{q});
        if (toolArguments(quote + path + quote + QStringLiteral(" discovery"))
            == QStringList{path, QStringLiteral("discovery")})
            return QLatin1Char(q);
    }
    return std::nullopt;
}

} // namespace

std::optional<QStringList> toolArguments(const QString &line)
{
    QStringList arguments;
    QString quoted;
    QChar quote;
    for (QString word : line.split(QLatin1Char(' '))) {
        if (quote.isNull()) {
            if (word.isEmpty() || !QLatin1String(QuoteChars).contains(word.at(0))) {
                if (!word.trimmed().isEmpty())
                    arguments << word;
                continue;
            }
            quote = word.at(0);
            word.remove(0, 1);
            quoted.clear();
        }
        if (!word.endsWith(quote)) {
            quoted += word + QLatin1Char(' ');
            continue;
        }
        quoted += word.left(word.size() - 1);
        if (!quoted.trimmed().isEmpty())
            arguments << quoted;
        quote = QChar();
    }
    if (!quote.isNull())
        return std::nullopt;
    return arguments;
}

QVector<PlatformFile> idePlatformFiles(const QString &cliPath, QString *problem)
{
    const QString path = QDir::fromNativeSeparators(cliPath);
    const int brace = path.indexOf(QLatin1Char('{'));
    const std::optional<QChar> quote = quoteFor(path);
    if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r')))
        *problem = QStringLiteral("it holds a line end");
    else if (brace >= 0 && path.indexOf(QLatin1Char('}'), brace) > brace)
        *problem = QStringLiteral("the sketch build tools would read its \"{...}\" as one of their placeholders");
    else if (!quote)
        *problem = QStringLiteral("it holds both quotes, '\"' and \"'\", each ending a word, so the sketch build tools "
                                  "cannot take it as one argument");
    if (!problem->isEmpty())
        return {};
    initPlatformTemplates();
    QVector<PlatformFile> files;
    for (const char *name : {"boards.txt", "platform.txt"}) {
        QFile file(QStringLiteral(":/ide/") + QLatin1String(name));
        file.open(QIODevice::ReadOnly); // built in: it cannot fail
        QByteArray contents = file.readAll();
        for (const char *argument : QuotedInTemplates) {
            QByteArray requoted(argument);
            requoted.front() = requoted.back() = char(quote->unicode());
            contents.replace(argument, requoted);
        }
        contents.replace(CliPlaceholder, path.toUtf8());
        contents.replace(VersionPlaceholder, QUARNEL_VERSION);
        files.append({QLatin1String(name), contents});
    }
    return files;
}

namespace {

// The value of `key` in a key=value file of the sketch build tools; empty when it has none.
QString valueOf(const QByteArray &contents, const QByteArray &key)
{
    for (const QByteArray &line : contents.split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed() == key)
            return QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return QString();
}

} // namespace

QString ideBoardName(const QString &id)
{
    initPlatformTemplates();
    QFile boards(QStringLiteral(":/ide/boards.txt"));
    boards.open(QIODevice::ReadOnly); // built in: it cannot fail
    return id.isEmpty() ? QString() : valueOf(boards.readAll(), id.toUtf8() + ".name");
}

QString sketchbookFromPreferences(const QByteArray &preferences)
{
    QString sketchbook;
    for (const QByteArray &line : preferences.split('\n')) {
        const int equals = line.indexOf('=');
        if (line.trimmed().startsWith('#') || equals <= 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        if (key == SketchbookKey || key == QByteArray(SketchbookKey) + SystemSuffix)
            sketchbook = QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return sketchbook;
}

QString defaultSketchbook()
{
    QFile preferences(platform::arduinoSettingsDirectory() + QStringLiteral("/preferences.txt"));
    if (preferences.open(QIODevice::ReadOnly)) {
        const QString fromIde = sketchbookFromPreferences(preferences.readAll());
        if (!fromIde.isEmpty())
            return fromIde;
    }
    return platform::defaultSketchbookDirectory();
}

QString platformDirectory(const QString &sketchbook)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(sketchbook) + QStringLiteral("/hardware/quarnel/avr"));
}

bool writePlatform(const QString &dir, const QVector<PlatformFile> &files, QString *error)
{
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create the directory %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    for (const PlatformFile &file : files) {
        QSaveFile out(dir + QLatin1Char('/') + file.name);
        if (!out.open(QIODevice::WriteOnly) || out.write(file.contents) != file.contents.size() || !out.commit()) {
            *error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(out.fileName()), out.errorString());
            return false;
        }
    }
    return true;
}

} // namespace cli

#include "platform.h"

#include <QByteArrayList>
#include <QProcess>

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace platform {

namespace {

const int InterpreterWait = 30000; // ms, for the interpreter to start, and again to finish

const char DriveLine[] = "c:\n";
const char BuildDirLine[] = "dir D build* /o-d/tw\n";
const char HexFileLine[] = "dir *.hex  /o-d/tw \n";

const wchar_t *wide(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

QByteArray cdTempLine(const QString &userName)
{
    return QByteArray("cd \\Users\\") + userName.toLatin1() + QByteArray("\\AppData\\Local\\Temp\n");
}

// The interpreter runs every line it reads: a name that would end the cd line early or chain
// a second command is not handed to it (the listing then covers the Temp directory, as after
// any failed cd).
bool safeForCd(const QString &dir)
{
    for (const QChar c : dir) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('&')
            || c == QLatin1Char('|') || c == QLatin1Char('<') || c == QLatin1Char('>')
            || c == QLatin1Char('^') || c == QChar(0))
            return false;
    }
    return true;
}

// Feeds `lines` to a fresh command interpreter and returns what it printed, up to its first NUL.
// The waits are not judged: whatever was captured is searched.
QString runInterpreter(const QByteArrayList &lines)
{
    QProcess cmd;
    cmd.start(QStringLiteral("cmd"), QStringList(), QIODevice::ReadWrite);
    cmd.waitForStarted(InterpreterWait);
    for (const QByteArray &line : lines)
        cmd.write(line);
    cmd.closeWriteChannel();
    cmd.waitForFinished(InterpreterWait);
    QByteArray out = cmd.readAllStandardOutput();
    const int nul = out.indexOf('\0');
    if (nul >= 0)
        out.truncate(nul);
    return QString::fromLocal8Bit(out);
}

} // namespace

QString currentUserName()
{
    DWORD size = 0;
    GetUserNameW(nullptr, &size);
    std::vector<wchar_t> name(size > 0 ? size : 1);
    size = DWORD(name.size());
    if (!GetUserNameW(name.data(), &size))
        return QString();
    return QString::fromWCharArray(name.data());
}

QString tempDirectory(const QString &userName)
{
    return QStringLiteral("c:\\Users\\") + userName + QStringLiteral("\\AppData\\Local\\Temp");
}

QString buildOutputPath(const QString &userName, const QString &dir, const QString &fileName)
{
    return tempDirectory(userName) + QLatin1Char('\\') + dir + QLatin1Char('\\') + fileName;
}

bool lastWriteTimeUtc(const QString &path, QDateTime *utc)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data))
        return false;
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&data.ftLastWriteTime, &st))
        return false;
    *utc = QDateTime(QDate(st.wYear, st.wMonth, st.wDay), QTime(st.wHour, st.wMinute, st.wSecond), Qt::UTC);
    return true;
}

QString buildDirListing(const QString &userName)
{
    return runInterpreter({DriveLine, cdTempLine(userName), BuildDirLine});
}

QString hexFileListing(const QString &userName, const QString &dir)
{
    QByteArrayList lines{DriveLine, cdTempLine(userName), BuildDirLine};
    if (safeForCd(dir))
        lines << QByteArray("cd ") + dir.toLocal8Bit() + QByteArray("\n");
    lines << HexFileLine;
    return runInterpreter(lines);
}

FILE *openFile(const QString &path, const char *mode)
{
    const std::wstring wideMode = QString::fromLatin1(mode).toStdWString();
    return _wfopen(wide(path), wideMode.c_str());
}

bool replaceFile(const QString &from, const QString &to)
{
    if (MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING))
        return true;
    errno = EACCES;
    return false;
}

void releaseFreeMemory()
{
    // The Windows heap decommits freed pages by itself.
}

} // namespace platform

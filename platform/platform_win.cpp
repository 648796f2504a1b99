#include "platform.h"

#include <QByteArrayList>
#include <QProcess>
#include <QStandardPaths>

#include <winsock2.h> // before windows.h, which would bring the older winsock.h
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {

namespace {

const int InterpreterWait = 30000; // ms, for the interpreter to start, and again to finish
const int PromptWait = 5000;       // ms of silence after which the next line is written anyway

const char BuildDirLine[] = "dir D build* /o-d/tw\n";
const char HexFileLine[] = "dir *.hex  /o-d/tw \n";

const wchar_t *wide(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

// The path in a form that reaches the interpreter unchanged: the interpreter reads its input in
// another code page than the one the path is encoded in, so a path with characters outside
// ASCII is given by its short (8.3) name, which is ASCII where the volume keeps short names.
QString interpreterPath(const QString &path)
{
    bool ascii = true;
    for (const QChar c : path)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        return path;
    const DWORD size = GetShortPathNameW(wide(path), nullptr, 0);
    std::vector<wchar_t> shortPath(size > 0 ? size : 1);
    const DWORD length = GetShortPathNameW(wide(path), shortPath.data(), DWORD(shortPath.size()));
    return length > 0 && length < shortPath.size() ? QString::fromWCharArray(shortPath.data(), int(length)) : path;
}

// The interpreter's lines that enter the Temp directory: its drive, then the directory (quoted,
// so that no character of the path can end the line's command early).
QByteArrayList enterTempLines()
{
    const QString temp = interpreterPath(tempDirectory(QString()));
    QByteArrayList lines;
    if (temp.size() >= 2 && temp.at(1) == QLatin1Char(':'))
        lines << temp.left(2).toLocal8Bit() + QByteArray("\n");
    lines << QByteArray("cd \"") + temp.toLocal8Bit() + QByteArray("\"\n");
    return lines;
}

// errno for a failed Windows file call, so that callers report it as on any other system.
void setErrnoFromLastError()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
        errno = ENOENT;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        errno = EACCES;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    default:
        errno = EIO;
        break;
    }
}

// Every file is opened with all sharing allowed, so that a file being read can be replaced or
// removed at the same time, as on other systems.
HANDLE openShared(const QString &path, DWORD access, DWORD disposition, DWORD flags)
{
    const HANDLE h = CreateFileW(wide(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        setErrnoFromLastError();
    return h;
}

// Collects what the interpreter prints until a new prompt ends it, or it has printed nothing
// for PromptWait ms (an interpreter that shows no prompt then gets its next line all the same).
void waitForPrompt(QProcess &cmd, QByteArray *out)
{
    const int before = out->size();
    while (cmd.waitForReadyRead(PromptWait)) {
        *out += cmd.readAllStandardOutput();
        if (out->size() > before && endsAtPrompt(*out))
            return;
    }
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
// Each line is written once the interpreter shows its prompt, as a person would type it: some
// interpreters run only the first line of input that arrives all at once. The waits are not
// judged: whatever was captured is searched.
QString runInterpreter(const QByteArrayList &lines)
{
    QProcess cmd;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PROMPT"), QStringLiteral("$P$G")); // the default prompt
    cmd.setProcessEnvironment(environment);
    cmd.start(QStringLiteral("cmd"), QStringList(), QIODevice::ReadWrite);
    cmd.waitForStarted(InterpreterWait);
    QByteArray out;
    for (const QByteArray &line : lines) {
        waitForPrompt(cmd, &out);
        cmd.write(line);
        cmd.waitForBytesWritten(InterpreterWait);
    }
    cmd.closeWriteChannel();
    cmd.waitForFinished(InterpreterWait);
    out += cmd.readAllStandardOutput();
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
    Q_UNUSED(userName); // the system knows the user's own Temp directory, wherever it lies
    std::vector<wchar_t> path(MAX_PATH + 1);
    DWORD length = GetTempPathW(DWORD(path.size()), path.data());
    if (length > path.size()) {
        path.resize(length);
        length = GetTempPathW(DWORD(path.size()), path.data());
    }
    QString temp = QString::fromWCharArray(path.data(), int(length < path.size() ? length : 0));
    if (temp.endsWith(QLatin1Char('\\')) && temp.size() > 3) // keep "C:\" whole
        temp.chop(1);
    return temp;
}

QString cacheDirectory()
{
    return qEnvironmentVariable("LOCALAPPDATA");
}

QString arduinoSettingsDirectory()
{
    return cacheDirectory() + QStringLiteral("\\Arduino15");
}

QString defaultSketchbookDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("\\Arduino");
}

QString buildOutputPath(const QString &userName, const QString &dir, const QString &fileName)
{
    return tempDirectory(userName) + QLatin1Char('\\') + dir + QLatin1Char('\\') + fileName;
}

bool fileStamp(const QString &path, FileStamp *stamp)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.isEmpty() || !GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data))
        return false;
    const qint64 EpochDifference = 116444736000000000LL; // 100 ns units from 1601 to 1970
    const qint64 written = (qint64(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    stamp->lastWriteMs = (written - EpochDifference) / 10000;
    stamp->size = (qint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp->isDir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
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
    Q_UNUSED(userName);
    return runInterpreter(enterTempLines() << BuildDirLine);
}

QString hexFileListing(const QString &userName, const QString &dir)
{
    Q_UNUSED(userName);
    QByteArrayList lines = enterTempLines() << BuildDirLine;
    if (safeForCd(dir))
        lines << QByteArray("cd ") + dir.toLocal8Bit() + QByteArray("\n");
    lines << HexFileLine;
    return runInterpreter(lines);
}

void binaryStream(FILE *stream)
{
    _setmode(_fileno(stream), _O_BINARY);
}

bool claimStandardOutput()
{
    // -2: no stream is associated with the descriptor (a program started without one).
    const intptr_t handle = _get_osfhandle(1);
    if (handle != -1 && handle != -2)
        return true;
    std::freopen("NUL", "w", stdout);
    return false;
}

qint64 writeStandardOutput(const char *bytes, qint64 size)
{
    return _write(1, bytes, unsigned(qMin<qint64>(size, 1 << 30)));
}

FILE *openFile(const QString &path, const char *mode)
{
    // The C library's modes (always binary), through CreateFileW: "x" as CREATE_NEW, which the
    // C runtimes do not all honour.
    const bool plus = std::strchr(mode, '+') != nullptr;
    const bool exclusive = std::strchr(mode, 'x') != nullptr;
    DWORD access = 0;
    DWORD disposition = 0;
    int flags = _O_BINARY;
    char fdMode[4] = {mode[0], 'b', plus ? '+' : '\0', '\0'};
    switch (mode[0]) {
    case 'r':
        access = GENERIC_READ | (plus ? GENERIC_WRITE : 0);
        disposition = OPEN_EXISTING;
        flags |= plus ? _O_RDWR : _O_RDONLY;
        break;
    case 'w':
        access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
        disposition = exclusive ? CREATE_NEW : CREATE_ALWAYS;
        flags |= plus ? _O_RDWR : _O_WRONLY;
        break;
    case 'a':
        access = FILE_APPEND_DATA | (plus ? GENERIC_READ : 0);
        disposition = exclusive ? CREATE_NEW : OPEN_ALWAYS;
        flags |= _O_APPEND | (plus ? _O_RDWR : _O_WRONLY);
        break;
    default:
        errno = EINVAL;
        return nullptr;
    }
    const HANDLE h = openShared(path, access, disposition, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    const int fd = _open_osfhandle(intptr_t(h), flags);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    FILE *file = _fdopen(fd, fdMode);
    if (!file)
        _close(fd);
    return file;
}

bool readRegularFile(const QString &path, qint64 limit, QByteArray *contents)
{
    contents->clear();
    // Backup semantics open a directory too, so that it is told apart from a missing file.
    const HANDLE h = openShared(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info);
    if (ok && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EISDIR;
        ok = false;
    } else if (!ok) {
        errno = EINVAL;
    }
    const qint64 wanted = limit + 1;
    while (ok && contents->size() < wanted) {
        char chunk[65536];
        DWORD got = 0;
        const DWORD ask = DWORD(qMin<qint64>(sizeof chunk, wanted - contents->size()));
        if (!ReadFile(h, chunk, ask, &got, nullptr)) {
            setErrnoFromLastError();
            ok = false;
        }
        if (got == 0)
            break;
        contents->append(chunk, int(got));
    }
    CloseHandle(h);
    return ok;
}

bool replaceFile(const QString &from, const QString &to)
{
    if (MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING))
        return true;
    setErrnoFromLastError();
    return false;
}

void releaseFreeMemory()
{
    // The Windows heap decommits freed pages by itself.
}

bool shutdownSending(qintptr socketDescriptor)
{
    return ::shutdown(static_cast<SOCKET>(socketDescriptor), SD_SEND) == 0;
}

int terminalColumns(FILE *stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

qint64 raiseOpenFileLimit()
{
    return 0;
}

} // namespace platform

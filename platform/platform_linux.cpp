#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <malloc.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace platform {

namespace {

const char BuildPattern[] = "build*";
const char HexPattern[] = "*.hex";

// The directory that `cd dir` inside the Temp directory would enter, or the Temp directory
// itself when there is no such directory (a failed cd leaves the interpreter where it was).
QString enteredDirectory(const QString &temp, const QString &dir)
{
    if (dir.isEmpty() || dir.contains(QLatin1Char('/')) || dir.contains(QChar(0))
        || dir == QLatin1String(".") || dir == QLatin1String(".."))
        return temp;
    const QString path = temp + QLatin1Char('/') + dir;
    return QFileInfo(path).isDir() ? path : temp;
}

} // namespace

QString currentUserName()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return QString();
    return QFile::decodeName(found->pw_name);
}

QString tempDirectory(const QString &userName)
{
    Q_UNUSED(userName); // the system's temporary directory is already the user's
    return QDir::tempPath();
}

QString cacheDirectory()
{
#ifdef Q_OS_MACOS
    return QDir::homePath() + QStringLiteral("/Library/Caches");
#else
    // A relative XDG_CACHE_HOME is invalid and to be ignored.
    const QString xdg = qEnvironmentVariable("XDG_CACHE_HOME");
    return QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.cache");
#endif
}

QString arduinoSettingsDirectory()
{
#ifdef Q_OS_MACOS
    return QDir::homePath() + QStringLiteral("/Library/Arduino15");
#else
    return QDir::homePath() + QStringLiteral("/.arduino15");
#endif
}

QString defaultSketchbookDirectory()
{
    return QDir::homePath() + QStringLiteral("/Arduino");
}

QString buildOutputPath(const QString &userName, const QString &dir, const QString &fileName)
{
    return tempDirectory(userName) + QLatin1Char('/') + dir + QLatin1Char('/') + fileName;
}

bool fileStamp(const QString &path, FileStamp *stamp)
{
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
#ifdef Q_OS_MACOS
    const timespec &written = st.st_mtimespec;
#else
    const timespec &written = st.st_mtim;
#endif
    stamp->lastWriteMs = qint64(written.tv_sec) * 1000 + written.tv_nsec / 1000000;
    stamp->size = st.st_size;
    stamp->isDir = S_ISDIR(st.st_mode);
    return true;
}

bool lastWriteTimeUtc(const QString &path, QDateTime *utc)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return false;
    *utc = info.fileTime(QFileDevice::FileModificationTime).toUTC();
    return true;
}

QString buildDirListing(const QString &userName)
{
    return formatListing(tempDirectory(userName), QLatin1String(BuildPattern));
}

QString hexFileListing(const QString &userName, const QString &dir)
{
    const QString temp = tempDirectory(userName);
    return buildDirListing(userName) + formatListing(enteredDirectory(temp, dir), QLatin1String(HexPattern));
}

void binaryStream(FILE *) {}

bool claimStandardOutput()
{
    if (::fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF)
        return true;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0 && null != STDOUT_FILENO) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    return false;
}

qint64 writeStandardOutput(const char *bytes, qint64 size)
{
    qint64 written = 0;
    do
        written = ::write(STDOUT_FILENO, bytes, size_t(size));
    while (written < 0 && errno == EINTR);
    return written;
}

FILE *openFile(const QString &path, const char *mode)
{
    return std::fopen(QFile::encodeName(path).constData(), mode);
}

bool readRegularFile(const QString &path, qint64 limit, QByteArray *contents)
{
    // Non-blocking, so that a FIFO in the file's place cannot hold the caller at open().
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    bool ok = fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ok = false;
    }
    contents->clear();
    const qint64 wanted = limit + 1;
    while (ok && contents->size() < wanted) {
        char chunk[65536];
        const ssize_t got = ::read(fd, chunk, size_t(qMin<qint64>(sizeof chunk, wanted - contents->size())));
        if (got < 0 && errno == EINTR)
            continue;
        ok = got >= 0;
        if (got <= 0)
            break;
        contents->append(chunk, int(got));
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

bool replaceFile(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

void releaseFreeMemory()
{
    // glibc keeps freed pages below the heap's top in use by the process until asked.
    malloc_trim(0);
}

bool shutdownSending(qintptr socketDescriptor)
{
    return ::shutdown(int(socketDescriptor), SHUT_WR) == 0;
}

int terminalColumns(FILE *stream)
{
    struct winsize size = {};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

qint64 raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            limit.rlim_cur = before;
    }
    return limit.rlim_cur == RLIM_INFINITY ? 0 : qint64(limit.rlim_cur);
}

} // namespace platform

#include "interruptsignal.h"

#include "exitcodes.h"

#include <QDir>

#include <atomic>
#include <string>

#include <windows.h>

namespace cli {

namespace {

// The console runs its control handler on a thread of its own: the handler only queues the
// signal to the object's thread.
std::atomic<InterruptSignal *> listener{nullptr};
std::atomic<bool> interruptedOnce{false};
std::wstring forcedEndFile;
std::wstring forcedEndDir;

BOOL WINAPI onConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    InterruptSignal *target = listener.load();
    if (!target)
        return FALSE;
    // A second Ctrl-C removes the temporary files and gets the default action, which ends the
    // program, as on the other systems.
    if (interruptedOnce.exchange(true)) {
        if (!forcedEndFile.empty())
            DeleteFileW(forcedEndFile.c_str());
        if (!forcedEndDir.empty())
            RemoveDirectoryW(forcedEndDir.c_str());
        return FALSE;
    }
    QMetaObject::invokeMethod(target, [target] { target->take(ExitInterrupted); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

InterruptSignal::InterruptSignal()
{
    interruptedOnce = false;
    listener = this;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

InterruptSignal::~InterruptSignal()
{
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    listener = nullptr;
    forcedEndFile.clear();
    forcedEndDir.clear();
}

void InterruptSignal::removeOnForcedEnd(const QString &file, const QString &dir)
{
    forcedEndFile = QDir::toNativeSeparators(file).toStdWString();
    forcedEndDir = QDir::toNativeSeparators(dir).toStdWString();
}

} // namespace cli

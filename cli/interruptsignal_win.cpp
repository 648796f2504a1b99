#include "interruptsignal.h"

#include <atomic>

#include <windows.h>

namespace cli {

namespace {

// The console runs its control handler on a thread of its own: the handler only queues the
// signal to the object's thread.
std::atomic<InterruptSignal *> listener{nullptr};
std::atomic<bool> interruptedOnce{false};

BOOL WINAPI onConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    InterruptSignal *target = listener.load();
    // A second Ctrl-C gets the default action and ends the program, as on the other systems.
    if (!target || interruptedOnce.exchange(true))
        return FALSE;
    QMetaObject::invokeMethod(target, [target] { emit target->interrupted(); }, Qt::QueuedConnection);
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
}

} // namespace cli

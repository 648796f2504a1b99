#include "thread.h"

Thread::Thread(QString atPort, QString dataPort, QString ip, QString board)
    : ip(ip), atPort(atPort), dataPort(dataPort), board(board)
{
}

void Thread::run() {}

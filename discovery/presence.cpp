#include "widget.h"

void Widget::refreshPresence(const QString &ip) { Q_UNUSED(ip); }
void Widget::sweepPresence() {}
void Widget::participantLeft(QString ip) { Q_UNUSED(ip); }

#include "widget.h"

void Widget::processPendingDatagrams() {}
QString Widget::localIPv4Address() const { return QString(); }

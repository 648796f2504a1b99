#include "widget.h"

void Widget::refreshDefaultFile() {}
void Widget::findBuildDir() {}
void Widget::findHexFile(const QString &dir) { Q_UNUSED(dir); }
void Widget::readFileTime(const QString &path) { Q_UNUSED(path); }

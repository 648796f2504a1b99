#include "widget.h"

void Widget::OnBtnClicked() {}
void Widget::deal_ui(QString ip, int kind, float value) { Q_UNUSED(ip); Q_UNUSED(kind); Q_UNUSED(value); }

#include "widget.h"

void Widget::on_radioButton_2_toggled(bool checked) { Q_UNUSED(checked); }
void Widget::on_radioButton_toggled(bool checked) { Q_UNUSED(checked); }
void Widget::on_pushButton_4_clicked() {}
void Widget::update_hex_file() {}

// The window's part of the modules added by address: their rows at start-up and while they
// answer, the table's context menu, and announcements that update them.

#include "widget.h"

#include "addmoduledialog.h"
#include "devicecolumns.h"
#include "modulelistener.h"
#include "ui_widget.h"

#include <QMenu>
#include <QMessageBox>
#include <QTableWidget>

#include <cstdio>

namespace {

void report(const QString &line)
{
    std::fprintf(stderr, "quarnel-uploader: %s\n", line.toLocal8Bit().constData());
}

} // namespace

void Widget::startKnownModules()
{
    for (const QString &problem : knownModules.load())
        report(problem);
    // A known module gets its row now; it keeps it while it answers, as if it announced.
    for (const discovery::KnownModule &module : knownModules.modules())
        showModule(module.announcement());
    connect(&knownProbe, &discovery::KnownModuleProbe::answered, this, &Widget::showModule);
    connect(listener, &discovery::ModuleListener::heard, this, &Widget::takeKnownAnnouncement);
    // An upload holds the module's one AT-command connection: no probe may take its place.
    knownProbe.setBusyRule([this](const QString &ip) { return work.busy(ip); });
    knownProbe.setModules(knownModules.modules());
    knownProbe.start();

    ui->userTableWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->userTableWidget, &QWidget::customContextMenuRequested, this, &Widget::showTableMenu);
}

void Widget::takeKnownAnnouncement(const discovery::Announcement &announcement)
{
    QString error;
    const bool changed = knownModules.takeAnnouncement(announcement, &error);
    if (!error.isEmpty())
        report(error);
    if (!changed)
        return;
    knownProbe.setModules(knownModules.modules());
    // The row shows what the module now says, so that uploads and renames use its ports.
    const int row = rowOfIp(announcement.hostIp);
    if (row < 0)
        return;
    const discovery::KnownModule *module = knownModules.find(announcement.hostIp);
    QTableWidget *table = ui->userTableWidget;
    addingRow = true;
    table->item(row, discovery::ColumnDataPort)->setText(QString::number(module->dataPort));
    table->item(row, discovery::ColumnAtPort)->setText(QString::number(module->atPort));
    QTableWidgetItem *nameItem = table->item(row, discovery::ColumnName);
    if (nameItem->data(discovery::ModuleNameRole).toString() != module->name) {
        nameItem->setText(module->name);
        nameItem->setData(discovery::ModuleNameRole, module->name);
    }
    addingRow = false;
}

QMenu *Widget::tableMenu(int row)
{
    QTableWidget *table = ui->userTableWidget;
    auto *menu = new QMenu(table);
    if (row >= 0) {
        connect(menu->addAction(tr("Serial monitor")), &QAction::triggered, this, [this, table, row] {
            // The row the menu was opened on, unless rows moved meanwhile: the menu is modeless.
            if (row < table->rowCount())
                openMonitor(row);
        });
        const QString ip = table->item(row, discovery::ColumnIp)->text();
        QAction *identify = menu->addAction(tr("Identify board"), this, [this, ip] { identifyModuleBoard(ip); });
        // The identification resets the board: not while an upload or another identification runs.
        identify->setEnabled(!work.portsHeld(ip));
        menu->addSeparator();
        menu->addActions(rowCommands);
        menu->addSeparator();
    }
    menu->addAction(addModuleAction);
    const QTableWidgetItem *ipItem = row < 0 ? nullptr : ui->userTableWidget->item(row, discovery::ColumnIp);
    if (ipItem && knownModules.find(ipItem->text())) {
        const QString ip = ipItem->text();
        menu->addAction(tr("Forget module"), this, [this, ip] { forgetModule(ip); });
    }
    return menu;
}

void Widget::showTableMenu(const QPoint &position)
{
    QTableWidget *table = ui->userTableWidget;
    QMenu *menu = tableMenu(table->rowAt(position.y()));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(table->viewport()->mapToGlobal(position));
}

void Widget::addModuleByAddress()
{
    AddModuleDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const discovery::KnownModule &module = dialog.module();
    QString error;
    if (!knownModules.add(module, &error)) {
        QMessageBox::warning(this, tr("Add module by address"), error, QMessageBox::Ok);
        return;
    }
    knownProbe.setModules(knownModules.modules());
    showModule(module.announcement());
}

void Widget::forgetModule(const QString &ip)
{
    QString error;
    if (!knownModules.remove(ip, &error)) {
        QMessageBox::warning(this, tr("Forget module"), error, QMessageBox::Ok);
        return;
    }
    knownProbe.setModules(knownModules.modules());
    removeRowsOf({ip});
}

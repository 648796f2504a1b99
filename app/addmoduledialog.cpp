#include "addmoduledialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

AddModuleDialog::AddModuleDialog(QWidget *parent)
    : QDialog(parent)
    , ipEdit(new QLineEdit)
    , dataPortEdit(new QLineEdit(QString::number(discovery::DefaultDataPort)))
    , atPortEdit(new QLineEdit(QString::number(discovery::DefaultAtPort)))
    , nameEdit(new QLineEdit)
    , problemLabel(new QLabel)
{
    setWindowTitle(tr("Add module by address"));
    ipEdit->setObjectName(QStringLiteral("ipEdit"));
    ipEdit->setPlaceholderText(QStringLiteral("192.168.1.20"));
    dataPortEdit->setObjectName(QStringLiteral("dataPortEdit"));
    atPortEdit->setObjectName(QStringLiteral("atPortEdit"));
    nameEdit->setObjectName(QStringLiteral("nameEdit"));
    problemLabel->setObjectName(QStringLiteral("problemLabel"));
    problemLabel->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddModuleDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AddModuleDialog::reject);

    auto *form = new QFormLayout(this);
    form->addRow(tr("IP address"), ipEdit);
    form->addRow(tr("Data port"), dataPortEdit);
    form->addRow(tr("AT-command port"), atPortEdit);
    form->addRow(tr("Name (optional)"), nameEdit);
    form->addRow(problemLabel);
    form->addRow(buttons);
}

void AddModuleDialog::accept()
{
    QString problem;
    const std::optional<discovery::KnownModule> module =
        discovery::knownModuleFromTexts(ipEdit->text(), dataPortEdit->text(), atPortEdit->text(), nameEdit->text(), &problem);
    if (!module) {
        problemLabel->setText(problem);
        return;
    }
    entered = *module;
    QDialog::accept();
}

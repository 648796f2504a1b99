#ifndef ADDMODULEDIALOG_H
#define ADDMODULEDIALOG_H

#include "knownmodules.h"

#include <QDialog>

class QLabel;
class QLineEdit;

// "Add module by address…": the module's IP address, its two ports (the usual ones filled in)
// and an optional name. OK takes them only when they are a module's address and ports; else the
// dialog stays open and says what is wrong.
class AddModuleDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddModuleDialog(QWidget *parent = nullptr);

    // The module entered; valid once the dialog was accepted.
    const discovery::KnownModule &module() const { return entered; }

    void accept() override;

private:
    QLineEdit *ipEdit;
    QLineEdit *dataPortEdit;
    QLineEdit *atPortEdit;
    QLineEdit *nameEdit;
    QLabel *problemLabel;
    discovery::KnownModule entered;
};

#endif // ADDMODULEDIALOG_H

#ifndef WINDOWHARNESS_H
#define WINDOWHARNESS_H

// Answering the real window's modal dialogs as a user would; with the sandbox, since each such
// test runs in a working directory and temporary directory of its own.

#include "sandbox.h"
#include "testfiles.h"

#include <QApplication>
#include <QByteArray>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace harness {

// Answers the window's modal dialogs: picks `pick` in a file dialog (or cancels it when empty)
// and presses OK in message boxes, noting what each showed.
class ModalDriver : public QObject
{
public:
    explicit ModalDriver(const QString &pick = QString())
        : pick_(pick)
    {
        connect(&timer_, &QTimer::timeout, this, &ModalDriver::poll);
        timer_.start(20);
    }

    QStringList boxes;            // "title / text" of each message box, in order
    QStringList dialogs;          // "caption / filters / directory" of each file dialog
    QList<QByteArray> imageAtBox; // ./update.bin as it was when each box showed

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            dialogs << dialog->windowTitle() + " / " + dialog->nameFilters().join(';') + " / "
                           + QDir(dialog->directory()).canonicalPath();
            if (pick_.isEmpty()) {
                dialog->reject();
            } else {
                // selectFile() leaves the name field alone while it has the focus: type the name.
                if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                    name->setText(pick_);
                static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept checks the choice
            }
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            boxes << box->windowTitle() + " / " + box->text();
            imageAtBox << readFile(QStringLiteral("./update.bin"));
            box->button(QMessageBox::Ok)->click();
        }
    }

    QString pick_;
    QTimer timer_;
};

} // namespace harness

#endif // WINDOWHARNESS_H

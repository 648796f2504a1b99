#ifndef WINDOWHARNESS_H
#define WINDOWHARNESS_H

// Helpers for tests that drive the real window: answering its modal dialogs as a user would,
// and running a test in a working directory and temporary directory of its own.

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
#include <QTemporaryDir>
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

// Runs a test inside its own working directory (./update.bin, ./log.txt) and its own
// temporary directory (where the build-output finder looks).
class Sandbox
{
public:
    Sandbox()
        : savedTmp_(qgetenv("TMPDIR"))
        , savedCache_(qEnvironmentVariableIsSet("XDG_CACHE_HOME") ? qgetenv("XDG_CACHE_HOME") : QByteArray())
        , savedCwd_(QDir::currentPath())
    {
        QDir::setCurrent(work.path());
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    }
    ~Sandbox()
    {
        QDir::setCurrent(savedCwd_);
        qputenv("TMPDIR", savedTmp_);
        restore("XDG_CACHE_HOME", savedCache_);
    }
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // A build directory of the sketch build tool holding one file, finished a few seconds ago
    // (the finder leaves a file younger than a second for its next look); its path, or empty.
    // `root` is the temporary directory unless given.
    QString makeBuild(const QString &dir, const QString &file, const QByteArray &content,
                      QString root = QString())
    {
        if (root.isEmpty())
            root = temp.path();
        QDir(root).mkpath(dir);
        const QString path = root + "/" + dir + "/" + file;
        QFile written(path);
        const bool ok = writeFile(path, content) && written.open(QIODevice::ReadWrite)
                        && written.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-FinishedAgo),
                                               QFileDevice::FileModificationTime);
        return ok ? path : QString();
    }

    static const int FinishedAgo = 5; // s

    QTemporaryDir temp;
    QTemporaryDir work;
    QTemporaryDir cache; // the user's cache directory, where current build tools keep theirs

private:
    static void restore(const char *name, const QByteArray &saved)
    {
        if (saved.isNull())
            qunsetenv(name);
        else
            qputenv(name, saved);
    }

    QByteArray savedTmp_;
    QByteArray savedCache_;
    QString savedCwd_;
};

} // namespace harness

#endif // WINDOWHARNESS_H

#ifndef CLI_UPLOADVERDICT_H
#define CLI_UPLOADVERDICT_H

#include "uploadbatch.h"
#include "uploadoutcome.h"

#include <QString>
#include <QtGlobal>

namespace cli {

// Where an upload went, for the lines that explain its outcome.
using UploadTarget = upload::UploadTarget;

// What an upload outcome means to a script and to a person: the exit status, and one line
// saying what failed and what to check (on success, what was done).
struct Verdict
{
    int exitCode = 0;
    QString line;
};

Verdict uploadVerdict(const upload::UploadOutcome &outcome, const UploadTarget &target, qint64 imageBytes, bool verified);

} // namespace cli

#endif // CLI_UPLOADVERDICT_H

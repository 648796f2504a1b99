#ifndef UPLOADTIMEOUTS_H
#define UPLOADTIMEOUTS_H

namespace upload {

// The waits of one upload run; the defaults are the product's, tests shorten them.
struct UploadTimeouts
{
    int connect = 3000;             // ms, per TCP connection
    int atReply = 1000;             // ms, per AT-command reply
    // A bootloader reply may take the step's number of attempts (5; 10 for an STK500v1 program
    // page) times these, however many pieces it comes in.
    int reply = 3000;               // ms, per attempt
    int leaveProgrammingV1 = 30000; // ms, per attempt, for the STK500v1 leave-programming reply
    int retryPause = 250;           // ms, before a resumed run connects again
};

} // namespace upload

#endif // UPLOADTIMEOUTS_H

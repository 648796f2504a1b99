#ifndef UPLOADTIMEOUTS_H
#define UPLOADTIMEOUTS_H

namespace upload {

// The waits of one upload run; the defaults are the product's, tests shorten them.
struct UploadTimeouts
{
    int connect = 3000;             // ms, per TCP connection
    int atReply = 1000;             // ms, for the first two bytes of an AT-command reply
    // A bootloader reply may take the step's number of attempts (5; 10 for an STK500v1 program
    // page) times this, however many pieces it comes in.
    int reply = 3000;               // ms, per attempt
    // ms, the whole wait for the answer to leave programming mode, once the image is in
    int leaveProgramming = 3000;
    int retryPause = 250;           // ms, before a resumed run connects again
};

} // namespace upload

#endif // UPLOADTIMEOUTS_H

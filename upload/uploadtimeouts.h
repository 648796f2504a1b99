#ifndef UPLOADTIMEOUTS_H
#define UPLOADTIMEOUTS_H

// The waits of one upload run; the defaults are the product's, tests shorten them.
struct UploadTimeouts
{
    int connect = 3000;             // ms, per TCP connection
    int atReply = 1000;             // ms, per AT-command reply
    int reply = 3000;               // ms, per read attempt of a bootloader reply
    int leaveProgrammingV1 = 30000; // ms, per read attempt of the STK500v1 leave-programming reply
    int retryPause = 250;           // ms, before a resumed run connects again
};

#endif // UPLOADTIMEOUTS_H

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

    // Finding the bootloader after the mode switch resets the board. Optiboot listens for 1 s
    // after its three LED flashes (about 1.4 s after the reset), each byte it takes starting the
    // second again; the stk500v2 bootloader for about 1 s until its first byte. Get sync or
    // sign-on is tried again for this long after the module's answer, which may come before or
    // after the reset takes effect.
    int bootloaderWait = 2000; // ms
    // ms: the wait for one try's reply, and the least time between two tries. Above Optiboot's
    // LED flashes (375 ms), while which it reads nothing: a second sync must never join a first
    // that still waits unread, for the bytes beyond two are lost and Optiboot takes what is left
    // for a broken command and starts the application (a board too slow for this wait is then
    // found again from a new reset, with one longer try).
    int syncAttempt = 500;
    int quiet = 50; // ms without a byte from the board before a try: the application's last output is through
    // Identifying a board, the search for Optiboot is this short: one get sync sent while Optiboot
    // flashes its LED waits in the board's receiver and is answered as soon as Optiboot reads
    // (some 0.45 s after the reset), and a second try follows for one that reached the board
    // before its reset. Nothing by then: no Optiboot. Each try still outlasts the flashes.
    int identifyBootloaderWait = 900; // ms
    int identifySyncAttempt = 450;    // ms

    // The longest a board without a bootloader takes to fail, once both ports are connected:
    // per protocol (the chosen one, then the other), the two AT commands, the bootloader wait and
    // the last try.
    int noBootloaderLimit() const { return 2 * (2 * atReply + bootloaderWait + syncAttempt); }
};

} // namespace upload

#endif // UPLOADTIMEOUTS_H

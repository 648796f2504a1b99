#include "avrboard.h"

#include "board_bootloaders.h"

#include <avr_flash.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_cycle_timers.h>
#include <sim_io.h>
#include <sim_irq.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// How the board is modelled (see also avrboard.h):
// - The core runs in slices of 1 ms of simulated time; after each slice the thread sleeps until the
//   wall clock has caught up, so the firmware's own timing (LED blink, timeouts, watchdog) is real.
//   simavr's own sleeping (the UART's poll sleep, the raw sleep callback) is switched off.
// - UART: simavr counts 11 bits per 8N1 frame; the frame time is set to what the firmware
//   programmed (UBRR, U2X, data, parity and stop bits: 10 bits for 8N1). Host-to-board bytes start
//   on the line one frame time (at the configured baud) apart, whatever the firmware does: the
//   module in front of the board cannot hold them back. simavr's receive FIFO stands for the
//   receive buffer plus the shift register: a byte is put into it at its start bit and becomes
//   readable at its stop bit, so at the next start bit every byte in it has been received. The
//   receiver holds two in its buffer and one in its shift register; a start bit that finds all
//   three there overwrites the one in the shift register and sets DOR (data overrun). With
//   Receiver::Forgiving the bytes wait instead while simavr's 64-entry FIFO is full.
//   Board-to-host bytes are handed out when their stop bit has gone.
//   When the firmware's baud differs from the configured one by more than 4.5 %, bytes arrive
//   garbled both ways, as on a real line.
// - SPM: page erase and page write take 4 ms (SPMEN and PGERS/PGWRT stay set, RWWSB is set when the
//   RWW section is addressed, until RWWSRE). As the datasheets say, the CPU is halted during the
//   operation when it addresses the NRWW section or when the code doing it runs in the RWW section;
//   a bootloader (NRWW) writing the application (RWW) keeps running and polls SPMEN. A page write
//   ANDs the temporary buffer into the page (flash bits only go from 1 to 0 without an erase).

namespace sim {

namespace {

constexpr uint32_t kFrequency = 16000000;
constexpr avr_cycle_count_t kSliceCycles = kFrequency / 1000; // 1 ms
constexpr avr_cycle_count_t kSpmCycles = avr_cycle_count_t(kFrequency / 1000) * 4; // page erase or write: 4 ms
constexpr double kBaudTolerance = 0.045;
constexpr int kReceiverBytes = 3; // two in the receive buffer, one in the shift register

// The application preloaded when none is given, so that a bootloader never runs into erased flash:
// ldi r16,1; out SMCR,r16 (SE); sei; 1: sleep; rjmp 1b. It sleeps rather than spins, so an idle
// board costs almost nothing to simulate.
const unsigned char kIdleProgram[] = {0x01, 0xE0, 0x03, 0xBF, 0x78, 0x94, 0x88, 0x95, 0xFE, 0xCF};

void quietLogger(avr_t *, const int level, const char *format, va_list ap)
{
    static const bool trace = std::getenv("QUARNEL_SIM_TRACE") != nullptr;
    if (trace && level <= LOG_WARNING)
        std::vfprintf(stderr, format, ap);
}

void noSleep(avr_t *, avr_cycle_count_t) {}

// A byte sent at one baud and sampled at a very different one: not the byte that was sent.
uint8_t garble(uint8_t b)
{
    return uint8_t(((b << 3) | (b >> 5)) ^ 0xA5);
}

} // namespace

struct AvrBoard::Private
{
    struct HookIo
    {
        avr_io_t io;
        Private *d;
    };

    struct Event
    {
        avr_cycle_count_t cycle;
        bool page; // else a serial byte
        quint32 value;
    };

    AvrBoard *q;
    Kind kind;
    QByteArray application;
    int baud;
    Receiver receiver;

    const char *mcu;
    uint32_t flashBytes;
    uint32_t pageBytes;
    uint32_t nrwwStart;
    bootloaders::Image bootloader;

    avr_t *avr = nullptr;
    avr_flash_t *flashIo = nullptr;
    avr_uart_t *uart = nullptr;
    HookIo hook{};

    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> resetRequest{false};
    std::atomic<qint64> flipAddress{-1};
    std::atomic<qint64> elapsedUs{0};
    std::atomic<qint64> overruns{0};

    mutable std::mutex flashMutex; // guards avr->flash against the sim thread's page writes
    std::mutex rxMutex;
    std::deque<uint8_t> rxQueue;

    // Simulation thread only.
    avr_cycle_count_t hostCyclesPerByte = 0;
    avr_cycle_count_t rxNextStart = 0;
    bool feeding = false;
    bool baudMismatch = false;
    avr_cycle_count_t txLineFree = 0;
    std::deque<Event> events;

    uint8_t spmen = 0, pgers = 0, pgwrt = 0, blbset = 0, rwwsre = 0, rwwsb = 0, sigrd = 0x20;
    avr_io_addr_t spmcsr = 0;
    std::vector<uint16_t> spmBuffer;
    std::vector<bool> spmUsed;
    bool spmBusy = false;
    bool spmHalted = false;
    bool spmWrite = false;
    uint32_t spmPage = 0;
    std::vector<uint16_t> spmData;
    avr_cycle_count_t spmEnd = 0;

    avr_io_write_t ubrrWrite = nullptr;
    void *ubrrParam = nullptr;

    Private(AvrBoard *board, Kind k, const QByteArray &app, int b, Receiver r)
        : q(board), kind(k), application(app), baud(b > 0 ? b : 115200), receiver(r)
    {
        if (kind == Kind::Uno) {
            mcu = "atmega328p";
            flashBytes = 32768;
            pageBytes = 128;
            nrwwStart = 0x7000;
            bootloader = bootloaders::optibootAtmega328p();
        } else {
            mcu = "atmega2560";
            flashBytes = 262144;
            pageBytes = 256;
            nrwwStart = 0x3E000;
            bootloader = bootloaders::stk500v2Atmega2560();
        }
        hostCyclesPerByte = avr_cycle_count_t(std::llround(10.0 * kFrequency / baud));
        spmBuffer.assign(pageBytes / 2, 0xFFFF);
        spmUsed.assign(pageBytes / 2, false);
    }

    QByteArray initialImage(QString *error) const
    {
        QByteArray image(int(flashBytes), char(0xFF));
        if (application.isEmpty()) {
            std::memcpy(image.data(), kIdleProgram, sizeof kIdleProgram);
        } else {
            if (uint32_t(application.size()) > bootloader.address) {
                if (error)
                    *error = QStringLiteral("the application (%1 bytes) overlaps the bootloader at 0x%2")
                                 .arg(application.size())
                                 .arg(bootloader.address, 0, 16);
                return {};
            }
            std::memcpy(image.data(), application.constData(), size_t(application.size()));
        }
        std::memcpy(image.data() + bootloader.address, bootloader.data, bootloader.size);
        return image;
    }

    // --- UART ---------------------------------------------------------------------------------

    // The frame time the firmware programmed, in real bits (simavr always adds a parity bit).
    void fixUartTiming()
    {
        uint32_t ubrr = avr_regbit_get(avr, uart->ubrrl) | (avr_regbit_get(avr, uart->ubrrh) << 8);
        uint32_t cyclesPerBit = (ubrr + 1) * (avr_regbit_get(avr, uart->u2x) ? 8 : 16);
        static const int dataBits[] = {5, 6, 7, 8, 8, 8, 8, 9};
        int db = dataBits[avr_regbit_get(avr, uart->ucsz) | (avr_regbit_get(avr, uart->ucsz2) << 2)];
        int parity = uart->r_ucsrc && (avr->data[uart->r_ucsrc] & 0x30) ? 1 : 0;
        int sb = 1 + avr_regbit_get(avr, uart->usbs);
        uart->cycles_per_byte = avr_cycle_count_t(cyclesPerBit) * avr_cycle_count_t(1 + db + parity + sb);
        double boardBaud = double(kFrequency) / cyclesPerBit;
        baudMismatch = std::fabs(boardBaud / baud - 1.0) > kBaudTolerance;
    }

    static void ubrrWritten(avr_t *avr, avr_io_addr_t addr, uint8_t v, void *param)
    {
        auto *d = static_cast<Private *>(param);
        if (d->ubrrWrite)
            d->ubrrWrite(avr, addr, v, d->ubrrParam);
        else
            avr_core_watch_write(avr, addr, v);
        d->fixUartTiming();
    }

    static void uartOutput(avr_irq_t *, uint32_t value, void *param)
    {
        auto *d = static_cast<Private *>(param);
        avr_cycle_count_t start = std::max(d->avr->cycle, d->txLineFree);
        d->txLineFree = start + d->uart->cycles_per_byte;
        uint8_t b = uint8_t(value);
        if (d->baudMismatch)
            b = garble(b);
        d->addEvent({d->txLineFree, false, b});
    }

    static int uartFifoCount(const uart_fifo_t &f)
    {
        return (f.write + uart_fifo_fifo_size - f.read) & (uart_fifo_fifo_size - 1);
    }

    // Starts the next host byte on the line, one frame time after the previous one.
    static avr_cycle_count_t rxFeed(avr_t *avr, avr_cycle_count_t when, void *param)
    {
        auto *d = static_cast<Private *>(param);
        const int unread = uartFifoCount(d->uart->input);
        if (d->receiver == Receiver::Forgiving && unread >= uart_fifo_fifo_size - 1)
            return when + d->hostCyclesPerByte / 4; // receive FIFO full: the host waits
        uint8_t b;
        {
            std::lock_guard<std::mutex> lock(d->rxMutex);
            if (d->rxQueue.empty()) {
                d->feeding = false;
                return 0;
            }
            b = d->rxQueue.front();
            d->rxQueue.pop_front();
        }
        uint32_t v = b;
        if (d->baudMismatch)
            v = garble(b) | UART_INPUT_FE;
        if (d->receiver == Receiver::Real && unread >= kReceiverBytes) {
            // Buffer full and a byte complete in the shift register: the new one shifts in over it.
            uart_fifo_t &fifo = d->uart->input;
            fifo.buffer[(fifo.write + uart_fifo_fifo_size - 1) & (uart_fifo_fifo_size - 1)] = uint16_t(v);
            avr_regbit_setto(avr, d->uart->dor, 1);
            ++d->overruns;
        } else {
            avr_raise_irq(d->uart->io.irq + UART_IRQ_INPUT, v);
        }
        d->rxNextStart = when + d->hostCyclesPerByte;
        return d->rxNextStart;
    }

    void startFeeding()
    {
        if (feeding)
            return;
        {
            std::lock_guard<std::mutex> lock(rxMutex);
            if (rxQueue.empty())
                return;
        }
        avr_cycle_count_t delay = rxNextStart > avr->cycle ? rxNextStart - avr->cycle : 1;
        feeding = true;
        avr_cycle_timer_register(avr, delay, rxFeed, this);
    }

    // --- Self-programming -----------------------------------------------------------------------

    void clearSpmBuffer()
    {
        std::fill(spmBuffer.begin(), spmBuffer.end(), 0xFFFF);
        std::fill(spmUsed.begin(), spmUsed.end(), false);
    }

    static avr_cycle_count_t spmenTimeout(avr_t *avr, avr_cycle_count_t, void *param)
    {
        auto *d = static_cast<Private *>(param);
        avr->data[d->spmcsr] &= uint8_t(~(d->spmen | d->pgers | d->pgwrt | d->blbset | d->rwwsre | d->sigrd));
        return 0;
    }

    static void spmcsrWritten(avr_t *avr, avr_io_addr_t addr, uint8_t v, void *param)
    {
        auto *d = static_cast<Private *>(param);
        if (d->spmBusy)
            return; // SPMCSR cannot be changed during a page erase or write
        uint8_t keep = avr->data[addr] & d->rwwsb; // read-only
        avr_core_watch_write(avr, addr, uint8_t((v & ~d->rwwsb) | keep));
        avr_cycle_timer_cancel(avr, spmenTimeout, d);
        if (v & d->spmen)
            avr_cycle_timer_register(avr, 4, spmenTimeout, d); // SPM must follow within 4 cycles
    }

    static avr_cycle_count_t spmDone(avr_t *avr, avr_cycle_count_t when, void *param)
    {
        auto *d = static_cast<Private *>(param);
        if (!d->spmBusy)
            return 0;
        {
            std::lock_guard<std::mutex> lock(d->flashMutex);
            uint8_t *page = avr->flash + d->spmPage;
            if (d->spmWrite) {
                qint64 flip = d->flipAddress.load();
                for (uint32_t i = 0; i < d->pageBytes; ++i) {
                    uint16_t w = d->spmData[i / 2];
                    uint8_t b = uint8_t(i & 1 ? w >> 8 : w);
                    if (qint64(d->spmPage) + i == flip)
                        b ^= 0xFF;
                    page[i] &= b; // programming only clears bits
                }
            } else {
                std::memset(page, 0xFF, d->pageBytes);
            }
        }
        if (d->spmWrite)
            d->addEvent({when, true, d->spmPage});
        avr->data[d->spmcsr] &= uint8_t(~(d->spmen | d->pgers | d->pgwrt));
        d->spmBusy = false;
        if (d->spmHalted) {
            d->spmHalted = false;
            avr->state = cpu_Running;
        }
        return 0;
    }

    // Takes the SPM instruction before simavr's flash module does.
    static int spmIoctl(avr_io_t *io, uint32_t ctl, void *)
    {
        if (ctl != AVR_IOCTL_FLASH_SPM)
            return -1;
        Private *d = reinterpret_cast<HookIo *>(io)->d;
        avr_t *avr = d->avr;
        uint8_t csr = avr->data[d->spmcsr];
        if (!(csr & d->spmen) || d->spmBusy)
            return 0;
        avr_cycle_timer_cancel(avr, spmenTimeout, d);

        uint32_t z = avr->data[R_ZL] | (avr->data[R_ZH] << 8);
        if (avr->rampz)
            z |= uint32_t(avr->data[avr->rampz]) << 16;
        z &= d->flashBytes - 1;
        uint16_t r01 = uint16_t(avr->data[0] | (avr->data[1] << 8));

        if (csr & (d->pgers | d->pgwrt)) {
            d->spmBusy = true;
            d->spmWrite = !(csr & d->pgers);
            d->spmPage = z & ~(d->pageBytes - 1);
            if (d->spmWrite) {
                d->spmData = d->spmBuffer;
                d->clearSpmBuffer();
            }
            d->spmEnd = avr->cycle + kSpmCycles;
            if (d->spmPage < d->nrwwStart)
                avr->data[d->spmcsr] |= d->rwwsb;
            avr_cycle_timer_register(avr, kSpmCycles, spmDone, d);
            if (d->spmPage >= d->nrwwStart || avr->pc < d->nrwwStart) {
                d->spmHalted = true;
                avr->state = cpu_Stopped;
            }
            return 0;
        }
        // Lock bits (BLBSET) and signature row reads (SIGRD) change nothing here.
        if (csr & d->rwwsre) {
            avr->data[d->spmcsr] &= uint8_t(~d->rwwsb);
            d->clearSpmBuffer();
        } else if (!(csr & (d->blbset | d->sigrd))) {
            uint32_t i = (z >> 1) % (d->pageBytes / 2);
            if (!d->spmUsed[i]) { // each word can be loaded once until the buffer is cleared
                d->spmBuffer[i] = r01;
                d->spmUsed[i] = true;
            }
        }
        avr->data[d->spmcsr] &= uint8_t(~(d->spmen | d->pgers | d->pgwrt | d->blbset | d->rwwsre | d->sigrd));
        return 0;
    }

    // Called by avr_reset() (external, watchdog), after simavr dropped all cycle timers.
    static void hookReset(avr_io_t *io)
    {
        Private *d = reinterpret_cast<HookIo *>(io)->d;
        d->spmBusy = false;
        d->spmHalted = false;
        d->clearSpmBuffer();
        d->feeding = false;
    }

    // --- Run loop -------------------------------------------------------------------------------

    // Serial bytes are due at their stop bit, page writes at their completion: kept in time order.
    void addEvent(const Event &e)
    {
        auto it = events.end();
        while (it != events.begin() && std::prev(it)->cycle > e.cycle)
            --it;
        events.insert(it, e);
    }

    void deliver()
    {
        QByteArray bytes;
        while (!events.empty() && events.front().cycle <= avr->cycle) {
            Event e = events.front();
            events.pop_front();
            if (e.page) {
                if (!bytes.isEmpty()) {
                    emit q->serialOutput(bytes);
                    bytes.clear();
                }
                emit q->pageWritten(e.value);
            } else {
                bytes.append(char(e.value));
            }
        }
        if (!bytes.isEmpty())
            emit q->serialOutput(bytes);
    }

    void run()
    {
        using Clock = std::chrono::steady_clock;
        Clock::time_point wallBase = Clock::now();
        avr_cycle_count_t cycleBase = avr->cycle;
        const avr_cycle_count_t startCycle = avr->cycle;
        while (!stopping.load()) {
            if (resetRequest.exchange(false)) {
                avr_reset(avr);
                avr_regbit_set(avr, avr->reset_flags.extrf); // the reset clears MCUSR first
            }
            fixUartTiming();
            startFeeding();
            const avr_cycle_count_t target = avr->cycle + kSliceCycles;
            while (avr->cycle < target) {
                while (avr->cycle < target && avr->state == cpu_Running && avr->run == avr_callback_run_raw)
                    avr_callback_run_raw(avr); // the common case, without the checks below
                if (avr->cycle >= target)
                    break;
                if (spmHalted) {
                    avr->cycle = std::min(target, std::max(spmEnd, avr->cycle + 1));
                    avr_cycle_timer_process(avr);
                } else if (avr->state == cpu_Running || avr->state == cpu_Sleeping
                           || avr->run != avr_callback_run_raw) { // a watchdog reset is pending
                    avr->run(avr);
                } else { // crashed or stopped: time passes, timers (the watchdog) still run
                    avr->cycle = target;
                    avr_cycle_timer_process(avr);
                }
            }
            elapsedUs = qint64((avr->cycle - startCycle) / (kFrequency / 1000000));
            deliver();

            const auto due = wallBase + std::chrono::nanoseconds((avr->cycle - cycleBase) * 1000 / (kFrequency / 1000000));
            const auto now = Clock::now();
            if (due > now) {
                std::this_thread::sleep_until(due);
            } else if (now - due > std::chrono::milliseconds(200)) {
                wallBase = now; // far behind (overloaded machine): go on from here rather than race
                cycleBase = avr->cycle;
            }
        }
    }
};

AvrBoard::AvrBoard(Kind kind, const QByteArray &application, int baud, Receiver receiver, QObject *parent)
    : QObject(parent), d(new Private(this, kind, application, baud, receiver))
{
}

AvrBoard::~AvrBoard()
{
    stop();
    if (d->avr) {
        avr_terminate(d->avr);
        std::free(d->avr);
        d->avr = nullptr;
    }
}

bool AvrBoard::start(QString *error)
{
    if (d->avr) { // started before: resume after stop()
        if (!d->thread.joinable()) {
            d->stopping = false;
            d->thread = std::thread([this] { d->run(); });
        }
        return true;
    }
    static std::once_flag loggerOnce;
    std::call_once(loggerOnce, [] { avr_global_logger_set(quietLogger); });

    QByteArray image = d->initialImage(error);
    if (image.isEmpty())
        return false;

    avr_t *avr = avr_make_mcu_by_name(d->mcu);
    if (!avr) {
        if (error)
            *error = QStringLiteral("libsimavr has no core for %1").arg(QString::fromLatin1(d->mcu));
        return false;
    }
    avr_init(avr);
    avr->log = LOG_WARNING;
    avr->frequency = kFrequency;
    avr->sleep = noSleep;
    d->avr = avr;

    for (avr_io_t *io = avr->io_port; io; io = io->next) {
        if (!std::strcmp(io->kind, "flash"))
            d->flashIo = reinterpret_cast<avr_flash_t *>(io);
        else if (!std::strcmp(io->kind, "uart") && reinterpret_cast<avr_uart_t *>(io)->name == '0')
            d->uart = reinterpret_cast<avr_uart_t *>(io);
    }
    if (!d->flashIo || !d->uart || avr->flashend + 1 != d->flashBytes) {
        if (error)
            *error = QStringLiteral("libsimavr's %1 lacks self-programming or USART0").arg(QString::fromLatin1(d->mcu));
        avr_terminate(avr);
        std::free(avr);
        d->avr = nullptr;
        return false;
    }

    std::memcpy(avr->flash, image.constData(), d->flashBytes);
    avr->codeend = avr->flashend;
    avr->reset_pc = d->bootloader.address; // BOOTRST programmed: every reset starts the bootloader

    uint32_t uartFlags = 0; // no poll sleep, no stdout echo
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &uartFlags);
    avr_irq_register_notify(d->uart->io.irq + UART_IRQ_OUTPUT, Private::uartOutput, d.get());
    auto &ubrr = avr->io[AVR_DATA_TO_IO(d->uart->ubrrl.reg)].w;
    d->ubrrWrite = ubrr.c;
    d->ubrrParam = ubrr.param;
    ubrr.c = Private::ubrrWritten;
    ubrr.param = d.get();

    avr_flash_t *f = d->flashIo;
    d->spmcsr = f->r_spm;
    d->spmen = uint8_t(1 << f->selfprgen.bit);
    d->pgers = uint8_t(1 << f->pgers.bit);
    d->pgwrt = uint8_t(1 << f->pgwrt.bit);
    d->blbset = uint8_t(1 << f->blbset.bit);
    d->rwwsre = uint8_t(1 << f->rwwsre.bit);
    d->rwwsb = uint8_t(1 << f->rwwsb.bit);
    auto &spm = avr->io[AVR_DATA_TO_IO(f->r_spm)].w;
    spm.c = Private::spmcsrWritten;
    spm.param = d.get();

    d->hook.d = d.get();
    d->hook.io.kind = "quarnel-spm";
    d->hook.io.reset = Private::hookReset;
    d->hook.io.ioctl = Private::spmIoctl;
    avr_register_io(avr, &d->hook.io);

    avr_reset(avr);
    avr_regbit_set(avr, avr->reset_flags.porf); // power-on: the bootloader starts the application

    d->stopping = false;
    d->thread = std::thread([this] { d->run(); });
    return true;
}

void AvrBoard::stop()
{
    d->stopping = true;
    if (d->thread.joinable())
        d->thread.join();
}

void AvrBoard::resetIntoBootloader()
{
    d->resetRequest = true;
}

void AvrBoard::writeSerial(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(d->rxMutex);
    for (char c : bytes)
        d->rxQueue.push_back(uint8_t(c));
}

QByteArray AvrBoard::flash() const
{
    if (!d->avr)
        return d->initialImage(nullptr);
    std::lock_guard<std::mutex> lock(d->flashMutex);
    return QByteArray(reinterpret_cast<const char *>(d->avr->flash), int(d->flashBytes));
}

int AvrBoard::flashSize() const
{
    return int(d->flashBytes);
}

int AvrBoard::pageSize() const
{
    return int(d->pageBytes);
}

void AvrBoard::setFlipAddress(qint64 address)
{
    d->flipAddress = address;
}

qint64 AvrBoard::elapsedMicroseconds() const
{
    return d->elapsedUs.load();
}

qint64 AvrBoard::overrunBytes() const
{
    return d->overruns.load();
}

} // namespace sim

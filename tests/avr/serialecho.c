/* A board application that talks on its serial line (USART0, 115200 baud 8N1), for the serial
 * monitor's tests and benchmark, and a board that never stops printing. Built in two kinds:
 *   serialecho: prints "serialecho ready" once, then "tick N" every half second, and sends back
 *               every byte it receives, in order.
 *   serialflood (-DFLOOD): prints numbered lines of 64 bytes without a pause, as fast as the line
 *               takes them, so that a lost byte shows as a gap in the numbers.
 * Registers shared by the ATmega328P and the ATmega2560, but each part needs its own build
 * (serialecho_mega, serialflood_mega): their RAM starts at different addresses. No interrupts. Receiving is polled
 * between the sends of single bytes: the receiver holds only three bytes, so the program never
 * waits on the transmitter while a byte may come in. */
#include <avr/io.h>
#include <stdint.h>

#define BAUD_DIVISOR 16 /* U2X: 16 MHz / (8 * 17) = 117647 baud, 2.1 % above 115200 */

static char out[128]; /* bytes waiting for the transmitter */
static uint8_t head, tail;

static uint8_t room(void)
{
    return (uint8_t)(sizeof out - 1 - (uint8_t)((head - tail) & (sizeof out - 1)));
}

static void put(char c)
{
    out[head] = c;
    head = (head + 1) & (sizeof out - 1);
}

static void putText(const char *s)
{
    while (*s)
        put(*s++);
}

#ifndef FLOOD
static void putNumber(uint32_t n, uint8_t width)
{
    char digits[10];
    uint8_t i = 0;
    do {
        digits[i++] = (char)('0' + n % 10);
        n /= 10;
    } while (n && i < sizeof digits);
    while (width > i) {
        put('0');
        --width;
    }
    while (i)
        put(digits[--i]);
}
#endif

int main(void)
{
    UCSR0A = (1 << U2X0);
    UBRR0H = 0;
    UBRR0L = BAUD_DIVISOR;
    UCSR0C = (1 << UCSZ01) | (1 << UCSZ00);
    UCSR0B = (1 << RXEN0) | (1 << TXEN0);
#ifdef FLOOD
    /* The line number counts in ASCII: a division per digit would keep the transmitter waiting. */
    char number[9] = "00000000";
    for (;;) {
        if (room() >= 64) {
            putText(number);
            putText(" abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.\r\n");
            for (int8_t i = 7; i >= 0 && ++number[i] > '9'; --i)
                number[i] = '0';
        }
        if ((UCSR0A & (1 << UDRE0)) && head != tail) {
            UDR0 = (uint8_t)out[tail];
            tail = (tail + 1) & (sizeof out - 1);
        }
    }
#else
    /* Timer 1 in CTC mode at 16 MHz / 1024: a compare match every half second. */
    OCR1A = 7812;
    TCCR1B = (1 << WGM12) | (1 << CS12) | (1 << CS10);
    uint32_t ticks = 0;
    putText("serialecho ready\r\n");
    for (;;) {
        if ((UCSR0A & (1 << RXC0)) && room() > 0)
            put((char)UDR0);
        if (TIFR1 & (1 << OCF1A)) {
            TIFR1 = (1 << OCF1A);
            if (room() > 16) {
                putText("tick ");
                putNumber(++ticks, 1);
                putText("\r\n");
            }
        }
        if ((UCSR0A & (1 << UDRE0)) && head != tail) {
            UDR0 = (uint8_t)out[tail];
            tail = (tail + 1) & (sizeof out - 1);
        }
    }
#endif
}

/* A program with large PROGMEM tables, so that its code and data reach far into flash.
 * TABLES and TABLE_SIZE set the size; each table stays below avr-gcc's 32 KiB object limit. */
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <stdint.h>

#ifndef TABLES
#define TABLES 1
#endif
#ifndef TABLE_SIZE
#define TABLE_SIZE 1000
#endif

/* A byte that depends on table and index, so that misplaced pages are caught. */
#define B(t, i) ((uint8_t)(((i) * 7u + (t) * 13u + ((i) >> 8)) & 0xFF))
#define ROW16(t, i) B(t, i), B(t, i + 1), B(t, i + 2), B(t, i + 3), B(t, i + 4), B(t, i + 5), B(t, i + 6), \
    B(t, i + 7), B(t, i + 8), B(t, i + 9), B(t, i + 10), B(t, i + 11), B(t, i + 12), B(t, i + 13),          \
    B(t, i + 14), B(t, i + 15)

#include "tables.inc"

int main(void)
{
    volatile uint8_t sink = 0;
    DDRB = 0xFF;
    for (;;) {
        for (uint16_t i = 0; i < TABLE_SIZE; i += 97)
            sink ^= TABLE_READ(i);
        PORTB = sink;
    }
}

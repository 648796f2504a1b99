/* The demo program of the run script: blinks the LED pin of both board families
 * (PB5 on the UNO, PB7 on the MEGA2560; PORTB has the same address on both). */
#include <avr/io.h>
#include <util/delay.h>

int main(void)
{
    DDRB |= (1 << PB5) | (1 << PB7);
    for (;;) {
        PORTB ^= (1 << PB5) | (1 << PB7);
        _delay_ms(500);
    }
}

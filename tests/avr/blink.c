/* Toggles the LED pin: a small real program for both board families. */
#include <avr/io.h>
#include <util/delay.h>

#if defined(__AVR_ATmega2560__)
#define LED_DDR DDRB
#define LED_PORT PORTB
#define LED_BIT PB7
#else
#define LED_DDR DDRB
#define LED_PORT PORTB
#define LED_BIT PB5
#endif

int main(void)
{
    LED_DDR |= (1 << LED_BIT);
    for (;;) {
        LED_PORT ^= (1 << LED_BIT);
        _delay_ms(250);
    }
}

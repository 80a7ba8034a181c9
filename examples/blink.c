/* LED blink for the processors the programmer knows.
 *
 * The LED hangs on PB0 (anode to the pin through a resistor, cathode to ground, so
 * a high pin lights it). PB0 is free on every part in the table: it is not one of
 * the ISP pins (those are PB5..PB7 on the 40-pin parts, PB3..PB5 on the 28-pin
 * ones, PE0/PE1/PB1 on the ATmega128), so the cable can stay plugged in while the
 * LED blinks.
 *
 * The rhythm comes from EEPROM when it holds one: pairs of bytes (on time, off
 * time) in units of 10 ms, ended by a zero on time or by the end of the table.
 * An erased EEPROM reads 0xFF everywhere; then the LED blinks at 1 Hz.
 * blink-pattern.c holds a pattern to put there.
 */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <stdint.h>
#include <util/delay.h>

#define LED_BIT PB0
#define PATTERN_BYTES 16 /* fits the smallest EEPROM (256 bytes) many times over */

static void wait_10ms(uint8_t count)
{
    while (count--)
        _delay_ms(10);
}

static void led(uint8_t on, uint8_t ticks)
{
    if (on)
        PORTB |= (uint8_t)(1u << LED_BIT);
    else
        PORTB &= (uint8_t)~(1u << LED_BIT);
    wait_10ms(ticks);
}

int main(void)
{
    DDRB |= (uint8_t)(1u << LED_BIT);
    for (;;) {
        uint8_t first = eeprom_read_byte((const uint8_t*)0);
        if (first == 0xFF || first == 0) {
            led(1, 50);
            led(0, 50);
            continue;
        }
        for (uint8_t i = 0; i + 1 < PATTERN_BYTES; i += 2) {
            uint8_t on = eeprom_read_byte((const uint8_t*)(uintptr_t)i);
            uint8_t off = eeprom_read_byte((const uint8_t*)(uintptr_t)(i + 1));
            if (on == 0 || on == 0xFF)
                break;
            led(1, on);
            led(0, off);
        }
    }
}

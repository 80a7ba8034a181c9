/* A program as avr-gcc links it, for the ELF download tests: code, initialised data
 * (whose values the linker places in flash behind the code), EEPROM contents, and
 * fuse and lock bytes that a download leaves alone. The tests program the ELF file
 * and its avr-objcopy HEX twins and compare what the chip holds.
 */
#include <avr/eeprom.h>
#include <avr/fuse.h>
#include <avr/lock.h>
#include <stdint.h>

const char greeting[] EEMEM = "EEPROM bytes from an ELF file";
volatile char text[] = "initialised data\r\n\x1a";  /* bytes a text-mode read would change */
FUSES = {.low = 0xE2, .high = 0xDF, .extended = 0xF9};
LOCKBITS = 0xFC;

int main(void)
{
    for (uint8_t i = 0;; ++i)
        text[i & 15] = (char)eeprom_read_byte((const uint8_t*)&greeting[i & 15]);
}

/* EEPROM contents for blink.c: a heartbeat, two short flashes and a long pause.
 * Pairs of (on, off) in units of 10 ms; a zero on time ends the pattern. Only the
 * .eeprom section of this file is used: it becomes blink-pattern-eeprom.hex,
 * which the programmer's de command writes into any part of the table.
 */
#include <avr/eeprom.h>
#include <stdint.h>

const uint8_t pattern[16] EEMEM = {
    10, 15,  /* flash, short gap */
    10, 65,  /* flash, long pause */
    30, 30,  /* one slow blink */
    0,  0,   /* end */
    0,  0, 0, 0, 0, 0, 0, 0,
};

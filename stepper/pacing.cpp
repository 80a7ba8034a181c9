#include "pacing.h"

#include "console.h"
#include "delay.h"

Pacing pacing = {delay_us, console_kbhit, console_getch};

void use_console_pacing() { pacing = {delay_us, console_kbhit, console_getch}; }

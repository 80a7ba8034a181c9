// Board checks: blinking the aux outputs and the A direction line, switching aux
// outputs by M code, the limit-switch report and monitor, and the G and N echoes.
#pragma once

// Half a second: the blink period of every toggle is two of these.
constexpr int HALF_SECOND_UNITS = 500000;
// Pause between two lines of the limit monitor.
constexpr int MONITOR_PASS_UNITS = 1000;

// "1" command: a 1 Hz square wave on the A direction line until a key; leaves it high.
void toggle_test_output();
// One full blink cycle of the "a" command: 4.5 s, all outputs off at its end.
void aux_blink_cycle();
// "a" command: blink cycles until a key is waiting (polled between cycles).
void toggle_all_aux();
void m_code_command(const char* word);
void echo_g_code(const char* word);
void echo_n_code(const char* word);
void print_limit_states();
// One line of the limit monitor, overwriting itself.
void print_monitor_line();
void monitor_limit_states();

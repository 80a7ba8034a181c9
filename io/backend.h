// The port behind libio. Every backend presents the three registers exactly as a
// PC parallel port reads them: data (base+0), status (base+1, bit 7 inverted
// against its pin), control (base+2, bits 0, 1 and 3 inverted against their pins).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace io {

enum Register : int { REG_DATA = 0, REG_STATUS = 1, REG_CONTROL = 2 };

// Register view of the PC port: which bits of status and control differ from their pins.
constexpr uint8_t STATUS_INVERTED = 0x80;
constexpr uint8_t CONTROL_INVERTED = 0x0B;
// Control bits 0..3 drive output lines (pins 1, 14, 16, 17). Bit 4 enables the ACK
// interrupt and bit 5 turns the data lines into inputs: the real-port backends never
// write those two from a program, so a stray bit can't leave D0..D7 undriven.
constexpr uint8_t CONTROL_LINES = 0x0F;
constexpr uint8_t CONTROL_REVERSE = 0x20;
// The register block of a port: data, status, control.
constexpr unsigned PORT_REGISTER_COUNT = 3;

// Every backend goes through the register copies here (io.cpp): while the program
// holds the port nobody else writes it, so data and control are read from copies of
// what was last written, a bit change costs one write and no read, and only the status
// register, whose lines the board drives, is read from the port.
class Backend {
 public:
  virtual ~Backend() = default;
  uint8_t read(Register reg);
  // Data takes the whole byte; control only its four line bits, the others keep what
  // the port had at the open. Status carries inputs only: a write does nothing, as on
  // a PC. The copy changes only when the port took the write.
  void write(Register reg, uint8_t value);
  // False once the port stopped answering (a device gone mid-run); error() says why.
  virtual bool ok() const { return true; }
  virtual std::string error() const { return {}; }
  // True only for a simulated board that checks no timing: waits may then be short.
  virtual bool waits_may_be_short() const { return false; }

 protected:
  // `data` and `control`: the registers as the port holds them once it is opened.
  Backend(uint8_t data, uint8_t control) : data_(data), control_(control) {}
  // The copy of the data or control register: what the port holds now.
  uint8_t held(Register reg) const { return reg == REG_CONTROL ? control_ : data_; }

 private:
  virtual uint8_t read_status() = 0;
  // Puts `value` into the data or control register; false when the port refused it.
  virtual bool write_register(Register reg, uint8_t value) = 0;

  uint8_t data_;
  uint8_t control_;
};

// Opens the port that the LPT1 setting names. On failure returns null and puts one
// line (device, reason, fix) into `message`; null with no message means a signal
// ended the wait for a port that another program held.
std::unique_ptr<Backend> open_backend(const char* setting, std::string& message);

std::unique_ptr<Backend> open_ppdev(const std::string& device, std::string& message);
std::unique_ptr<Backend> open_direct(unsigned base, std::string& message);
std::unique_ptr<Backend> open_sim(const std::string& options, std::string& message);

}  // namespace io

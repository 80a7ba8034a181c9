// The system calls behind the real-port backends (ppdev and direct register
// access), gathered in one table so the backends' logic can run against a fake
// kernel in the tests. No real parallel port exists on the build machines.
//
// Every call returns 0 or a non-negative result on success and -errno on failure,
// so no caller depends on errno surviving between calls.
#pragma once
#include <cstdint>

namespace io {

struct PortSys {
  int (*open)(const char* path, int flags);
  int (*ioctl)(int fd, unsigned long request, void* arg);
  int (*close)(int fd);
  // Grants (on = 1) or drops (on = 0) access to `count` I/O ports from `from`;
  // -ENOSYS on machines without x86 port I/O.
  int (*ioperm)(unsigned long from, unsigned long count, int on);
  uint8_t (*inb)(uint16_t port);
  void (*outb)(uint16_t port, uint8_t value);
  // Effective user id: tells a refusal to root (a locked-down kernel) from one to a user.
  unsigned (*euid)();
  // The parallel port a ppdev node stands for (its minor number); -ENOTTY for any
  // other file.
  int (*port_number)(int fd);
  // Up to `size` bytes of a small text file (a /proc entry): the count read, or -errno.
  int (*read_text)(const char* path, char* text, unsigned size);
  // While held (on = 1), signals wait until the next pause, which they end at once, so
  // none slips in unnoticed between two looks at the port; on = 0 lets them through.
  void (*hold_signals)(int on);
  // Sleeps `ms` milliseconds: 0, or -EINTR when a signal's handler ran.
  int (*pause_ms)(unsigned ms);
};

// The table the backends call through. Starts as the real system; tests assign
// their fakes and put back posix_port_sys() afterwards.
extern PortSys port_sys;
PortSys posix_port_sys();

}  // namespace io

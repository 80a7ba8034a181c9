// The real system calls of the ppdev and direct backends.
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "port_sys.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define VARN_HAVE_PORT_IO 1
#else
#define VARN_HAVE_PORT_IO 0
#endif

namespace io {
namespace {

int sys_open(const char* path, int flags) {
  int fd = ::open(path, flags | O_CLOEXEC);
  return fd >= 0 ? fd : -errno;
}

int sys_ioctl(int fd, unsigned long request, void* arg) {
  int rc = ::ioctl(fd, request, arg);
  return rc >= 0 ? rc : -errno;
}

int sys_close(int fd) { return ::close(fd) == 0 ? 0 : -errno; }

unsigned sys_euid() { return static_cast<unsigned>(::geteuid()); }

#if VARN_HAVE_PORT_IO
int sys_ioperm(unsigned long from, unsigned long count, int on) {
  return ::ioperm(from, count, on) == 0 ? 0 : -errno;
}
uint8_t sys_inb(uint16_t port) { return ::inb(port); }
void sys_outb(uint16_t port, uint8_t value) { ::outb(value, port); }
#else
int sys_ioperm(unsigned long, unsigned long, int) { return -ENOSYS; }
uint8_t sys_inb(uint16_t) { return 0xFF; }
void sys_outb(uint16_t, uint8_t) {}
#endif

// Plain function addresses: port_sys is set before any constructor runs.
constexpr PortSys posix_calls{sys_open, sys_ioctl, sys_close, sys_ioperm, sys_inb, sys_outb, sys_euid};

}  // namespace

PortSys posix_port_sys() { return posix_calls; }

PortSys port_sys = posix_calls;

}  // namespace io

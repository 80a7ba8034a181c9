// The real system calls of the ppdev and direct backends.
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

constexpr unsigned PPDEV_MAJOR = 99;  // the character major of /dev/parportN

int sys_port_number(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return -errno;
  if (!S_ISCHR(info.st_mode) || major(info.st_rdev) != PPDEV_MAJOR) return -ENOTTY;
  return static_cast<int>(minor(info.st_rdev));
}

int sys_read_text(const char* path, char* text, unsigned size) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  ssize_t n = ::read(fd, text, size);
  int err = errno;
  ::close(fd);
  return n >= 0 ? static_cast<int>(n) : -err;
}

sigset_t mask_before_hold;
bool holding = false;

void sys_hold_signals(int on) {
  if (on && !holding) {
    sigset_t all;
    sigfillset(&all);
    holding = ::sigprocmask(SIG_BLOCK, &all, &mask_before_hold) == 0;
  } else if (!on && holding) {
    ::sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
    holding = false;
  }
}

// Held signals come through only inside ppoll, which they end at once.
int sys_pause_ms(unsigned ms) {
  timespec span{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  int rc = holding ? ::ppoll(nullptr, 0, &span, &mask_before_hold) : ::nanosleep(&span, nullptr);
  return rc < 0 ? -errno : 0;
}

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
constexpr PortSys posix_calls{sys_open, sys_ioctl, sys_close, sys_ioperm, sys_inb, sys_outb,
                              sys_euid, sys_port_number, sys_read_text, sys_hold_signals, sys_pause_ms};

}  // namespace

PortSys posix_port_sys() { return posix_calls; }

PortSys port_sys = posix_calls;

}  // namespace io

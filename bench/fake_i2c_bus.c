// A fake i2c-dev bus for timing whole processes (korvoctl against i2cget) without hardware.
// Loaded with LD_PRELOAD, it makes /dev/i2c-N (N from FAKE_I2C_BUS, default 17) look like an
// i2c-dev character device whose adapter offers every transfer and whose every device answers:
// word reads give FAKE_I2C_WORD (default 0x41A0), byte reads its low byte, writes succeed.
// Everything else goes to the real C library. A measurement aid, not a test.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#define I2C_DEV_MAJOR 89
#define MAX_FDS 16

static int fake_fds[MAX_FDS];
static int fake_count;

static int bus_number(void) {
  const char* s = getenv("FAKE_I2C_BUS");
  return s != NULL ? atoi(s) : 17;
}

static unsigned word_value(void) {
  const char* s = getenv("FAKE_I2C_WORD");
  return s != NULL ? (unsigned)strtoul(s, NULL, 0) : 0x41A0u;
}

static int is_bus_path(const char* path) {
  char want[32];
  snprintf(want, sizeof want, "/dev/i2c-%d", bus_number());
  return path != NULL && strcmp(path, want) == 0;
}

static int is_fake_fd(int fd) {
  for (int i = 0; i < fake_count; ++i)
    if (fake_fds[i] == fd) return 1;
  return 0;
}

static void fill_stat(struct stat* st) {
  memset(st, 0, sizeof *st);
  st->st_mode = S_IFCHR | 0660;
  st->st_rdev = makedev(I2C_DEV_MAJOR, (unsigned)bus_number());
}

// A real descriptor stands in for the bus, so close and dup keep working.
static int open_fake(void) {
  int (*real_open)(const char*, int, ...) =
      (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
  int fd = real_open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd >= 0 && fake_count < MAX_FDS) fake_fds[fake_count++] = fd;
  return fd;
}

// The mode argument of the open family, present only when the flags create a file; a macro
// because va_start must run in the variadic function itself.
#define OPTIONAL_MODE(flags)             \
  mode_t mode = 0;                       \
  if ((flags) & (O_CREAT | O_TMPFILE)) { \
    va_list ap;                          \
    va_start(ap, flags);                 \
    mode = va_arg(ap, mode_t);           \
    va_end(ap);                          \
  }

int open(const char* path, int flags, ...) {
  if (is_bus_path(path)) return open_fake();
  static int (*real)(const char*, int, ...);
  if (!real) real = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
  OPTIONAL_MODE(flags);
  return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  OPTIONAL_MODE(flags);
  return open(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
  if (is_bus_path(path)) return open_fake();
  static int (*real)(int, const char*, int, ...);
  if (!real) real = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, "openat");
  OPTIONAL_MODE(flags);
  return real(dirfd, path, flags, mode);
}

int close(int fd) {
  for (int i = 0; i < fake_count; ++i)
    if (fake_fds[i] == fd) fake_fds[i] = fake_fds[--fake_count];
  static int (*real)(int);
  if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "close");
  return real(fd);
}

int stat(const char* path, struct stat* st) {
  if (is_bus_path(path)) {
    fill_stat(st);
    return 0;
  }
  static int (*real)(const char*, struct stat*);
  if (!real) real = (int (*)(const char*, struct stat*))dlsym(RTLD_NEXT, "stat");
  return real(path, st);
}

int fstat(int fd, struct stat* st) {
  if (is_fake_fd(fd)) {
    fill_stat(st);
    return 0;
  }
  static int (*real)(int, struct stat*);
  if (!real) real = (int (*)(int, struct stat*))dlsym(RTLD_NEXT, "fstat");
  return real(fd, st);
}

static int smbus(struct i2c_smbus_ioctl_data* d) {
  if (d->read_write == I2C_SMBUS_WRITE) return 0;
  const unsigned w = word_value();
  switch (d->size) {
    case I2C_SMBUS_WORD_DATA: d->data->word = (unsigned short)w; return 0;
    case I2C_SMBUS_BYTE:
    case I2C_SMBUS_BYTE_DATA: d->data->byte = (unsigned char)w; return 0;
    case I2C_SMBUS_I2C_BLOCK_DATA:
      for (int i = 1; i <= d->data->block[0]; ++i)
        d->data->block[i] = (unsigned char)(i % 2 ? w : w >> 8);
      return 0;
    default: errno = EOPNOTSUPP; return -1;
  }
}

int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if (is_fake_fd(fd)) {
    switch (request) {
      case I2C_FUNCS:
        *(unsigned long*)arg = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL | I2C_FUNC_SMBUS_READ_BLOCK_DATA;
        return 0;
      case I2C_SLAVE:
      case I2C_SLAVE_FORCE: return (unsigned long)arg <= 0x7F ? 0 : (errno = EINVAL, -1);
      case I2C_SMBUS: return smbus((struct i2c_smbus_ioctl_data*)arg);
      case I2C_RDWR: return (int)((struct i2c_rdwr_ioctl_data*)arg)->nmsgs;
      default: errno = ENOTTY; return -1;
    }
  }
  static int (*real)(int, unsigned long, ...);
  if (!real) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  return real(fd, request, arg);
}

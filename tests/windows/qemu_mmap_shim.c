/* Preloaded into 32-bit wine when it runs under qemu-i386 user emulation, on x86-64
 * machines whose kernel cannot start 32-bit programs itself.
 *
 * qemu-user 7.2 passes MAP_FIXED_NOREPLACE through as a plain address hint: when the
 * address is taken it maps elsewhere instead of failing with EEXIST. wine relies on the
 * kernel's meaning while it lays out the Windows address space, reserves the wrong areas
 * and then cannot map its shared user data. This shim gives the flag its meaning back:
 * map with the hint, and when the result lies elsewhere, unmap it and fail with EEXIST.
 *
 * Built with the host compiler as a freestanding 32-bit object (no 32-bit C library
 * headers needed): gcc -m32 -O2 -fPIC -shared -nostdlib -o qemu_mmap_shim.so qemu_mmap_shim.c
 */
typedef unsigned int size_t;

#define MAP_FIXED_NOREPLACE 0x100000
#define MAP_FAILED ((void *)-1)
#define EEXIST 17
#define RTLD_NEXT ((void *)-1l)

void *dlsym(void *handle, const char *name);
int munmap(void *addr, size_t length);
int *__errno_location(void);

typedef void *(*Mmap64)(void *, size_t, int, int, int, long long);
typedef void *(*Mmap32)(void *, size_t, int, int, int, long);

static Mmap64 realMmap64;
static Mmap32 realMmap32;

static void *callMmap64(void *addr, size_t length, int prot, int flags, int fd, long long offset) {
  if (!realMmap64) realMmap64 = (Mmap64)dlsym(RTLD_NEXT, "mmap64");
  return realMmap64(addr, length, prot, flags, fd, offset);
}

static void *callMmap32(void *addr, size_t length, int prot, int flags, int fd, long long offset) {
  if (!realMmap32) realMmap32 = (Mmap32)dlsym(RTLD_NEXT, "mmap");
  return realMmap32(addr, length, prot, flags, fd, (long)offset);
}

static void *noReplace(Mmap64 map, void *addr, size_t length, int prot, int flags, int fd,
                       long long offset) {
  if (!(flags & MAP_FIXED_NOREPLACE)) return map(addr, length, prot, flags, fd, offset);
  void *result = map(addr, length, prot, flags & ~MAP_FIXED_NOREPLACE, fd, offset);
  if (result != MAP_FAILED && result != addr) {
    munmap(result, length);
    *__errno_location() = EEXIST;
    return MAP_FAILED;
  }
  return result;
}

void *mmap64(void *addr, size_t length, int prot, int flags, int fd, long long offset) {
  return noReplace(callMmap64, addr, length, prot, flags, fd, offset);
}

void *mmap(void *addr, size_t length, int prot, int flags, int fd, long offset) {
  return noReplace(callMmap32, addr, length, prot, flags, fd, offset);
}

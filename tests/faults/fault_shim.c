// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
/* Preloaded into a test process (LD_PRELOAD) to make one system call fail on purpose, and to
 * count the heap.
 *
 * Faults: while armed (dotloom_fault_arm), the calls of one class are counted, and the k-th
 * one fails as the environment says:
 *   DOTLOOM_FAULT_CLASS  open | read | write | fsync | close | rename (renames and links)
 *   DOTLOOM_FAULT_NTH    k, from 1; 0 (or unset) counts without failing
 *   DOTLOOM_FAULT_KIND   EIO | ENOSPC | SHORT (a short read or write, at least 1 byte)
 *                        | EOF (reads from the k-th on find the end of the file: it shrank)
 *                        | KILL (the process is killed just before the call, as by a crash)
 *                        | NODE (another program makes a private null device node at
 *                          DOTLOOM_FAULT_NODE just before the call, which then goes ahead)
 *   DOTLOOM_FAULT_EVERY  1 to fail every call of the class from the k-th on
 *   DOTLOOM_FAULT_NO_TMPFILE  1 to refuse O_TMPFILE, as file systems without it do
 * A failing close really closes first, as Linux does. Calls are counted per class whether
 * or not one fails, so a run without a fault tells how many calls a command makes, and
 * dotloom_fault_record gives their order, one class name each, so that a test can check
 * for example that a file is synced before it is renamed into place.
 *
 * Heap: malloc and friends are counted in bytes live and the peak since the last reset.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

enum { kOpen, kRead, kWrite, kFsync, kClose, kRename, kClasses };
static const char* const kClassNames[kClasses] = {"open",  "read",  "write",
                                                  "fsync", "close", "rename"};

static int armed;
static int fault_class = -1;
static long fault_nth;
static int fault_every;
enum { kShort = -1, kEndOfFile = -2, kKill = -3, kNode = -4 };
static int fault_kind; /* an errno value, kShort, kEndOfFile or kKill */
static long counts[kClasses];
static int node_made;
static char record[8192];
static size_t record_length;

static int configured;

static void Configure(void) {
  if (configured) return;
  configured = 1;
  const char* name = getenv("DOTLOOM_FAULT_CLASS");
  const char* nth = getenv("DOTLOOM_FAULT_NTH");
  const char* kind = getenv("DOTLOOM_FAULT_KIND");
  const char* every = getenv("DOTLOOM_FAULT_EVERY");
  for (int i = 0; name && i < kClasses; ++i) {
    if (strcmp(name, kClassNames[i]) == 0) fault_class = i;
  }
  fault_nth = nth ? atol(nth) : 0;
  fault_every = every && atoi(every) != 0;
  fault_kind = EIO;
  if (kind && strcmp(kind, "ENOSPC") == 0) fault_kind = ENOSPC;
  if (kind && strcmp(kind, "SHORT") == 0) fault_kind = kShort;
  if (kind && strcmp(kind, "EOF") == 0) fault_kind = kEndOfFile;
  if (kind && strcmp(kind, "KILL") == 0) fault_kind = kKill;
  if (kind && strcmp(kind, "NODE") == 0) fault_kind = kNode;
}

/* Reads the DOTLOOM_FAULT_* environment again: a forked child sets its own fault. */
void dotloom_fault_reconfigure(void) {
  configured = 0;
  fault_class = -1;
  node_made = 0;
  Configure();
}

void dotloom_fault_arm(int on) {
  Configure();
  if (on) {
    memset(counts, 0, sizeof counts);
    record_length = 0;
    record[0] = '\0';
  }
  armed = on;
}

long dotloom_fault_count(const char* class_name) {
  for (int i = 0; i < kClasses; ++i) {
    if (strcmp(class_name, kClassNames[i]) == 0) return counts[i];
  }
  return -1;
}

/* Whether the NODE fault made its node: the name was free just before that call. */
int dotloom_fault_node_made(void) { return node_made; }

/* The calls made while armed, as "open read ...". A full record drops the rest. */
const char* dotloom_fault_record(void) { return record; }

static void Record(int class_id) {
  const size_t length = strlen(kClassNames[class_id]) + 1;
  if (record_length + length >= sizeof record) return;
  if (record_length > 0) record[record_length++] = ' ';
  memcpy(record + record_length, kClassNames[class_id], length);
  record_length += length - 1;
}

/* 0: go ahead; otherwise the errno to fail with, kShort or kEndOfFile. kKill never returns. */
static int Fault(int class_id) {
  if (!armed) return 0;
  const long n = ++counts[class_id];
  Record(class_id);
  if (class_id != fault_class || fault_nth <= 0) return 0;
  if (fault_kind == kNode) {
    const char* path = getenv("DOTLOOM_FAULT_NODE");
    if (n == fault_nth && path && mknod(path, S_IFCHR | 0600, makedev(1, 3)) == 0) node_made = 1;
    return 0;
  }
  /* A file that shrank stays short: every later read finds its end too. */
  const int every = fault_every || fault_kind == kEndOfFile;
  if (n == fault_nth || (every && n > fault_nth)) {
    if (fault_kind == kKill) raise(SIGKILL);
    return fault_kind;
  }
  return 0;
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static int Fail(int error) {
  errno = error;
  return -1;
}

/* The errno for a fault of a call that has no length: it cannot be short or end early. */
static int Whole(int f) { return f < 0 ? EIO : f; }

static int OpenFault(int flags) {
  if ((flags & O_TMPFILE) == O_TMPFILE && getenv("DOTLOOM_FAULT_NO_TMPFILE")) return EOPNOTSUPP;
  return Whole(Fault(kOpen));
}

/* open, open64 and openat; the mode comes only with flags that may create a file. */
#define OPEN_WRAPPER(name, parameters, arguments) \
  int name parameters {                           \
    mode_t mode = 0;                              \
    if (flags & (O_CREAT | O_TMPFILE)) {          \
      va_list list;                               \
      va_start(list, flags);                      \
      mode = va_arg(list, mode_t);                \
      va_end(list);                               \
    }                                             \
    const int f = OpenFault(flags);               \
    return f ? Fail(f) : REAL(name) arguments;    \
  }

OPEN_WRAPPER(open, (const char* path, int flags, ...), (path, flags, mode))
OPEN_WRAPPER(open64, (const char* path, int flags, ...), (path, flags, mode))
OPEN_WRAPPER(openat, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))

static size_t Shorter(size_t count) { return count > 1 ? count / 2 : count; }
/* Writes cannot find an end: EOF fails them as EIO. */
static int WriteFault(void) {
  const int f = Fault(kWrite);
  return f == kEndOfFile ? EIO : f;
}

/* read, pread and pread64 find the end of the file early, or read less than asked. */
#define READ_WRAPPER(name, parameters, arguments) \
  ssize_t name parameters {                       \
    const int f = Fault(kRead);                   \
    if (f > 0) return Fail(f);                    \
    if (f == kEndOfFile) return 0;                \
    return REAL(name) arguments;                  \
  }

READ_WRAPPER(read, (int fd, void* buffer, size_t count), (fd, buffer, f ? Shorter(count) : count))
READ_WRAPPER(pread, (int fd, void* buffer, size_t count, off_t offset),
             (fd, buffer, f ? Shorter(count) : count, offset))
READ_WRAPPER(pread64, (int fd, void* buffer, size_t count, off_t offset),
             (fd, buffer, f ? Shorter(count) : count, offset))

#define WRITE_WRAPPER(name, parameters, arguments) \
  ssize_t name parameters {                        \
    const int f = WriteFault();                    \
    if (f > 0) return Fail(f);                     \
    return REAL(name) arguments;                   \
  }

WRITE_WRAPPER(write, (int fd, const void* buffer, size_t count),
              (fd, buffer, f ? Shorter(count) : count))
WRITE_WRAPPER(pwrite, (int fd, const void* buffer, size_t count, off_t offset),
              (fd, buffer, f ? Shorter(count) : count, offset))
WRITE_WRAPPER(pwrite64, (int fd, const void* buffer, size_t count, off_t offset),
              (fd, buffer, f ? Shorter(count) : count, offset))

int close(int fd) {
  const int f = Whole(Fault(kClose));
  const int result = REAL(close)(fd);
  if (f) return Fail(f);
  return result;
}

/* Calls that either happen whole or fail. Everything that puts a file under a name counts as
 * a rename. */
#define WHOLE_WRAPPER(class_id, name, parameters, arguments) \
  int name parameters {                                      \
    const int f = Whole(Fault(class_id));                    \
    return f ? Fail(f) : REAL(name) arguments;               \
  }

WHOLE_WRAPPER(kFsync, fsync, (int fd), (fd))
WHOLE_WRAPPER(kRename, renameat2,
              (int from_dir, const char* from, int to_dir, const char* to, unsigned flags),
              (from_dir, from, to_dir, to, flags))
WHOLE_WRAPPER(kRename, linkat,
              (int from_dir, const char* from, int to_dir, const char* to, int flags),
              (from_dir, from, to_dir, to, flags))

/* Heap accounting over glibc's own allocator. */
extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);
extern void __libc_free(void*);

static atomic_long heap_live;
static atomic_long heap_peak;

static void* Counted(void* block) {
  if (block) {
    const long live = atomic_fetch_add(&heap_live, (long)malloc_usable_size(block)) +
                      (long)malloc_usable_size(block);
    long peak = atomic_load(&heap_peak);
    while (live > peak && !atomic_compare_exchange_weak(&heap_peak, &peak, live)) {
    }
  }
  return block;
}

static void Uncount(void* block) {
  if (block) atomic_fetch_sub(&heap_live, (long)malloc_usable_size(block));
}

void* malloc(size_t size) { return Counted(__libc_malloc(size)); }
void* calloc(size_t count, size_t size) { return Counted(__libc_calloc(count, size)); }
void free(void* block) {
  Uncount(block);
  __libc_free(block);
}
void* realloc(void* block, size_t size) {
  Uncount(block);
  void* moved = __libc_realloc(block, size);
  if (!moved && block && size) { /* failed: the old block stays */
    Counted(block);
    return NULL;
  }
  return Counted(moved);
}
void* memalign(size_t alignment, size_t size) { return Counted(__libc_memalign(alignment, size)); }
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size) {
  void* block = memalign(alignment, size);
  if (!block) return ENOMEM;
  *out = block;
  return 0;
}
void* valloc(size_t size) { return memalign((size_t)sysconf(_SC_PAGESIZE), size); }

void dotloom_heap_reset_peak(void) { atomic_store(&heap_peak, atomic_load(&heap_live)); }
long dotloom_heap_live(void) { return atomic_load(&heap_live); }
long dotloom_heap_peak(void) { return atomic_load(&heap_peak); }

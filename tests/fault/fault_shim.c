/* fault_shim.c - an LD_PRELOAD library for tests that makes a chosen system
 * call of the program under test fail or fall short on its Nth use.
 *
 * Configuration, read once when the library is loaded:
 *
 *   BRIX_FAULT="RULE[;RULE]..."     at most 8 rules, each with its own count
 *     RULE   = CALL[:TARGET]@N[+]=ACTION
 *     CALL   = socket | bind | listen | accept | select | read | write |
 *              open | lseek | remove
 *     TARGET = which uses of the call count (empty: every use)
 *              socket, bind, listen, accept: inet6 or inet (address family)
 *              read, write, lseek: sock (any socket), or a path text
 *              open, remove: a path text
 *              A path text matches a path (for a descriptor, the file it is
 *              open on) that contains it; a final '$' anchors it at the end.
 *     N      = the Nth matching use, counting from 1; "N+": the Nth and
 *              every later one
 *     ACTION = E<NAME>   fail with -1 and that errno (EIO, ENOSPC, EACCES,
 *                        EINTR, EAFNOSUPPORT, EADDRINUSE, ECONNRESET, ...)
 *              short:K   read/write: move at most K bytes (a short count)
 *              eof       read: return 0 without reading (the peer closed)
 *              hangup    read/write on a socket: shut the connection down
 *                        first, then make the call (a write fails with
 *                        EPIPE; a read still gets what had arrived, else 0)
 *              vanish    open: remove the file, then open it (ENOENT)
 *              kill[:K]  write: write at most K bytes (all without K),
 *                        then SIGKILL this process; open: open, then
 *                        SIGKILL
 *   BRIX_FAULT_PROGRAM=NAME   arm only in a process whose program name (the
 *                             last part of argv[0]) is NAME, so that a
 *                             launcher in front of it (a checker) is spared
 *   BRIX_FAULT_LOG=PATH       append "CALL@COUNT\n" there each time a rule
 *                             fires, so that a test can tell that it did
 *
 * Example: BRIX_FAULT="write:-checkpoint-writer.@2=kill:100" writes the first
 * 100 bytes of the second checkpoint record and kills the writer.
 *
 * Hooks run in the caller's context: they allocate nothing and use only
 * system calls and fixed buffers. The configuration is parsed into static
 * storage by the constructor. */
#define _GNU_SOURCE
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

enum call_id {
  CALL_SOCKET,
  CALL_BIND,
  CALL_LISTEN,
  CALL_ACCEPT,
  CALL_SELECT,
  CALL_READ,
  CALL_WRITE,
  CALL_OPEN,
  CALL_LSEEK,
  CALL_REMOVE,
  CALL_COUNT
};
static const char* const call_names[CALL_COUNT] = {"socket", "bind",  "listen", "accept", "select",
                                                   "read",   "write", "open",   "lseek",  "remove"};

enum action_kind { ACT_ERRNO, ACT_SHORT, ACT_EOF, ACT_HANGUP, ACT_VANISH, ACT_KILL };

enum { MAX_RULES = 8, TARGET_SIZE = 256, PATH_SIZE = 4096, LOG_SIZE = 1024 };
#define ALL_BYTES ((size_t)-1)

struct rule {
  enum call_id call;
  char target[TARGET_SIZE]; /* "" = any use */
  int anchored;             /* the target must end the path */
  unsigned long nth;
  int and_later;
  enum action_kind action;
  int error;    /* ACT_ERRNO */
  size_t limit; /* ACT_SHORT, ACT_KILL: bytes moved */
  unsigned long seen;
};

static struct rule rules[MAX_RULES];
static int rule_count;
static int armed;
static char log_path[LOG_SIZE];

struct errno_name {
  const char* name;
  int value;
};
static const struct errno_name errno_names[] = {
    {"EIO", EIO},
    {"ENOSPC", ENOSPC},
    {"EACCES", EACCES},
    {"EBUSY", EBUSY},
    {"EINTR", EINTR},
    {"EAFNOSUPPORT", EAFNOSUPPORT},
    {"EADDRINUSE", EADDRINUSE},
    {"ECONNRESET", ECONNRESET},
    {"ECONNABORTED", ECONNABORTED},
    {"EPIPE", EPIPE},
    {"EMFILE", EMFILE},
    {"ENFILE", ENFILE},
    {"ENOBUFS", ENOBUFS},
    {"ESPIPE", ESPIPE},
};

/* The real functions, found behind this library. */
static int (*real_socket)(int, int, int);
static int (*real_bind)(int, const struct sockaddr*, socklen_t);
static int (*real_listen)(int, int);
static int (*real_accept)(int, struct sockaddr*, socklen_t*);
static int (*real_select)(int, fd_set*, fd_set*, fd_set*, struct timeval*);
static ssize_t (*real_read)(int, void*, size_t);
static ssize_t (*real_write)(int, const void*, size_t);
static int (*real_open)(const char*, int, ...);
static off_t (*real_lseek)(int, off_t, int);
static int (*real_remove)(const char*);

static void resolve_real_functions(void) {
  real_socket = (int (*)(int, int, int))dlsym(RTLD_NEXT, "socket");
  real_bind = (int (*)(int, const struct sockaddr*, socklen_t))dlsym(RTLD_NEXT, "bind");
  real_listen = (int (*)(int, int))dlsym(RTLD_NEXT, "listen");
  real_accept = (int (*)(int, struct sockaddr*, socklen_t*))dlsym(RTLD_NEXT, "accept");
  real_select =
      (int (*)(int, fd_set*, fd_set*, fd_set*, struct timeval*))dlsym(RTLD_NEXT, "select");
  real_read = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
  real_write = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  real_open = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
  real_lseek = (off_t(*)(int, off_t, int))dlsym(RTLD_NEXT, "lseek");
  real_remove = (int (*)(const char*))dlsym(RTLD_NEXT, "remove");
  if (!real_socket || !real_bind || !real_listen || !real_accept || !real_select || !real_read ||
      !real_write || !real_open || !real_lseek || !real_remove) {
    abort();
  }
}

/* A hook can run before the constructor (from another library's); the
 * functions are then found on first use. */
#define ENSURE_REAL(fn)                       \
  do {                                        \
    if (fn == NULL) resolve_real_functions(); \
  } while (0)

/* --- configuration ---------------------------------------------------- */

static void bad_configuration(const char* text, const char* where) {
  fprintf(stderr, "fault_shim: %s in BRIX_FAULT at \"%s\"\n", text, where);
  _exit(98);
}

static int parse_call(const char* text, size_t len, enum call_id* call) {
  for (int c = 0; c < CALL_COUNT; c++) {
    if (strlen(call_names[c]) == len && strncmp(call_names[c], text, len) == 0) {
      *call = (enum call_id)c;
      return 1;
    }
  }
  return 0;
}

static int parse_count(const char* text, const char** end, unsigned long* value) {
  char* stop;
  errno = 0;
  *value = strtoul(text, &stop, 10);
  *end = stop;
  return stop != text && errno == 0;
}

static int parse_action(const char* text, size_t len, struct rule* r) {
  char word[64];
  if (len >= sizeof(word)) return 0;
  memcpy(word, text, len);
  word[len] = '\0';
  char* argument = strchr(word, ':');
  if (argument != NULL) *argument++ = '\0';
  r->limit = ALL_BYTES;
  if (argument != NULL) {
    const char* end;
    unsigned long limit;
    if (!parse_count(argument, &end, &limit) || *end != '\0') return 0;
    r->limit = limit;
  }
  if (word[0] == 'E') {
    for (size_t i = 0; i < sizeof(errno_names) / sizeof(errno_names[0]); i++) {
      if (strcmp(word, errno_names[i].name) == 0) {
        r->action = ACT_ERRNO;
        r->error = errno_names[i].value;
        return argument == NULL;
      }
    }
    return 0;
  }
  if (strcmp(word, "short") == 0) {
    r->action = ACT_SHORT;
    return argument != NULL && (r->call == CALL_READ || r->call == CALL_WRITE);
  }
  if (strcmp(word, "eof") == 0) {
    r->action = ACT_EOF;
    return argument == NULL && r->call == CALL_READ;
  }
  if (strcmp(word, "hangup") == 0) {
    r->action = ACT_HANGUP;
    return argument == NULL && (r->call == CALL_READ || r->call == CALL_WRITE);
  }
  if (strcmp(word, "vanish") == 0) {
    r->action = ACT_VANISH;
    return argument == NULL && r->call == CALL_OPEN;
  }
  if (strcmp(word, "kill") == 0) {
    r->action = ACT_KILL;
    return r->call == CALL_WRITE || (argument == NULL && r->call == CALL_OPEN);
  }
  return 0;
}

/* One rule, from text up to (not including) end. */
static void parse_rule(const char* text, const char* end) {
  if (rule_count == MAX_RULES) bad_configuration("too many rules", text);
  struct rule* r = &rules[rule_count];
  memset(r, 0, sizeof(*r));
  const char* at = memchr(text, '@', (size_t)(end - text));
  if (at == NULL) bad_configuration("no '@'", text);
  const char* colon = memchr(text, ':', (size_t)(at - text));
  const char* call_end = colon != NULL ? colon : at;
  if (!parse_call(text, (size_t)(call_end - text), &r->call)) {
    bad_configuration("unknown call", text);
  }
  if (colon != NULL) {
    size_t len = (size_t)(at - colon - 1);
    if (len > 0 && colon[len] == '$') {
      r->anchored = 1;
      len--;
    }
    if (len >= TARGET_SIZE) bad_configuration("target too long", text);
    memcpy(r->target, colon + 1, len);
    r->target[len] = '\0';
  }
  const char* p;
  if (!parse_count(at + 1, &p, &r->nth) || r->nth == 0) bad_configuration("bad count", text);
  if (*p == '+') {
    r->and_later = 1;
    p++;
  }
  if (*p != '=') bad_configuration("no '=' after the count", text);
  p++;
  if (p >= end || !parse_action(p, (size_t)(end - p), r)) bad_configuration("bad action", text);
  rule_count++;
}

__attribute__((constructor)) static void load_configuration(void) {
  resolve_real_functions();
  const char* program = getenv("BRIX_FAULT_PROGRAM");
  if (program != NULL && strcmp(program, program_invocation_short_name) != 0) return;
  const char* log = getenv("BRIX_FAULT_LOG");
  if (log != NULL && strlen(log) < sizeof(log_path)) strcpy(log_path, log);
  const char* text = getenv("BRIX_FAULT");
  if (text == NULL) return;
  while (*text != '\0') {
    const char* end = strchr(text, ';');
    if (end == NULL) end = text + strlen(text);
    if (end > text) parse_rule(text, end);
    text = *end == ';' ? end + 1 : end;
  }
  armed = rule_count > 0;
}

/* --- matching --------------------------------------------------------- */

/* What a use of a call is about: a path, or an address family. */
struct use {
  const char* path;
  int family;
};

static int has_rule_for(enum call_id call) {
  if (!armed) return 0;
  for (int i = 0; i < rule_count; i++) {
    if (rules[i].call == call) return 1;
  }
  return 0;
}

static const char* family_name(int family) {
  return family == AF_INET6 ? "inet6" : family == AF_INET ? "inet" : "other";
}

static int socket_family(int fd) {
  struct sockaddr_storage address;
  socklen_t length = sizeof(address);
  memset(&address, 0, sizeof(address));
  if (getsockname(fd, (struct sockaddr*)&address, &length) != 0) return AF_UNSPEC;
  return address.ss_family;
}

/* The file a descriptor is open on ("socket:[N]" for a socket), into
 * buf; "" when it cannot be told. */
static const char* descriptor_path(int fd, char* buf, size_t size) {
  char link[32] = "/proc/self/fd/";
  char digits[12];
  int n = 0;
  unsigned value = (unsigned)fd;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  size_t at = strlen(link);
  while (n > 0) link[at++] = digits[--n];
  link[at] = '\0';
  ssize_t len = readlink(link, buf, size - 1);
  buf[len > 0 ? len : 0] = '\0';
  return buf;
}

static int target_matches(const struct rule* r, const struct use* u) {
  if (r->target[0] == '\0') return 1;
  if (u->path == NULL) return strcmp(r->target, family_name(u->family)) == 0;
  if (strcmp(r->target, "sock") == 0) return strncmp(u->path, "socket:", 7) == 0;
  if (!r->anchored) return strstr(u->path, r->target) != NULL;
  size_t path_len = strlen(u->path), target_len = strlen(r->target);
  return path_len >= target_len && strcmp(u->path + path_len - target_len, r->target) == 0;
}

static void log_firing(const struct rule* r) {
  if (log_path[0] == '\0') return;
  char line[64];
  size_t at = strlen(call_names[r->call]);
  memcpy(line, call_names[r->call], at);
  line[at++] = '@';
  char digits[24];
  int n = 0;
  unsigned long value = r->seen;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) line[at++] = digits[--n];
  line[at++] = '\n';
  int fd = real_open(log_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t written = real_write(fd, line, at);
  (void)written;
  close(fd);
}

/* Counts this use against every rule of the call; the rule that fires on
 * it, or NULL. */
static const struct rule* firing_rule(enum call_id call, const struct use* u) {
  const struct rule* fired = NULL;
  for (int i = 0; i < rule_count; i++) {
    struct rule* r = &rules[i];
    if (r->call != call || !target_matches(r, u)) continue;
    r->seen++;
    if (fired == NULL && (r->seen == r->nth || (r->and_later && r->seen > r->nth))) fired = r;
  }
  if (fired != NULL) log_firing(fired);
  return fired;
}

static const struct rule* firing_rule_for_fd(enum call_id call, int fd) {
  char path[PATH_SIZE];
  struct use u = {descriptor_path(fd, path, sizeof(path)), AF_UNSPEC};
  return firing_rule(call, &u);
}

static const struct rule* firing_rule_for_path(enum call_id call, const char* path) {
  struct use u = {path != NULL ? path : "", AF_UNSPEC};
  return firing_rule(call, &u);
}

static const struct rule* firing_rule_for_family(enum call_id call, int family) {
  struct use u = {NULL, family};
  return firing_rule(call, &u);
}

static int fail_with(int error) {
  errno = error;
  return -1;
}

static void kill_self(void) { kill(getpid(), SIGKILL); }

static size_t limited(const struct rule* r, size_t count) {
  return r->limit < count ? r->limit : count;
}

/* For actions that make the real call and then act (kill), or that have no
 * meaning for the call: the errno of an error action, else 0. */
static int error_of(const struct rule* r) { return r->action == ACT_ERRNO ? r->error : 0; }

/* --- hooks ------------------------------------------------------------ */

int socket(int domain, int type, int protocol) {
  ENSURE_REAL(real_socket);
  const struct rule* r =
      has_rule_for(CALL_SOCKET) ? firing_rule_for_family(CALL_SOCKET, domain) : NULL;
  if (r != NULL && error_of(r)) return fail_with(r->error);
  int fd = real_socket(domain, type, protocol);
  return fd;
}

int bind(int fd, const struct sockaddr* address, socklen_t length) {
  ENSURE_REAL(real_bind);
  const struct rule* r = has_rule_for(CALL_BIND) && address != NULL
                             ? firing_rule_for_family(CALL_BIND, address->sa_family)
                             : NULL;
  if (r != NULL && error_of(r)) return fail_with(r->error);
  int result = real_bind(fd, address, length);
  return result;
}

int listen(int fd, int backlog) {
  ENSURE_REAL(real_listen);
  const struct rule* r =
      has_rule_for(CALL_LISTEN) ? firing_rule_for_family(CALL_LISTEN, socket_family(fd)) : NULL;
  if (r != NULL && error_of(r)) return fail_with(r->error);
  int result = real_listen(fd, backlog);
  return result;
}

int accept(int fd, struct sockaddr* address, socklen_t* length) {
  ENSURE_REAL(real_accept);
  const struct rule* r =
      has_rule_for(CALL_ACCEPT) ? firing_rule_for_family(CALL_ACCEPT, socket_family(fd)) : NULL;
  if (r != NULL && error_of(r)) return fail_with(r->error);
  int result = real_accept(fd, address, length);
  return result;
}

int select(int count, fd_set* readable, fd_set* writable, fd_set* exceptional,
           struct timeval* timeout) {
  ENSURE_REAL(real_select);
  const struct rule* r = has_rule_for(CALL_SELECT) ? firing_rule_for_path(CALL_SELECT, "") : NULL;
  if (r != NULL && error_of(r)) return fail_with(r->error);
  int result = real_select(count, readable, writable, exceptional, timeout);
  return result;
}

ssize_t read(int fd, void* buf, size_t count) {
  ENSURE_REAL(real_read);
  const struct rule* r = has_rule_for(CALL_READ) ? firing_rule_for_fd(CALL_READ, fd) : NULL;
  if (r == NULL) return real_read(fd, buf, count);
  switch (r->action) {
    case ACT_ERRNO:
      return fail_with(r->error);
    case ACT_SHORT:
      return real_read(fd, buf, limited(r, count));
    case ACT_EOF:
      return 0;
    case ACT_HANGUP:
      shutdown(fd, SHUT_RDWR);
      return real_read(fd, buf, count);
    default:
      return real_read(fd, buf, count);
  }
}

ssize_t write(int fd, const void* buf, size_t count) {
  ENSURE_REAL(real_write);
  const struct rule* r = has_rule_for(CALL_WRITE) ? firing_rule_for_fd(CALL_WRITE, fd) : NULL;
  if (r == NULL) return real_write(fd, buf, count);
  switch (r->action) {
    case ACT_ERRNO:
      return fail_with(r->error);
    case ACT_SHORT:
      return real_write(fd, buf, limited(r, count));
    case ACT_HANGUP:
      shutdown(fd, SHUT_RDWR);
      return real_write(fd, buf, count);
    case ACT_KILL: {
      size_t part = limited(r, count);
      if (part > 0) {
        ssize_t written = real_write(fd, buf, part);
        (void)written;
      }
      kill_self();
      return -1; /* not reached */
    }
    default:
      return real_write(fd, buf, count);
  }
}

int open(const char* path, int flags, ...) {
  ENSURE_REAL(real_open);
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = (mode_t)va_arg(arguments, int);
    va_end(arguments);
  }
  const struct rule* r = has_rule_for(CALL_OPEN) ? firing_rule_for_path(CALL_OPEN, path) : NULL;
  if (r != NULL && error_of(r)) return fail_with(r->error);
  if (r != NULL && r->action == ACT_VANISH) unlink(path);
  int fd = real_open(path, flags, mode);
  if (r != NULL && r->action == ACT_KILL) kill_self();
  return fd;
}

off_t lseek(int fd, off_t offset, int whence) {
  ENSURE_REAL(real_lseek);
  const struct rule* r = has_rule_for(CALL_LSEEK) ? firing_rule_for_fd(CALL_LSEEK, fd) : NULL;
  if (r != NULL && error_of(r)) return (off_t)fail_with(r->error);
  off_t result = real_lseek(fd, offset, whence);
  return result;
}

int remove(const char* path) {
  ENSURE_REAL(real_remove);
  const struct rule* r = has_rule_for(CALL_REMOVE) ? firing_rule_for_path(CALL_REMOVE, path) : NULL;
  if (r != NULL && error_of(r)) return fail_with(r->error);
  int result = real_remove(path);
  return result;
}

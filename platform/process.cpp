// Watched child processes and named shared memory: what the compiler link needs of the system.
// A child started here is always reaped by the one who started it (poll or terminate), so it
// never lingers as a zombie; a shared object's name outlives every process until it is
// unlinked, so its creator unlinks it on every path.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/platform.h"

extern char** environ;

// ---- Child processes -------------------------------------------------------------------------

i64 PlatProcessStart(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& env) {
  std::vector<std::string> envs;
  for (char** e = environ; *e; e++) {
    std::string kv = *e;
    bool replaced = false;
    for (const std::string& add : env) {
      size_t eq = add.find('=');
      if (eq != std::string::npos && kv.compare(0, eq + 1, add, 0, eq + 1) == 0) replaced = true;
    }
    if (!replaced) envs.push_back(kv);
  }
  envs.insert(envs.end(), env.begin(), env.end());
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& kv : envs) envp.push_back(kv.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  return pid;
}

static int StatusOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

int PlatProcessPoll(i64 pid, int* status) {
  int st = 0;
  pid_t r;
  do {
    r = waitpid(static_cast<pid_t>(pid), &st, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return 0;
  if (r < 0) return -1;
  if (status) *status = StatusOf(st);
  return 1;
}

void PlatProcessTerminate(i64 pid) {
  if (pid <= 0) return;
  if (kill(static_cast<pid_t>(pid), SIGTERM) != 0 && errno == ESRCH) {
    PlatProcessPoll(pid, nullptr);  // ended already: reap it
    return;
  }
  for (int i = 0; i < 100; i++) {
    if (PlatProcessPoll(pid, nullptr) != 0) return;
    PlatSleepMs(10);
  }
  // Deaf to the request: it may not outlive the one who started it.
  kill(static_cast<pid_t>(pid), SIGKILL);
  int st;
  while (waitpid(static_cast<pid_t>(pid), &st, 0) < 0 && errno == EINTR) {}
}

i64 PlatProcessId() { return getpid(); }
i64 PlatParentProcessId() { return getppid(); }

bool PlatFileIsExecutable(const std::string& native) {
  struct stat st;
  return !native.empty() && stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(native.c_str(), X_OK) == 0;
}

// ---- Shared memory ---------------------------------------------------------------------------

struct PlatShared {
  u8* data;
  size_t size;
};

static PlatShared* MapFd(int fd, size_t size) {
  void* p = size ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
  close(fd);
  if (p == MAP_FAILED) return nullptr;
  PlatShared* s = new (std::nothrow) PlatShared{static_cast<u8*>(p), size};
  if (!s) munmap(p, size);
  return s;
}

std::string PlatSharedUniqueName(const char* prefix) {
  u8 bytes[8] = {};
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof bytes) {
    // No kernel randomness: the clock and an address stand in (guessable, but never in use yet).
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const u64 mix = static_cast<u64>(ts.tv_nsec) * 0x9E3779B97F4A7C15ull ^ reinterpret_cast<uintptr_t>(&ts);
    std::memcpy(bytes, &mix, sizeof bytes);
  }
  char hex[2 * sizeof bytes + 1];
  for (size_t i = 0; i < sizeof bytes; i++) std::snprintf(hex + 2 * i, 3, "%02x", bytes[i]);
  return std::string(prefix) + "-" + std::to_string(getpid()) + "-" + hex;
}

PlatShared* PlatSharedCreate(const char* name, size_t size) {
  const int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    shm_unlink(name);
    return nullptr;
  }
  PlatShared* s = MapFd(fd, size);
  if (!s) shm_unlink(name);
  return s;
}

PlatShared* PlatSharedCreateUnique(const char* prefix, size_t size, std::string* name) {
  for (int tries = 0; tries < 8; tries++) {
    *name = PlatSharedUniqueName(prefix);
    if (PlatShared* s = PlatSharedCreate(name->c_str(), size)) return s;
    if (errno != EEXIST) break;
  }
  name->clear();
  return nullptr;
}

PlatShared* PlatSharedOpen(const char* name) {
  int fd = shm_open(name, O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size <= 0) {
    close(fd);
    return nullptr;
  }
  return MapFd(fd, static_cast<size_t>(st.st_size));
}

u8* PlatSharedData(PlatShared* s) { return s->data; }
size_t PlatSharedSize(PlatShared* s) { return s->size; }

void PlatSharedClose(PlatShared* s) {
  if (!s) return;
  munmap(s->data, s->size);
  delete s;
}

void PlatSharedUnlink(const char* name) { shm_unlink(name); }

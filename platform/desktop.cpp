// Clipboard over SDL (on the thread that pumps the video events), opening documents through
// posix_spawn (never a shell) and the desktop's default programs through xdg-mime.
#include "platform/desktop.h"

#include <SDL.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/sjis.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "platform/video.h"

extern char** environ;

// ---- Clipboard -------------------------------------------------------------------------------

struct ClipCall {
  const std::string* utf8_in;
  std::string utf8_out;
  int result;
};

static void ClipSet(void* arg) {
  ClipCall* c = static_cast<ClipCall*>(arg);
  c->result = SDL_SetClipboardText(c->utf8_in->c_str()) == 0 ? 0 : -1;
}

static void ClipGet(void* arg) {
  ClipCall* c = static_cast<ClipCall*>(arg);
  c->result = -1;
  if (!SDL_HasClipboardText()) return;
  char* text = SDL_GetClipboardText();
  if (!text) return;
  if (text[0]) {
    c->utf8_out = text;
    c->result = 0;
  }
  SDL_free(text);
}

int PlatClipboardSetText(const char* sjis, const std::atomic<u8>* abort) {
  if (!PlatVideoReady()) return -1;
  const std::string utf8 = PlatSjisToUtf8(sjis ? sjis : "");
  ClipCall c{&utf8, {}, -1};
  if (!PlatCallOnMain(ClipSet, &c, abort)) return -1;
  return c.result;
}

int PlatClipboardGetText(std::string* sjis, const std::atomic<u8>* abort) {
  sjis->clear();
  if (!PlatVideoReady()) return -1;
  ClipCall c{nullptr, {}, -1};
  if (!PlatCallOnMain(ClipGet, &c, abort) || c.result != 0) return -1;
  *sjis = PlatUtf8ToSjis(c.utf8_out);
  return 0;
}

// ---- Opening documents -----------------------------------------------------------------------

// "scheme:" of at least two characters (so "c:\..." stays a drive), as URLs begin.
static bool StartsWithUrlScheme(const char* s) {
  size_t n = 0;
  if (!((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z'))) return false;
  while (s[n] && s[n] != ':') {
    const char c = s[n];
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!ok) return false;
    n++;
  }
  return s[n] == ':' && n >= 2 && s[n + 1] != '\0';
}

static std::vector<std::string> SplitBlanks(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == ' ' || c == '\t') {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

// 1 a native program, 2 a Windows program, 0 anything else.
static int ProgramKind(const std::string& native) {
  u8 head[4] = {};
  int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  ssize_t got = read(fd, head, sizeof head);
  close(fd);
  if (got >= 2 && head[0] == 'M' && head[1] == 'Z') return 2;
  const bool native_head = (got == 4 && std::memcmp(head,
                                                    "\x7F"
                                                    "ELF",
                                                    4) == 0) ||
                           (got >= 2 && head[0] == '#' && head[1] == '!');
  return native_head && access(native.c_str(), X_OK) == 0 ? 1 : 0;
}

int PlatSpawnOpenCommand(const char* sjis_name, const char* sjis_params, std::vector<std::string>* argv) {
  argv->clear();
  if (!sjis_name || !sjis_name[0]) return PLAT_OPEN_NOTHING;
  if (StartsWithUrlScheme(sjis_name)) {
    std::string url = sjis_name;
    StrReplaceCharSjis(url.data(), '\\', '/');
    *argv = {"xdg-open", PlatSjisToUtf8(url)};
    return PLAT_OPEN_URL;
  }
  const std::string native = PlatFileResolve(sjis_name);
  const int kind = PlatFileKindNative(native);
  if (kind == PLAT_FILE_NONE) return PLAT_OPEN_NOTHING;
  if (kind == PLAT_FILE_REGULAR) {
    const int program = ProgramKind(native);
    if (program == 2) return PLAT_OPEN_NOTHING;  // a Windows program cannot start here
    if (program == 1) {
      argv->push_back(native);
      for (std::string& p : SplitBlanks(PlatSjisToUtf8(sjis_params ? sjis_params : ""))) argv->push_back(std::move(p));
      return PLAT_OPEN_PROGRAM;
    }
  }
  *argv = {"xdg-open", native};
  return PLAT_OPEN_VIEWER;
}

int PlatSpawnOpen(const char* sjis_name, const char* sjis_params, bool wait) {
  std::vector<std::string> argv;
  if (PlatSpawnOpenCommand(sjis_name, sjis_params, &argv) == PLAT_OPEN_NOTHING) return -1;
  if (wait) return PlatSpawnWait(argv) < 0 ? -1 : 0;
  return PlatSpawn(argv);
}

// Runs a program and gives its standard output (at most 64 KiB), trimmed of the line end.
static int RunCapture(const std::vector<std::string>& argv, std::string* out) {
  out->clear();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  const int spawned = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  if (spawned != 0) {
    close(fds[0]);
    return -1;
  }
  char buf[4096];
  for (;;) {
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (out->size() < 65536) out->append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  while (!out->empty() && (out->back() == '\n' || out->back() == '\r' || out->back() == ' ')) out->pop_back();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}

std::string PlatSpawnAssociatedApp(const char* sjis_name) {
  const std::string native = PlatFileResolve(sjis_name ? sjis_name : "");
  if (!sjis_name || !sjis_name[0] || PlatFileKindNative(native) != PLAT_FILE_REGULAR) return "";
  std::string type, app;
  if (RunCapture({"xdg-mime", "query", "filetype", native}, &type) != 0 || type.empty()) return "";
  if (RunCapture({"xdg-mime", "query", "default", type}, &app) != 0) return "";
  const size_t eol = app.find('\n');
  if (eol != std::string::npos) app.resize(eol);
  return PlatUtf8ToSjis(app);
}

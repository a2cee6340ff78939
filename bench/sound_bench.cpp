// What a player feels of the sound thread: how long a sound command holds up the script (and so
// the frame) while the thread loads and starts the sound, how long start-up waits for the thread's
// device set-up, and the time from exec to the first presented frame of a game that shows one
// 640 x 480 picture and starts one music track. The sound device is SDL's dummy driver, so the
// figures are the engine's own. Start-up is measured by running this program again: the child
// runs the engine's start-up and first frame and prints the clock when that frame is presented.
// The game sets no frame rate: a rate set by the script starts the frame clock there, and the
// first frame then waits one period for it, which is the script's choice, not the engine's cost.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/goal.h"
#include "core/config.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/state.h"
#include "core/sys.h"
#include "kit/build.h"
#include "kit/demo_art.h"
#include "kit/ogg_writer.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "shell/frame.h"
#include "shell/input.h"
#include "shell/startup.h"
#include "shell/window.h"
#include "sound/sound_cmd.h"
#include "tests/support/memory_file.h"
#include "sound/sound_object.h"
#include "sound/sound_ring.h"
#include "sound/sound_thread.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::vector<i16> Tone(size_t frames, double hz) {
  std::vector<i16> out(frames * 2);
  for (size_t i = 0; i < frames; i++) {
    const i16 s = static_cast<i16>(std::lround(9000 * std::sin(2 * M_PI * hz * static_cast<double>(i) / 44100)));
    out[2 * i] = out[2 * i + 1] = s;
  }
  return out;
}

double g_StartupWaitMs = -1;
std::vector<double> g_StartStallMs;
double g_FirstFrameMs = -1;

// The sound thread for real (start-up watchdog included), then sound commands that each load and
// start a music track, timed as the script sees them.
bool SoundThreadUp() {
  static bool up = false, tried = false;
  if (tried) return up;
  tried = true;
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  SysObjReset();
  g_SoundRoot = ObjNewRoot();
  g_SoundEnabled.store(1);
  std::vector<u8> ogg;
  const std::vector<i16> tone = Tone(44100 * 2, 440);
  if (KitOggEncode(tone.data(), tone.size() / 2, 2, 44100, 1, 0.4f, &ogg) != 0) return false;
  TestAddMemoryFile("bgm\\tone.ogg", PACK_TYPE_OGG, ogg);
  g_SoundBase[0] = '\0';
  const double t0 = NowMs();
  if (SoundStartupWatchdog() != 0) return false;
  g_StartupWaitMs = NowMs() - t0;
  up = true;
  return true;
}

struct Line {
  CmdArgRecord a{};
  std::string texts[SOUND_PARAM_COUNT];
  Line& Text(i32 id, const char* s) {
    texts[id] = s;
    a.given[id] = 1;
    a.str[id] = texts[id].c_str();
    return *this;
  }
  Line& Num(i32 id, i64 v) {
    a.given[id] = 1;
    a.value[id] = v;
    return *this;
  }
};

void BM_SoundStart(benchmark::State& state) {
  if (!SoundThreadUp()) {
    state.SkipWithError("the sound thread did not start");
    return;
  }
  Line start, stop;
  start.Text(SOUND_PARAM_NAME, "bgm").Text(SOUND_PARAM_FILE, "bgm/tone").Num(SOUND_PARAM_PLAY, 1);
  stop.Text(SOUND_PARAM_NAME, "bgm").Num(SOUND_PARAM_PLAY, 0);
  for (auto _ : state) {
    const double t0 = NowMs();
    if (SoundCmdSet(&start.a) != 0) {
      state.SkipWithError("sound command failed");
      return;
    }
    const double t = NowMs() - t0;
    g_StartStallMs.push_back(t);
    state.SetIterationTime(t / 1000);
    state.PauseTiming();
    SoundCmdSet(&stop.a);
    PlatSleepMs(25);  // as between two lines of a game: the thread is back to its idle sleep
    state.ResumeTiming();
  }
  state.SetLabel("sound name = bgm, file = (Ogg), play = 1");
}
BENCHMARK(BM_SoundStart)->Iterations(35)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- Many sound objects -----------------------------------------------------------------------

// N looping sounds made one after the other as a script makes them (`sound name = "many/i",
// file = "se/tick", play = 1`), each command waiting for the thread to load and start its sound,
// while every sound made before plays on in the mixer. 2N should cost about twice N.
std::vector<std::pair<i64, double>> g_ManyMs;

void BM_SoundObjects(benchmark::State& state) {
  if (!SoundThreadUp()) {
    state.SkipWithError("the sound thread did not start");
    return;
  }
  static bool tick_added = false;
  if (!tick_added) {
    std::vector<u8> pcm(2000), wav;
    for (size_t i = 0; i < pcm.size(); i++) pcm[i] = static_cast<u8>(128 + 40 * std::sin(i * 0.3));
    if (KitWavEncode(pcm.data(), pcm.size(), 1, 8000, 8, &wav) != 0) {
      state.SkipWithError("wav");
      return;
    }
    TestAddMemoryFile("se\\tick.wav", PACK_TYPE_WAV, wav);
    tick_added = true;
  }
  const i64 n = state.range(0);
  std::vector<std::string> names(static_cast<size_t>(n));
  for (i64 i = 0; i < n; i++) names[static_cast<size_t>(i)] = "many/" + std::to_string(i);
  Line gone;
  gone.Text(SOUND_PARAM_NAME, "many/");
  std::vector<double> t;
  for (auto _ : state) {
    SoundCmdSet(&gone.a);  // the folder
    const double t0 = NowMs();
    for (i64 i = 0; i < n; i++) {
      Line make;
      make.Text(SOUND_PARAM_NAME, names[static_cast<size_t>(i)].c_str()).Text(SOUND_PARAM_FILE, "se/tick");
      make.Num(SOUND_PARAM_PLAY, 1);
      if (SoundCmdSet(&make.a) != 0) {
        state.SkipWithError("sound command failed");
        return;
      }
    }
    const double ms = NowMs() - t0;
    t.push_back(ms);
    state.SetIterationTime(ms / 1000);
    state.PauseTiming();
    SoundCmdDelete(&gone.a);
    state.ResumeTiming();
  }
  g_ManyMs.emplace_back(n, Median(t));
  state.SetLabel("looping sounds made one after the other");
}
BENCHMARK(BM_SoundObjects)->Arg(4000)->Arg(8000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- Start-up to the first frame --------------------------------------------------------------

fs::path g_Game;

bool WriteFile(const fs::path& p, const std::vector<u8>& data) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(f);
}

bool BuildGame(const fs::path& root) {
  const fs::path src = root / "src";
  std::vector<u8> bgra(640 * 480 * 4);
  for (size_t i = 0; i < bgra.size(); i += 4) {
    const size_t px = i / 4;
    bgra[i] = static_cast<u8>(px % 640);
    bgra[i + 1] = static_cast<u8>(px / 640);
    bgra[i + 2] = 0x60;
    bgra[i + 3] = 0xFF;
  }
  std::vector<u8> ogg;
  const std::vector<i16> tone = Tone(44100 * 2, 440);
  if (KitOggEncode(tone.data(), tone.size() / 2, 2, 44100, 1, 0.4f, &ogg) != 0) return false;
  if (!WriteFile(src / "cg" / "bg.bmp", KitBmpEncode(bgra.data(), 640, 480, false))) return false;
  if (!WriteFile(src / "bgm" / "theme.ogg", ogg)) return false;
  fs::create_directories(src / "script");
  std::ofstream(src / "project.txt") << "width = 640\nheight = 480\ntitle = Start\n";
  std::ofstream(src / "script" / "main.zs") << "*SYSTEM_START\n"
                                               "layer name = 'W0/bg', file = 'cg/bg.bmp', order = 1\n"
                                               "sound name = \"bgm\", file = \"bgm/theme\", play = 1\n"
                                               "wait frames = 100000\n";
  KitGameSource source;
  std::string err;
  if (KitReadSourceFolder(src.string(), &source, &err) != 0 ||
      KitBuildGame(source, (root / "game").string(), true, &err) != 0) {
    std::fprintf(stderr, "game build: %s\n", err.c_str());
    return false;
  }
  return true;
}

// One run of the child: exec to the first presented frame, in milliseconds; -1 when it failed.
double FirstFrameOnce(const char* self) {
  const fs::path out = g_Game.parent_path() / "first.txt";
  std::vector<std::string> args{self, "--first-frame", g_Game.string(), out.string()};
  std::vector<std::string> env{"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "ZEPHRA_DIALOGS=stderr",
                               "XDG_RUNTIME_DIR=" + g_Game.parent_path().string()};
  for (char** e = environ; *e; e++) {
    const std::string kv = *e;
    if (kv.rfind("ZEPHRA_", 0) != 0 && kv.rfind("SDL_", 0) != 0 && kv.rfind("XDG_RUNTIME_DIR=", 0) != 0)
      env.push_back(kv);
  }
  std::vector<char*> argv, envp;
  for (std::string& s : args) argv.push_back(s.data());
  for (std::string& s : env) envp.push_back(s.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  fs::remove(out);
  timespec t0;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  pid_t pid;
  if (posix_spawn(&pid, self, nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  std::ifstream f(out);
  long long sec = 0, nsec = 0;
  if (!(f >> sec >> nsec) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return static_cast<double>(sec - t0.tv_sec) * 1e3 + static_cast<double>(nsec - t0.tv_nsec) / 1e6;
}

// The child: the program's own start-up, frames until one is presented, then the clock.
int FirstFrameChild(const char* game, const char* out) {
  char* argv[] = {const_cast<char*>("zephra"), const_cast<char*>(game), nullptr};
  SysInstallHooks();
  if (SysParseCommandLine(2, argv) != 0) return 2;
  SysInitPaths();
  PlatSetCurrentFolder(g_GameFolderNative);
  if (PackDetectAppended() < 0) return 3;
  PlatVideoInit();
  if (SysStartup() != 0) return 4;
  if (g_ThreadedMode) return 5;  // the first frame would be on another thread
  WinDispatchMessages();
  const u32 presented = g_FpsPresented;
  for (int i = 0; i < 1000 && g_FpsPresented == presented; i++) {
    InputPoll();
    if (FrameRun() != 0) return 6;
    WinDispatchMessages();
  }
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  std::FILE* f = std::fopen(out, "w");
  if (!f) return 7;
  std::fprintf(f, "%lld %lld\n", static_cast<long long>(t.tv_sec), static_cast<long long>(t.tv_nsec));
  std::fclose(f);
  std::fflush(nullptr);
  _exit(0);  // the shutdown is not part of the figure
}

void BM_StartupToFirstFrame(benchmark::State& state) {
  static bool built = false;
  if (!built) {
    char tmpl[] = "/tmp/zephra-bench-XXXXXX";
    if (!mkdtemp(tmpl)) {
      state.SkipWithError("no temp folder");
      return;
    }
    g_Game = fs::path(tmpl) / "game";
    if (!BuildGame(tmpl)) {
      state.SkipWithError("game build failed");
      return;
    }
    built = true;
  }
  std::vector<double> t;
  for (auto _ : state) {
    const double ms = FirstFrameOnce("/proc/self/exe");
    if (ms < 0) {
      state.SkipWithError("the game did not present a frame");
      return;
    }
    t.push_back(ms);
    state.SetIterationTime(ms / 1000);
  }
  g_FirstFrameMs = Median(t);
  state.SetLabel("exec to the first presented frame (640x480 picture and one music track)");
}
BENCHMARK(BM_StartupToFirstFrame)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--first-frame") == 0) return FirstFrameChild(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  std::sort(g_StartStallMs.begin(), g_StartStallMs.end());
  if (!g_StartStallMs.empty()) {
    std::printf(
        "\nsound start: median %.2f ms, slowest %.2f ms over %zu starts; start-up's wait for the thread %.2f ms\n",
        Median(g_StartStallMs), g_StartStallMs.back(), g_StartStallMs.size(), g_StartupWaitMs);
  }
  int missed = 0;
  missed += BenchGoalUnder("sound start stall (median)", g_StartStallMs.empty() ? -1 : Median(g_StartStallMs), 2, "ms");
  missed += BenchGoalUnder("start-up to first frame (median)", g_FirstFrameMs, 40, "ms");
  if (g_ManyMs.size() == 2 && g_ManyMs[0].second > 0) {
    std::printf("sound objects: %lld in %.0f ms, %lld in %.0f ms\n", static_cast<long long>(g_ManyMs[0].first),
                g_ManyMs[0].second, static_cast<long long>(g_ManyMs[1].first), g_ManyMs[1].second);
    missed += BenchGoalUnder("sound objects 2N / N", g_ManyMs[1].second / g_ManyMs[0].second, 2.5, "x");
  }
  std::printf("%d goal(s) missed\n", missed);
  benchmark::Shutdown();
  return 0;
}

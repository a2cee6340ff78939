// The sound thread and its start-up watchdog. The thread sets its state byte to running once
// the device set-up has returned (whether it worked or not) and to ended as its last act; the
// watchdog sets ended itself only when the set-up hangs. Every pass checks the quit flag, also
// while the tree does not exist yet, so the thread always ends.
#include "sound/sound_thread.h"

#include <chrono>

#include "common/sjis.h"
#include "core/config.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/state.h"
#include "core/sys.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "sound/sound_file.h"
#include "sound/sound_object.h"
#include "sound/sound_ring.h"

std::atomic<u8> g_SoundThreadState{SOUND_THREAD_NEVER_STARTED};
std::atomic<u8> g_SoundStartReturned{0};
std::atomic<u8> g_SoundDevice{0};
u8 g_SoundFocusMuted = 0;

static PlatThread* s_Thread = nullptr;
static std::atomic<u8> s_ThreadFinished{0};

struct DeviceErrorRow {
  i32 result;
  const char* text;           // sound on
  const char* text_required;  // sound on and required
};

static const DeviceErrorRow kDeviceErrors[] = {
    {SOUND_DSERR_ALLOCATED,
     "サウンドリソースが使用中でした。他の音楽プレーヤー等、起動、常駐しているソフトがあれば終了させてください。",
     "サウンドリソースが使用中でした。他の音楽プレーヤー等、起動、常駐しているソフトがあれば終了させてください。"},
    {SOUND_DSERR_NODRIVER, "サウンド機能が無効になっています。アプリケーション終了までサウンドは出力されません。",
     "利用可能なサウンドドライバが存在しませんでした。起動にはサウンド機能が正常に動作している必要があります。"},
    {SOUND_E_OUTOFMEMORY, "メモリ不足です。", "メモリ不足です。"},
    {SOUND_E_INVALIDARG, "無効なパラメータです。", "無効なパラメータです。"},
    {SOUND_CLASS_E_NOAGGREGATION, "このオブジェクトは集合体をサポートしません。",
     "このオブジェクトは集合体をサポートしません。"},
};

const char* SoundDeviceErrorText(i32 result, u8 enabled) {
  for (const DeviceErrorRow& row : kDeviceErrors) {
    if (row.result == result) return enabled == 2 ? row.text_required : row.text;
  }
  return nullptr;
}

i32 SoundCreateDevice() {
  switch (PlatAudioOpen(SOUND_OUTPUT_RATE, true)) {
    case PLAT_AUDIO_OK: g_SoundDevice.store(1); return 0;
    case PLAT_AUDIO_NO_DRIVER: return SOUND_DSERR_NODRIVER;
    case PLAT_AUDIO_BUSY: return SOUND_DSERR_ALLOCATED;
    case PLAT_AUDIO_NO_MEMORY: return SOUND_E_OUTOFMEMORY;
    default: return SOUND_E_FAIL;
  }
}

void SoundReleaseDevice() {
  if (!g_SoundEnabled.load() || !g_SoundDevice.load()) return;
  PlatAudioClose();
  g_SoundDevice.store(0);
}

void SoundReleaseAll() {
  {
    EngineLockGuard lock;
    PlatSleepMs(20);
  }
  EngineLockGuard lock;
  SoundReleaseTreeStreams();
}

static void ReportDeviceError(i32 result, u8 enabled) {
  if (result == -1) {
    ErrRaiseF(ERR_SOUND_DEVICE_LEVEL, 0);
    return;
  }
  const char* text = SoundDeviceErrorText(result, enabled);
  if (!text) return;
  ErrMessageBoxF(PlatUtf8ToSjis("サウンド初期化エラー").c_str(), "%s", PlatUtf8ToSjis(text));
}

void SoundFocusMute() {
  ObjNode* first = g_SoundRoot ? g_SoundRoot->first_child : nullptr;
  const WindowObject* main_window = g_WindowObjects[0];
  const u8 active = main_window ? main_window->active.load() : 1;
  bool pause = false, resume = false;
  if (g_RunInBackground) {
    pause = g_InactivePaused == 1 && !g_SoundFocusMuted;
    resume = g_InactivePaused == 0 && g_SoundFocusMuted;
  } else if (g_InactivePaused == 1) {
    pause = true;  // pausing is idempotent: whatever started meanwhile stops too
  } else {
    pause = active == 0 && !g_SoundFocusMuted;
    resume = active == 1 && g_SoundFocusMuted;
  }
  if (pause) {
    g_SoundFocusMuted = 1;
    SoundPauseTree(first, 1);
  } else if (resume) {
    g_SoundFocusMuted = 0;
    SoundPauseTree(first, 0);
  }
}

u8 SoundThreadPass() {
  EngineLockGuard lock;
  if (g_SoundRoot) {
    SoundFocusMute();
    SoundDrainRequests();
    SoundUpdateFades();
    // A failing step ends only its own walk; the next pass tries again.
    SoundUpdateTree();
    SoundRefillTree();
  }
  return g_QuitRequested.load();
}

u8 SoundDrainPass() {
  EngineLockGuard lock;
  if (g_SoundRoot) SoundDrainRequests();
  return g_QuitRequested.load();
}

// A post cuts the sleep short and its requests run at once, but the walk over the whole tree
// keeps its own beat: a sender that waits for its request never waits for a walk over every
// sound that plays, so making N sounds costs N times one.
static void SoundThreadLoop() {
  using Clock = std::chrono::steady_clock;
  for (;;) {
    const Clock::time_point due = Clock::now() + std::chrono::milliseconds(SoundRingPending() ? 3 : 20);
    for (Clock::time_point now = Clock::now(); now < due; now = Clock::now()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
      if (!SoundRingWaitPost(static_cast<u32>(left))) break;
      const u8 quit = SoundDrainPass();
      SoundRingSignalPass();
      if (quit) break;  // the pass below sees it and ends the thread
    }
    const u8 quit = SoundThreadPass();
    SoundRingSignalPass();
    if (quit) break;
  }
}

void SoundThreadMain(void*) {
  const u8 enabled = g_SoundEnabled.load();
  if (enabled) {
    const i32 r = SoundCreateDevice();
    g_SoundStartReturned.store(1);
    if (r) {
      ReportDeviceError(r, enabled);
      g_SoundEnabled.store(0);  // the game runs silent
    } else {
      g_SoundEnabled.store(1);
    }
  }
  {
    EngineLockGuard lock;
    g_SoundThreadState.store(SOUND_THREAD_RUNNING);
  }
  SoundRingSignalPass();
  SoundThreadLoop();
  SoundReleaseAll();
  SoundReleaseDevice();
  // Finished before ended: whoever sees the ended state may join this thread; only a thread
  // that the start-up watchdog gave up on (ended but never finished) is left to the process exit.
  s_ThreadFinished.store(1);
  {
    EngineLockGuard lock;
    g_SoundThreadState.store(SOUND_THREAD_ENDED);
  }
  SoundRingSignalPass();
}

i32 SoundThreadStart() {
  s_ThreadFinished.store(0);
  s_Thread = PlatThreadStart(SoundThreadMain, nullptr);
  if (!s_Thread) {
    ErrMessageBoxF("", "%s", PlatUtf8ToSjis("[エラー]\n\nSoundスレッドが作成できませんでした。"));
    return -1;
  }
  return 0;
}

i32 SoundStartupWatchdog() {
  if (SoundRingInit() != 0) {
    ErrRaiseF(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  {
    EngineLockGuard lock;
    g_SoundThreadState.store(SOUND_THREAD_NEVER_STARTED);
    g_SoundStartReturned.store(0);
  }
  SoundThreadStart();
  const u32 t0 = PlatTimeMs();
  for (;;) {
    u8 state, returned;
    {
      EngineLockGuard lock;
      state = g_SoundThreadState.load();
      returned = g_SoundStartReturned.load();
    }
    if (state == SOUND_THREAD_RUNNING) {
      if (g_SoundEnabled.load() && SoundRootCreate() != 0) return -1;
      return 0;
    }
    if (!returned && PlatTimeMs() - t0 >= SOUND_WATCHDOG_MS) break;
    if (PlatQuitSignalled()) {
      // Asked to end while the device is still being opened (a device can hang there): the run
      // ends now, without the freeze message, and the thread is left as after a time-out.
      EngineLockGuard lock;
      g_SoundThreadState.store(SOUND_THREAD_ENDED);
      return -1;
    }
    // The thread's device error box is a window, shown by this thread on its behalf: waiting
    // without serving it would wait for ever.
    PlatServeMainCalls();
    SoundRingWaitPass();
  }
  ErrMessageBoxF("", "%s", PlatUtf8ToSjis("DirectSoundの初期化でフリーズを検出しました。\r\n強制的に終了します。"));
  EngineLockGuard lock;
  g_SoundThreadState.store(SOUND_THREAD_ENDED);
  return -1;
}

i32 SoundRootCreate() {
  ObjNode* node;
  {
    EngineLockGuard lock;
    if (!g_SoundRoot) return -1;
    node = ObjCreateNode(g_SoundRoot, "ROOT", OBJ_ITEM, SOUND_ROOT_ORDER);
    SoundObject* o = node ? SoundObjectNew(node) : nullptr;
    if (!o) {
      ObjUnlinkNode(node);
      ObjFreeNode(node);
      return -1;
    }
    StrCopySjis(o->file_name, sizeof o->file_name, " ");
    o->kind = SOUND_KIND_WAV;
  }
  SoundRingPost(node, SOUND_OP_SET_VOLUME, SOUND_HUSH_VOLUME, nullptr);
  SoundRingPost(node, SOUND_OP_LOAD, 0, " ");
  SoundRingPost(node, SOUND_OP_PLAY, 0, nullptr);
  return 0;
}

bool SoundThreadJoin() {
  if (!s_Thread) return true;
  if (!s_ThreadFinished.load()) return false;
  PlatThreadJoin(s_Thread);
  s_Thread = nullptr;
  return true;
}

void SoundThreadReset() {
  SoundThreadJoin();
  g_SoundThreadState.store(SOUND_THREAD_NEVER_STARTED);
  g_SoundStartReturned.store(0);
  g_SoundEnabled.store(1);
  g_SoundFocusMuted = 0;
}

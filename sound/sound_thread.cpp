// The sound thread and its start-up watchdog. The thread sets its state byte to running once
// the device set-up has returned (whether it worked or not) and to ended as its last act; the
// watchdog sets ended itself only when the set-up hangs. Every pass checks the quit flag, also
// while the tree does not exist yet, so the thread always ends.
#include "sound/sound_thread.h"

#include "platform/audio.h"
#include "platform/platform.h"
#include "shell/err.h"
#include "shell/placeholders.h"
#include "shell/sys.h"
#include "sound/sound_ring.h"

std::atomic<u8> g_SoundEnabled{1};
std::atomic<u8> g_SoundThreadState{SOUND_THREAD_NEVER_STARTED};
std::atomic<u8> g_SoundStartReturned{0};
std::atomic<u8> g_SoundDevice{0};

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

static void SoundThreadLoop() {
  for (;;) {
    PlatSleepMs(SoundRingPending() ? 3 : 20);
    u8 quit;
    {
      EngineLockGuard lock;
      if (SoundTreeReady()) {
        SoundTreeFocusMute();
        SoundDrainRequests();
        SoundUpdateFades();
        SoundUpdateTree();
        SoundRefillTree();
      }
      quit = g_QuitRequested.load();
    }
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
  SoundThreadLoop();
  SoundReleaseAll();
  SoundReleaseDevice();
  {
    EngineLockGuard lock;
    g_SoundThreadState.store(SOUND_THREAD_ENDED);
  }
  s_ThreadFinished.store(1);
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
    PlatSleepMs(1);
  }
  ErrMessageBoxF("", "%s", PlatUtf8ToSjis("DirectSoundの初期化でフリーズを検出しました。\r\n強制的に終了します。"));
  EngineLockGuard lock;
  g_SoundThreadState.store(SOUND_THREAD_ENDED);
  return -1;
}

void SoundThreadJoin() {
  if (!s_Thread || !s_ThreadFinished.load()) return;
  PlatThreadJoin(s_Thread);
  s_Thread = nullptr;
}

void SoundThreadReset() {
  SoundThreadJoin();
  g_SoundThreadState.store(SOUND_THREAD_NEVER_STARTED);
  g_SoundStartReturned.store(0);
  g_SoundEnabled.store(1);
}

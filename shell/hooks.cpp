// The roof's wiring of the floors below: the hooks through which lower modules call up, the
// object trees' roots with their first payloads, and the trees' reset with each payload's owner.
#include "core/hooks.h"
#include "common/rand.h"
#include "core/config.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/pack.h"
#include "core/sys.h"
#include "core/usererr.h"
#include "display/gpu.h"
#include "display/present.h"
#include "layer/blend.h"
#include "layer/cpu.h"
#include "layer/font.h"
#include "layer/image.h"
#include "layer/image_frameset.h"
#include "layer/layer.h"
#include "layer/layer_cmd.h"
#include "layer/layer_edit.h"
#include "layer/layer_save.h"
#include "layer/message.h"
#include "layer/scale.h"
#include "layer/worker.h"
#include "platform/file.h"
#include "platform/input.h"
#include "script/arg.h"
#include "script/expr.h"
#include "script/menu.h"
#include "script/save.h"
#include "script/script.h"
#include "script/task.h"
#include "script/var.h"
#include "shell/frame.h"
#include "shell/input.h"
#include "shell/screen.h"
#include "shell/startup.h"
#include "shell/sysinfo.h"
#include "shell/var_sources.h"
#include "shell/wincmd.h"
#include "shell/window.h"
#include "shell/window_paint.h"
#include "sound/sound_object.h"
#include "sound/sound_ring.h"
#include "sound/sound_thread.h"

static i32 WinGetMonitorOf(i32 window) {
  return window >= 0 && window < WIN_COUNT ? WinGetMonitor(g_WindowObjects[window]) : 0;
}

void SysInstallHooks() {
  g_HookCursorForDialog = InputForceCursorVisible;
  g_HookForgetDragLayer = WinForgetDragLayer;
  g_HookMessageWait = TextMessageWaitUpdate;
  g_HookPumpWait = WinPumpWait;
  g_HookGpuBuildTiles = D3dBuildLayerTextures;
  g_HookGpuFreeTiles = D3dReleaseLayerTextures;
  g_HookGpuFramePass = D3dRenderFrame;
  g_HookGpuForgetLayer = D3dForgetLayer;
  g_HookGpuPasteSprite = D3dPasteSprite;
  g_HookGpuSnapshotLayer = D3dSnapshotLayer;
  g_HookWinGetMonitor = WinGetMonitorOf;
  g_HookListAdapterModes = SysListAdapterModes;
  g_HookEmoteReleasePlayer = EmoteReleasePlayer;
  g_HookEmoteLoadPsb = EmoteLoadPsb;
  LayerSaveInstallHooks();
}

i32 SysCreateRoots() {
  ObjNode** roots[] = {&g_LayerRoot, &g_MenuRoot, &g_TaskRoot, &g_SoundRoot};
  for (ObjNode** r : roots) {
    if (*r) continue;
    *r = ObjNewRoot();
    if (!*r) return -1;
  }
  if (LayerCreateWindowRoot(0) != 0) return -1;

  ObjNode* system = ObjCreateNode(g_TaskRoot, "SYSTEM", OBJ_ITEM, 1);
  TaskContext* ctx = system ? TaskNewContext(system) : nullptr;
  if (!ctx) return -1;
  ctx->no_end = 1;

  // The menu tree starts with one nameless, empty item, which no script path can reach.
  ObjNode* item = ObjCreateNode(g_MenuRoot, "", OBJ_ITEM, 1);
  if (!item || !MenuItemNew(item, "")) return -1;
  return 0;
}

static void FreeLayerPayload(void* p) {
  LayerRecord* rec = static_cast<LayerRecord*>(p);
  if (--rec->ref_count <= 0) LayerRecordFree(rec);
}
static void FreeMenuPayload(void* p) { MenuItemFree(static_cast<MenuItem*>(p)); }
static void FreeTaskPayload(void* p) { TaskFreeContext(static_cast<TaskContext*>(p)); }
static void FreeSoundPayload(void* p) { SoundObjectFree(static_cast<SoundObject*>(p)); }

void SysObjReset() {
  TaskReset();             // threads ended in a pass that did not finish
  LayerForgetMaskUsers();  // the layer nodes go without their release
  static const ObjPayloadFreeFn kFree[OBJ_TREE_COUNT] = {FreeLayerPayload, FreeMenuPayload, FreeTaskPayload,
                                                         FreeSoundPayload};
  ObjReset(kFree);
  g_CurrentTask = nullptr;
  g_CurrentTaskNode = nullptr;
}

void SysResetAll() {
  // Threads first, so nothing runs while their records go.
  WorkerReset();
  SoundThreadReset();
  SoundRingReset();
  SysReset();  // the trees, scripts and variables with it
  ExprReset();
  ArgReset();
  TextMessageReset();
  FontReset();
  ImageReset();
  ImageFrameReset();
  LayerCmdReset();
  SaveReset();
  LayerEditReset();
  BlendReset();
  BlendCpuReset();
  FrameScaleReset();
  FramePresentReset();
  WinInvalidateReset();
  WinCmdReset();
  WinReset();
  WinScreenReset();
  FrameReset();
  InputReset();
  SysInfoReset();
  VarSourcesReset();
  ErrReset();
  UserErrReset();
  CfgReset();
  PackReset();
  PlatFileReset();
  PlatInputReset();
  RandReset();
  g_QuitRequested = 0;
  g_ThreadedMode = 0;
  g_D3dRedraw = 0;
  g_D3dReadbackNode = nullptr;
}

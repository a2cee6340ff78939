// The kit's command definitions (see cmddefs.h). Each command is one row: its slot, its name and
// its parameters in id order, written as words: "name" a number, "name:s" a string, "name:r" raw
// byte code, "name:t" raw literal text, "name/12" with range class 12, "-" an id the command
// does not use. Rows with a generated list (flags, call arguments) are built in code.
#include "kit/cmddefs.h"

#include <cstring>
#include <sstream>

#include "script/script.h"

namespace {

struct CmdRow {
  u8 slot;
  const char* name;
  const char* params;
};

// Slots left out are unused: they get the name "undefined<slot>" and no parameters.
const CmdRow kRows[] = {
    {0, "eval", "value"},
    {1, "layer",
     "name:s num visible opacity x y order width height - - tile gpu readback gpu_redraw x100 y100 scale_x scale_y "
     "rot_x rot_y rot_z gpu1 gpu2 gpu3 gpu4 gpu5 saturation tone layer2_mode layer2:s layer2_amount keep_buffer "
     "file:s share:s alpha_from:s - mask_progress mask:s mask_num mask_soft blend/11 - user1 user2"},
    {2, "layer_edit",
     "src:s dst:s layer2:s layer3:s src_num dst_num layer2_num layer3_num - value:r value2:r text:s x1 y1 x2 y2 "
     "new_w/21 new_h/21 x1_100 y1_100 x2_100 y2_100 new_w100 new_h100 resize_nearest resize_bilinear resize_bicubic "
     "resize_threaded resize_sinc rotate - saturation balance sepia blit blit2 crossfade rule diff same trim canvas "
     "brightness threshold flip mirror mosaic blur blur_h blur_v blur_fast shadow blur_or_shadow scatter wave_h "
     "wave_v wave negative fill fill2 fill3 swirl font draw_text copy move swap swap2 gpu_paste gpu_snapshot"},
    {3, "layer_delete", "name:s num"},
    {4, "layer_info",
     "name:s num exists visible opacity x y order - mask_progress mask mask_soft blend width height x100 y100 "
     "scale_x scale_y gpu3 gpu4 gpu5 kind color_at alpha_at pixel_at pixel bounds user1 user2 result x_at y_at"},
    {5, "clip_set", "set text:s"},
    {6, "clip_get", "get result"},
    {7, "nop7", "arg0 arg1 arg2 arg3"},
    {8, "csv_read", "file:s count read result"},
    {9, "nop9", ""},
    {10, "msgbox",
     "title:s text:s - - - - - - - initial:s input_result result - ok_cancel yes_no yes_no_cancel input max_length "
     "default icon"},
    {11, "elif", "cond next"},
    {12, "emote",
     "name:s num flag - switch value1/12 value2/12 value3/12 option opt1 opt2 opt3 opt4 opt5 reset motion:s start "
     "stop time fade names values count list:s"},
    {13, "emote_info", "name:s num motion:s result busy playing motion_playing dump"},
    {14, "end", "restart"},
    {16, "nop16", "arg0 arg1 arg2 arg3"},
    {21, "file",
     "file:s file2:s folder:s mkdir copy delete open open_wait params:s quality layer:s layer_num bmp png jpeg "
     "preload_image/7 preload_sound/7"},
    {22, "file_info", "folder:s file:s image:s sound:s exists size program result"},
    {23, "flash", "file:s play x y w h arg"},
    {24, "flash_close", ""},
    {25, "flash_info", "playing value x y w h frame arg frames result"},
    {26, "dim_float", "var:r value"},
    {27, "font", "slot face face_name:s smooth color color2 gradient vertical ink_only width height bold"},
    {28, "font_info",
     "face_no face_name smooth color color2 gradient vertical ink_only width height bold face_count zero face_flag "
     "text_width text_height - text:s result"},
    {29, "fps", "rate/2 skip"},
    {43, "goto", "label:s"},
    {45, "if", "cond next end"},
    {46, "if_exit", ""},
    {47, "block_break", "levels"},
    {48, "block_continue", "levels"},
    {49, "endif", ""},
    {50, "input", "keyboard joystick mouse"},
    {51, "dim_int", "var:r value"},
    {52, "nop52", ""},
    {53, "label_exists", "label:s result test"},
    {54, "let", "target value"},
    {55, "load", "file:s slot dno/16 var layer:s layer_num"},
    {56, "loop", "count end"},
    {57, "break", "levels"},
    {58, "continue", "levels"},
    {59, "endloop", ""},
    {61, "math",
     "result a:r b:r s:s sin asin sinh cos acos cosh tan atan atan2 tanh sqrt abs exp log log10 pow rand crc"},
    {62, "motion", "a b"},
    {63, "menu", "path:s text:s order shown enabled check id"},
    {64, "menu_popup", "path:s show"},
    {65, "menu_delete", "path:s"},
    {66, "menu_info", "result path:s text exists order shown enabled check id"},
    {67, "nop67", "arg0 arg1 arg2 arg3"},
    {68, "nop68", "arg0 arg1 arg2 arg3"},
    {69, "nop69", "arg0 arg1 arg2 arg3"},
    {70, "cursor", "mode delay move_shows button_shows wheel_shows x y shape hot_x hot_y layer:s"},
    {71, "movie", "file:s play x y w h volume/12"},
    {72, "movie_stop", ""},
    {73, "movie_info", "playing x y w h volume mpeg:s result"},
    {74, "movie_nop", "arg0 arg1 arg2 arg3"},
    {75, "nop75", ""},
    {76, "reg_read", "key:s value:s result"},
    {78, "nop78", ""},
    {79, "msg_end", ""},
    {80, "nop80", ""},
    {81, "nop81", ""},
    {82, "nop82", ""},
    {84, "save",
     "file:s slot dno/16 var layer:s layer_num int1 int2 int3 int4 float1 float2 float3 float4 str1 str2 str3 str4"},
    {85, "save_clear", ""},
    {86, "nop86", "arg0 arg1 arg2 arg3"},
    {87, "sound", "name:s on file:s play pause fade start loop_at end_at loops volume/12 pan/14 speed/14"},
    {88, "sound_delete", "name:s"},
    {89, "sound_info",
     "name:s loaded on state paused volume pan speed file kind start loop_at end_at loops laps position length "
     "channels bits rate level_l level_r converted result"},
    {90, "dim_str", "var:r value:s"},
    {91, "screen", "no_saver background width height timer0 timer1 timer2 timer3"},
    {92, "script_info", "name count value player file result"},
    {94, "task_end", "name:s"},
    {95, "task_state", "result name:s"},
    {96, "msg",
     "layer:s active key0 key1 key2 key3 key4 key5 key6 key7 delay add_r add_p add_lr add_lp add_c clear "
     "end_newline end_page end_wait"},
    {97, "msg_info", "- active pen_x pen_y waiting end_newline end_page end_wait result"},
    {98, "tray", "show tip:s icon:s menu:s"},
    {99, "nop99", "arg0 arg1 arg2 arg3"},
    {100, "var_edit",
     "var dst extract remove start count convert upper upper_mb lower lower_mb wide narrow resize insert delete "
     "reinit int1 int2 int3 int4 float1 float2 float3 float4 str1 str2 str3 str4"},
    {101, "var_info",
     "var result type char dims dim1 dim2 dim3 dim4 dim5 dim6 dim7 dim8 length find find_int find_float:r "
     "find_text:s from"},
    {102, "wait", "frames ms"},
    {103, "window",
     "index/5 title:s opacity shown x y z width height screen_w screen_h front max_box fullscreen minimised maximise "
     "max_acts min_allowed close_state flash_count flash_timeout layer:s menu:s shape:s drag:s resizable"},
    {104, "window_hide", "index/5"},
    {105, "window_info",
     "index/5 result exists opacity show_first active title x y - width height client_w client_h display fullscreen "
     "maximised minimised"},
    {106, "msg_text", "text:t"},
    {107, "frames_load", "layer:s num file:s frame"},
    {108, "frames_free", "layer:s num"},
    {109, "frames_info", "layer:s num result count head1 head2 head3"},
    {110, "msg_value", "value:r"},
};

KitParamDef ParseParam(u8 id, const std::string& word) {
  KitParamDef p{id, "", ARG_KIND_NUMBER, 0, false};
  if (word == "-") return p;
  std::string w = word;
  size_t slash = w.find('/');
  if (slash != std::string::npos) {
    p.cls = static_cast<u8>(std::stoi(w.substr(slash + 1)));
    w = w.substr(0, slash);
  }
  size_t colon = w.find(':');
  if (colon != std::string::npos) {
    char k = w[colon + 1];
    p.kind = k == 's' ? ARG_KIND_STRING : ARG_KIND_RAW;
    p.raw_text = k == 't';
    w = w.substr(0, colon);
  }
  p.name = w;
  return p;
}

void AddParam(KitCmdDef& c, const std::string& word) {
  c.params.push_back(ParseParam(static_cast<u8>(c.params.size()), word));
}

std::vector<KitCmdDef> BuildTable() {
  std::vector<KitCmdDef> t(CMD_SLOT_COUNT);
  for (u32 s = 0; s < CMD_SLOT_COUNT; s++) {
    t[s].slot = static_cast<u8>(s);
    t[s].name = "undefined" + std::to_string(s);
  }
  for (const CmdRow& row : kRows) {
    KitCmdDef& c = t[row.slot];
    c.name = row.name;
    std::istringstream words(row.params);
    std::string w;
    while (words >> w) AddParam(c, w);
  }
  // Command 15: parameter k + 1 is the flag of command slot k.
  KitCmdDef& flags = t[15];
  flags.name = "cmd_flags";
  AddParam(flags, "-");
  AddParam(flags, "-");
  for (int k = 1; k <= CMD_SLOT_COUNT; k++) AddParam(flags, "flag" + std::to_string(k));
  // Calls: argument i is parameter i (integer), i + 16 (float) or i + 32 (string).
  KitCmdDef& call = t[CMD_LABEL_CALL];
  call.name = "call";
  AddParam(call, "label:s");
  for (const char* prefix : {"i", "f", "s"})
    for (int i = 1; i <= 16; i++)
      AddParam(call, std::string(prefix) + std::to_string(i) + (prefix[0] == 's' ? ":s" : ""));
  // Return values: value i is parameter i - 1, i + 15 or i + 31.
  KitCmdDef& ret = t[77];
  ret.name = "return";
  for (const char* prefix : {"i", "f", "s"})
    for (int i = 1; i <= 16; i++)
      AddParam(ret, std::string(prefix) + std::to_string(i) + (prefix[0] == 's' ? ":s" : ""));
  // Thread start: ten integer and ten float slots, a label and a saved state.
  KitCmdDef& task = t[93];
  task.name = "task";
  for (const char* w : {"name:s", "run_a", "run_b", "order"}) AddParam(task, w);
  for (int i = 1; i <= 10; i++) AddParam(task, "i" + std::to_string(i));
  for (int i = 1; i <= 10; i++) AddParam(task, "f" + std::to_string(i));
  while (task.params.size() < 34) AddParam(task, "-");
  for (const char* w : {"label:s", "state:s", "-", "now"}) AddParam(task, w);
  return t;
}

void PutText(std::vector<u8>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
}

void PutU32(std::vector<u8>& out, u32 v) {
  for (int k = 0; k < 4; k++) out.push_back(static_cast<u8>(v >> (8 * k)));
}

}  // namespace

const std::vector<KitCmdDef>& KitCommandTable() {
  static const std::vector<KitCmdDef> table = BuildTable();
  return table;
}

const KitCmdDef* KitFindCommand(const std::string& name) {
  for (const KitCmdDef& c : KitCommandTable())
    if (c.name == name) return &c;
  return nullptr;
}

const KitParamDef* KitFindParam(const KitCmdDef& cmd, const std::string& name) {
  for (const KitParamDef& p : cmd.params)
    if (!p.name.empty() && p.name == name) return &p;
  return nullptr;
}

const char* const kKitCrtErrorTexts[37] = {
    "No error",
    "Operation not permitted",
    "No such file or directory",
    "No such process",
    "Interrupted function call",
    "Input/output error",
    "No such device or address",
    "Arg list too long",
    "Exec format error",
    "Bad file descriptor",
    "No child processes",
    "Resource temporarily unavailable",
    "Not enough space",
    "Permission denied",
    "Bad address",
    "Unknown error",
    "Resource device",
    "File exists",
    "Improper link",
    "No such device",
    "Not a directory",
    "Is a directory",
    "Invalid argument",
    "Too many open files in system",
    "Too many open files",
    "Inappropriate I/O control operation",
    "Unknown error",
    "File too large",
    "No space left on device",
    "Invalid seek",
    "Read-only file system",
    "Too many links",
    "Broken pipe",
    "Domain error",
    "Result too large",
    "Unknown error",
    "Resource deadlock avoided",
};

const std::vector<KitKeyName>& KitKeyNames() {
  static const std::vector<KitKeyName> names = [] {
    std::vector<KitKeyName> v;
    auto add = [&](const char* name, u8 vk) { v.push_back({static_cast<u8>(v.size()), name, vk}); };
    static const struct {
      const char* name;
      u8 vk;
    } kFixed[] = {
        {"any", 0},        {"mouse_left", 1}, {"mouse_right", 2}, {"mouse_middle", 4}, {"wheel_up", 5},
        {"wheel_down", 6}, {"mouse_move", 7}, {"backspace", 8},   {"tab", 9},          {"enter", 13},
        {"shift", 16},     {"ctrl", 17},      {"alt", 18},        {"pause", 19},       {"escape", 27},
        {"space", 32},     {"page_up", 33},   {"page_down", 34},  {"end", 35},         {"home", 36},
        {"left", 37},      {"up", 38},        {"right", 39},      {"down", 40},        {"insert", 45},
        {"delete", 46},
    };
    for (const auto& k : kFixed) add(k.name, k.vk);
    static const char* const kDigits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    for (int d = 0; d < 10; d++) add(kDigits[d], static_cast<u8>('0' + d));
    static const char* const kLetters[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m",
                                           "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z"};
    for (int l = 0; l < 26; l++) add(kLetters[l], static_cast<u8>('A' + l));
    static const char* const kF[] = {"f1", "f2", "f3", "f4", "f5", "f6", "f7", "f8", "f9", "f10", "f11", "f12"};
    for (int f = 0; f < 12; f++) add(kF[f], static_cast<u8>(112 + f));
    static const char* const kNum[] = {"num0", "num1", "num2", "num3", "num4", "num5", "num6", "num7", "num8", "num9"};
    for (int n = 0; n < 10; n++) add(kNum[n], static_cast<u8>(96 + n));
    add("num_mul", 106);
    add("num_add", 107);
    add("num_sub", 109);
    add("num_dot", 110);
    add("num_div", 111);
    return v;
  }();
  return names;
}

void KitKeyMapBuild(u8 map[256]) {
  std::memset(map, 0, 256);
  for (const KitKeyName& k : KitKeyNames()) map[k.index] = k.vk;
}

std::vector<u8> KitCmdDefsBuildFrom(const std::vector<KitCmdDef>& table) {
  std::vector<u8> out = {'Z', 'P', 'C', 0};
  PutU32(out, 0);
  PutU32(out, static_cast<u32>(table.size()));
  PutU32(out, 0);
  for (const KitCmdDef& c : table) {
    PutText(out, c.name);
    out.push_back(static_cast<u8>(c.params.size()));
    for (const KitParamDef& p : c.params) {
      PutText(out, p.name.empty() ? "unused" + std::to_string(p.id) : p.name);
      out.push_back(p.kind);
      out.push_back(p.cls);
    }
  }
  for (const char* t : kKitCrtErrorTexts) PutText(out, t);
  u8 map[256];
  KitKeyMapBuild(map);
  out.insert(out.end(), map, map + 256);
  return out;
}

std::vector<u8> KitCmdDefsBuild() { return KitCmdDefsBuildFrom(KitCommandTable()); }

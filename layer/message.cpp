// The message record, the appending of text and codes, and the typewriter that types the message
// into its text layer. Every read of the characters goes through the character count, every
// append checks the capacity first, so a message that overflowed or was dropped at the bottom
// of the layer never reads past its text.
#include "layer/message.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/sjis.h"
#include "core/err.h"
#include "core/obj.h"
#include "core/state.h"
#include "layer/glyph.h"
#include "layer/layer.h"
#include "layer/message_break.h"
#include "platform/platform.h"
#include "script/task.h"

MessageRecord* g_MessageRecord = nullptr;
static const i32 kDefaultKeys[MSG_KEY_COUNT] = {INPUT_KEY_LBUTTON, 13,           MSG_KEY_NONE, MSG_KEY_NONE, 17,
                                                MSG_KEY_NONE,      MSG_KEY_NONE, MSG_KEY_NONE};
i32 g_MessageKeys[MSG_KEY_COUNT] = {INPUT_KEY_LBUTTON, 13,           MSG_KEY_NONE, MSG_KEY_NONE, 17,
                                    MSG_KEY_NONE,      MSG_KEY_NONE, MSG_KEY_NONE};
u8 g_MessageSkipAll = 0;
u32 g_MessageLastTime = 0;
char g_GlyphCharBuf[3];
TextDrawGlyphFn g_MessageDrawGlyph = TextDrawGlyph;

static void RecordDefaults(MessageRecord* m) {
  m->char_delay = 0;
  m->end_newline = m->end_page = m->end_wait = 1;
  m->active = 1;
  m->font = FontMessageFont{20, 20, 0xFFFFFF, 0xFFFFFFFF, 1, 0, 0, 0, 1};
  m->needs_clear = 1;
}

i32 TextMessageInit() {
  if (!g_MessageRecord) {
    g_MessageRecord = static_cast<MessageRecord*>(MemAllocZeroed(sizeof(MessageRecord)));
    if (!g_MessageRecord) {
      ErrRaise(ERR_OUT_OF_MEMORY, 1);
      return -1;
    }
    RecordDefaults(g_MessageRecord);
  }
  TextMessageClear();
  return 0;
}

void TextMessageClear() {
  MessageRecord* m = g_MessageRecord;
  if (!m || !m->needs_clear) return;
  m->needs_clear = 0;
  m->restart_timing = 1;
  m->char_count = m->code_count = m->char_index = m->code_index = 0;
  std::memset(m->chars, 0, sizeof m->chars);
  std::memset(m->codes, 0, sizeof m->codes);
  std::memset(m->widths, 0, sizeof m->widths);
  std::memset(m->heights, 0, sizeof m->heights);
  std::memset(m->delays, 0, sizeof m->delays);
  std::memset(m->colours, 0, sizeof m->colours);
  std::memset(m->colours2, 0, sizeof m->colours2);
  std::memset(m->gradients, 0, sizeof m->gradients);
  std::memset(m->orientations, 0, sizeof m->orientations);
  std::memset(m->bolds, 0, sizeof m->bolds);
}

void TextMessageForgetLayer(ObjNode* node) {
  if (g_MessageRecord && node && g_MessageRecord->text_layer == node) g_MessageRecord->text_layer = nullptr;
}

void TextMessageReset() {
  std::free(g_MessageRecord);
  g_MessageRecord = nullptr;
  std::memcpy(g_MessageKeys, kDefaultKeys, sizeof g_MessageKeys);
  g_MessageSkipAll = 0;
  g_MessageLastTime = 0;
  std::memset(g_GlyphCharBuf, 0, sizeof g_GlyphCharBuf);
  g_MessageDrawGlyph = TextDrawGlyph;
}

// ---- Keys --------------------------------------------------------------------------------------

// A key table entry as an index of the input table; -1 for none or a value outside it.
static i32 KeyIndex(i32 entry) {
  i32 k = g_MessageKeys[entry];
  return (k > 0 && k < MSG_KEY_NONE && k < INPUT_KEY_COUNT) ? k : -1;
}

static bool AdvancePressed() {
  for (i32 e = 0; e < 4; e++) {
    i32 k = KeyIndex(e);
    if (k >= 0 && g_InputKeyTable.counter[k] == 1) return true;
  }
  return false;
}

static bool SkipHeld() {
  for (i32 e = 4; e < MSG_KEY_COUNT; e++) {
    i32 k = KeyIndex(e);
    if (k >= 0 && g_InputKeyTable.counter[k] > 0) return true;
  }
  return false;
}

// ---- The typewriter ----------------------------------------------------------------------------

// A click passes the wait: the "C" is stepped over and the clock starts again.
static void PassClick(MessageRecord* m) {
  m->waiting = 0;
  m->restart_timing = 1;
  if (m->code_index < m->code_count) m->code_index++;
}

i32 TextMessageUpdate(TaskContext* ctx) {
  MessageRecord* m = g_MessageRecord;
  if (!m) {
    if (ctx) ctx->message_wait = 0;
    return 0;
  }
  if (m->active != 1) {
    TextMessageClear();
    if (ctx) ctx->message_wait = 0;
    return 0;
  }
  bool skip = SkipHeld();
  if (skip) {
    if (m->waiting) PassClick(m);
    else g_MessageSkipAll = 1;
  }
  TextTypewriter();
  if (m->code_count > 0 && (skip || AdvancePressed())) {
    if (m->waiting) PassClick(m);
    else if (m->code_index < m->code_count) g_MessageSkipAll = 1;
  }
  if (m->code_index < m->code_count) return 0;
  if (m->code_index >= 1) m->needs_clear = 1;
  TextMessageClear();
  if (ctx) ctx->message_wait = 0;
  return 0;
}

void TextMessageWaitUpdate(TaskContext* ctx) {
  if (ctx && ctx->message_wait) TextMessageUpdate(ctx);
}

i32 TextCharDelay() {
  MessageRecord* m = g_MessageRecord;
  if (g_MessageSkipAll || m->char_index == 0) return 0;
  u32 delay = m->delays[m->code_index] > 0 ? static_cast<u32>(m->delays[m->code_index]) : 0;
  if (PlatTimeMs() - g_MessageLastTime < delay) return -1;
  g_MessageLastTime += delay;  // not "now": slow frames catch up with several characters
  return 0;
}

static i32 CodeBytes(u8 code) { return code == '2' ? 2 : 1; }

// The character of the code at the character index has all its bytes inside the text.
static bool CharInText(const MessageRecord* m, i32 code_index, i32 char_index) {
  return char_index >= 0 && char_index + CodeBytes(m->codes[code_index]) <= m->char_count;
}

// A box of the node's pixels (inclusive) joins each ancestor's dirty rectangle, moved into that
// ancestor's pixels, so only the glyph is composed again rather than the whole text layer.
static void MarkBox(ObjNode* node, i64 left, i64 top, i64 right, i64 bottom) {
  for (ObjNode* c = node; c && c->parent; c = c->parent) {
    LayerRecord* cr = LayerOf(c);
    LayerRecord* pr = LayerOf(c->parent);
    if (!cr || !pr) return;
    i64 x = LayerClampPos(cr->x), y = LayerClampPos(cr->y);
    left += x, right += x, top += y, bottom += y;
    if (left >= pr->width || top >= pr->height || right < 0 || bottom < 0) return;  // not seen
    pr->needs_compose = 1;
    if (pr->mark_count == 0 || !pr->dirty_valid) {
      pr->dirty_left = left, pr->dirty_top = top, pr->dirty_right = right, pr->dirty_bottom = bottom;
      pr->dirty_valid = 1;
      pr->mark_count++;
    } else {
      pr->dirty_left = std::min(pr->dirty_left, left), pr->dirty_top = std::min(pr->dirty_top, top);
      pr->dirty_right = std::max(pr->dirty_right, right), pr->dirty_bottom = std::max(pr->dirty_bottom, bottom);
    }
  }
}

// Draws the character at the character index with the values of code ci at the pen, advances
// the pen and the character index.
static void DrawChar(MessageRecord* m, ObjNode* node, i32 ci) {
  LayerRecord* rec = LayerOf(node);
  i32 n = CodeBytes(m->codes[ci]);
  g_GlyphCharBuf[0] = m->chars[m->char_index];
  g_GlyphCharBuf[1] = n == 2 ? m->chars[m->char_index + 1] : 0;
  g_GlyphCharBuf[2] = 0;
  m->char_index += n;
  if (!LayerHasPixels(rec)) return;
  GlyphCanvas canvas = GlyphCanvasMake(rec->pixels, rec->width, rec->height, rec->width * 4);
  FontSetCurrentSlot(0);
  i32 advance = g_MessageDrawGlyph(g_GlyphCharBuf, m->colours[ci], m->colours2[ci], m->gradients[ci],
                                   m->orientations[ci], m->widths[ci], m->heights[ci], m->bolds[ci], m->font.smooth, 0,
                                   m->pen_x, m->pen_y, m->font.ink_only, &canvas);
  m->pen_x += advance;
  if (canvas.has_alpha) rec->has_alpha = 1;
  if (canvas.dirty_right > canvas.dirty_left && canvas.dirty_bottom > canvas.dirty_top)
    MarkBox(node, canvas.dirty_left, canvas.dirty_top, canvas.dirty_right - 1, canvas.dirty_bottom - 1);
}

static void DropRest(MessageRecord* m) { m->char_index = m->char_count; }

i32 TextLineBreak(ObjNode* node) {
  MessageRecord* m = g_MessageRecord;
  LayerRecord* rec = LayerOf(node);
  i32 ci = m->code_index;
  bool has_next = ci + 1 < m->code_count;
  u8 next_code = has_next ? m->codes[ci + 1] : 0;
  bool next_is_char = next_code == '1' || next_code == '2';
  i32 next_char = m->char_index + CodeBytes(m->codes[ci]);
  TextBreakInput in{};
  in.x = m->pen_x;
  in.y = m->pen_y;
  in.w = m->widths[ci];
  in.h = m->heights[ci];
  in.next_h = has_next ? m->heights[ci + 1] : 0;
  in.layer_width = rec ? rec->width : 0;
  in.layer_height = rec ? rec->height : 0;
  in.ch = m->chars + m->char_index;
  in.two_byte = m->codes[ci] == '2';
  // The character after it only when its bytes are in the text.
  in.next_two_byte = next_is_char && next_code == '2' && CharInText(m, ci + 1, next_char);
  in.next_ch = next_is_char && CharInText(m, ci + 1, next_char) ? m->chars + next_char : nullptr;
  switch (TextLineBreakDecide(&in)) {
    case TEXT_BREAK_DRAW: return 0;
    case TEXT_BREAK_FEED_DRAW:
      m->pen_x = 0;
      m->pen_y += in.h;
      return 0;
    case TEXT_BREAK_FEED_DROP:
      m->pen_x = 0;
      m->pen_y += in.h;
      DropRest(m);
      return 1;
    case TEXT_BREAK_DROP: DropRest(m); return 1;
    case TEXT_BREAK_HANG: DrawChar(m, node, ci); return 1;
    case TEXT_BREAK_PAIR:
      DrawChar(m, node, ci);
      if (in.next_two_byte) {
        m->code_index++;
        DrawChar(m, node, m->code_index);
      }
      return 1;
  }
  return 0;
}

void TextTypewriter() {
  MessageRecord* m = g_MessageRecord;
  if (!m || !m->text_layer) return;
  ObjNode* node = m->text_layer;
  while (m->code_index < m->code_count) {
    if (m->restart_timing) {
      m->restart_timing = 0;
      g_MessageLastTime = PlatTimeMs();
    }
    u8 code = m->codes[m->code_index];
    switch (code) {
      case '1':
      case '2':
        // A character code whose bytes were dropped or never stored draws nothing.
        if (CharInText(m, m->code_index, m->char_index)) {
          if (TextCharDelay() != 0) return;
          if (TextLineBreak(node) == 0) DrawChar(m, node, m->code_index);
        }
        break;
      case 'C':
        m->waiting = 1;
        g_MessageSkipAll = 0;
        return;
      case 'E': break;
      case 'P':
      case 'p': {
        LayerRecord* rec = LayerOf(node);
        if (LayerHasPixels(rec)) std::memset(rec->pixels, 0, static_cast<size_t>(rec->width) * rec->height * 4);
        m->pen_x = m->pen_y = 0;
        LayerMarkDirty(node);
        break;
      }
      case 'R':
      case 'r':
        m->pen_x = 0;
        m->pen_y += m->heights[m->code_index];
        break;
      default:
        ErrRaise(ERR_MSG_BAD_CODE, 1);
        m->code_index = m->code_count;  // nothing more of this message is typed
        DropRest(m);
        g_MessageSkipAll = 0;
        return;
    }
    m->code_index++;
  }
  g_MessageSkipAll = 0;
}

// ---- Appending ---------------------------------------------------------------------------------

static i16 Clamp16(i64 v) { return static_cast<i16>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v)); }

static void StoreChar(MessageRecord* m, u8 code) {
  i32 c = m->code_count++;
  m->codes[c] = code;
  m->codes[c + 1] = 0;
  m->colours[c] = m->font.colour;
  m->colours2[c] = m->font.second_colour;
  m->gradients[c] = m->font.gradient_mode;
  m->orientations[c] = m->font.orientation;
  m->bolds[c] = m->font.bold;
  m->widths[c] = Clamp16(m->font.glyph_width);
  m->heights[c] = Clamp16(m->font.glyph_height);
  m->delays[c] = Clamp16(code == '2' ? m->char_delay : m->char_delay / 2);
}

i32 TextMessageAppendCode(u8 code, u8 with_size) {
  MessageRecord* m = g_MessageRecord;
  if (!m) return 0;
  if (m->code_count >= MSG_CODE_MAX) {
    ErrRaiseAtScript(ERR_MSG_TOO_LONG, 1);
    return -1;
  }
  i32 c = m->code_count++;
  m->codes[c] = code;
  m->codes[c + 1] = 0;
  if (with_size) {
    m->widths[c] = Clamp16(m->font.glyph_width);
    m->heights[c] = Clamp16(m->font.glyph_height);
  }
  return 0;
}

// The codes a text adds: one per character, a lead byte and its second byte counting as one.
static i32 CountChars(const char* text, i32 len) {
  i32 n = 0;
  for (i32 i = 0; i < len; n++) i += (SjisIsLead(static_cast<u8>(text[i])) && i + 1 < len) ? 2 : 1;
  return n;
}

// Appends len bytes; printable_only turns every one-byte character outside 0x20..0x7E into a
// space. A lead byte without its second byte at the end becomes a space as well, so a "2" code
// never stands for a half character. The caller checked the room.
static void AppendBytes(MessageRecord* m, const char* text, i32 len, bool printable_only) {
  for (i32 i = 0; i < len;) {
    u8 b = static_cast<u8>(text[i]);
    if (SjisIsLead(b) && i + 1 < len) {
      m->chars[m->char_count++] = text[i];
      m->chars[m->char_count++] = text[i + 1];
      StoreChar(m, '2');
      i += 2;
      continue;
    }
    bool keep = printable_only ? (b >= 0x20 && b <= 0x7E) : !SjisIsLead(b);
    m->chars[m->char_count++] = keep ? static_cast<char>(b) : ' ';
    StoreChar(m, '1');
    i++;
  }
  m->chars[m->char_count] = 0;
}

static bool Room(const MessageRecord* m, i32 len, i32 codes) {
  return i64{m->char_count} + len < MSG_TEXT_MAX && i64{m->code_count} + codes <= MSG_CODE_MAX;
}

i32 TextMessageAppendText(const char* text, i32 len) {
  MessageRecord* m = g_MessageRecord;
  if (!m || !text || len <= 0) return 0;
  len = static_cast<i32>(strnlen(text, static_cast<size_t>(len)));
  if (!Room(m, len, CountChars(text, len))) {
    ErrRaiseAtScript(ERR_MSG_TOO_LONG, 1);
    return -1;
  }
  AppendBytes(m, text, len, false);
  return 0;
}

i32 TextMessagePrintText(const char* text, i32 len) {
  MessageRecord* m = g_MessageRecord;
  if (!m || !text) return 0;
  if (len > MSG_PRINT_MAX) {
    ErrRaiseAtScript(ERR_MSG_VALUE_TOO_LONG, 1);
    return -1;
  }
  if (!Room(m, len, CountChars(text, len))) {
    ErrRaiseAtScript(ERR_MSG_TOO_LONG, 1);
    return -1;
  }
  AppendBytes(m, text, len, true);
  return 0;
}

// ---- Commands 79, 96, 97 -----------------------------------------------------------------------

i32 TextMessageEnd(TaskContext* ctx, u32 line, u32 source_line) {
  MessageRecord* m = g_MessageRecord;
  if (ctx) {
    ctx->message_pos[0] = line;
    ctx->message_pos[1] = source_line;
  }
  if (m && m->active == 0) {
    m->needs_clear = 1;
  } else if (m) {
    if (m->end_wait && TextMessageAppendCode('C', 0) != 0) return -1;
    if (m->end_newline && TextMessageAppendCode('R', 1) != 0) return -1;
    if (m->end_page && TextMessageAppendCode('P', 0) != 0) return -1;
  }
  if (m && TextMessageAppendCode('E', 0) != 0) return -1;
  if (ctx) ctx->message_wait = 1;
  return -1;
}

static i32 SetLayer(MessageRecord* m, const CmdArgRecord* a) {
  char path[OBJ_PATH_MAX];
  const char* name = CmdArgStr(a, 0);
  i32 folder = ObjResolvePath(path, sizeof path, name, g_LayerBase, 0);
  if (folder < 0) return -1;
  ObjNode* node = ObjFindNode(g_LayerRoot, path, folder == 1 ? OBJ_FIND_FOLDER : OBJ_FIND_EITHER);
  if (!node || !LayerOf(node)) {
    ErrRaiseAtScriptF(ERR_MSG_LAYER_MISSING, 1, CmdArgCommandName(a), path);
    return -1;
  }
  if (LayerRecord* old = LayerOf(m->text_layer)) old->is_message_layer = 0;
  m->text_layer = node;
  LayerOf(node)->is_message_layer = 1;
  return 0;
}

i32 TextMessageSet(const CmdArgRecord* a) {
  MessageRecord* m = g_MessageRecord;
  if (!m) return 0;
  if (a->given[0] && SetLayer(m, a) != 0) return -1;
  if (a->given[1]) m->active = static_cast<u8>(a->value[1]);
  for (i32 e = 0; e < MSG_KEY_COUNT; e++)
    if (a->given[2 + e]) {
      i64 v = a->value[2 + e];
      // Kept in range here; the typewriter checks again before indexing the input table.
      g_MessageKeys[e] = (v <= 0 || v >= MSG_KEY_NONE) ? MSG_KEY_NONE : static_cast<i32>(v);
    }
  if (a->given[10]) m->char_delay = static_cast<u32>(a->value[10]);
  i32 result = 0;
  if (a->given[15] && a->value[15] == 1) {
    if (TextMessageAppendCode('C', 1) != 0) return -1;
    if (m->active) result = -1;
  }
  static const u8 kAppends[][2] = {{11, 'R'}, {12, 'P'}, {13, 'r'}, {14, 'p'}};
  for (const auto& ap : kAppends)
    if (a->given[ap[0]] && a->value[ap[0]] == 1 && TextMessageAppendCode(ap[1], 1) != 0) return -1;
  if (a->given[16] && a->value[16] == 1) {
    m->needs_clear = 1;
    TextMessageClear();
  }
  if (a->given[17]) m->end_newline = static_cast<u32>(a->value[17]);
  if (a->given[18]) m->end_page = static_cast<u32>(a->value[18]);
  if (a->given[19]) m->end_wait = static_cast<u32>(a->value[19]);
  return result;
}

i32 TextMessageInfo(const CmdArgRecord* a, i64* out) {
  const MessageRecord* m = g_MessageRecord;
  if (!m) return 0;
  const i64 values[8] = {0, m->active, m->pen_x, m->pen_y, m->waiting, m->end_newline, m->end_page, m->end_wait};
  for (i32 id = 1; id <= 7; id++)
    if (a->given[id]) {
      *out = values[id];
      return 1;
    }
  return 0;
}

// ---- System variables 115 and 116 -------------------------------------------------------------

const char* TextMessageVarText(i32 which) {
  const MessageRecord* m = g_MessageRecord;
  if (!m) return "";
  return which == 0 ? m->chars : reinterpret_cast<const char*>(m->codes);
}

// A script may replace the text or the codes; the counts follow, cut to the capacity, and the
// typewriter positions never pass them.
void TextMessageVarSet(i32 which, const char* text) {
  MessageRecord* m = g_MessageRecord;
  if (!m || !text) return;
  if (which == 0) {
    StrCopySjis(m->chars, MSG_TEXT_MAX + 1, text);
    m->char_count = static_cast<i32>(std::strlen(m->chars));
    std::memset(m->chars + m->char_count, 0, sizeof m->chars - m->char_count);
    if (m->char_index > m->char_count) m->char_index = m->char_count;
  } else if (which == 1) {
    size_t n = strnlen(text, MSG_CODE_MAX);
    std::memcpy(m->codes, text, n);
    std::memset(m->codes + n, 0, sizeof m->codes - n);
    m->code_count = static_cast<i32>(n);
    if (m->code_index > m->code_count) m->code_index = m->code_count;
  }
}

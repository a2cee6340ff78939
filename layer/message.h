// The message text: one record holding the story text appended by scripts, one control code per
// character or action, and the per-code font values; the typewriter draws it character by
// character into the text layer on the character clock, breaking lines Japanese-style. The
// character and code buffers always stay zero-terminated and no count passes their capacity.
#pragma once
#include "common/types.h"
#include "layer/font.h"
#include "script/cmdargs.h"

struct ObjNode;
struct TaskContext;
struct GlyphCanvas;

enum {
  MSG_BUF = 8192,
  MSG_TEXT_MAX = 8190,  // bytes of text a message may hold
  MSG_CODE_MAX = 8190,  // codes a message may hold (the buffer keeps its terminator)
  MSG_KEY_COUNT = 8,    // 0..3 advance keys, 4..7 skip keys
  MSG_KEY_NONE = 1023,
  MSG_PRINT_BUF = 4096,
  MSG_PRINT_MAX = 1024,  // bytes command 110 may append at once
};

enum {
  ERR_MSG_TOO_LONG = 102000,
  ERR_MSG_VALUE_TOO_LONG = 102030,
  ERR_MSG_LAYER_MISSING = 101250,
  ERR_MSG_BAD_CODE = 900010,
};

struct MessageRecord {
  ObjNode* text_layer;
  u32 char_delay;                       // ms per two-byte character; one-byte characters get half
  u32 end_newline, end_page, end_wait;  // what command 79 appends: "R", "P", "C"
  i32 pen_x, pen_y;
  u8 active;
  FontMessageFont font;  // the message font (slot 0) as commands 27 and 28 see it
  u8 waiting;            // stopped at a "C" code
  u8 needs_clear;        // the next clear starts a new message
  u8 restart_timing;     // restart the character clock at the next code
  char chars[MSG_BUF];
  u8 codes[MSG_BUF];
  i16 widths[MSG_BUF], heights[MSG_BUF], delays[MSG_BUF];
  u32 colours[MSG_BUF], colours2[MSG_BUF];
  u8 gradients[MSG_BUF], orientations[MSG_BUF], bolds[MSG_BUF];
  i32 char_count, code_count;
  i32 char_index, code_index;
};

extern MessageRecord* g_MessageRecord;
extern i32 g_MessageKeys[MSG_KEY_COUNT];
extern u8 g_MessageSkipAll;
extern u32 g_MessageLastTime;
extern char g_GlyphCharBuf[3];

// How the typewriter draws one character; tests replace it. Same arguments as TextDrawGlyph.
typedef i32 (*TextDrawGlyphFn)(const char* text, u32 colour, u32 second_colour, i32 gradient_mode, i32 orientation,
                               i32 w, i32 h, u32 bold, u8 smooth, i32 copy_mode, i32 x, i32 y, u8 ink_only,
                               GlyphCanvas* canvas);
extern TextDrawGlyphFn g_MessageDrawGlyph;

// Creates the record (0, or -1 after the out-of-memory error) and clears it.
i32 TextMessageInit();
// When needs clear is set: clears it, restarts the timing and empties the message.
void TextMessageClear();
// The text layer, when node is it, is forgotten (the layer is being released).
void TextMessageForgetLayer(ObjNode* node);

// The per-frame work of a thread waiting on the message; the wait flag is cleared when the
// message is done. Returns 0.
i32 TextMessageUpdate(TaskContext* ctx);
// The scheduler's call at each visit of a thread: the update above when the thread waits.
void TextMessageWaitUpdate(TaskContext* ctx);
void TextTypewriter();
// 0 draw now, -1 wait.
i32 TextCharDelay();
// 0 draw at the pen, 1 handled here (drawn, or the rest of the message dropped).
i32 TextLineBreak(ObjNode* node);

// Appending. Control codes: what they store follows the command that appends them (with_size:
// the glyph size only, else nothing). 0, or -1 after 102000 when the codes are full.
i32 TextMessageAppendCode(u8 code, u8 with_size);
// Command 106: literal bytes (len of them; stops at a zero byte). 0, or -1 after 102000.
i32 TextMessageAppendText(const char* text, i32 len);
// Command 110: a formatted value. 0, or -1 after 102030 or 102000.
i32 TextMessagePrintText(const char* text, i32 len);

// Command 79 on the running thread. Returns -1 (the line waits for the message).
i32 TextMessageEnd(TaskContext* ctx, u32 line, u32 source_line);

// Commands 96 and 97 on their decoded arguments; 97 stores into its parameter 8.
enum { MSG_INFO_RESULT = 8 };
// 0, or -1 (error raised, or a click wait appended while active).
i32 TextMessageSet(const CmdArgRecord* a);
// The value command 97 reports: 1 when one of parameters 1..7 is given, with *out.
i32 TextMessageInfo(const CmdArgRecord* a, i64* out);

// System variables 115 (characters) and 116 (codes).
const char* TextMessageVarText(i32 which);
void TextMessageVarSet(i32 which, const char* text);

// Tests: frees the record and restores every global.
void TextMessageReset();

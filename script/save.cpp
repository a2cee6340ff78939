// Save data (see save.h). Everything read from a file or a slot is checked before use: a record,
// its stored bytes and every item lie inside what holds them, raw lengths are bounded before
// anything is allocated, and a payload is checked whole before it changes anything, so a damaged
// save gives its numbered error or the invalid-save warning and leaves the game state as it was.
// A save file is always formed whole in memory and written atomically: a crash while saving
// leaves the old file or the new one. Sizes are computed in 64 bits; what the loader could not
// read back is refused when written.
#include "script/save.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/sjis.h"
#include "core/config.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/obj.h"
#include "core/state.h"
#include "platform/file.h"
#include "platform/platform.h"
#include "script/arg.h"
#include "script/script.h"
#include "script/var.h"

SaveBlock g_SaveBlocks[SAVE_DNO_COUNT];
SaveSlot g_SaveSlots[SAVE_SLOT_COUNT];
SaveScratch g_SaveScratch;

namespace {

enum : u8 { SLOT_LOAD = 55, SLOT_WRITE = 84 };
// Parameter ids of commands 55 and 84.
enum : u8 {
  P_FILE = 0,
  P_SLOT = 1,
  P_DNO = 2,
  P_VAR = 3,
  P_LAYER = 4,
  P_LAYER_NUM = 5,
  P_GROUP_FIRST = 6,
  P_GROUP_LAST = 17
};
// The commands that declare variables of each type, named by the type-mismatch error.
const u8 kDeclareSlot[4] = {0, 51, 26, 90};

const u8 kMagic[4] = {'Z', 'P', 'S', 'D'};
const u64 kVarRawMax = 12 + 4 * VAR_DIM_MAX + SAVE_VAR_DATA_MAX;  // largest variable payload
const u64 kBlockMax = INT32_MAX;                                  // a block's length is signed 32-bit

// ---- Messages --------------------------------------------------------------------------------

enum MsgId {
  MSG_NO_MEMORY,
  MSG_LOAD_NO_MEMORY,
  MSG_LOAD_NO_MEMORY_SLOT,
  MSG_UNCOMPRESS,
  MSG_LOAD_ERROR,
  MSG_COMPRESS,
  MSG_BAD_DNO,
  MSG_INVALID_SAVE,
  MSG_PICTURE_TOO_LARGE,
  MSG_COUNT
};
const char* const kMsgUtf8[MSG_COUNT] = {
    "メモリ不足です.",
    "[Load]メモリ不足エラーです。",
    "[Load]メモリ不足エラーです。VAL_ID=%d :%u, %u",
    "Uncompress Error.",
    "Load Error.",
    "圧縮エラー.",
    "( DNO = %d ) 不正なDNO番号を検出しました。",
    ("※不正セーブファイルの可能性※\r\n\r\n[%s]"
     "\r\n\r\nこのままこのセーブファイルを読み込むと、予期せぬ動作をおこなう恐れがあり"
     "ます。\r\n読み込みを強制的に中断します。"),
    "ＣＧサイズが大きすぎます。X=%d, Y=%d",
};

const char* Msg(MsgId id) {
  static std::string sjis[MSG_COUNT];
  if (sjis[id].empty()) sjis[id] = PlatUtf8ToSjis(kMsgUtf8[id]);
  return sjis[id].c_str();
}

i32 NoMemory() {
  ErrMessageBoxF("", "%s", Msg(MSG_NO_MEMORY));
  return -1;
}

// Damage the numbered errors do not name: the warning with the save's path, and the load ends.
i32 InvalidSave(const char* path) {
  ErrMessageBoxF("", Msg(MSG_INVALID_SAVE), path);
  return -1;
}

i32 TooLong() {
  ErrRaiseAtScript(ERR_SAVE_TOO_LONG, 1);
  return -1;
}

// ---- Little-endian words ---------------------------------------------------------------------

u16 GetU16(const u8* p) { return static_cast<u16>(p[0] | (p[1] << 8)); }
u32 GetU32(const u8* p) {
  return static_cast<u32>(p[0]) | (static_cast<u32>(p[1]) << 8) | (static_cast<u32>(p[2]) << 16) |
         (static_cast<u32>(p[3]) << 24);
}
u32 GetU32BE(const u8* p) {
  return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) | (static_cast<u32>(p[2]) << 8) | p[3];
}
u64 GetU64(const u8* p) { return GetU32(p) | (static_cast<u64>(GetU32(p + 4)) << 32); }
void PutU16(u8* p, u16 v) {
  p[0] = static_cast<u8>(v);
  p[1] = static_cast<u8>(v >> 8);
}
void PutU32(u8* p, u32 v) {
  for (int k = 0; k < 4; k++) p[k] = static_cast<u8>(v >> (8 * k));
}
void PutU64(u8* p, u64 v) {
  PutU32(p, static_cast<u32>(v));
  PutU32(p + 4, static_cast<u32>(v >> 32));
}

// A heap buffer freed when it goes out of scope.
struct HeapBuf {
  u8* p = nullptr;
  size_t n = 0;
  HeapBuf() = default;
  HeapBuf(const HeapBuf&) = delete;
  HeapBuf& operator=(const HeapBuf&) = delete;
  HeapBuf(HeapBuf&& o) noexcept : p(o.p), n(o.n) { o.p = nullptr; }
  ~HeapBuf() { std::free(p); }
  bool Alloc(u64 size) {
    n = static_cast<size_t>(size);
    p = static_cast<u8*>(std::malloc(size ? n : 1));
    return p != nullptr;
  }
  u8* Release() {
    u8* q = p;
    p = nullptr;
    return q;
  }
};

// ---- zlib streams ----------------------------------------------------------------------------

// Deflate and inflate on streams kept for the run: a group holds thousands of small items, and a
// fresh stream for each (as compress2 and uncompress make) costs far more than the data. Payloads
// get level 1 with a window and hash table sized to them, except the tiniest (a number, a short
// text), which deflate cannot shrink by more than a few bytes and which are stored (level 0) at a
// tenth of the cost. Every inflater reads all of them.
struct DeflaterKind {
  u64 max_raw;
  int level, window_bits, mem_level;
};
const DeflaterKind kDeflaters[] = {{32, 0, 9, 1}, {1024, 1, 10, 1}, {UINT64_MAX, 1, 15, 8}};
enum { DEFLATERS = sizeof kDeflaters / sizeof kDeflaters[0] };
// One deflater of each kind, made when first needed: the run's own, and one per worker thread
// while a group is deflated.
struct DeflaterSet {
  z_stream z[DEFLATERS];
  bool ready[DEFLATERS];
};
DeflaterSet s_Deflaters;
z_stream s_Inflater;
bool s_InflaterReady;

z_stream* DeflaterIn(DeflaterSet* set, u64 raw) {
  int k = 0;
  while (raw > kDeflaters[k].max_raw) k++;
  if (!set->ready[k]) {
    set->z[k] = z_stream{};
    const DeflaterKind& d = kDeflaters[k];
    if (deflateInit2(&set->z[k], d.level, Z_DEFLATED, d.window_bits, d.mem_level, Z_DEFAULT_STRATEGY) != Z_OK)
      return nullptr;
    set->ready[k] = true;
  }
  return &set->z[k];
}
z_stream* DeflaterFor(u64 raw) { return DeflaterIn(&s_Deflaters, raw); }

void DeflaterSetEnd(DeflaterSet* set) {
  for (int k = 0; k < DEFLATERS; k++) {
    if (set->ready[k]) deflateEnd(&set->z[k]);
    set->ready[k] = false;
  }
}

// Payloads above a piece (pictures) are deflated in pieces of 256 KiB on up to four threads, each
// piece on its own (it never refers back into the piece before) and ended on a byte boundary by
// an empty stored block, and the pieces joined into one zlib stream (header, pieces, the Adler-32
// of the whole). The pieces do not depend on the number of threads, so the same picture always
// gives the same bytes; and since every piece stands alone, a reader can inflate them in parallel.
enum : u64 { PIECE = 1u << 18, PIECE_THREADS = 4 };

u64 PieceCount(u64 raw) { return (raw + PIECE - 1) / PIECE; }
// A piece's worst case: its bytes in stored blocks, and the empty block that ends it on a byte.
u64 PieceBound() { return compressBound(static_cast<uLong>(PIECE)) + 8; }

// Runs fn(k) for k in [0, count) on this thread and up to PIECE_THREADS - 1 others, each taking
// the next piece as it finishes one. ctx is what fn needs besides k; each fn(k) writes only its
// own piece's results, read here after the joins.
struct PieceWork {
  void (*fn)(void* ctx, u64 k, void* stream);
  void* (*open)();  // a worker's own zlib stream (nullptr when that failed)
  void (*close)(void*);
  void* ctx;
  u64 count;
  std::atomic<u64> next{0};
};

void PieceWorker(void* arg) {
  PieceWork* w = static_cast<PieceWork*>(arg);
  void* stream = w->open();
  if (!stream) return;  // the others take its share; a piece none took stays failed
  for (u64 k; (k = w->next.fetch_add(1, std::memory_order_relaxed)) < w->count;) w->fn(w->ctx, k, stream);
  w->close(stream);
}

void RunPieces(PieceWork* w) {
  const u64 threads = std::min<u64>(w->count, PIECE_THREADS);
  PlatThread* started[PIECE_THREADS] = {};
  for (u64 t = 1; t < threads; t++) started[t] = PlatThreadStart(PieceWorker, w);
  PieceWorker(w);
  for (u64 t = 1; t < threads; t++)
    if (started[t]) PlatThreadJoin(started[t]);
}

// The bytes to deflate: the first n[0] at p[0], the rest (n[1]) at p[1], so that a picture is
// read from its own pixel buffer and its record image from apart.
struct DeflateIn {
  const u8* p[2];
  u64 n[2];
};

struct Piece {
  u64 at, n;  // its raw bytes
  bool last;
  u8* out;
  u64 out_n;
  uLong adler;  // of its raw bytes
  bool ok;
};
struct DeflateJob {
  Piece* pieces;
  const DeflateIn* in;
};

void* DeflaterOpen() {
  z_stream* z = new (std::nothrow) z_stream{};
  if (z && deflateInit2(z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    delete z;
    return nullptr;
  }
  return z;
}
void DeflaterClose(void* z) {
  deflateEnd(static_cast<z_stream*>(z));
  delete static_cast<z_stream*>(z);
}

void DeflatePiece(void* ctx, u64 k, void* stream) {
  const DeflateJob* job = static_cast<const DeflateJob*>(ctx);
  Piece& p = job->pieces[k];
  const DeflateIn& in = *job->in;
  z_stream* z = static_cast<z_stream*>(stream);
  if (deflateReset(z) != Z_OK) return;
  z->next_out = p.out;
  z->avail_out = static_cast<uInt>(PieceBound());
  uLong adler = adler32(0L, Z_NULL, 0);
  u64 at = p.at, len = p.n;
  int r = Z_OK;
  for (int s = 0; s < 2 && len > 0; s++) {
    if (at >= in.n[s]) {
      at -= in.n[s];
      continue;
    }
    const u64 n = std::min(len, in.n[s] - at);
    adler = adler32(adler, in.p[s] + at, static_cast<uInt>(n));
    z->next_in = const_cast<u8*>(in.p[s] + at);
    z->avail_in = static_cast<uInt>(n);
    len -= n;
    at = 0;
    r = deflate(z, len > 0 ? Z_NO_FLUSH : p.last ? Z_FINISH : Z_SYNC_FLUSH);
    if (len > 0 && (r != Z_OK || z->avail_in != 0)) return;
  }
  p.adler = adler;
  p.ok = p.last ? r == Z_STREAM_END : (r == Z_OK && z->avail_in == 0 && z->avail_out > 0);
  p.out_n = z->total_out;
}

int DeflateInPieces(u8* dst, u64* n, const DeflateIn& in) {
  const u64 raw = in.n[0] + in.n[1];
  const u64 count = PieceCount(raw);
  Piece* pieces = new (std::nothrow) Piece[count];
  u8* outs = static_cast<u8*>(std::malloc(static_cast<size_t>(count * PieceBound())));
  if (!pieces || !outs) {
    delete[] pieces;
    std::free(outs);
    return Z_MEM_ERROR;
  }
  for (u64 k = 0; k < count; k++) {
    const u64 at = k * PIECE;
    pieces[k] = {at, std::min<u64>(PIECE, raw - at), k + 1 == count, outs + k * PieceBound(), 0, 0, false};
  }
  DeflateJob job{pieces, &in};
  PieceWork work{DeflatePiece, DeflaterOpen, DeflaterClose, &job, count};
  RunPieces(&work);
  u64 total = 6;
  bool ok = true;
  for (u64 k = 0; k < count; k++) {
    ok = ok && pieces[k].ok;
    total += pieces[k].out_n;
  }
  int r = Z_OK;
  if (!ok) {
    r = Z_STREAM_ERROR;
  } else if (total > *n) {
    r = Z_BUF_ERROR;
  } else {
    u8* o = dst;
    *o++ = 0x78;  // deflate, 32 KiB window
    *o++ = 0x01;  // fastest, and 0x7801 is a multiple of 31
    uLong adler = adler32(0L, Z_NULL, 0);
    for (u64 k = 0; k < count; k++) {
      std::memcpy(o, pieces[k].out, static_cast<size_t>(pieces[k].out_n));
      o += pieces[k].out_n;
      adler = adler32_combine(adler, pieces[k].adler, static_cast<z_off_t>(pieces[k].n));
    }
    for (int b = 3; b >= 0; b--) *o++ = static_cast<u8>(adler >> (8 * b));
    *n = total;
  }
  delete[] pieces;
  std::free(outs);
  return r;
}

// The capacity that raw bytes may need once deflated.
u64 SaveDeflateBound(u64 raw) {
  if (raw > PIECE) return PieceCount(raw) * PieceBound() + 6;
  z_stream* z = DeflaterFor(raw);
  return z ? deflateBound(z, static_cast<uLong>(raw)) : compressBound(static_cast<uLong>(raw));
}

// Deflates raw bytes into dst of capacity *n (at most the bound above, so below 4 GiB); *n
// becomes the stored length. Z_OK or zlib's error.
int DeflateOne(z_stream* z, u8* dst, u64* n, const u8* src, u64 raw) {
  if (!z) return Z_MEM_ERROR;
  deflateReset(z);
  z->next_in = const_cast<u8*>(src);
  z->avail_in = static_cast<uInt>(raw);
  z->next_out = dst;
  z->avail_out = static_cast<uInt>(*n);
  const int r = deflate(z, Z_FINISH);
  if (r != Z_STREAM_END) return r == Z_OK ? Z_BUF_ERROR : r;
  *n = z->total_out;
  return Z_OK;
}

// The tiniest payloads as the stored (level 0) deflater writes them, without its set-up: the zlib
// header for its window and level, one final stored block, the Adler-32.
int StoreTiny(u8* dst, u64* n, const u8* src, u64 raw) {
  if (raw > 0xFFFF || *n < raw + 11) return Z_BUF_ERROR;
  u32 header = (8u | static_cast<u32>(kDeflaters[0].window_bits - 8) << 4) << 8;  // level flags 0
  header += 31 - header % 31;
  dst[0] = static_cast<u8>(header >> 8);
  dst[1] = static_cast<u8>(header);
  dst[2] = 1;  // final, stored
  PutU16(dst + 3, static_cast<u16>(raw));
  PutU16(dst + 5, static_cast<u16>(~raw));
  if (raw) std::memcpy(dst + 7, src, static_cast<size_t>(raw));
  const uLong adler = adler32(adler32(0L, Z_NULL, 0), src, static_cast<uInt>(raw));
  for (int b = 0; b < 4; b++) dst[7 + raw + static_cast<u64>(b)] = static_cast<u8>(adler >> (24 - 8 * b));
  *n = raw + 11;
  return Z_OK;
}

// A payload up to a piece with the deflaters of set.
int DeflateSmall(DeflaterSet* set, u8* dst, u64* n, const u8* src, u64 raw) {
  if (raw <= kDeflaters[0].max_raw) return StoreTiny(dst, n, src, raw);
  return DeflateOne(DeflaterIn(set, raw), dst, n, src, raw);
}

int SaveDeflate(u8* dst, u64* n, const u8* src, u64 raw) {
  if (raw > PIECE) return DeflateInPieces(dst, n, DeflateIn{{src, nullptr}, {raw, 0}});
  return DeflateSmall(&s_Deflaters, dst, n, src, raw);
}

// Where inflated bytes go: the first n[0] into p[0], the rest (n[1]) into p[1], so that a picture
// lands in its own pixel buffer and its record image apart.
struct InflateOut {
  u8* p[2];
  u64 n[2];
};

// Inflates the raw bytes [at, at + len) of a stream, z's input already set, into their places
// in out. The last inflate result (Z_OK when nothing was to do).
int InflateRange(z_stream* z, const InflateOut& out, u64 at, u64 len, int last_flush) {
  int r = Z_OK;
  for (int s = 0; s < 2 && len > 0; s++) {
    if (at >= out.n[s]) {
      at -= out.n[s];
      continue;
    }
    const u64 n = std::min(len, out.n[s] - at);
    z->next_out = out.p[s] + at;
    z->avail_out = static_cast<uInt>(n);
    len -= n;
    at = 0;
    r = inflate(z, len > 0 ? Z_NO_FLUSH : last_flush);
    if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) return r;
    if (z->avail_out != 0 || (r == Z_STREAM_END && len > 0)) return r == Z_STREAM_END ? Z_DATA_ERROR : r;
  }
  return r;
}

uLong AdlerOfRange(uLong adler, const InflateOut& out, u64 at, u64 len) {
  for (int s = 0; s < 2 && len > 0; s++) {
    if (at >= out.n[s]) {
      at -= out.n[s];
      continue;
    }
    const u64 n = std::min(len, out.n[s] - at);
    adler = adler32(adler, out.p[s] + at, static_cast<uInt>(n));
    len -= n;
    at = 0;
  }
  return adler;
}

// One stream read straight through on the kept inflater: the reference for every stream.
bool InflateWhole(const InflateOut& out, const u8* src, u64 stored) {
  if (!s_InflaterReady) {
    s_Inflater = z_stream{};
    if (inflateInit(&s_Inflater) != Z_OK) return false;
    s_InflaterReady = true;
  }
  z_stream* z = &s_Inflater;
  inflateReset(z);
  z->next_in = const_cast<u8*>(src);
  z->avail_in = static_cast<uInt>(stored);
  const u64 raw = out.n[0] + out.n[1];
  if (raw == 0) {  // the buffer holds at least one byte, so a stream with more fails
    u8 spare;
    z->next_out = out.p[0] ? out.p[0] : &spare;
    z->avail_out = 1;
    return inflate(z, Z_FINISH) == Z_STREAM_END && z->total_out == 0;
  }
  return InflateRange(z, out, 0, raw, Z_FINISH) == Z_STREAM_END && z->total_out == raw;
}

// A stream of pieces as DeflateInPieces writes them, each inflated on its own in parallel. The
// pieces' starts are found as the empty stored blocks that end the pieces before them, and
// nothing found is trusted: each piece must inflate from a fresh state (so it cannot refer back
// past its start) to exactly its raw length, every piece but the last ending on a block boundary
// on a byte, the last ending the stream, and the Adler-32 of the whole must match. Then the bytes
// are those that inflating the stream straight through gives; false when anything differs.
struct InflatePiece {
  const u8* src;
  u64 n;        // its stored bytes (the last: to the stream's end, the Adler-32 and any bytes after)
  u64 at, len;  // its raw bytes
  bool last;
  u64 used;  // the last piece's stored bytes
  uLong adler;
  bool ok;
};
struct InflateJob {
  InflatePiece* pieces;
  const InflateOut* out;
};

void* InflaterOpen() {
  z_stream* z = new (std::nothrow) z_stream{};
  if (z && inflateInit2(z, -15) != Z_OK) {
    delete z;
    return nullptr;
  }
  return z;
}
void InflaterClose(void* z) {
  inflateEnd(static_cast<z_stream*>(z));
  delete static_cast<z_stream*>(z);
}

void InflateOnePiece(void* ctx, u64 k, void* stream) {
  const InflateJob* job = static_cast<const InflateJob*>(ctx);
  InflatePiece& p = job->pieces[k];
  z_stream* z = static_cast<z_stream*>(stream);
  if (inflateReset(z) != Z_OK) return;
  z->next_in = const_cast<u8*>(p.src);
  z->avail_in = static_cast<uInt>(p.n);
  const int r = InflateRange(z, *job->out, p.at, p.len, p.last ? Z_FINISH : Z_SYNC_FLUSH);
  if (z->total_out != p.len) return;
  if (p.last) {
    if (r != Z_STREAM_END) return;
    p.used = z->total_in;
  } else {
    // All its input taken, at the start of a block (128), not after the final one (64), no bits
    // left over (the low three).
    if ((r != Z_OK && r != Z_BUF_ERROR) || z->avail_in != 0 || (z->data_type & (128 | 64 | 7)) != 128) return;
  }
  p.adler = AdlerOfRange(adler32(0L, Z_NULL, 0), *job->out, p.at, p.len);
  p.ok = true;
}

bool InflatePieces(const InflateOut& out, const u8* src, u64 stored) {
  const u64 raw = out.n[0] + out.n[1];
  const u64 count = PieceCount(raw);
  if (raw <= PIECE || stored < 6) return false;
  // A zlib header for deflate with a window of 32 KiB at most and no preset dictionary.
  if ((src[0] & 0x0F) != 8 || (src[0] >> 4) > 7 || (src[0] * 256u + src[1]) % 31 != 0 || (src[1] & 0x20) != 0)
    return false;
  InflatePiece* pieces = new (std::nothrow) InflatePiece[count];
  if (!pieces) return false;
  u64 found = 1;
  pieces[0].src = src + 2;
  for (u64 q = 2; q + 4 <= stored;) {
    const void* ff = std::memchr(src + q + 2, 0xFF, static_cast<size_t>(stored - q - 2));
    if (!ff) break;
    const u64 f = static_cast<u64>(static_cast<const u8*>(ff) - src);  // src[f] is 0xFF, f >= q + 2
    if (f + 1 < stored && src[f + 1] == 0xFF && src[f - 1] == 0 && src[f - 2] == 0) {
      if (found == count) {  // more than the pieces: not (only) piece ends
        delete[] pieces;
        return false;
      }
      pieces[found++].src = src + f + 2;
    }
    q = f - 1;
  }
  if (found != count) {
    delete[] pieces;
    return false;
  }
  for (u64 k = 0; k < count; k++) {
    InflatePiece& p = pieces[k];
    p.last = k + 1 == count;
    p.n = p.last ? stored - static_cast<u64>(p.src - src) : static_cast<u64>(pieces[k + 1].src - p.src);
    p.at = k * PIECE;
    p.len = std::min<u64>(PIECE, raw - p.at);
    p.used = 0;
    p.adler = 0;
    p.ok = false;
  }
  InflateJob job{pieces, &out};
  PieceWork work{InflateOnePiece, InflaterOpen, InflaterClose, &job, count};
  RunPieces(&work);
  bool ok = true;
  uLong adler = adler32(0L, Z_NULL, 0);
  for (u64 k = 0; k < count && ok; k++) {
    ok = pieces[k].ok;
    adler = adler32_combine(adler, pieces[k].adler, static_cast<z_off_t>(pieces[k].len));
  }
  if (ok) {
    const InflatePiece& last = pieces[count - 1];
    const u64 end = static_cast<u64>(last.src - src) + last.used;
    ok = stored - end >= 4 && GetU32BE(src + end) == adler;
  }
  delete[] pieces;
  return ok;
}

// A stream of one final stored block (as the tiniest payloads are written) read without an
// inflater: true only when it is whole and sound and holds exactly raw bytes, which inflating it
// then gives too. Anything else is left to the inflater.
bool InflateStored(u8* dst, u64 raw, const u8* src, u64 stored) {
  if (raw > 0xFFFF || stored < raw + 11) return false;
  if ((src[0] & 0x0F) != 8 || (src[0] >> 4) > 7 || (src[0] * 256u + src[1]) % 31 != 0 || (src[1] & 0x20) != 0)
    return false;
  if (src[2] != 1 || GetU16(src + 3) != raw || GetU16(src + 5) != static_cast<u16>(~raw)) return false;
  if (GetU32BE(src + 7 + raw) != adler32(adler32(0L, Z_NULL, 0), src + 7, static_cast<uInt>(raw))) return false;
  if (raw) std::memcpy(dst, src + 7, static_cast<size_t>(raw));
  return true;
}

// Inflates a stream into its places, which must take exactly its raw bytes.
bool SaveInflateInto(const InflateOut& out, const u8* src, u64 stored) {
  if (out.n[1] == 0 && out.n[0] <= kDeflaters[0].max_raw && InflateStored(out.p[0], out.n[0], src, stored)) return true;
  return InflatePieces(out, src, stored) || InflateWhole(out, src, stored);
}

// Inflates a stream into dst, which must come out exactly raw bytes long.
bool SaveInflate(u8* dst, u64 raw, const u8* src, u64 stored) {
  return SaveInflateInto(InflateOut{{dst, nullptr}, {raw, 0}}, src, stored);
}

void SaveStreamsEnd() {
  DeflaterSetEnd(&s_Deflaters);
  if (s_InflaterReady) inflateEnd(&s_Inflater);
  s_InflaterReady = false;
}

// ---- Pending-block writers -------------------------------------------------------------------

// Room for n more bytes behind the block's length. 0, or -1 when memory ran out.
i32 SaveBlockReserve(SaveBlock* b, u64 n) {
  u64 need = static_cast<u64>(b->length) + n;
  if (need <= b->capacity) return 0;
  u8* p = static_cast<u8*>(std::realloc(b->data, static_cast<size_t>(need)));
  if (!p) return -1;
  b->data = p;
  b->capacity = static_cast<size_t>(need);
  return 0;
}
i32 SaveBlockSize(const SaveBlock* b) { return b->length; }
// The appenders rely on a reservation made before.
void SaveBlockAppendU8(SaveBlock* b, u8 v) { b->data[b->length++] = v; }
void SaveBlockAppendU16(SaveBlock* b, u16 v) {
  PutU16(b->data + b->length, v);
  b->length += 2;
}
void SaveBlockAppendU32(SaveBlock* b, u32 v) {
  PutU32(b->data + b->length, v);
  b->length += 4;
}
void SaveBlockPatchU32(SaveBlock* b, i32 at, u32 v) { PutU32(b->data + at, v); }

void SaveBlockHeader(SaveBlock* b, u8 kind, u16 id) {
  SaveBlockAppendU8(b, kind);
  SaveBlockAppendU8(b, 1);
  SaveBlockAppendU16(b, id);
  SaveBlockAppendU32(b, 0);
  SaveBlockAppendU32(b, 0);
}

// Forgets a block whatever its state (also one left half-built).
void DropBlock(SaveBlock* b) {
  std::free(b->data);
  *b = SaveBlock{};
}

// ---- Items -----------------------------------------------------------------------------------

// One item to save: a variable (one element or whole) or a layer's picture.
struct SaveItem {
  u8 kind;
  i64 var_id;
  bool whole;
  i64 element;
  const VarRecord* var;
  u64 data_len;  // a variable's data bytes
  u8 image[SAVE_RECORD_IMAGE_SIZE];
  i32 width, height;
  const u8* pixels;
  u64 estimate;  // the uncompressed size with the 12-byte header
};

u64 StrLen(const char* s) { return s ? std::strlen(s) : 0; }

// Element k of the item's variable. A whole variable (alone or in a group) is taken as its record
// holds it: the getter of a system variable computes its value and may raise (the dropped files
// past their count). One element is read through the getter.
i64 ItemInt(const SaveItem& it, i64 k) {
  if (!it.whole) return VarGetIntElement(it.var_id, k);
  const VarRecord* v = it.var;
  return v->type == VAR_TYPE_INT && v->ints ? v->ints[k] : 0;
}
double ItemFloat(const SaveItem& it, i64 k) {
  if (!it.whole) return VarGetFloatElement(it.var_id, k);
  const VarRecord* v = it.var;
  return v->type == VAR_TYPE_FLOAT && v->floats ? v->floats[k] : 0.0;
}
const char* ItemStr(const SaveItem& it, i64 k) {
  if (!it.whole) return VarGetStrElement(it.var_id, k);
  const VarRecord* v = it.var;
  return v->type == VAR_TYPE_STR && v->strs ? v->strs[k] : nullptr;
}

// The item's size estimate (and a variable's data length). -1 after 108070 for an item the loader
// could not read back.
i32 SaveItemSizeEstimate(SaveItem* it) {
  if (it->kind == SAVE_ITEM_IMAGE) {
    const u64 pixel_bytes = static_cast<u64>(it->width) * static_cast<u64>(it->height) * 4;
    it->estimate = pixel_bytes + 1620;
    if (pixel_bytes > UINT32_MAX || it->estimate - SAVE_ITEM_HEADER_SIZE > kBlockMax) return TooLong();
    return 0;
  }
  const VarRecord* v = it->var;
  const i64 n = it->whole ? v->count : 1;
  const i64 first = it->whole ? 0 : it->element;
  u64 data = 0;
  switch (v->type) {
    case VAR_TYPE_INT:
    case VAR_TYPE_FLOAT: data = static_cast<u64>(n) * 8; break;
    case VAR_TYPE_STR:
      for (i64 k = 0; k < n; k++) data += 4 + StrLen(ItemStr(*it, first + k));
      break;
    default: break;  // no elements: the payload holds a data length of 0
  }
  it->data_len = data;
  const u64 dims = it->whole ? static_cast<u64>(v->dim_count) : 0;
  it->estimate = 24 + 4 * dims + data;
  if (data > SAVE_VAR_DATA_MAX) return TooLong();
  return 0;
}

// Makes the scratch buffer hold raw bytes: 1 MiB at first, else what this payload needs.
i32 ScratchReserve(u64 raw, bool variable) {
  if (g_SaveScratch.data && g_SaveScratch.capacity >= raw) return 0;
  u64 want = variable ? 2 * raw : raw;
  if (!g_SaveScratch.data && want < SAVE_SCRATCH_FIRST) want = SAVE_SCRATCH_FIRST;
  u8* p = static_cast<u8*>(std::realloc(g_SaveScratch.data, static_cast<size_t>(want)));
  if (!p) return -1;
  g_SaveScratch.data = p;
  g_SaveScratch.capacity = static_cast<size_t>(want);
  return 0;
}

// The variable payload into p: type, dimensions, data length, data. It never
// passes the estimated size: a system string whose text changed since it was measured is cut.
void SaveVarSerialiseTo(u8* p, const SaveItem& it) {
  const VarRecord* v = it.var;
  u8* const end = p + (it.estimate - SAVE_ITEM_HEADER_SIZE);
  PutU32(p, static_cast<u32>(v->type));
  const u32 dims = it.whole ? static_cast<u32>(v->dim_count) : 0;
  PutU32(p + 4, dims);
  p += 8;
  for (u32 k = 0; k < dims; k++, p += 4) PutU32(p, v->dims[k]);
  PutU32(p, static_cast<u32>(it.data_len));
  p += 4;
  const i64 n = it.whole ? v->count : 1;
  const i64 first = it.whole ? 0 : it.element;
  for (i64 k = 0; k < n; k++) {
    switch (v->type) {
      case VAR_TYPE_INT:
        PutU64(p, static_cast<u64>(ItemInt(it, first + k)));
        p += 8;
        break;
      case VAR_TYPE_FLOAT: {
        const double d = ItemFloat(it, first + k);
        u64 bits;
        std::memcpy(&bits, &d, sizeof bits);
        PutU64(p, bits);
        p += 8;
        break;
      }
      case VAR_TYPE_STR: {
        const char* s = ItemStr(it, first + k);
        // Room is kept for the length words of this and every later element.
        const u64 room = static_cast<u64>(end - p) - 4 * static_cast<u64>(n - k);
        const u32 len = static_cast<u32>(std::min<u64>(StrLen(s), room));
        PutU32(p, len);
        if (len) std::memcpy(p + 4, s, len);
        p += 4 + len;
        break;
      }
      default: break;
    }
  }
  std::memset(p, 0, static_cast<size_t>(end - p));
}
void SaveVarSerialise(const SaveItem& it) { SaveVarSerialiseTo(g_SaveScratch.data, it); }

// The image payload: 1600, the pixel byte count, the record image, the pixel rows.
void SaveImageSerialise(const SaveItem& it, bool with_pixels) {
  u8* p = g_SaveScratch.data;
  const u64 pixel_bytes = static_cast<u64>(it.width) * static_cast<u64>(it.height) * 4;
  PutU32(p, SAVE_RECORD_IMAGE_SIZE);
  PutU32(p + 4, static_cast<u32>(pixel_bytes));
  std::memcpy(p + 8, it.image, SAVE_RECORD_IMAGE_SIZE);
  if (with_pixels) std::memcpy(p + 8 + SAVE_RECORD_IMAGE_SIZE, it.pixels, static_cast<size_t>(pixel_bytes));
}

// The capacity a compressed payload of raw bytes may need.
u64 SaveVarBound(u64 raw) { return SaveDeflateBound(raw); }
u64 SaveImageBound(u64 raw) { return SaveDeflateBound(raw); }

// Appends one item (header, compressed payload) to the block. Its length (12 + stored), or -1
// after the message or error; the block is then to be dropped.
i64 SaveItemWrite(SaveBlock* b, const SaveItem& it) {
  const u64 raw = it.estimate - SAVE_ITEM_HEADER_SIZE;
  const bool variable = it.kind == SAVE_ITEM_VAR;
  const u64 bound = variable ? SaveVarBound(raw) : SaveImageBound(raw);
  // A picture in pieces is read from its layer: only its first bytes go through the scratch.
  const bool in_place = !variable && raw > PIECE;
  const u64 head = 8 + SAVE_RECORD_IMAGE_SIZE;
  if (ScratchReserve(in_place ? head : raw, variable) != 0 || SaveBlockReserve(b, SAVE_ITEM_HEADER_SIZE + bound) != 0)
    return NoMemory();
  const i32 at = SaveBlockSize(b);
  SaveBlockHeader(b, it.kind, variable ? static_cast<u16>(it.var_id) : 0);
  if (variable) SaveVarSerialise(it);
  else SaveImageSerialise(it, !in_place);
  u64 stored = bound;
  const int deflated = in_place ? DeflateInPieces(b->data + b->length, &stored,
                                                  DeflateIn{{g_SaveScratch.data, it.pixels}, {head, raw - head}})
                                : SaveDeflate(b->data + b->length, &stored, g_SaveScratch.data, raw);
  if (deflated != Z_OK) {
    ErrMessageBoxF("", "%s", Msg(MSG_COMPRESS));
    return -1;
  }
  if (static_cast<u64>(b->length) + stored > kBlockMax) return TooLong();
  b->length += static_cast<i32>(stored);
  SaveBlockPatchU32(b, at + 4, static_cast<u32>(stored));
  SaveBlockPatchU32(b, at + 8, static_cast<u32>(raw));
  return SAVE_ITEM_HEADER_SIZE + static_cast<i64>(stored);
}

// A variable item: one element or whole.
i32 SaveItemForVar(SaveItem* it, i64 var_id, bool whole, i64 element) {
  const VarRecord* v = VarRecordOf(var_id);
  if (!v) return -1;
  if (!whole && (element < 0 || element >= v->count)) return -1;
  it->kind = SAVE_ITEM_VAR;
  it->var_id = var_id;
  it->whole = whole;
  it->element = element;
  it->var = v;
  return SaveItemSizeEstimate(it);
}

// ---- Names -----------------------------------------------------------------------------------

bool CheckRange(u8 slot, u8 param, i64 value, i64 low, i64 high) {
  if (value >= low && value <= high) return true;
  ErrRaiseAtScriptF(ERR_ARG_RANGE, 1, ArgCommandName(slot), ArgName(slot, param), value, low, high);
  return false;
}

// Parameter 4 (with "." and parameter 5) resolved against the layer base and found. -1 after
// 101250 or the resolver's error.
i32 FindLayer(u8 slot, char* path, size_t path_size, ObjNode** node) {
  std::string name = ArgStr(P_LAYER);
  if (ArgGiven(P_LAYER_NUM)) name += "." + std::to_string(ArgInt(P_LAYER_NUM));
  const i32 r = ObjResolvePath(path, path_size, name.c_str(), g_LayerBase, 0);
  if (r < 0) return -1;
  const bool folder = r == 1 && !ArgGiven(P_LAYER_NUM);
  *node = ObjFindNode(g_LayerRoot, path, folder ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM);
  if (*node && (*node)->parent) return 0;  // never the tree's root
  ErrRaiseAtScriptF(ERR_SAVE_LAYER_MISSING, 1, ArgCommandName(slot), path);
  return -1;
}

bool HasSeparator(const char* s) {
  for (; *s; s += SjisCharLen(s))
    if (*s == '\\') return true;
  return false;
}

// Parameter 0 as a save file path: lower-cased, "/" as "\", at most 32 bytes, no folder, ".sd".
i32 SaveFilePath(u8 slot, std::string* path) {
  char name[ARG_STR_BUF];
  StrCopySjis(name, sizeof name, ArgStr(P_FILE));
  StrLowerSjis(name);
  StrReplaceCharSjis(name, '/', '\\');
  if (std::strlen(name) > SAVE_NAME_MAX) {
    ErrRaiseAtScriptF(ERR_SAVE_NAME_LONG, 1, ArgCommandName(slot), name);
    return -1;
  }
  if (HasSeparator(name)) {
    ErrRaiseAtScriptF(ERR_SAVE_NAME_FOLDER, 1, ArgCommandName(slot), name);
    return -1;
  }
  *path = std::string(g_SaveFolder) + name + (StrEndsWith(name, ".sd") ? "" : ".sd");
  return 0;
}

// Every missing level of the save folder (the user folders of modes 1 to 3 lie deep). 0, or -1
// with PlatFileLastError saying why; a save folder whose user folder is unknown is missing.
static i32 SaveFolderCreate() {
  if (g_SaveFolderMissing) return PlatFolderCreateNative(std::string());
  return g_SaveFolder[0] ? PlatFolderCreateNative(PlatFileResolve(g_SaveFolder)) : 0;
}

// Error 102140 with the reason of the step that failed, as the C runtime numbers and words it.
static i32 CreateFailed(const char* cmd, const char* path) {
  const PlatFileError e = PlatFileLastError();
  const bool known = e.crt_number >= 0 && e.crt_number < CMDDEF_CRT_TEXTS && g_CrtErrorTexts[e.crt_number];
  ErrRaiseAtScriptF(ERR_SAVE_CREATE, 1, cmd, path, e.crt_number, known ? g_CrtErrorTexts[e.crt_number] : e.text.c_str());
  return -1;
}

// ---- Deflating a group on several threads --------------------------------------------------

// A group of many items that deflate can shrink (a stored item costs next to nothing) has them
// deflated on the piece workers: the payloads serialised one after the other into the scratch
// buffer here, each deflated by a worker into room of its own in the block (its bound), then
// moved down behind the one before. The block's bytes are those that deflating the items one by
// one gives. Other groups, and those with an item above a piece or more payload bytes than
// kGroupScratchMax, go one by one.
enum : u64 { GROUP_BATCH = 64, GROUP_PARALLEL_MIN = 256 };
constexpr u64 kGroupScratchMax = 16u << 20;

struct GroupItem {
  u64 raw_at, raw;     // its payload in the scratch buffer
  u64 out_at, stored;  // its room in the block, then its stored length (room: its bound)
  int result;          // deflate's
};
struct GroupJob {
  GroupItem* items;
  u64 count;
  const u8* raw;
  u8* out;
};

void* DeflaterSetOpen() { return new (std::nothrow) DeflaterSet{}; }
void DeflaterSetClose(void* set) {
  DeflaterSetEnd(static_cast<DeflaterSet*>(set));
  delete static_cast<DeflaterSet*>(set);
}

void DeflateGroupBatch(void* ctx, u64 batch, void* stream) {
  const GroupJob* job = static_cast<const GroupJob*>(ctx);
  DeflaterSet* set = static_cast<DeflaterSet*>(stream);
  const u64 end = std::min(job->count, (batch + 1) * GROUP_BATCH);
  for (u64 k = batch * GROUP_BATCH; k < end; k++) {
    GroupItem& it = job->items[k];
    it.result = DeflateSmall(set, job->out + it.out_at, &it.stored, job->raw + it.raw_at, it.raw);
  }
}

// The items of the group (cls, type), count of them with raw payload bytes in all, appended to
// the block reserved for them; their stored bytes in *stored. -1 after the message or error.
i32 WriteGroupInParallel(SaveBlock* b, i32 cls, i32 type, u64 count, u64 raw, u64* stored) {
  *stored = 0;
  std::vector<GroupItem> items;
  items.reserve(static_cast<size_t>(count));
  if (ScratchReserve(raw, false) != 0) return NoMemory();
  u64 raw_at = 0, out_at = static_cast<u64>(b->length);
  for (u32 id = 0; id < g_VarCount; id++) {
    const VarRecord* v = VarRecordOf(id);
    if (!v || v->var_class != cls || v->type != type) continue;
    SaveItem it{};
    if (SaveItemForVar(&it, id, true, 0) != 0) return -1;
    const u64 n = it.estimate - SAVE_ITEM_HEADER_SIZE, bound = SaveVarBound(n);
    // The header goes in front of the item's room now; only its lengths wait for the deflating.
    // (The reservations hold unless a text grew since the group was measured.)
    b->length = static_cast<i32>(out_at);
    if (ScratchReserve(raw_at + n, false) != 0 || SaveBlockReserve(b, SAVE_ITEM_HEADER_SIZE + bound) != 0)
      return NoMemory();
    SaveVarSerialiseTo(g_SaveScratch.data + raw_at, it);
    SaveBlockHeader(b, SAVE_ITEM_VAR, static_cast<u16>(id));
    items.push_back({raw_at, n, out_at + SAVE_ITEM_HEADER_SIZE, bound, Z_OK});
    raw_at += n;
    out_at += SAVE_ITEM_HEADER_SIZE + bound;
  }
  count = items.size();
  if (count == 0) return 0;
  GroupJob job{items.data(), count, g_SaveScratch.data, b->data};
  PieceWork work{DeflateGroupBatch, DeflaterSetOpen, DeflaterSetClose, &job, (count + GROUP_BATCH - 1) / GROUP_BATCH};
  RunPieces(&work);
  // Each item moved down behind the one before, in order; room only ever shrinks, so no item is
  // overwritten before it moved.
  u64 at = items[0].out_at - SAVE_ITEM_HEADER_SIZE;
  for (const GroupItem& it : items) {
    if (it.result != Z_OK) {
      ErrMessageBoxF("", "%s", Msg(MSG_COMPRESS));
      return -1;
    }
    if (at + SAVE_ITEM_HEADER_SIZE + it.stored > kBlockMax) return TooLong();
    std::memmove(b->data + at, b->data + it.out_at - SAVE_ITEM_HEADER_SIZE,
                 static_cast<size_t>(SAVE_ITEM_HEADER_SIZE + it.stored));
    PutU32(b->data + at + 4, static_cast<u32>(it.stored));
    PutU32(b->data + at + 8, static_cast<u32>(it.raw));
    at += SAVE_ITEM_HEADER_SIZE + it.stored;
    *stored += SAVE_ITEM_HEADER_SIZE + it.stored;
  }
  b->length = static_cast<i32>(at);
  return 0;
}

// ---- Building a block (command 84) -----------------------------------------------------------

// The group of the highest class and the highest type that any given selector names.
i32 BuildGroup(SaveBlock* b, u16 selectors) {
  i32 cls = 0, type = 0;
  for (i32 k = 0; k < SAVE_GROUP_SELECTORS; k++) {
    if (!(selectors & (1u << k))) continue;
    cls = std::max(cls, 1 + k % 4);
    type = std::max(type, 1 + k / 4);
  }
  // Sizes first, so the block is reserved once and nothing is written for a refused group.
  u64 estimates = 0, capacity = SAVE_ITEM_HEADER_SIZE, count = 0, deflated = 0, largest = 0;
  for (u32 id = 0; id < g_VarCount; id++) {
    const VarRecord* v = VarRecordOf(id);
    if (!v || v->var_class != cls || v->type != type) continue;
    // An item names its variable in 16 bits; a higher id would load into another variable.
    if (id > UINT16_MAX) return TooLong();
    SaveItem it{};
    if (SaveItemForVar(&it, id, true, 0) != 0) return -1;
    estimates += it.estimate;
    capacity += SAVE_ITEM_HEADER_SIZE + SaveVarBound(it.estimate - SAVE_ITEM_HEADER_SIZE);
    count++;
    deflated += it.estimate - SAVE_ITEM_HEADER_SIZE > kDeflaters[0].max_raw;
    largest = std::max(largest, it.estimate - SAVE_ITEM_HEADER_SIZE);
  }
  if (estimates > kBlockMax) return TooLong();
  if (SaveBlockReserve(b, capacity) != 0) return NoMemory();
  SaveBlockHeader(b, SAVE_ITEM_GROUP, 0);
  u64 stored = 0;
  const u64 raw = estimates - SAVE_ITEM_HEADER_SIZE * count;
  if (deflated >= GROUP_PARALLEL_MIN && largest <= PIECE && raw <= kGroupScratchMax) {
    if (WriteGroupInParallel(b, cls, type, count, raw, &stored) != 0) return -1;
  } else {
    for (u32 id = 0; id < g_VarCount; id++) {
      const VarRecord* v = VarRecordOf(id);
      if (!v || v->var_class != cls || v->type != type) continue;
      SaveItem it{};
      if (SaveItemForVar(&it, id, true, 0) != 0) return -1;
      const i64 n = SaveItemWrite(b, it);
      if (n < 0) return -1;
      stored += static_cast<u64>(n);
    }
  }
  SaveBlockPatchU32(b, 4, static_cast<u32>(stored));
  SaveBlockPatchU32(b, 8, static_cast<u32>(estimates));
  return 0;
}

i32 BuildBlock(const SaveWriteRequest& r) {
  const char* cmd = ArgCommandName(SLOT_WRITE);
  if (!CheckRange(SLOT_WRITE, P_DNO, r.dno, 1, SAVE_DNO_COUNT)) return -1;
  SaveBlock* b = &g_SaveBlocks[r.dno - 1];
  if (b->length != 0) {
    ErrRaiseAtScriptF(ERR_SAVE_PENDING, 1, cmd, ArgName(SLOT_WRITE, P_DNO), r.dno);
    return -1;
  }
  i32 result = -1;
  if (r.group) {
    result = BuildGroup(b, r.group);
  } else if (r.layer) {
    SaveItem it{};
    it.kind = SAVE_ITEM_IMAGE;
    if (!g_HookLayerSaveImage || g_HookLayerSaveImage(r.layer, it.image, &it.width, &it.height, &it.pixels) != 0) {
      ErrRaiseAtScriptF(ERR_SAVE_LAYER_MISSING, 1, cmd, r.layer_path ? r.layer_path : "");
    } else if (SaveItemSizeEstimate(&it) == 0) {
      result = SaveItemWrite(b, it) < 0 ? -1 : 0;
    }
  } else {
    SaveItem it{};
    if (r.has_var && SaveItemForVar(&it, r.var_id, r.whole, r.element) == 0) result = SaveItemWrite(b, it) < 0 ? -1 : 0;
  }
  if (result != 0) DropBlock(b);
  return result;
}

// ---- Writing out: memory save slots ----------------------------------------------------------

void SaveSlotSetSize(SaveSlot* s, i32 n) { s->length = n; }
i32 SaveSlotSize(const SaveSlot* s) { return s->length; }
void SaveSlotAppendBytes(SaveSlot* s, const void* p, size_t n) {
  if (n) std::memcpy(s->data + s->length, p, n);
  s->length += static_cast<i32>(n);
}
void SaveSlotAppendU32(SaveSlot* s, u32 v) {
  u8 w[4];
  PutU32(w, v);
  SaveSlotAppendBytes(s, w, 4);
}

i32 WriteSlot(i32 n) {
  SaveSlot* s = &g_SaveSlots[n];
  u64 need = SAVE_HEADER_SIZE;
  for (i32 d = 1; d < SAVE_SNAPSHOT_DNO; d++) need += static_cast<u64>(g_SaveBlocks[d - 1].length) + 4;
  if (need < SAVE_SLOT_MIN_CAPACITY) need = SAVE_SLOT_MIN_CAPACITY;
  if (need > kBlockMax) return TooLong();
  if (!s->data || static_cast<u64>(s->capacity) < need) {
    u8* p = static_cast<u8*>(std::realloc(s->data, static_cast<size_t>(need)));
    if (!p) return NoMemory();
    s->data = p;
    s->capacity = static_cast<i32>(need);
  }
  u32 dir[SAVE_DNO_COUNT] = {};
  u32 count = 0;
  SaveSlotSetSize(s, 0);
  SaveSlotAppendBytes(s, kMagic, 4);
  SaveSlotAppendU32(s, SAVE_VERSION);
  SaveSlotSetSize(s, SAVE_HEADER_SIZE);
  for (i32 d = 1; d < SAVE_SNAPSHOT_DNO; d++) {
    const SaveBlock& b = g_SaveBlocks[d - 1];
    if (b.length <= 0) continue;
    dir[d - 1] = static_cast<u32>(SaveSlotSize(s));
    SaveSlotAppendU32(s, static_cast<u32>(d));
    SaveSlotAppendBytes(s, b.data, static_cast<size_t>(b.length));
    count++;
  }
  const i32 end = SaveSlotSize(s);
  SaveSlotSetSize(s, 8);
  SaveSlotAppendU32(s, count);
  SaveSlotAppendU32(s, SAVE_DNO_COUNT);
  for (u32 e : dir) SaveSlotAppendU32(s, e);
  SaveSlotSetSize(s, end);
  s->read_pos = 0;
  SaveFreeBlocks(-1);
  return 0;
}

// ---- Writing out: save files -----------------------------------------------------------------

// A save file formed in memory before it is written whole.
struct FileImage {
  u8* data = nullptr;
  size_t size = 0, capacity = 0;
  bool failed = false;
  ~FileImage() { std::free(data); }
};

void SaveFileWriteBytes(FileImage* f, const void* p, size_t n) {
  if (f->failed) return;
  if (f->size + n > f->capacity) {
    size_t cap = std::max(f->size + n, f->capacity * 2);
    u8* q = static_cast<u8*>(std::realloc(f->data, cap));
    if (!q) {
      f->failed = true;
      return;
    }
    f->data = q;
    f->capacity = cap;
  }
  if (n) std::memcpy(f->data + f->size, p, n);
  f->size += n;
}
void SaveFileWriteU32(FileImage* f, u32 v) {
  u8 w[4];
  PutU32(w, v);
  SaveFileWriteBytes(f, w, 4);
}

// Appends the pending blocks not yet placed (ascending DNO) and enters them in the directory.
// Returns how many.
u32 AppendPending(FileImage* f, u32* dir, const bool* placed) {
  u32 n = 0;
  for (i32 d = 1; d <= SAVE_DNO_COUNT; d++) {
    const SaveBlock& b = g_SaveBlocks[d - 1];
    if (b.length <= 0 || placed[d - 1]) continue;
    dir[d - 1] = static_cast<u32>(f->size);
    SaveFileWriteU32(f, static_cast<u32>(d));
    SaveFileWriteBytes(f, b.data, static_cast<size_t>(b.length));
    n++;
  }
  return n;
}

void PutDirectory(FileImage* f, u32 count, const u32* dir) {
  PutU32(f->data + 8, count);
  PutU32(f->data + 12, SAVE_DNO_COUNT);
  for (i32 k = 0; k < SAVE_DNO_COUNT; k++) PutU32(f->data + 16 + 4 * k, dir[k]);
}

// The new file when an old one exists: the pending blocks appended, or (when one of them is in
// the file already) the old records walked, each replaced by its pending block or copied. 0, or
// -1 after the error or message; the old file is never touched.
i32 MergeIntoOld(const u8* old, size_t old_size, const char* path, FileImage* f, u32* dir) {
  if (old_size < 4 || std::memcmp(old, kMagic, 4) != 0) {
    ErrRaiseAtScript(ERR_SAVE_MAGIC, 1);
    return -1;
  }
  if (old_size < 8 || GetU32(old + 4) != SAVE_VERSION) {
    ErrRaiseAtScript(ERR_SAVE_VERSION, 1);
    return -1;
  }
  if (old_size < SAVE_HEADER_SIZE) return InvalidSave(path);
  const u32 old_count = GetU32(old + 8);
  for (i32 k = 0; k < SAVE_DNO_COUNT; k++) dir[k] = GetU32(old + 16 + 4 * k);
  bool placed[SAVE_DNO_COUNT] = {};
  bool rewrite = false;
  for (i32 k = 0; k < SAVE_DNO_COUNT; k++) rewrite = rewrite || (g_SaveBlocks[k].length > 0 && dir[k] != 0);
  if (!rewrite) {
    SaveFileWriteBytes(f, old, old_size);
    const u32 added = AppendPending(f, dir, placed);
    if (!f->failed) PutDirectory(f, old_count + added, dir);
    return 0;
  }
  SaveFileWriteBytes(f, old, SAVE_HEADER_SIZE);
  for (size_t pos = SAVE_HEADER_SIZE; pos < old_size;) {
    if (old_size - pos < 4 + SAVE_ITEM_HEADER_SIZE) return InvalidSave(path);
    const u32 d = GetU32(old + pos);
    if (d == 0 || d > SAVE_DNO_COUNT) {
      ErrMessageBoxF("", Msg(MSG_BAD_DNO), static_cast<i32>(d));
      return -1;
    }
    const u64 record = 4 + SAVE_ITEM_HEADER_SIZE + static_cast<u64>(GetU32(old + pos + 8));
    if (record > old_size - pos) return InvalidSave(path);
    dir[d - 1] = static_cast<u32>(f->size);
    const SaveBlock& b = g_SaveBlocks[d - 1];
    if (b.length > 0) {
      SaveFileWriteU32(f, d);
      SaveFileWriteBytes(f, b.data, static_cast<size_t>(b.length));
      placed[d - 1] = true;
    } else {
      SaveFileWriteBytes(f, old + pos, static_cast<size_t>(record));
    }
    pos += static_cast<size_t>(record);
  }
  const u32 added = AppendPending(f, dir, placed);
  if (!f->failed) PutDirectory(f, old_count + added, dir);
  return 0;
}

i32 WriteFile(const char* path) {
  const char* cmd = ArgCommandName(SLOT_WRITE);
  // The folder first: a save that has no place to go is refused for the reason it has none.
  if (SaveFolderCreate() != 0) return CreateFailed(cmd, path);
  u8* old = nullptr;
  size_t old_size = 0;
  const int got = PlatFileReadAll(path, &old, &old_size);
  HeapBuf old_buf;
  old_buf.p = old;
  FileImage f;
  u32 dir[SAVE_DNO_COUNT] = {};
  if (got == 0) {
    if (MergeIntoOld(old, old_size, path, &f, dir) != 0) return -1;
  } else if (got == -1 && PlatFileKind(path) == PLAT_FILE_NONE) {
    bool placed[SAVE_DNO_COUNT] = {};
    f.data = static_cast<u8*>(MemAllocZeroed(SAVE_HEADER_SIZE));
    if (!f.data) return NoMemory();
    f.size = f.capacity = SAVE_HEADER_SIZE;
    std::memcpy(f.data, kMagic, 4);
    PutU32(f.data + 4, SAVE_VERSION);
    const u32 count = AppendPending(&f, dir, placed);
    if (!f.failed) PutDirectory(&f, count, dir);
  } else if (got == -1) {
    ErrRaiseAtScriptF(ERR_SAVE_OPEN, 1, cmd, ArgName(SLOT_WRITE, P_FILE), path);
    return -1;
  } else {
    ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  if (f.failed) return NoMemory();
  // Directory entries are 32-bit offsets.
  if (f.size > UINT32_MAX) return TooLong();
  if (PlatFileWriteAtomic(path, f.data, f.size) != 0) return CreateFailed(cmd, path);
  SaveFreeBlocks(-1);
  return 0;
}

// ---- Reading a block (command 55) ------------------------------------------------------------

// A block as read: its header and stored bytes.
struct LoadedBlock {
  u8 kind = 0;
  u16 id = 0;
  u32 raw = 0;
  bool cut = false;  // its stored bytes run past the end of the save: nothing was read
  HeapBuf stored;
};

// Slot reads at the read position; they never pass the slot's length.
bool SaveSlotReadBytes(SaveSlot* s, void* out, u64 n) {
  if (s->read_pos < 0 || s->read_pos > s->length || n > static_cast<u64>(s->length - s->read_pos)) return false;
  if (n) std::memcpy(out, s->data + s->read_pos, static_cast<size_t>(n));
  s->read_pos += static_cast<i32>(n);
  return true;
}

// What holds the save: an open file or a slot, read at checked positions only.
struct SaveSource {
  PlatFile* file = nullptr;
  SaveSlot* slot = nullptr;
  u64 size = 0;
  bool Read(u64 at, void* out, u64 n) const {
    if (at > size || n > size - at) return false;
    if (slot) {
      slot->read_pos = static_cast<i32>(at);
      return SaveSlotReadBytes(slot, out, n);
    }
    return PlatFileSeek(file, at) == 0 && PlatFileRead(file, out, static_cast<size_t>(n)) == n;
  }
};

// The raw length a stored stream of a kind may claim.
bool RawLengthPlausible(u8 kind, u64 raw, u64 stored) {
  if (raw > stored * SAVE_INFLATE_RATIO_MAX) return false;
  if (kind == SAVE_ITEM_VAR) return raw <= kVarRawMax;
  return raw <= kBlockMax;
}

// The block of dno: 0 read, 1 absent (102110 raised), -1 after an error or message.
i32 ReadBlock(const SaveSource& src, i32 dno, const char* path, bool from_slot, LoadedBlock* out) {
  const char* cmd = ArgCommandName(SLOT_LOAD);
  u8 head[16];
  if (!src.Read(0, head, 4) || std::memcmp(head, kMagic, 4) != 0) {
    ErrRaiseAtScript(ERR_SAVE_MAGIC, 1);
    return -1;
  }
  if (!src.Read(4, head + 4, 4) || GetU32(head + 4) != SAVE_VERSION) {
    ErrRaiseAtScript(ERR_SAVE_VERSION, 1);
    return -1;
  }
  u8 w[4];
  if (!src.Read(12 + 4 * static_cast<u64>(dno), w, 4)) return InvalidSave(path);
  const u32 offset = GetU32(w);
  if (offset == 0) {
    ErrRaiseAtScriptF(ERR_SAVE_NO_BLOCK, 1, cmd, ArgName(SLOT_LOAD, P_DNO));
    return 1;
  }
  // A slot never holds the snapshot block.
  if (from_slot && dno == SAVE_SNAPSHOT_DNO) return InvalidSave(path);
  if (offset < SAVE_HEADER_SIZE) return InvalidSave(path);
  // A save cut short (a truncated file) within the record: its stream cannot be inflated.
  u8 h[SAVE_ITEM_HEADER_SIZE];
  if (static_cast<u64>(offset) + 4 + sizeof h > src.size) {
    out->cut = true;
    return 0;
  }
  if (!src.Read(static_cast<u64>(offset) + 4, h, sizeof h)) return InvalidSave(path);
  out->kind = h[0];
  out->id = GetU16(h + 2);
  const u32 stored = GetU32(h + 4);
  out->raw = GetU32(h + 8);
  const u64 at = static_cast<u64>(offset) + 4 + SAVE_ITEM_HEADER_SIZE;
  if (out->kind > SAVE_ITEM_GROUP) return InvalidSave(path);
  if (at > src.size || stored > src.size - at) {
    out->cut = true;
    return 0;
  }
  const bool single = out->kind != SAVE_ITEM_GROUP && !(dno == SAVE_SNAPSHOT_DNO && !from_slot);
  if (single && !RawLengthPlausible(out->kind, out->raw, stored)) return InvalidSave(path);
  if (!out->stored.Alloc(stored)) {
    if (from_slot) ErrMessageBoxF("", Msg(MSG_LOAD_NO_MEMORY_SLOT), dno, stored, out->raw);
    else ErrMessageBoxF("", "%s", Msg(MSG_LOAD_NO_MEMORY));
    return -1;
  }
  if (!src.Read(at, out->stored.p, stored)) return InvalidSave(path);
  return 0;
}

// One stream into a buffer of exactly its raw length; "Uncompress Error." otherwise.
i32 SaveUncompressInto(const InflateOut& out, const u8* src, u64 stored) {
  if (SaveInflateInto(out, src, stored)) return 0;
  ErrMessageBoxF("", "%s", Msg(MSG_UNCOMPRESS));
  return -1;
}
i32 SaveUncompress(u8* dst, u64 raw, const u8* src, u64 stored) {
  return SaveUncompressInto(InflateOut{{dst, nullptr}, {raw, 0}}, src, stored);
}

i32 UncompressInto(HeapBuf* raw_buf, u64 raw, const u8* src, u64 stored) {
  if (!raw_buf->Alloc(raw)) {
    ErrMessageBoxF("", "%s", Msg(MSG_LOAD_NO_MEMORY));
    return -1;
  }
  return SaveUncompress(raw_buf->p, raw, src, stored);
}

// ---- Restoring variables ---------------------------------------------------------------------

// A variable payload found whole and sound for its variable.
struct VarPayload {
  i64 id;
  i8 type;
  const u8* data;
  u64 data_len;
  i64 first, count;  // the elements it fills
};

i32 VarPayloadCheck(i64 id, bool whole, const u8* p, size_t len, i64 element, const char* path, VarPayload* out) {
  const VarRecord* v = VarRecordOf(id);
  if (!v) return -1;
  if (len < 8) return InvalidSave(path);
  const u32 type = GetU32(p);
  if (type < VAR_TYPE_INT || type > VAR_TYPE_STR) {
    ErrRaiseAtScript(ERR_SAVE_PAYLOAD, 1);
    return -1;
  }
  if (type != static_cast<u32>(v->type)) {
    const u8 declare = v->type >= VAR_TYPE_INT && v->type <= VAR_TYPE_STR ? kDeclareSlot[v->type] : 0;
    ErrRaiseAtScriptF(ERR_SAVE_TYPE, 1, ArgCommandName(SLOT_LOAD), declare ? ArgCommandName(declare) : "");
    return -1;
  }
  const u32 dims = GetU32(p + 4);
  if (dims > VAR_DIM_MAX) {
    ErrRaiseAtScript(ERR_SAVE_PAYLOAD, 1);
    return -1;
  }
  const u64 head = 12 + 4 * static_cast<u64>(dims);
  if (len < head) return InvalidSave(path);
  const u64 data_len = GetU32(p + 8 + 4 * dims);
  if (data_len > SAVE_VAR_DATA_MAX) return TooLong();
  if (data_len > len - head) return InvalidSave(path);
  if (whole) {
    if (dims != static_cast<u32>(v->dim_count)) {
      ErrRaiseAtScript(ERR_SAVE_DIM_COUNT, 1);
      return -1;
    }
    for (u32 k = 0; k < dims; k++) {
      if (GetU32(p + 8 + 4 * k) != v->dims[k]) {
        ErrRaiseAtScript(ERR_SAVE_DIM_SIZE, 1);
        return -1;
      }
    }
  } else if (dims != 0) {
    ErrRaiseAtScript(ERR_SAVE_DIM_COUNT, 1);
    return -1;
  }
  out->id = id;
  out->type = v->type;
  out->data = p + head;
  out->data_len = data_len;
  out->first = whole ? 0 : element;
  out->count = whole ? v->count : 1;
  if (out->first < 0 || out->first + out->count > v->count) return -1;
  if (type != VAR_TYPE_STR) {
    if (type == VAR_TYPE_INT ? !v->ints : !v->floats) return -1;
    return data_len == static_cast<u64>(out->count) * 8 ? 0 : InvalidSave(path);
  }
  if (!v->strs) return -1;
  u64 q = 0;
  for (i64 k = 0; k < out->count; k++) {
    if (data_len - q < 4) return InvalidSave(path);
    const u64 n = GetU32(out->data + q);
    if (n > SAVE_STR_STORED_MAX || n > data_len - q - 4) return InvalidSave(path);
    q += 4 + n;
  }
  return 0;
}

void VarPayloadApply(const VarPayload& vp) {
  u64 q = 0;
  for (i64 k = 0; k < vp.count; k++) {
    const i64 e = vp.first + k;
    switch (vp.type) {
      case VAR_TYPE_INT: VarSetNumElement(vp.id, e, static_cast<i64>(GetU64(vp.data + 8 * k))); break;
      case VAR_TYPE_FLOAT: {
        const u64 bits = GetU64(vp.data + 8 * k);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        VarSetFloatElement(vp.id, e, d);
        break;
      }
      default: {
        const u32 n = GetU32(vp.data + q);
        VarSetStrElementSaved(vp.id, e, reinterpret_cast<const char*>(vp.data + q + 4), n);
        q += 4 + n;
        break;
      }
    }
  }
}

// Kind 2: the items' headers walked first, then every item uncompressed into its own buffer and
// checked, then all applied. -1 in every case (the thread's turn ends after a group).
i32 RestoreGroup(const LoadedBlock& blk, const char* path) {
  const u8* s = blk.stored.p;
  const u64 stored = blk.stored.n;
  size_t count = 0;
  for (u64 pos = 0; pos < stored; count++) {
    const u8* h = s + pos;
    if (stored - pos < SAVE_ITEM_HEADER_SIZE) return InvalidSave(path);
    const u64 st = GetU32(h + 4), raw = GetU32(h + 8);
    if (h[0] != SAVE_ITEM_VAR || GetU16(h + 2) >= g_VarCount || st > stored - pos - SAVE_ITEM_HEADER_SIZE ||
        !RawLengthPlausible(SAVE_ITEM_VAR, raw, st))
      return InvalidSave(path);
    pos += SAVE_ITEM_HEADER_SIZE + st;
  }
  struct Item {
    HeapBuf raw;
    VarPayload vp;
  };
  Item* items = new (std::nothrow) Item[count ? count : 1];
  if (!items) return NoMemory();
  i32 r = 0;
  u64 pos = 0;
  for (size_t k = 0; k < count && r == 0; k++) {
    const u8* h = s + pos;
    const u64 st = GetU32(h + 4), raw = GetU32(h + 8);
    if (UncompressInto(&items[k].raw, raw, h + SAVE_ITEM_HEADER_SIZE, st) != 0 ||
        VarPayloadCheck(GetU16(h + 2), true, items[k].raw.p, items[k].raw.n, 0, path, &items[k].vp) != 0)
      r = -1;
    pos += SAVE_ITEM_HEADER_SIZE + st;
  }
  if (r == 0)
    for (size_t k = 0; k < count; k++) VarPayloadApply(items[k].vp);
  delete[] items;
  return -1;
}

}  // namespace

// ---- Public ----------------------------------------------------------------------------------

void SaveFreeBlocks(i32 index) {
  if (index < 0) {
    for (SaveBlock& b : g_SaveBlocks) DropBlock(&b);
    return;
  }
  if (index < SAVE_DNO_COUNT && g_SaveBlocks[index].length >= 1) DropBlock(&g_SaveBlocks[index]);
}

void SaveFreeAll() {
  SaveFreeBlocks(-1);
  for (SaveSlot& s : g_SaveSlots) {
    std::free(s.data);
    s = SaveSlot{};
  }
  std::free(g_SaveScratch.data);
  g_SaveScratch = SaveScratch{};
  SaveStreamsEnd();
}

void SaveReset() { SaveFreeAll(); }

i32 SaveVarRestore(i64 id, bool whole, const u8* payload, size_t len, i64 element, const char* path) {
  VarPayload vp{};
  if (VarPayloadCheck(id, whole, payload, len, element, path, &vp) != 0) return -1;
  VarPayloadApply(vp);
  return 0;
}

// The picture of a payload of len bytes whose first 8 + record image bytes are at payload; its
// pixels are at payload + 8 + the record image, or already in *inflated (at least len minus those
// bytes, and a row and four more), which the new layer then takes.
static i32 ImageRestore(ObjNode* node, const char* layer_path, const u8* payload, size_t len, HeapBuf* inflated,
                        const char* path) {
  if (len < 8) return InvalidSave(path);
  if (GetU32(payload) != SAVE_RECORD_IMAGE_SIZE) {
    ErrRaiseAtScript(ERR_SAVE_IMAGE_FORMAT, 1);
    return -1;
  }
  if (len < 8 + SAVE_RECORD_IMAGE_SIZE) return InvalidSave(path);
  if (!g_HookLayerImageSize || !g_HookLayerRelease || !g_HookLayerNewPicture) return -1;
  i32 width = 0, height = 0;
  g_HookLayerImageSize(payload + 8, &width, &height);
  if (width > 8192) {
    ErrMessageBoxF("", Msg(MSG_PICTURE_TOO_LARGE), width, height);
    ErrRaiseAtScript(ERR_OUT_OF_MEMORY, 1);
    return -1;
  }
  const u64 pixel_bytes = static_cast<u64>(GetU32(payload + 4));
  if (width < 1 || height < 1 || static_cast<u64>(width) * static_cast<u64>(height) * 4 != pixel_bytes ||
      pixel_bytes > len - 8 - SAVE_RECORD_IMAGE_SIZE)
    return InvalidSave(path);
  // The picture is ready before the old layer goes, so a failure loses nothing.
  const u64 row = static_cast<u64>(width) * 4;
  HeapBuf copied;
  HeapBuf& pixels = inflated ? *inflated : copied;
  if (!inflated) {
    if (!pixels.Alloc(row + 4 + pixel_bytes)) {
      ErrRaiseAtScriptF(ERR_FILE_READ_NOMEM, 1, layer_path);
      return -1;
    }
    std::memcpy(pixels.p, payload + 8 + SAVE_RECORD_IMAGE_SIZE, static_cast<size_t>(pixel_bytes));
  }
  std::memset(pixels.p + pixel_bytes, 0, static_cast<size_t>(row + 4));
  if (g_HookLayerMarkDirty) g_HookLayerMarkDirty(node);
  g_HookLayerRelease(node);
  ObjNode* fresh = ObjCreateNode(g_LayerRoot, layer_path, OBJ_ITEM, 1);
  if (!fresh) return -1;
  if (g_HookLayerNewPicture(fresh, width, height, pixels.p) != 0) {
    g_HookLayerRelease(fresh);
    return -1;
  }
  pixels.Release();
  return 0;
}

i32 SaveImageRestore(ObjNode* node, const char* layer_path, const u8* payload, size_t len, const char* path) {
  return ImageRestore(node, layer_path, payload, len, nullptr, path);
}

// A picture block inflated straight into the pixel buffer the new layer takes: the record image
// apart, the pixels (and any bytes after them) in place, then room for the row and four bytes past
// the end that the layer reads (as wide as a picture may be, the width not being known yet).
static i32 LoadImageBlock(const SaveLoadRequest& r, const LoadedBlock& blk, const char* path) {
  u8 head[8 + SAVE_RECORD_IMAGE_SIZE];
  const u64 head_n = std::min<u64>(blk.raw, sizeof head);
  HeapBuf pixels;
  if (!pixels.Alloc(blk.raw - head_n + 8192 * 4 + 4)) {
    ErrMessageBoxF("", "%s", Msg(MSG_LOAD_NO_MEMORY));
    return -1;
  }
  if (SaveUncompressInto(InflateOut{{head, pixels.p}, {head_n, blk.raw - head_n}}, blk.stored.p, blk.stored.n) != 0)
    return -1;
  const i32 result = ImageRestore(r.layer, r.layer_path, head, static_cast<size_t>(blk.raw), &pixels, path);
  FrameStampTime();
  return result;
}

i32 SaveSnapshotBuild() {
  SaveBlock* b = &g_SaveBlocks[SAVE_SNAPSHOT_DNO - 1];
  u64 raw = 0, capacity = SAVE_ITEM_HEADER_SIZE;
  for (const SaveSlot& s : g_SaveSlots) {
    raw += static_cast<u64>(s.length) + 8;
    capacity += (s.length > 0 ? SaveDeflateBound(static_cast<u64>(s.length)) : 0) + 8;
  }
  if (raw > kBlockMax) return TooLong();
  b->length = 0;
  if (SaveBlockReserve(b, capacity) != 0) {
    DropBlock(b);
    return NoMemory();
  }
  SaveBlockHeader(b, SAVE_ITEM_VAR, 0);
  SaveBlockPatchU32(b, 8, static_cast<u32>(raw));
  for (const SaveSlot& s : g_SaveSlots) {
    SaveBlockAppendU32(b, static_cast<u32>(s.length > 0 ? s.length : 0));
    if (s.length <= 0) {
      SaveBlockAppendU32(b, 0);
      continue;
    }
    u64 stored = SaveDeflateBound(static_cast<u64>(s.length));
    if (SaveDeflate(b->data + b->length + 4, &stored, s.data, static_cast<u64>(s.length)) != Z_OK ||
        static_cast<u64>(b->length) + 4 + stored > kBlockMax) {
      ErrMessageBoxF("", "%s", Msg(MSG_COMPRESS));
      DropBlock(b);
      return -1;
    }
    SaveBlockAppendU32(b, static_cast<u32>(stored));
    b->length += static_cast<i32>(stored);
  }
  SaveBlockPatchU32(b, 4, static_cast<u32>(b->length - SAVE_ITEM_HEADER_SIZE));
  return 0;
}

i32 SaveSnapshotRestore(u8 kind, u16 id, const u8* contents, size_t stored, const char* path) {
  if (kind != SAVE_ITEM_VAR || id != 0) return InvalidSave(path);
  HeapBuf images[SAVE_SLOT_COUNT];
  size_t pos = 0;
  for (i32 n = 0; n < SAVE_SLOT_COUNT; n++) {
    if (stored - pos < 8) return InvalidSave(path);
    const u64 raw = GetU32(contents + pos), st = GetU32(contents + pos + 4);
    pos += 8;
    if (raw == 0) {
      if (st != 0) return InvalidSave(path);
      continue;
    }
    if (st > stored - pos || !RawLengthPlausible(SAVE_ITEM_IMAGE, raw, st)) return InvalidSave(path);
    if (!images[n].Alloc(raw)) return NoMemory();
    if (!SaveInflate(images[n].p, raw, contents + pos, st)) {
      ErrMessageBoxF("", "%s", Msg(MSG_LOAD_ERROR));
      return -1;
    }
    pos += static_cast<size_t>(st);
  }
  if (pos != stored) return InvalidSave(path);
  for (i32 n = 0; n < SAVE_SLOT_COUNT; n++) {
    SaveSlot& s = g_SaveSlots[n];
    s.read_pos = 0;
    if (!images[n].p) {
      s.length = 0;  // an empty slot keeps its buffer
      continue;
    }
    std::free(s.data);
    s.data = images[n].Release();
    s.capacity = s.length = static_cast<i32>(images[n].n);
  }
  return 0;
}

i32 SaveDataWrite(const SaveWriteRequest& r) {
  if (r.has_slot) {
    if (r.slot == SAVE_SNAPSHOT_SLOT) {
      SaveSnapshotBuild();  // the command goes on whatever became of it
      return 0;
    }
    if (!CheckRange(SLOT_WRITE, P_SLOT, r.slot, 0, SAVE_SLOT_COUNT - 1)) return -1;
  }
  if (r.has_dno && BuildBlock(r) != 0) return -1;
  if (r.has_slot) return WriteSlot(static_cast<i32>(r.slot));
  if (r.path) return WriteFile(r.path);
  return 0;
}

i32 SaveDataLoad(const SaveLoadRequest& r) {
  const char* where = r.path ? r.path : "(mem)";
  if (!r.path && !CheckRange(SLOT_LOAD, P_SLOT, r.slot, 0, SAVE_SLOT_COUNT - 1)) return -1;
  if (!CheckRange(SLOT_LOAD, P_DNO, r.dno, 1, SAVE_DNO_COUNT)) return -1;
  const i32 dno = static_cast<i32>(r.dno);
  LoadedBlock blk;
  i32 got;
  if (!r.path) {
    SaveSlot* s = &g_SaveSlots[r.slot];
    if (s->length <= 0 || !s->data) {
      ErrRaiseAtScriptF(ERR_SAVE_NO_BLOCK, 1, ArgCommandName(SLOT_LOAD), ArgName(SLOT_LOAD, P_DNO));
      return 0;
    }
    SaveSource src;
    src.slot = s;
    src.size = static_cast<u64>(s->length);
    got = ReadBlock(src, dno, where, true, &blk);
  } else {
    SaveSource src;
    // No save folder: nothing to read, not a file of the game folder.
    src.file = g_SaveFolderMissing ? nullptr : PlatFileOpenRead(r.path);
    if (!src.file) {
      ErrRaiseAtScriptF(ERR_SAVE_OPEN, 1, ArgCommandName(SLOT_LOAD), ArgName(SLOT_LOAD, P_FILE), r.path);
      return -1;
    }
    const i64 size = PlatFileSize(src.file);
    src.size = size > 0 ? static_cast<u64>(size) : 0;
    got = ReadBlock(src, dno, where, false, &blk);
    PlatFileClose(src.file);
    if (got == 0 && dno == SAVE_SNAPSHOT_DNO) {
      // The restore ends the command with 0 whatever became of it ("Load Error." included).
      if (blk.cut) ErrMessageBoxF("", "%s", Msg(MSG_LOAD_ERROR));
      else SaveSnapshotRestore(blk.kind, blk.id, blk.stored.p, blk.stored.n, where);
      return 0;
    }
  }
  if (got != 0) return got > 0 ? 0 : -1;
  if (blk.cut) {
    ErrMessageBoxF("", "%s", Msg(MSG_UNCOMPRESS));
    return -1;
  }
  if (blk.kind == SAVE_ITEM_GROUP) return RestoreGroup(blk, where);
  if (blk.kind == SAVE_ITEM_IMAGE && r.layer) return LoadImageBlock(r, blk, where);

  HeapBuf raw;
  if (UncompressInto(&raw, blk.raw, blk.stored.p, blk.stored.n) != 0) return -1;
  if (!r.layer) {
    if (blk.kind == SAVE_ITEM_IMAGE) {
      ErrRaiseAtScript(ERR_SAVE_IMAGE_INTO_VAR, 1);
      return -1;
    }
    if (!r.has_var) return -1;  // nothing named to load into
    return SaveVarRestore(r.var_id, r.whole, raw.p, raw.n, r.element, where);
  }
  if (blk.kind == SAVE_ITEM_VAR) {
    ErrRaiseAtScript(ERR_SAVE_VAR_INTO_LAYER, 1);
    return -1;
  }
  const i32 result = SaveImageRestore(r.layer, r.layer_path, raw.p, raw.n, where);
  FrameStampTime();
  return result;
}

// ---- Commands --------------------------------------------------------------------------------

// The variable of parameter 3 (system variable 0 is one like any other).
static void VarArg(bool* named, i64* id, bool* whole, i64* element) {
  const u8 p = ArgPos(P_VAR);
  *named = p && g_ArgVarNamed[p] != 0;
  *id = p ? g_ArgVarId[p] : 0;
  *whole = p && g_ArgWhole[p] != 0;
  *element = p ? g_ArgVarElem[p] : 0;
}

i32 CmdSaveDataWrite() {
  if (ArgDecode(SLOT_WRITE) != 0) return -1;
  SaveWriteRequest r{};
  char layer_path[OBJ_PATH_MAX] = "";
  ObjNode* layer = nullptr;
  if (ArgGiven(P_LAYER) && FindLayer(SLOT_WRITE, layer_path, sizeof layer_path, &layer) != 0) return -1;
  std::string path;
  if (ArgGiven(P_FILE)) {
    if (SaveFilePath(SLOT_WRITE, &path) != 0) return -1;
    r.path = path.c_str();
  }
  r.has_slot = ArgGiven(P_SLOT);
  r.slot = ArgInt(P_SLOT);
  r.has_dno = ArgGiven(P_DNO);
  r.dno = ArgInt(P_DNO);
  VarArg(&r.has_var, &r.var_id, &r.whole, &r.element);
  r.layer = layer;
  r.layer_path = layer_path;
  for (u8 s = P_GROUP_FIRST; s <= P_GROUP_LAST; s++)
    if (ArgGiven(s)) r.group |= static_cast<u16>(1u << (s - P_GROUP_FIRST));
  return SaveDataWrite(r);
}

i32 CmdSaveDataLoad() {
  if (ArgDecode(SLOT_LOAD) != 0) return -1;
  SaveLoadRequest r{};
  char layer_path[OBJ_PATH_MAX] = "";
  if (ArgGiven(P_LAYER) && FindLayer(SLOT_LOAD, layer_path, sizeof layer_path, &r.layer) != 0) return -1;
  std::string path;
  if (!ArgGiven(P_SLOT)) {
    if (SaveFilePath(SLOT_LOAD, &path) != 0) return -1;
    r.path = path.c_str();
  }
  r.slot = ArgInt(P_SLOT);
  r.dno = ArgInt(P_DNO);
  VarArg(&r.has_var, &r.var_id, &r.whole, &r.element);
  r.layer_path = layer_path;
  return SaveDataLoad(r);
}

i32 CmdSaveBufferClear() {
  if (ArgDecode(85) != 0) return -1;
  SaveFreeBlocks(-1);
  return 0;
}

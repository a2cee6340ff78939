// Writers of the compiled-script files (see script_files.h).
#include "kit/script_files.h"

#include <algorithm>
#include <cstring>

#include "common/hash.h"
#include "core/pack.h"
#include "script/expr.h"
#include "script/script.h"

namespace {

void PutU8(std::vector<u8>& o, u32 v) { o.push_back(static_cast<u8>(v)); }
void PutU16(std::vector<u8>& o, u32 v) {
  o.push_back(static_cast<u8>(v));
  o.push_back(static_cast<u8>(v >> 8));
}
void PutU32(std::vector<u8>& o, u32 v) {
  for (int k = 0; k < 4; k++) o.push_back(static_cast<u8>(v >> (8 * k)));
}
void PutU64(std::vector<u8>& o, u64 v) {
  for (int k = 0; k < 8; k++) o.push_back(static_cast<u8>(v >> (8 * k)));
}
void PutBytes(std::vector<u8>& o, const std::vector<u8>& b) { o.insert(o.end(), b.begin(), b.end()); }

}  // namespace

const u8* KitScriptKey() {
  PackScrambleSetup();
  return ScriptKey();
}

void KitPatchU32(std::vector<u8>& file, size_t at, u32 value) {
  if (file.size() < at + 4) file.resize(at + 4);
  for (int k = 0; k < 4; k++) file[at + k] = static_cast<u8>(value >> (8 * k));
}

std::vector<u8> KitBodyBuild(const std::vector<KitLine>& lines, bool scramble) {
  std::vector<u8> cmd, args, expr, lineno;
  for (const KitLine& l : lines) {
    u32 count = l.arg_count >= 0 ? static_cast<u32>(l.arg_count) : static_cast<u32>(l.args.size());
    PutU8(cmd, l.opcode);
    PutU8(cmd, count);
    PutU8(cmd, l.flag);
    PutU8(cmd, 0);
    for (const KitArg& a : l.args) {
      u32 offset = static_cast<u32>(expr.size());
      PutBytes(expr, a.code);
      PutU8(args, a.param);
      PutU8(args, 0);
      PutU8(args, a.value_type);
      PutU8(args, a.op);
      PutU32(args, a.fields_as_given ? a.size : static_cast<u32>(a.code.size()));
      PutU32(args, a.fields_as_given ? a.offset : offset);
    }
    PutU32(lineno, l.source_line);
  }
  if (scramble) {
    const u8* key = KitScriptKey();
    for (std::vector<u8>* area : {&cmd, &args, &expr, &lineno}) ScriptScramble(area->data(), area->size(), key);
  }
  std::vector<u8> out = {'Z', 'P', 'T', 0};
  PutU32(out, 0);
  PutU32(out, static_cast<u32>(lines.size()));
  PutU32(out, static_cast<u32>(cmd.size()));
  PutU32(out, static_cast<u32>(args.size()));
  PutU32(out, static_cast<u32>(expr.size()));
  PutU32(out, static_cast<u32>(lineno.size()));
  PutU32(out, 0);
  for (const std::vector<u8>* area : {&cmd, &args, &expr, &lineno}) PutBytes(out, *area);
  return out;
}

std::vector<u8> KitVarSlotsBuild(u32 var_count, u32 value, u32 version) {
  std::vector<u8> out = {'Z', 'P', 'T', 0};
  PutU32(out, version);
  PutU32(out, var_count);
  PutU32(out, value);
  return out;
}

std::vector<u8> KitFileListBuild(const std::vector<KitFileListEntry>& files) {
  std::vector<u8> out = {'Z', 'P', 'L', 0};
  PutU32(out, 0);
  PutU32(out, static_cast<u32>(files.size()));
  for (const KitFileListEntry& f : files) {
    PutU32(out, f.number);
    PutU32(out, static_cast<u32>(f.name.size()));
    out.insert(out.end(), f.name.begin(), f.name.end());
    out.insert(out.end(), 16, 0);
    PutU32(out, f.value);
  }
  return out;
}

std::vector<u8> KitVarDefsBuild(const std::vector<KitVarDef>& defs) {
  std::vector<u8> out = {'Z', 'P', 'V', 0};
  PutU32(out, 0);
  PutU16(out, static_cast<u32>(defs.size()));
  for (const KitVarDef& d : defs) {
    PutU8(out, static_cast<u8>(d.group));
    PutU8(out, d.var_class);
    PutU16(out, d.file);
    PutU16(out, d.id);
    PutU8(out, d.type);
    PutU8(out, static_cast<u32>(d.dims.size()));
    for (u32 s : d.dims) PutU32(out, s);
    if (d.type == 1) {
      PutU64(out, static_cast<u64>(d.init_int));
    } else if (d.type == 2) {
      u64 bits;
      std::memcpy(&bits, &d.init_float, sizeof bits);
      PutU64(out, bits);
    } else {
      PutU16(out, static_cast<u32>(d.init_code.size()));
      PutBytes(out, d.init_code);
    }
  }
  return out;
}

std::vector<u8> KitLabelsBuild(const std::vector<KitLabel>& labels) {
  struct Entry {
    const KitLabel* l;
    u32 hash;
  };
  std::vector<Entry> sorted;
  for (const KitLabel& l : labels) sorted.push_back({&l, HashMurmur2(l.name.data(), l.name.size(), 0)});
  std::stable_sort(sorted.begin(), sorted.end(), [](const Entry& a, const Entry& b) { return a.hash < b.hash; });
  u32 count = static_cast<u32>(sorted.size());
  std::vector<u32> buckets(LABEL_BUCKETS, count);
  for (u32 i = count; i-- > 0;) buckets[sorted[i].hash >> 24] = i;
  std::vector<u8> out = {'Z', 'P', 'L', 'B'};
  PutU32(out, 0);
  PutU32(out, count);
  for (u32 b : buckets) PutU32(out, b);
  for (const Entry& e : sorted) {
    PutU8(out, static_cast<u32>(e.l->name.size()));
    out.insert(out.end(), e.l->name.begin(), e.l->name.end());
    PutU32(out, e.hash);
    PutU32(out, e.l->line);
    PutU16(out, e.l->file);
    PutU8(out, static_cast<u8>(e.l->block_depth));
    PutU8(out, static_cast<u8>(e.l->loop_depth));
  }
  return out;
}

std::vector<u8> KitErrTextsBuild(const std::vector<KitErrText>& texts) {
  std::vector<u8> out = {'Z', 'P', 'E', 0};
  PutU32(out, 0);
  PutU32(out, static_cast<u32>(texts.size()));
  PutU32(out, 0);
  for (const KitErrText& t : texts) {
    PutU32(out, t.code);
    out.insert(out.end(), t.text.begin(), t.text.end());
    out.push_back(0);
  }
  return out;
}

std::vector<u8> KitCodeInstr(u8 op, const std::vector<u8>& operand) {
  std::vector<u8> out;
  PutU8(out, op);
  PutU16(out, static_cast<u32>(operand.size()));
  PutBytes(out, operand);
  return out;
}

std::vector<u8> KitCodeInt(i64 v) {
  std::vector<u8> operand;
  u8 op;
  int n;
  if (v >= INT8_MIN && v <= INT8_MAX) op = EXPR_OP_I8, n = 1;
  else if (v >= INT16_MIN && v <= INT16_MAX) op = EXPR_OP_I16, n = 2;
  else if (v >= INT32_MIN && v <= INT32_MAX) op = EXPR_OP_I32, n = 4;
  else op = EXPR_OP_I64, n = 8;
  for (int k = 0; k < n; k++) operand.push_back(static_cast<u8>(static_cast<u64>(v) >> (8 * k)));
  return KitCodeInstr(op, operand);
}

std::vector<u8> KitCodeFloat(double v) {
  u64 bits;
  std::memcpy(&bits, &v, sizeof bits);
  std::vector<u8> operand;
  PutU64(operand, bits);
  return KitCodeInstr(EXPR_OP_F64, operand);
}

std::vector<u8> KitCodeStr(const std::string& text, char quote) {
  std::vector<u8> operand;
  operand.push_back(static_cast<u8>(quote));
  operand.insert(operand.end(), text.begin(), text.end());
  operand.push_back(static_cast<u8>(quote));
  return KitCodeInstr(EXPR_OP_STR, operand);
}

std::vector<u8> KitCodeVar(u8 op, u16 id) {
  return KitCodeInstr(op, {0, static_cast<u8>(id), static_cast<u8>(id >> 8)});
}

std::vector<u8> KitCodeOp(u8 op) { return KitCodeInstr(op, {}); }

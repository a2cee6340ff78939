// Inside the kit's script compiler: the tokens of one source line and the expression compiler
// (infix text to the evaluator's postfix byte code, with the static type that chooses an
// argument's value type).
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "common/types.h"

enum KitTokKind : u8 { TK_END, TK_IDENT, TK_INT, TK_FLOAT, TK_STR, TK_LABEL, TK_SYSVAR, TK_PUNCT };

struct KitToken {
  KitTokKind kind = TK_END;
  std::string text;  // identifier, label name, string contents or punctuation
  i64 i = 0;         // TK_INT, TK_SYSVAR
  double f = 0.0;    // TK_FLOAT
  char quote = '"';  // TK_STR
};

// Splits one line (Shift-JIS) into tokens; a ';' or "//" outside a string ends it. Returns false
// with err for a character that starts no token or an unterminated string.
bool KitTokenize(const std::string& line, std::vector<KitToken>* out, std::string* err);

// The text a string literal stands for, as the engine reads it: "\\" a backslash, "\n" a line
// feed, "\t" a tab, a backslash before anything else dropped; double-byte characters whole.
std::string KitStringValue(const std::string& raw);

enum KitType : u8 { KT_INT = 1, KT_FLOAT = 2, KT_STR = 3 };

// A variable the compiler knows: its id, type and sizes (system variables included).
struct KitVarInfo {
  u16 id;
  u8 type;
  std::vector<u32> dims;
};
// Looks a name up in the current scope; false when unknown.
typedef std::function<bool(const std::string& name, KitVarInfo* out)> KitVarLookup;

struct KitExpr {
  std::vector<u8> code;
  u8 type = KT_INT;          // type of the result
  bool has_float = false;    // float arithmetic needed (outside index lists)
  bool int_only_op = false;  // "%", "&", "|", "^" outside index lists
  bool is_var = false;       // the whole expression is one variable reference
  bool whole = false;        // ... naming the whole variable
  u16 var_id = 0;
  u8 var_type = 0;
};

struct KitExprParser {
  const std::vector<KitToken>& toks;
  size_t pos;
  KitVarLookup lookup;
  std::string err;

  const KitToken& Peek(size_t ahead = 0) const;
  bool IsPunct(const char* p, size_t ahead = 0) const;
  bool Accept(const char* p);
  // Parses one expression at pos; false with err.
  bool Parse(KitExpr* out);
  // A variable reference (name, name[...], name[], @n ...) at pos; false with err.
  bool ParseVarRef(KitExpr* out);
  // An optional '-' and a number literal: the constant; false with err.
  bool ParseConstNumber(bool* is_float, i64* i, double* f);

 private:
  bool Binary(int level, KitExpr* out);
  bool Unary(KitExpr* out);
  bool Primary(KitExpr* out);
  bool VarAfterName(const KitVarInfo& v, const std::string& shown, KitExpr* out);
  bool Fail(const std::string& why);
};

// The value type of an argument of the given kind for a compiled expression, after the
// conversions a string argument needs ("s" appended to a number). False with err when the
// expression mixes integer-only operators with float arithmetic.
bool KitArgValueType(KitExpr* e, u8 kind, u8* value_type, std::string* err);

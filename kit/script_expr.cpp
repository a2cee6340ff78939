// The kit's tokenizer and expression compiler (see script_parse.h). Expressions are compiled
// straight to postfix byte code while they are parsed, by precedence levels from "||" (lowest)
// to "*" "/" "%" (highest), and typed on the way: strings take only "+", "==" and "!=".
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/sjis.h"
#include "kit/script_files.h"
#include "kit/script_parse.h"
#include "kit/sysvars.h"
#include "script/expr.h"
#include "script/script.h"

// ---- Tokens ----------------------------------------------------------------------------------

static bool IsIdentStart(u8 c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || SjisIsLead(c); }
static bool IsIdentChar(u8 c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
static bool IsDigit(u8 c) { return c >= '0' && c <= '9'; }

// Reads an identifier (ASCII letters, digits, "_" and double-byte characters) at i.
static std::string ReadIdent(const std::string& s, size_t* i) {
  size_t start = *i;
  while (*i < s.size() && IsIdentChar(static_cast<u8>(s[*i])))
    *i += SjisIsLead(static_cast<u8>(s[*i])) && *i + 1 < s.size() ? 2 : 1;
  return s.substr(start, *i - start);
}

// A "*" starts a label name unless it follows an operand (then it multiplies).
static bool AfterOperand(const std::vector<KitToken>& toks) {
  if (toks.empty()) return false;
  const KitToken& t = toks.back();
  switch (t.kind) {
    case TK_IDENT: return t.text != "goto" && t.text != "call";
    case TK_INT:
    case TK_FLOAT:
    case TK_STR:
    case TK_SYSVAR:
    case TK_LABEL: return true;
    case TK_PUNCT: return t.text == ")" || t.text == "]";
    default: return false;
  }
}

std::string KitStringValue(const std::string& raw) {
  std::string out;
  for (size_t k = 0; k < raw.size();) {
    u8 c = static_cast<u8>(raw[k]);
    if (c == '\\' && ++k >= raw.size()) break;
    if (SjisIsLead(static_cast<u8>(raw[k])) && k + 1 < raw.size()) {
      out.append(raw, k, 2);
      k += 2;
      continue;
    }
    char e = raw[k++];
    out.push_back(c != '\\' ? e : e == 'n' ? '\n' : e == 't' ? '\t' : e);
  }
  return out;
}

bool KitTokenize(const std::string& line, std::vector<KitToken>* out, std::string* err) {
  static const char* const kPunct2[] = {
      "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "==", "!=", "<=", ">=", "&&", "||"};
  out->clear();
  size_t i = 0;
  while (i < line.size()) {
    u8 c = static_cast<u8>(line[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      i++;
      continue;
    }
    if (c == 0x81 && i + 1 < line.size() && static_cast<u8>(line[i + 1]) == 0x40) {  // full-width space
      i += 2;
      continue;
    }
    if (c == ';' || (c == '/' && i + 1 < line.size() && line[i + 1] == '/')) break;
    KitToken t;
    if (IsIdentStart(c)) {
      t.kind = TK_IDENT;
      t.text = ReadIdent(line, &i);
    } else if (c == '*' && i + 1 < line.size() && IsIdentStart(static_cast<u8>(line[i + 1])) && !AfterOperand(*out)) {
      i++;
      t.kind = TK_LABEL;
      t.text = ReadIdent(line, &i);
    } else if (c == '@' && i + 1 < line.size() && IsDigit(static_cast<u8>(line[i + 1]))) {
      i++;
      t.kind = TK_SYSVAR;
      while (i < line.size() && IsDigit(static_cast<u8>(line[i]))) {
        t.i = t.i * 10 + (line[i] - '0');
        if (t.i > 100000) break;
        i++;
      }
    } else if (IsDigit(c) || (c == '.' && i + 1 < line.size() && IsDigit(static_cast<u8>(line[i + 1])))) {
      size_t start = i;
      if (c == '0' && i + 1 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X')) {
        i += 2;
        while (i < line.size() && std::isxdigit(static_cast<u8>(line[i]))) i++;
        std::string digits = line.substr(start + 2, i - start - 2);
        if (digits.empty() || digits.size() > 16) {
          *err = "bad hexadecimal number";
          return false;
        }
        t.kind = TK_INT;
        t.i = static_cast<i64>(std::strtoull(digits.c_str(), nullptr, 16));
      } else {
        bool is_float = false;
        while (i < line.size() && IsDigit(static_cast<u8>(line[i]))) i++;
        if (i < line.size() && line[i] == '.') {
          is_float = true;
          i++;
          while (i < line.size() && IsDigit(static_cast<u8>(line[i]))) i++;
        }
        if (i < line.size() && (line[i] == 'e' || line[i] == 'E')) {
          size_t e = i + 1;
          if (e < line.size() && (line[e] == '+' || line[e] == '-')) e++;
          if (e < line.size() && IsDigit(static_cast<u8>(line[e]))) {
            is_float = true;
            i = e;
            while (i < line.size() && IsDigit(static_cast<u8>(line[i]))) i++;
          }
        }
        std::string text = line.substr(start, i - start);
        if (is_float) {
          t.kind = TK_FLOAT;
          t.f = std::strtod(text.c_str(), nullptr);
        } else {
          // Kept as the unsigned value: "-9223372036854775808" negates it later.
          errno = 0;
          u64 v = std::strtoull(text.c_str(), nullptr, 10);
          if (errno == ERANGE || v > static_cast<u64>(INT64_MAX) + 1) {
            *err = "number too large: " + text;
            return false;
          }
          t.kind = TK_INT;
          t.i = static_cast<i64>(v);
          t.text = text;
        }
      }
      if (i < line.size() && IsIdentChar(static_cast<u8>(line[i]))) {
        *err = "bad number: " + line.substr(start, i - start + 1);
        return false;
      }
    } else if (c == '"' || c == '\'') {
      t.kind = TK_STR;
      t.quote = static_cast<char>(c);
      size_t k = i + 1;
      while (k < line.size() && static_cast<u8>(line[k]) != c)
        k += SjisIsLead(static_cast<u8>(line[k])) && k + 1 < line.size() ? 2 : 1;
      if (k >= line.size()) {
        *err = "string without its closing quote";
        return false;
      }
      t.text = line.substr(i + 1, k - i - 1);
      i = k + 1;
    } else {
      t.kind = TK_PUNCT;
      for (const char* p : kPunct2)
        if (line.compare(i, 2, p) == 0) t.text = p;
      if (t.text.empty()) {
        if (!std::strchr("()[],=<>+-*/%&|^!:", c)) {
          *err = std::string("unexpected character '") + static_cast<char>(c) + "'";
          return false;
        }
        t.text = std::string(1, static_cast<char>(c));
      }
      i += t.text.size();
    }
    out->push_back(t);
  }
  return true;
}

// ---- Parser ----------------------------------------------------------------------------------

static const KitToken kEnd;

const KitToken& KitExprParser::Peek(size_t ahead) const { return pos + ahead < toks.size() ? toks[pos + ahead] : kEnd; }

bool KitExprParser::IsPunct(const char* p, size_t ahead) const {
  const KitToken& t = Peek(ahead);
  return t.kind == TK_PUNCT && t.text == p;
}

bool KitExprParser::Accept(const char* p) {
  if (!IsPunct(p)) return false;
  pos++;
  return true;
}

bool KitExprParser::Fail(const std::string& why) {
  if (err.empty()) err = why;
  return false;
}

static void Append(std::vector<u8>& to, const std::vector<u8>& from) { to.insert(to.end(), from.begin(), from.end()); }

bool KitExprParser::Parse(KitExpr* out) {
  *out = KitExpr{};
  return Binary(0, out);
}

struct BinLevel {
  const char* ops[4];
  u8 codes[4];
};

static const BinLevel kLevels[] = {
    {{"||"}, {EXPR_OP_OR}},
    {{"&&"}, {EXPR_OP_AND}},
    {{"|"}, {EXPR_OP_BIT_OR}},
    {{"^"}, {EXPR_OP_BIT_XOR}},
    {{"&"}, {EXPR_OP_BIT_AND}},
    {{"==", "!="}, {EXPR_OP_EQ, EXPR_OP_NE}},
    {{"<", ">", "<=", ">="}, {EXPR_OP_LT, EXPR_OP_GT, EXPR_OP_LE, EXPR_OP_GE}},
    {{"+", "-"}, {EXPR_OP_ADD, EXPR_OP_SUB}},
    {{"*", "/", "%"}, {EXPR_OP_MUL, EXPR_OP_DIV, EXPR_OP_MOD}},
};
static const int kLevelCount = sizeof kLevels / sizeof kLevels[0];

bool KitExprParser::Binary(int level, KitExpr* out) {
  if (level == kLevelCount) return Unary(out);
  if (!Binary(level + 1, out)) return false;
  for (;;) {
    int which = -1;
    for (int k = 0; k < 4 && kLevels[level].ops[k]; k++)
      if (IsPunct(kLevels[level].ops[k])) which = k;
    if (which < 0) return true;
    std::string op = kLevels[level].ops[which];
    u8 code = kLevels[level].codes[which];
    pos++;
    KitExpr rhs;
    if (!Binary(level + 1, &rhs)) return false;
    bool lstr = out->type == KT_STR, rstr = rhs.type == KT_STR;
    u8 type = KT_INT;
    if (op == "+" && lstr && rstr) {
      type = KT_STR;
    } else if (op == "==" || op == "!=") {
      if (lstr != rstr) return Fail("'" + op + "' compares a string with a number");
    } else if (lstr || rstr) {
      return Fail("'" + op + "' does not take strings");
    } else if (op == "+" || op == "-" || op == "*" || op == "/" || op == "%") {
      type = out->type == KT_FLOAT || rhs.type == KT_FLOAT ? KT_FLOAT : KT_INT;
    }
    Append(out->code, rhs.code);
    out->code.push_back(code);
    out->code.push_back(0);
    out->code.push_back(0);
    out->has_float = out->has_float || rhs.has_float;
    out->int_only_op = out->int_only_op || rhs.int_only_op || op == "%" || op == "&" || op == "|" || op == "^";
    out->type = type;
    out->is_var = false;
  }
}

bool KitExprParser::Unary(KitExpr* out) {
  if (Accept("+")) return Unary(out);
  if (IsPunct("-") && (Peek(1).kind == TK_INT || Peek(1).kind == TK_FLOAT)) {
    bool is_float;
    i64 i;
    double f;
    if (!ParseConstNumber(&is_float, &i, &f)) return false;
    *out = KitExpr{};
    out->code = is_float ? KitCodeFloat(f) : KitCodeInt(i);
    out->type = is_float ? KT_FLOAT : KT_INT;
    out->has_float = is_float;
    return true;
  }
  if (Accept("-")) {
    if (!Unary(out)) return false;
    if (out->type == KT_STR) return Fail("'-' does not take strings");
    Append(out->code, KitCodeOp(EXPR_OP_NEG));
    out->is_var = false;
    return true;
  }
  if (Accept("!")) {
    if (!Unary(out)) return false;
    if (out->type == KT_STR) return Fail("'!' does not take strings");
    Append(out->code, KitCodeInt(0));
    Append(out->code, KitCodeOp(EXPR_OP_EQ));
    out->type = KT_INT;
    out->is_var = false;
    return true;
  }
  return Primary(out);
}

bool KitExprParser::ParseConstNumber(bool* is_float, i64* i, double* f) {
  bool negative = Accept("-");
  const KitToken& t = Peek();
  if (t.kind == TK_FLOAT) {
    *is_float = true;
    *f = negative ? -t.f : t.f;
    pos++;
    return true;
  }
  if (t.kind != TK_INT) return Fail("a number is expected");
  u64 v = static_cast<u64>(t.i);
  if (!negative && v > static_cast<u64>(INT64_MAX)) return Fail("number too large: " + t.text);
  *is_float = false;
  *i = static_cast<i64>(negative ? 0 - v : v);
  pos++;
  return true;
}

bool KitExprParser::Primary(KitExpr* out) {
  *out = KitExpr{};
  const KitToken t = Peek();
  switch (t.kind) {
    case TK_INT:
      if (static_cast<u64>(t.i) > static_cast<u64>(INT64_MAX)) return Fail("number too large: " + t.text);
      pos++;
      out->code = KitCodeInt(t.i);
      return true;
    case TK_FLOAT:
      pos++;
      out->code = KitCodeFloat(t.f);
      out->type = KT_FLOAT;
      out->has_float = true;
      return true;
    case TK_STR:
      pos++;
      out->code = KitCodeStr(t.text, t.quote);
      out->type = KT_STR;
      return true;
    case TK_LABEL:  // a label name as a text
      pos++;
      out->code = KitCodeStr(t.text, '"');
      out->type = KT_STR;
      return true;
    case TK_PUNCT:
      if (t.text == "(") {
        pos++;
        if (!Parse(out)) return false;
        out->is_var = false;
        if (!Accept(")")) return Fail("')' is missing");
        return true;
      }
      return Fail("an operand is expected before '" + t.text + "'");
    case TK_IDENT:
      if (IsPunct("(", 1) && (t.text == "str" || t.text == "num" || t.text == "fnum")) {
        pos += 2;
        if (!Parse(out)) return false;
        if (!Accept(")")) return Fail("')' is missing");
        out->is_var = false;
        if (t.text == "str") {
          if (out->type != KT_STR) Append(out->code, KitCodeOp(EXPR_OP_TO_TEXT));
          out->type = KT_STR;
        } else {
          if (out->type != KT_STR) return Fail(t.text + "() takes a string");
          Append(out->code, KitCodeOp(EXPR_OP_TO_NUM));
          out->type = t.text == "fnum" ? KT_FLOAT : KT_INT;
          if (t.text == "fnum") out->has_float = true;
        }
        return true;
      }
      [[fallthrough]];
    case TK_SYSVAR: return ParseVarRef(out);
    default: return Fail("an operand is expected");
  }
}

bool KitExprParser::ParseVarRef(KitExpr* out) {
  *out = KitExpr{};
  const KitToken t = Peek();
  KitVarInfo v{};
  std::string shown;
  if (t.kind == TK_SYSVAR) {
    shown = "@";
    shown += std::to_string(t.i);
    const KitSysVar* s = t.i < 1000 ? KitFindSysVar(static_cast<u32>(t.i)) : nullptr;
    if (!s) return Fail("no system variable " + shown);
    v = KitVarInfo{static_cast<u16>(t.i), s->type, s->dims};
  } else if (t.kind == TK_IDENT) {
    if (!lookup || !lookup(t.text, &v)) return Fail("unknown variable '" + t.text + "'");
    shown = t.text;
  } else {
    return Fail("a variable is expected");
  }
  pos++;
  return VarAfterName(v, shown, out);
}

bool KitExprParser::VarAfterName(const KitVarInfo& v, const std::string& shown, KitExpr* out) {
  out->type = v.type;
  out->has_float = v.type == KT_FLOAT;
  out->is_var = true;
  out->var_id = v.id;
  out->var_type = v.type;
  if (!IsPunct("[")) {
    out->code = KitCodeVar(EXPR_OP_VAR, v.id);
    return true;
  }
  if (IsPunct("]", 1)) {
    pos += 2;
    out->whole = true;
    out->has_float = false;
    out->code = KitCodeVar(EXPR_OP_WHOLE, v.id);
    return true;
  }
  out->code = KitCodeVar(EXPR_OP_INDEX_OPEN, v.id);
  size_t count = 0;
  while (Accept("[")) {
    do {
      KitExpr index;
      if (!Parse(&index)) return false;
      if (index.type == KT_STR) return Fail("an index of '" + shown + "' is a string");
      Append(out->code, index.code);
      count++;
    } while (Accept(","));
    if (!Accept("]")) return Fail("']' is missing");
  }
  if (count != v.dims.size())
    return Fail("'" + shown + "' has " + std::to_string(v.dims.size()) + " dimensions, " + std::to_string(count) +
                " indexes given");
  Append(out->code, KitCodeOp(EXPR_OP_INDEX_CLOSE));
  return true;
}

bool KitArgValueType(KitExpr* e, u8 kind, u8* value_type, std::string* err) {
  if (kind == ARG_KIND_STRING && e->type != KT_STR) {
    Append(e->code, KitCodeOp(EXPR_OP_TO_TEXT));
    e->type = KT_STR;
  }
  if (e->int_only_op && e->has_float) {
    *err = "'%', '&', '|' and '^' work on integers: keep floats out of such an expression";
    return false;
  }
  if (e->type == KT_STR) *value_type = e->has_float ? 4 : 3;
  else *value_type = e->has_float ? 2 : 1;
  return true;
}

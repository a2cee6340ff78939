// The kit's script compiler (see script_compiler.h). Two passes: the first reads every source's
// labels and declarations (so any file may use any global and jump to any label), the second
// compiles each statement to one line of its body. Variable ids 0 to 999 are the system
// variables, declared for every game from kit/sysvars; the game's own start at 1000.
#include "kit/script_compiler.h"

#include <cstdio>
#include <map>
#include <set>

#include "common/hash.h"
#include "kit/cmddefs.h"
#include "kit/errtexts.h"
#include "kit/script_files.h"
#include "kit/script_parse.h"
#include "kit/sysvars.h"
#include "script/expr.h"
#include "script/script.h"
#include "script/var.h"

namespace {

enum { FIRST_USER_VAR = 1000, CALL_ARGS_MAX = 16, CMD_ASSIGN = 54, CMD_RETURN = 77 };
enum {
  CMD_BLOCK_BRANCH = 11,
  CMD_BLOCK_BEGIN = 45,
  CMD_BLOCK_JUMP_END = 46,
  CMD_BLOCK_BREAK = 47,
  CMD_BLOCK_CONTINUE = 48,
  CMD_BLOCK_END = 49,
  CMD_LOOP_START = 56,
  CMD_LOOP_BREAK = 57,
  CMD_LOOP_CONTINUE = 58,
  CMD_LOOP_END = 59,
};

const char* const kAssignOps[] = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^="};

int AssignOpCode(const KitToken& t) {
  if (t.kind != TK_PUNCT) return -1;
  for (int k = 0; k < 9; k++)
    if (t.text == kAssignOps[k]) return k;
  return -1;
}

struct Statement {
  u32 file;
  u32 source_line;
  std::vector<KitToken> toks;
};

struct PendingStrInit {
  size_t def;  // index into defs
  u32 file;
  u32 source_line;
  std::vector<KitToken> toks;
};

struct Compiler {
  const std::vector<KitScriptSource>& sources;
  std::map<std::string, KitVarInfo> globals;
  std::vector<std::map<std::string, KitVarInfo>> locals;
  std::vector<KitVarDef> defs;
  std::vector<PendingStrInit> str_inits;
  std::vector<KitLabel> labels;
  std::set<std::string> label_names;
  std::vector<Statement> statements;
  std::vector<std::vector<KitLine>> bodies;
  std::vector<KitScriptLiteral> literals;
  u32 next_id = FIRST_USER_VAR;
  std::string err;
  // Where the current error happened.
  u32 err_file = 0, err_line = 0;

  explicit Compiler(const std::vector<KitScriptSource>& s) : sources(s), locals(s.size()), bodies(s.size()) {}

  bool Fail(u32 file, u32 line, const std::string& why) {
    err_file = file;
    err_line = line;
    err = why;
    return false;
  }

  KitVarLookup LookupFor(u32 file) {
    return [this, file](const std::string& name, KitVarInfo* out) {
      auto l = locals[file].find(name);
      if (l != locals[file].end()) {
        *out = l->second;
        return true;
      }
      auto g = globals.find(name);
      if (g == globals.end()) return false;
      *out = g->second;
      return true;
    };
  }

  // ---- Pass 1 --------------------------------------------------------------------------------

  // "elif" and "else" become two lines: the jump to the end of the branch before, and the branch.
  static u32 StatementLines(const std::vector<KitToken>& toks) { return IsWord(toks, "elif") || IsElse(toks) ? 2 : 1; }

  static bool IsWord(const std::vector<KitToken>& toks, const char* w) {
    return toks[0].kind == TK_IDENT && toks[0].text == w;
  }
  static bool IsElse(const std::vector<KitToken>& toks) { return toks.size() == 1 && IsWord(toks, "else"); }

  static void TrackDepth(const std::vector<KitToken>& toks, i32* blocks, i32* loops) {
    if (IsWord(toks, "if")) ++*blocks;
    else if (IsWord(toks, "endif") && *blocks > 0) --*blocks;
    else if (IsWord(toks, "loop")) ++*loops;
    else if (IsWord(toks, "endloop") && *loops > 0) --*loops;
  }

  bool Declare(u32 file, u32 line, const std::vector<KitToken>& toks) {
    size_t p = 0;
    bool global = false;
    if (toks[p].text == "global" || toks[p].text == "local") global = toks[p++].text == "global";
    u8 cls = 1;
    if (p < toks.size() && toks[p].kind == TK_IDENT && toks[p].text == "class") {
      if (p + 1 >= toks.size() || toks[p + 1].kind != TK_INT || toks[p + 1].i < 1 || toks[p + 1].i > 4)
        return Fail(file, line, "class takes 1 to 4");
      cls = static_cast<u8>(toks[p + 1].i);
      p += 2;
    }
    if (p >= toks.size() || toks[p].kind != TK_IDENT) return Fail(file, line, "int, float or str is expected");
    u8 type = toks[p].text == "int" ? KT_INT : toks[p].text == "float" ? KT_FLOAT : toks[p].text == "str" ? KT_STR : 0;
    if (!type) return Fail(file, line, "int, float or str is expected, not '" + toks[p].text + "'");
    p++;
    if (p >= toks.size() || toks[p].kind != TK_IDENT) return Fail(file, line, "a variable name is expected");
    std::string name = toks[p++].text;
    auto& scope = global ? globals : locals[file];
    if (scope.count(name) || KitFindCommand(name))
      return Fail(file, line, "'" + name + "' is declared already or names a command");
    std::vector<u32> dims;
    u64 count = 1;
    while (p < toks.size() && toks[p].kind == TK_PUNCT && toks[p].text == "[") {
      p++;
      do {
        if (p >= toks.size() || toks[p].kind != TK_INT || toks[p].i < 1 || toks[p].i > VAR_ELEMENT_MAX)
          return Fail(file, line, "a size from 1 to 4000000 is expected");
        dims.push_back(static_cast<u32>(toks[p].i));
        count *= static_cast<u64>(toks[p].i);
        p++;
      } while (p < toks.size() && toks[p].kind == TK_PUNCT && toks[p].text == "," && ++p);
      if (p >= toks.size() || toks[p].text != "]") return Fail(file, line, "']' is missing");
      p++;
    }
    if (dims.size() > VAR_DIM_MAX) return Fail(file, line, "at most 8 dimensions");
    if (count > VAR_ELEMENT_MAX) return Fail(file, line, "more than 4000000 elements");
    if (next_id > VARSLOT_ID_MAX) return Fail(file, line, "too many variables");
    KitVarDef d;
    d.group = global ? VARDEF_GROUP_GLOBAL : VARDEF_GROUP_FILE;
    d.var_class = cls;
    d.file = static_cast<u16>(file);
    d.id = static_cast<u16>(next_id++);
    d.type = type;
    d.dims = dims;
    if (p < toks.size()) {
      if (toks[p].kind != TK_PUNCT || toks[p].text != "=")
        return Fail(file, line, "'=' or the end of the line is expected");
      p++;
      std::vector<KitToken> init(toks.begin() + static_cast<long>(p), toks.end());
      if (type == KT_STR) {
        str_inits.push_back({defs.size(), file, line, init});
      } else {
        KitExprParser ep{init, 0, nullptr, ""};
        bool is_float;
        i64 i;
        double f;
        if (!ep.ParseConstNumber(&is_float, &i, &f) || ep.pos != init.size())
          return Fail(file, line, "the initial value of a number variable is a number");
        if (type == KT_INT) d.init_int = is_float ? VarFloatToInt(f) : i;
        else d.init_float = is_float ? f : static_cast<double>(i);
      }
    }
    scope[name] = KitVarInfo{d.id, type, dims};
    defs.push_back(d);
    return true;
  }

  bool ReadSource(u32 file) {
    const std::string& text = sources[file].text;
    u32 line_no = 0;
    u32 compiled = 0;
    i32 blocks = 0, loops = 0;  // open at this point of the file, for the labels' depths
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      start = end + 1;
      line_no++;
      std::vector<KitToken> toks;
      std::string why;
      if (!KitTokenize(line, &toks, &why)) return Fail(file, line_no, why);
      if (toks.empty()) {
        if (end == text.size()) break;
        continue;
      }
      const KitToken& first = toks[0];
      if (first.kind == TK_LABEL && (toks.size() == 1 || (toks.size() == 2 && toks[1].text == ":"))) {
        if (first.text.size() > 255) return Fail(file, line_no, "label name longer than 255 bytes");
        if (!label_names.insert(first.text).second)
          return Fail(file, line_no, "label *" + first.text + " is defined twice");
        if (blocks >= TASK_DEPTH_MAX || loops >= TASK_DEPTH_MAX) return Fail(file, line_no, "nested too deeply");
        labels.push_back(
            KitLabel{first.text, compiled, static_cast<u16>(file), static_cast<i8>(blocks), static_cast<i8>(loops)});
      } else if (first.kind == TK_IDENT && (first.text == "global" || first.text == "local" || first.text == "int" ||
                                            first.text == "float" || first.text == "str")) {
        if (!Declare(file, line_no, toks)) return false;
      } else {
        statements.push_back(Statement{file, line_no, toks});
        compiled += StatementLines(toks);
        TrackDepth(toks, &blocks, &loops);
      }
      if (end == text.size()) break;
    }
    return true;
  }

  // ---- Pass 2 --------------------------------------------------------------------------------

  // Compiles the expression at p.pos as an argument of kind into arg.
  bool CompileArg(const Statement& s, KitExprParser& p, u8 kind, KitArg* arg) {
    KitExpr e;
    if (!p.Parse(&e)) return Fail(s.file, s.source_line, p.err);
    std::string why;
    if (!KitArgValueType(&e, kind, &arg->value_type, &why)) return Fail(s.file, s.source_line, why);
    arg->code = e.code;
    return true;
  }

  bool AtEnd(const Statement& s, const KitExprParser& p) {
    if (p.pos == s.toks.size()) return true;
    return Fail(s.file, s.source_line, "unexpected '" + s.toks[p.pos].text + "'");
  }

  // goto LABEL: a constant label must exist.
  bool CheckLabel(const Statement& s, size_t at) {
    if (at < s.toks.size() && s.toks[at].kind == TK_LABEL && !label_names.count(s.toks[at].text))
      return Fail(s.file, s.source_line, "no label *" + s.toks[at].text);
    return true;
  }

  bool CompileJump(const Statement& s, KitLine* line) {
    line->opcode = CMD_LABEL_JUMP;
    if (!CheckLabel(s, 1)) return false;
    KitExprParser p{s.toks, 1, LookupFor(s.file), ""};
    KitArg label;
    if (!CompileArg(s, p, ARG_KIND_STRING, &label)) return false;
    line->args.push_back(label);
    return AtEnd(s, p);
  }

  // call LABEL, args: integer argument i is parameter i, float i + 16, string i + 32.
  // return values: parameter i - 1, i + 15, i + 31. The flag byte holds the count.
  bool CompileCallOrReturn(const Statement& s, bool is_call, KitLine* line) {
    line->opcode = static_cast<u8>(is_call ? static_cast<int>(CMD_LABEL_CALL) : static_cast<int>(CMD_RETURN));
    KitExprParser p{s.toks, 1, LookupFor(s.file), ""};
    if (is_call) {
      if (!CheckLabel(s, 1)) return false;
      KitArg label;
      label.param = 0;
      if (!CompileArg(s, p, ARG_KIND_STRING, &label)) return false;
      line->args.push_back(label);
      if (p.pos < s.toks.size() && !p.Accept(",")) return AtEnd(s, p);
    }
    u32 count = 0;
    while (p.pos < s.toks.size()) {
      if (++count > CALL_ARGS_MAX) return Fail(s.file, s.source_line, "at most 16 values");
      KitExpr e;
      if (!p.Parse(&e)) return Fail(s.file, s.source_line, p.err);
      KitArg a;
      u8 kind = e.type == KT_STR ? ARG_KIND_STRING : ARG_KIND_NUMBER;
      std::string why;
      if (!KitArgValueType(&e, kind, &a.value_type, &why)) return Fail(s.file, s.source_line, why);
      u32 base = is_call ? count : count - 1;
      a.param = static_cast<u8>(base + (e.type == KT_STR ? 32 : e.type == KT_FLOAT ? 16 : 0));
      a.code = e.code;
      line->args.push_back(a);
      if (p.pos < s.toks.size() && !p.Accept(",")) return AtEnd(s, p);
    }
    line->flag = static_cast<u8>(count);
    return true;
  }

  bool CompileAssign(const Statement& s, KitLine* line) {
    line->opcode = CMD_ASSIGN;
    KitExprParser p{s.toks, 0, LookupFor(s.file), ""};
    KitExpr target;
    if (!p.ParseVarRef(&target)) return Fail(s.file, s.source_line, p.err);
    int op = AssignOpCode(p.Peek());
    if (op < 0) return Fail(s.file, s.source_line, "an assignment operator is expected");
    p.pos++;
    if (target.var_type == KT_STR && op > 1) return Fail(s.file, s.source_line, "a string takes only '=' and '+='");
    KitArg t;
    t.param = 0;
    t.op = static_cast<u8>(op);
    t.value_type = target.var_type;
    t.code = target.code;
    KitExpr e;
    if (!p.Parse(&e)) return Fail(s.file, s.source_line, p.err);
    if (e.type == KT_STR && target.var_type != KT_STR)
      return Fail(s.file, s.source_line, "a string cannot go into a number variable");
    KitArg v;
    v.param = 1;
    std::string why;
    u8 kind = target.var_type == KT_STR ? ARG_KIND_STRING : ARG_KIND_NUMBER;
    if (!KitArgValueType(&e, kind, &v.value_type, &why)) return Fail(s.file, s.source_line, why);
    v.code = e.code;
    line->args = {t, v};
    return AtEnd(s, p);
  }

  bool CompileCommand(const Statement& s, const KitCmdDef& cmd, KitLine* line) {
    line->opcode = cmd.slot;
    KitExprParser p{s.toks, 1, LookupFor(s.file), ""};
    std::set<u8> given;
    std::vector<std::string> names;
    size_t first_literal = literals.size();
    while (p.pos < s.toks.size()) {
      const KitToken& name = p.Peek();
      if (name.kind != TK_IDENT) return Fail(s.file, s.source_line, "a parameter name of " + cmd.name + " is expected");
      const KitParamDef* param = KitFindParam(cmd, name.text);
      if (!param) return Fail(s.file, s.source_line, cmd.name + " has no parameter '" + name.text + "'");
      if (!given.insert(param->id).second)
        return Fail(s.file, s.source_line, "parameter '" + name.text + "' given twice");
      int op = AssignOpCode(p.Peek(1));
      if (op < 0) return Fail(s.file, s.source_line, "'=' is expected after '" + name.text + "'");
      p.pos += 2;
      names.push_back(name.text);
      size_t value_at = p.pos;
      KitArg a;
      a.param = param->id;
      a.op = static_cast<u8>(op);
      if (param->raw_text) {
        const KitToken& text = p.Peek();
        if (text.kind != TK_STR) return Fail(s.file, s.source_line, "'" + name.text + "' takes a string as it stands");
        a.code.assign(text.text.begin(), text.text.end());
        a.value_type = 3;
        p.pos++;
      } else if (!CompileArg(s, p, param->kind, &a)) {
        return false;
      } else if (p.pos == value_at + 1 && s.toks[value_at].kind == TK_STR) {
        literals.push_back({s.file, s.source_line, cmd.name, param->name, {}, KitStringValue(s.toks[value_at].text)});
      }
      line->args.push_back(a);
      if (line->args.size() > 255) return Fail(s.file, s.source_line, "more than 255 arguments");
      if (p.pos < s.toks.size() && !p.Accept(",")) return AtEnd(s, p);
    }
    for (size_t i = first_literal; i < literals.size(); i++) literals[i].line_params = names;
    return true;
  }

  // ---- Blocks and loops ----------------------------------------------------------------------

  // An open "if" or "loop" of the file being compiled: the lines whose targets wait for its end.
  struct OpenStructure {
    bool loop;
    u32 source_line;
    size_t head;               // the "if" or "loop" line
    size_t branch;             // the last branch line with a condition; its next waits
    bool branch_open = false;  // that branch's next-branch target is still to be set
    bool has_else = false;
  };
  std::vector<OpenStructure> open;
  u32 open_file = 0;

  static KitArg LineTarget(u8 param) {
    KitArg a;
    a.param = param;
    a.fields_as_given = true;
    return a;
  }

  size_t NextLine(const Statement& s) { return bodies[s.file].size(); }

  bool Emit(const Statement& s, KitLine line) {
    line.source_line = s.source_line;
    bodies[s.file].push_back(line);
    return true;
  }

  // The condition of an "if" or "elif" into its line.
  bool Condition(const Statement& s, KitLine* line) {
    if (s.toks.size() < 2) return Fail(s.file, s.source_line, s.toks[0].text + " needs a condition");
    KitExprParser p{s.toks, 1, LookupFor(s.file), ""};
    KitArg cond;
    cond.param = 0;
    if (!CompileArg(s, p, ARG_KIND_NUMBER, &cond)) return false;
    line->args.push_back(cond);
    return AtEnd(s, p);
  }

  bool CompileStructure(const Statement& s) {
    const std::string& w = s.toks[0].text;
    if (w == "if") {
      if (open.size() + 1 >= TASK_DEPTH_MAX) return Fail(s.file, s.source_line, "nested too deeply");
      KitLine line;
      line.opcode = CMD_BLOCK_BEGIN;
      if (!Condition(s, &line)) return false;
      line.args.push_back(LineTarget(1));
      line.args.push_back(LineTarget(2));
      OpenStructure o{false, s.source_line, NextLine(s), NextLine(s)};
      o.branch_open = true;
      open.push_back(o);
      return Emit(s, line);
    }
    if (w == "elif" || w == "else") {
      if (open.empty() || open.back().loop) return Fail(s.file, s.source_line, w + " without if");
      OpenStructure& o = open.back();
      if (o.has_else) return Fail(s.file, s.source_line, w + " after else");
      KitLine branch;
      branch.opcode = CMD_BLOCK_BRANCH;
      if (w == "elif" && !Condition(s, &branch)) return false;
      if (w == "else" && s.toks.size() != 1) return Fail(s.file, s.source_line, "else takes nothing");
      KitLine exit;
      exit.opcode = CMD_BLOCK_JUMP_END;
      Emit(s, exit);
      size_t at = NextLine(s);
      if (o.branch_open) bodies[s.file][o.branch].args[1].size = static_cast<u32>(at);
      o.branch_open = w == "elif";
      o.has_else = w == "else";
      if (w == "elif") {
        branch.args.push_back(LineTarget(1));
        o.branch = at;
      }
      return Emit(s, branch);
    }
    if (w == "endif") {
      if (open.empty() || open.back().loop) return Fail(s.file, s.source_line, "endif without if");
      if (s.toks.size() != 1) return Fail(s.file, s.source_line, "endif takes nothing");
      bodies[s.file][open.back().head].args[2].size = static_cast<u32>(NextLine(s));
      open.pop_back();
      KitLine end;
      end.opcode = CMD_BLOCK_END;
      return Emit(s, end);
    }
    if (w == "loop") {
      if (open.size() + 1 >= TASK_DEPTH_MAX) return Fail(s.file, s.source_line, "nested too deeply");
      KitLine line;
      line.opcode = CMD_LOOP_START;
      KitArg count;
      count.param = 0;
      if (s.toks.size() > 1) {
        KitExprParser p{s.toks, 1, LookupFor(s.file), ""};
        if (!CompileArg(s, p, ARG_KIND_NUMBER, &count) || !AtEnd(s, p)) return false;
      } else {
        count.code = KitCodeInt(-1);  // endless
      }
      line.args = {count, LineTarget(1)};
      open.push_back(OpenStructure{true, s.source_line, NextLine(s), 0});
      return Emit(s, line);
    }
    if (w == "endloop") {
      if (open.empty() || !open.back().loop) return Fail(s.file, s.source_line, "endloop without loop");
      if (s.toks.size() != 1) return Fail(s.file, s.source_line, "endloop takes nothing");
      bodies[s.file][open.back().head].args[1].size = static_cast<u32>(NextLine(s));
      open.pop_back();
      KitLine end;
      end.opcode = CMD_LOOP_END;
      return Emit(s, end);
    }
    // break, continue, block_break, block_continue [LEVELS]
    bool loop = w == "break" || w == "continue";
    size_t depth = 0;
    for (const OpenStructure& o : open) depth += o.loop == loop;
    if (depth == 0) return Fail(s.file, s.source_line, w + (loop ? " outside a loop" : " outside an if"));
    KitLine line;
    line.opcode = static_cast<u8>(w == "break"         ? CMD_LOOP_BREAK
                                  : w == "continue"    ? CMD_LOOP_CONTINUE
                                  : w == "block_break" ? CMD_BLOCK_BREAK
                                                       : CMD_BLOCK_CONTINUE);
    if (s.toks.size() > 1) {
      KitExprParser p{s.toks, 1, LookupFor(s.file), ""};
      KitArg levels;
      levels.param = 0;
      if (!CompileArg(s, p, ARG_KIND_NUMBER, &levels) || !AtEnd(s, p)) return false;
      line.args.push_back(levels);
    }
    return Emit(s, line);
  }

  static bool IsStructureWord(const std::vector<KitToken>& toks) {
    static const char* const kWords[] = {"if",    "elif",     "endif",       "loop",          "endloop",
                                         "break", "continue", "block_break", "block_continue"};
    if (IsElse(toks)) return true;
    for (const char* w : kWords)
      if (IsWord(toks, w)) return true;
    return false;
  }

  // Every structure of a file is closed by its end.
  bool CloseFile() {
    if (open.empty()) return true;
    const OpenStructure& o = open.back();
    bool ok = Fail(open_file, o.source_line, o.loop ? "loop without endloop" : "if without endif");
    open.clear();
    return ok;
  }

  bool CompileStatement(const Statement& s) {
    if (s.file != open_file) {
      if (!CloseFile()) return false;
      open_file = s.file;
    }
    if (IsStructureWord(s.toks)) return CompileStructure(s);
    KitLine line;
    line.source_line = s.source_line;
    const KitToken& first = s.toks[0];
    bool ok;
    if (first.kind == TK_SYSVAR) {
      ok = CompileAssign(s, &line);
    } else if (first.kind != TK_IDENT) {
      ok = Fail(s.file, s.source_line, "a command, a variable or a label is expected");
    } else if (first.text == "goto") {
      ok = CompileJump(s, &line);
    } else if (first.text == "call" || first.text == "return") {
      ok = CompileCallOrReturn(s, first.text == "call", &line);
    } else {
      KitVarInfo v;
      const KitCmdDef* cmd = KitFindCommand(first.text);
      bool is_var = LookupFor(s.file)(first.text, &v);
      bool assigns = s.toks.size() > 1 && (AssignOpCode(s.toks[1]) >= 0 || s.toks[1].text == "[");
      if (is_var && (assigns || !cmd)) ok = CompileAssign(s, &line);
      else if (cmd) ok = CompileCommand(s, *cmd, &line);
      else ok = Fail(s.file, s.source_line, "unknown command or variable '" + first.text + "'");
    }
    if (ok) bodies[s.file].push_back(line);
    return ok;
  }

  bool CompileStrInits() {
    for (const PendingStrInit& si : str_inits) {
      KitExprParser p{si.toks, 0, LookupFor(si.file), ""};
      KitExpr e;
      if (!p.Parse(&e)) return Fail(si.file, si.source_line, p.err);
      if (p.pos != si.toks.size()) return Fail(si.file, si.source_line, "unexpected '" + si.toks[p.pos].text + "'");
      u8 vt;
      std::string why;
      if (!KitArgValueType(&e, ARG_KIND_STRING, &vt, &why)) return Fail(si.file, si.source_line, why);
      if (vt == 4) return Fail(si.file, si.source_line, "a string's initial value is made without floats");
      defs[si.def].init_code = e.code;
    }
    return true;
  }

  bool Run(std::vector<KitCompiledFile>* out) {
    if (sources.empty()) return Fail(0, 0, "no script sources");
    if (sources.size() > FILELIST_MAX_FILES) return Fail(0, 0, "too many script sources");
    for (u32 f = 0; f < sources.size(); f++)
      if (!ReadSource(f)) return false;
    if (!CompileStrInits()) return false;
    for (const Statement& s : statements)
      if (!CompileStatement(s)) return false;
    if (!CloseFile()) return false;

    std::vector<KitVarDef> all;
    for (const KitSysVar& sv : KitSysVars())
      for (u32 id = sv.first; id <= sv.last; id++) {
        KitVarDef d;
        d.id = static_cast<u16>(id);
        d.type = sv.type;
        d.dims = sv.dims;
        all.push_back(d);
      }
    all.insert(all.end(), defs.begin(), defs.end());
    if (all.size() > 0xFFFF) return Fail(0, 0, "too many variable definitions");
    std::vector<KitFileListEntry> list;
    for (u32 f = 0; f < sources.size(); f++) list.push_back({f, sources[f].name, sources[f].value});

    out->clear();
    out->push_back({kScriptErrTextFile, KitErrTextsBuild(KitDefaultErrorTexts())});
    out->push_back({kScriptCmdDefFile, KitCmdDefsBuild()});
    out->push_back({kScriptVarSlotFile, KitVarSlotsBuild(next_id - 1, 0)});
    out->push_back({kScriptFileListFile, KitFileListBuild(list)});
    out->push_back({kScriptVarDefFile, KitVarDefsBuild(all)});
    out->push_back({kScriptLabelFile, KitLabelsBuild(labels)});
    for (u32 f = 0; f < sources.size(); f++) {
      char name[SCRIPT_NAME_MAX];
      ScriptBodyName(name, f);
      out->push_back({name, KitBodyBuild(bodies[f])});
    }
    return true;
  }
};

}  // namespace

int KitCompileScripts(const std::vector<KitScriptSource>& sources, std::vector<KitCompiledFile>* out, std::string* err,
                      KitScriptFacts* facts) {
  Compiler c(sources);
  if (c.Run(out)) {
    if (facts) {
      facts->literals = std::move(c.literals);
      facts->labels.clear();
      for (const KitLabel& l : c.labels) facts->labels.push_back(l.name);
    }
    return 0;
  }
  const std::string& name = c.err_file < sources.size() ? sources[c.err_file].name : std::string("?");
  *err = name + ":" + std::to_string(c.err_line) + ": " + c.err;
  return -1;
}

int KitCompileExpr(const std::string& text, const std::vector<KitExprVar>& vars, std::vector<u8>* code, u8* value_type,
                   std::string* err) {
  std::vector<KitToken> toks;
  if (!KitTokenize(text, &toks, err)) return -1;
  KitVarLookup lookup = [&vars](const std::string& name, KitVarInfo* out) {
    for (const KitExprVar& v : vars)
      if (v.name == name) {
        *out = KitVarInfo{v.id, v.type, v.dims};
        return true;
      }
    return false;
  };
  KitExprParser p{toks, 0, lookup, ""};
  KitExpr e;
  if (!p.Parse(&e)) {
    *err = p.err;
    return -1;
  }
  if (p.pos != toks.size()) {
    *err = "unexpected '" + toks[p.pos].text + "'";
    return -1;
  }
  if (!KitArgValueType(&e, ARG_KIND_NUMBER, value_type, err)) return -1;
  *code = e.code;
  return 0;
}

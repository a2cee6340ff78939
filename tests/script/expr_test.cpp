#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kit/script_compiler.h"
#include "kit/script_files.h"
#include "script/expr.h"
#include "script/var.h"
#include "script_test_util.h"

namespace {

enum { INT_ID = 1000, FLT_ID = 1001, STR_ID = 1002, GRID_ID = 1003, CUBE_ID = 1004, NAMES_ID = 1005, UNDEF_ID = 1006 };

typedef std::vector<u8> Code;

Code operator+(Code a, const Code& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct ExprTest : ::testing::Test {
  std::vector<KitExprVar> vars = {
      {"x", INT_ID, 1, {}},
      {"f", FLT_ID, 2, {}},
      {"s", STR_ID, 3, {}},
      {"grid", GRID_ID, 1, {3, 4}},
      {"cube", CUBE_ID, 2, {2, 2, 2}},
      {"names", NAMES_ID, 3, {3}},
      {"undef", UNDEF_ID, 1, {}},
  };

  void SetUp() override {
    ASSERT_EQ(VarTableCreate(1010), 0);
    ExprReset();
    TestErrTexts({ERR_EXPR_INDEX, ERR_EXPR_UNDEFINED_VAR, ERR_EXPR_NOT_NUMBER, ERR_EXPR_STRING_MIX, ERR_EXPR_BAD_CODE,
                  ERR_OUT_OF_MEMORY});
    ASSERT_EQ(TestDeclare(INT_ID, VAR_TYPE_INT, {}), 0);
    VarSetNumElement(INT_ID, 0, 7);
    ASSERT_EQ(TestDeclare(FLT_ID, VAR_TYPE_FLOAT, {}), 0);
    VarSetFloatElement(FLT_ID, 0, 2.5);
    ASSERT_EQ(TestDeclare(STR_ID, VAR_TYPE_STR, {}), 0);
    VarSetStrElement(STR_ID, 0, "abc");
    ASSERT_EQ(TestDeclare(GRID_ID, VAR_TYPE_INT, {3, 4}), 0);
    for (i64 i = 0; i < 12; i++) VarSetNumElement(GRID_ID, i, 100 + i);
    ASSERT_EQ(TestDeclare(CUBE_ID, VAR_TYPE_FLOAT, {2, 2, 2}), 0);
    for (i64 i = 0; i < 8; i++) VarSetFloatElement(CUBE_ID, i, i + 0.5);
    ASSERT_EQ(TestDeclare(NAMES_ID, VAR_TYPE_STR, {3}), 0);
    VarSetStrElement(NAMES_ID, 2, "third");
    // System variables: 10 (pi) and 49 (999) need records of their type.
    ASSERT_EQ(TestDeclare(10, VAR_TYPE_FLOAT, {}), 0);
    ASSERT_EQ(TestDeclare(49, VAR_TYPE_INT, {}), 0);
  }
  void TearDown() override {
    ExprReset();
    VarReset();
    UserErrReset();
    ErrReset();
    g_QuitRequested = 0;
  }

  Code Compile(const std::string& text) {
    Code code;
    u8 vt = 0;
    std::string err;
    EXPECT_EQ(KitCompileExpr(text, vars, &code, &vt, &err), 0) << text << ": " << err;
    return code;
  }
  i64 Int(const std::string& text) {
    Code c = Compile(text);
    return ExprEvalInt(c.data(), static_cast<u32>(c.size()));
  }
  double Float(const std::string& text) {
    Code c = Compile(text);
    return ExprEvalFloat(c.data(), static_cast<u32>(c.size()));
  }
  std::string Str(const Code& c, u8 mode = EXPR_MODE_STR) {
    char buf[EXPR_STR_BUF];
    i32 len = mode == EXPR_MODE_STR ? ExprEvalStr(c.data(), static_cast<u32>(c.size()), buf)
                                    : ExprEvalStr4(c.data(), static_cast<u32>(c.size()), buf);
    EXPECT_EQ(static_cast<size_t>(len), std::strlen(buf));
    return std::string(buf, static_cast<size_t>(len));
  }
  std::string Str(const std::string& text, u8 mode = EXPR_MODE_STR) { return Str(Compile(text), mode); }
  static i64 RunInt(const Code& c) { return ExprEvalInt(c.data(), static_cast<u32>(c.size())); }
  static bool Raised(i32 code) { return g_ErrLastText.find("E" + std::to_string(code) + "[") != std::string::npos; }
  static void ClearErr() {
    ErrReset();
    g_QuitRequested = 0;
  }
};

Code I(i64 v) { return KitCodeInt(v); }
Code F(double v) { return KitCodeFloat(v); }
Code S(const std::string& t) { return KitCodeStr(t); }
Code Op(u8 op) { return KitCodeOp(op); }
Code Raw(std::initializer_list<u8> bytes) { return Code(bytes); }

}  // namespace

TEST_F(ExprTest, EveryOperatorOnIntegersAndOnFloats) {
  struct Case {
    const char* text;
    i64 in_int;     // mode 1
    double in_flt;  // mode 2
  } cases[] = {
      {"7 + 2", 9, 9.0},     {"7 - 9", -2, -2.0},     {"7 * 3", 21, 21.0},    {"7 / 2", 3, 3.5},  {"-7 / 2", -3, -3.5},
      {"7 % 3", 1, 7.0},     {"-7 % 3", -1, -7.0},    {"7 / 0", 0, 0.0},      {"7 % 0", 0, 7.0},  {"3 == 3", 1, 1.0},
      {"3 != 3", 0, 0.0},    {"3 < 4", 1, 1.0},       {"4 > 4", 0, 0.0},      {"3 <= 3", 1, 1.0}, {"3 >= 4", 0, 0.0},
      {"2 && 0", 0, 0.0},    {"2 && 3", 1, 1.0},      {"0 || 0", 0, 0.0},     {"0 || 5", 1, 1.0}, {"6 & 3", 2, 6.0},
      {"6 | 3", 7, 6.0},     {"6 ^ 3", 5, 6.0},       {"-(5)", -5, -5.0},     {"!0", 1, 1.0},     {"!4", 0, 0.0},
      {"1 + 2 * 3", 7, 7.0}, {"(1 + 2) * 3", 9, 9.0}, {"10 - 4 - 3", 3, 3.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Int(c.text), c.in_int);
    EXPECT_DOUBLE_EQ(Float(c.text), c.in_flt);  // "%", "&", "|", "^" leave a in float arithmetic
  }
  EXPECT_EQ(g_ErrLastText, "");
}

TEST_F(ExprTest, MixedIntegerAndFloatArithmetic) {
  // Values are converted to the arithmetic in force as they are pushed.
  EXPECT_EQ(Int("x + 2.7"), 9);  // 2.7 pushed as 2
  EXPECT_DOUBLE_EQ(Float("x + 2.7"), 9.7);
  EXPECT_EQ(Int("f * 2"), 4);  // f = 2.5 pushed as 2
  EXPECT_DOUBLE_EQ(Float("f * 2"), 5.0);
  EXPECT_EQ(Int("-f"), -2);  // toward zero
  EXPECT_DOUBLE_EQ(Float("x / 2"), 3.5);
  EXPECT_EQ(Int("x < f"), 0);
  EXPECT_DOUBLE_EQ(Float("f < 2.6"), 1.0);
  Code c = Compile("7 / 2");
  EXPECT_EQ(ExprEvalFloatAsInt(c.data(), static_cast<u32>(c.size())), 3);
  EXPECT_DOUBLE_EQ(ExprEvalIntAsFloat(c.data(), static_cast<u32>(c.size())), 3.0);
  c = Compile("-7.9");
  EXPECT_EQ(ExprEvalFloatAsInt(c.data(), static_cast<u32>(c.size())), -7);
  // A double beyond the integer range truncates to the saturated value, not to undefined behaviour.
  c = F(1e300);
  EXPECT_EQ(ExprEvalFloatAsInt(c.data(), static_cast<u32>(c.size())), INT64_MAX);
  c = F(std::nan(""));
  EXPECT_EQ(ExprEvalFloatAsInt(c.data(), static_cast<u32>(c.size())), 0);
}

TEST_F(ExprTest, IntegerArithmeticWrapsInsteadOfTrapping) {
  struct Case {
    Code code;
    i64 want;
  } cases[] = {
      {I(INT64_MIN) + I(-1) + Op(EXPR_OP_DIV), INT64_MIN},
      {I(INT64_MIN) + I(-1) + Op(EXPR_OP_MOD), 0},
      {I(INT64_MIN) + Op(EXPR_OP_NEG), INT64_MIN},
      {I(INT64_MAX) + I(1) + Op(EXPR_OP_ADD), INT64_MIN},
      {I(INT64_MIN) + I(1) + Op(EXPR_OP_SUB), INT64_MAX},
      {I(INT64_MAX) + I(2) + Op(EXPR_OP_MUL), -2},
      {I(-8) + I(-1) + Op(EXPR_OP_DIV), 8},
      {I(-8) + I(3) + Op(EXPR_OP_MOD), -2},
  };
  for (const Case& c : cases) EXPECT_EQ(RunInt(c.code), c.want);
  EXPECT_EQ(g_ErrLastText, "");
}

TEST_F(ExprTest, LiteralsOfEveryWidth) {
  for (i64 v :
       {i64{0}, i64{-128}, i64{127}, i64{-32768}, i64{32767}, i64{INT32_MIN}, i64{INT32_MAX}, INT64_MIN, INT64_MAX}) {
    EXPECT_EQ(RunInt(I(v)), v);
  }
  EXPECT_EQ(I(127).size(), 4u);  // "B": opcode, length, one byte
  EXPECT_EQ(I(128).size(), 5u);  // "W"
  EXPECT_EQ(I(1 << 20).size(), 7u);
  EXPECT_EQ(Int("0x7FFFFFFFFFFFFFFF"), INT64_MAX);
  EXPECT_EQ(Int("-9223372036854775808"), INT64_MIN);
}

TEST_F(ExprTest, StringsConcatenateAndCompareOnlyForEquality) {
  EXPECT_EQ(Str("'ab' + \"cd\""), "abcd");
  EXPECT_EQ(Str("s + s"), "abcabc");
  EXPECT_EQ(Int("'ab' == 'ab'"), 1);
  EXPECT_EQ(Int("'ab' == 'abc'"), 0);
  EXPECT_EQ(Int("'ab' != 'ab'"), 0);
  EXPECT_EQ(Int("s != 'x'"), 1);
  EXPECT_EQ(Str("names[2] + '!'"), "third!");
  EXPECT_EQ(Str("names[0]"), "");
  EXPECT_EQ(g_ErrLastText, "");
  // A string with a number, in every operator that takes two operands, is error 160010.
  for (u8 op :
       {EXPR_OP_ADD, EXPR_OP_SUB, EXPR_OP_MUL, EXPR_OP_DIV, EXPR_OP_MOD, EXPR_OP_EQ, EXPR_OP_NE, EXPR_OP_LT, EXPR_OP_GT,
        EXPR_OP_LE, EXPR_OP_GE, EXPR_OP_AND, EXPR_OP_OR, EXPR_OP_BIT_AND, EXPR_OP_BIT_OR, EXPR_OP_BIT_XOR}) {
    SCOPED_TRACE(static_cast<char>(op));
    ClearErr();
    RunInt(S("ab") + I(1) + Op(op));
    EXPECT_TRUE(Raised(ERR_EXPR_STRING_MIX));
    EXPECT_TRUE(g_Expr.failed);
    EXPECT_EQ(g_QuitRequested.load(), 1);  // fatal
  }
  ClearErr();
  RunInt(S("ab") + Op(EXPR_OP_NEG));
  EXPECT_TRUE(Raised(ERR_EXPR_STRING_MIX));
  // Two strings take no ordering.
  ClearErr();
  RunInt(S("a") + S("b") + Op(EXPR_OP_LT));
  EXPECT_TRUE(Raised(ERR_EXPR_STRING_MIX));
}

TEST_F(ExprTest, ConcatenationStopsAt4095BytesOnAWholeCharacter) {
  std::string a(4000, 'a'), b(95, 'b');
  std::string r = Str(S(a) + S(b) + Op(EXPR_OP_ADD));
  EXPECT_EQ(r.size(), 4095u);
  r = Str(S(a) + S(b) + Op(EXPR_OP_ADD) + S("c") + Op(EXPR_OP_ADD));
  EXPECT_EQ(r, a + b) << "one byte more is cut";
  // A double-byte character that would end at byte 4096 is left out whole.
  std::string kanji = "\x8a\xbf";
  r = Str(S(std::string(4094, 'x')) + S(kanji) + Op(EXPR_OP_ADD));
  EXPECT_EQ(r, std::string(4094, 'x'));
  r = Str(S(std::string(4093, 'x')) + S(kanji) + Op(EXPR_OP_ADD));
  EXPECT_EQ(r, std::string(4093, 'x') + kanji);
  // A literal longer than a string can be is cut the same way.
  EXPECT_EQ(Str(S(std::string(5000, 'y'))).size(), 4095u);
  EXPECT_EQ(g_ErrLastText, "");
}

TEST_F(ExprTest, StringLiteralEscapesAndDoubleByteCharacters) {
  struct Case {
    std::string operand;  // as the byte code holds it, between quotes
    std::string want;
  } cases[] = {
      {"a\\\\b", "a\\b"}, {"a\\nb", "a\nb"},    {"a\\tb", "a\tb"},
      {"a\\xb", "axb"},   {"\x95\\", "\x95\\"},  // 0x5C as a trail byte is part of the character
      {"tail\\", "tail"},
  };
  for (const Case& c : cases) EXPECT_EQ(Str(S(c.operand)), c.want) << c.operand;
  // Any byte can be the quote; the text ends at the next one, a backslash does not protect it.
  EXPECT_EQ(Str(KitCodeInstr(EXPR_OP_STR, Raw({'|', 'a', 'b', '|', 'c'}))), "ab");
  EXPECT_EQ(Str(KitCodeInstr(EXPR_OP_STR, Raw({'"', 'a', '\\', '"', 'b', '"'}))), "a");
  EXPECT_EQ(Str(KitCodeInstr(EXPR_OP_STR, Raw({'"', 'n', 'o', ' ', 'e', 'n', 'd'}))), "no end");
}

TEST_F(ExprTest, TextAndNumberConversions) {
  EXPECT_EQ(Str("str(x * 6)"), "42");
  EXPECT_EQ(Str("str(-x)"), "-7");
  EXPECT_EQ(Str("str(f)", EXPR_MODE_STR_FLOAT), "2.500000");
  EXPECT_EQ(Str(Compile("str(f)"), EXPR_MODE_STR), "2");  // integer arithmetic inside mode 3
  EXPECT_EQ(Str("str(s)"), "abc");                        // a text stays a text
  EXPECT_EQ(Int("num('0x1F')"), 31);
  EXPECT_EQ(Int("num('0xFFFFFFFFFFFFFFFF')"), -1);
  EXPECT_EQ(Int("num('-3.5')"), -3);
  EXPECT_DOUBLE_EQ(Float("num('-3.5')"), -3.5);
  EXPECT_EQ(Int("num('120') + 1"), 121);
  EXPECT_EQ(Int("num('')"), 0);
  EXPECT_EQ(RunInt(I(9) + Op(EXPR_OP_TO_NUM)), 9);  // a number stays a number
  EXPECT_EQ(g_ErrLastText, "");
  // Not a number: reported with 108210; malformed hexadecimal text fails the evaluation without
  // a message, and what the caller takes is 0.
  struct Bad {
    const char* text;
    bool reported;
  };
  for (const Bad& b : {Bad{"12a", true}, Bad{"1 2", true}, Bad{"\x82\xa0", true}, Bad{"0x", false},
                       Bad{"0xZZ", false}, Bad{"0x12g", false}, Bad{"0x11112222333344445", false}}) {
    SCOPED_TRACE(b.text);
    ClearErr();
    EXPECT_EQ(RunInt(I(5) + S(b.text) + Op(EXPR_OP_TO_NUM) + Op('+')), 5);
    EXPECT_EQ(Raised(ERR_EXPR_NOT_NUMBER), b.reported);
    EXPECT_EQ(g_QuitRequested.load() != 0, b.reported) << "only a reported error ends the game";
    EXPECT_TRUE(g_Expr.failed);
  }
}

// Integer text is written as "%lld" writes it, at every digit count and at both ends of the range.
TEST_F(ExprTest, IntegerTextMatchesPrintf) {
  std::vector<i64> values = {0, INT64_MIN, INT64_MIN + 1, INT64_MAX};
  for (i64 p = 1; p <= INT64_MAX / 10; p *= 10)
    for (i64 v : {p - 1, p, p + 1, 9 * p})
      for (i64 sign : {1, -1}) values.push_back(sign * v);
  for (i64 v : values) {
    char want[32];
    std::snprintf(want, sizeof want, "%lld", static_cast<long long>(v));
    EXPECT_EQ(Str(I(v) + Op(EXPR_OP_TO_TEXT)), want) << v;
  }
}

TEST_F(ExprTest, VariablesAndSystemVariables) {
  EXPECT_EQ(Int("x"), 7);
  EXPECT_EQ(Str("s"), "abc");
  EXPECT_DOUBLE_EQ(Float("f"), 2.5);
  EXPECT_EQ(Int("@49"), 999);
  EXPECT_NEAR(Float("@10"), 3.14159265, 1e-8);
  EXPECT_EQ(Int("@10"), 3);
  EXPECT_EQ(Int("undef + 1"), 1) << "a declared but undefined variable reads 0";
  EXPECT_EQ(g_Expr.ref.var_id, static_cast<u32>(UNDEF_ID));
  // An id outside the table is error 108010.
  RunInt(KitCodeVar(EXPR_OP_VAR, 5000));
  EXPECT_TRUE(Raised(ERR_EXPR_UNDEFINED_VAR));
  EXPECT_TRUE(g_Expr.failed);
}

TEST_F(ExprTest, IndexedElementsOfMultiDimensionalArrays) {
  EXPECT_EQ(Int("grid[0][0]"), 100);
  EXPECT_EQ(Int("grid[2][3]"), 111);
  EXPECT_EQ(Int("grid[1, 2]"), 106);
  EXPECT_EQ(g_Expr.ref.var_id, static_cast<u32>(GRID_ID));
  EXPECT_EQ(g_Expr.ref.element, 6);
  EXPECT_EQ(g_Expr.ref.index_count, 2);
  EXPECT_EQ(g_Expr.ref.indexes[1], 2);
  EXPECT_DOUBLE_EQ(Float("cube[1][0][1]"), 5.5);
  EXPECT_EQ(g_Expr.ref.element, 5);
  // Fewer indexes than dimensions (byte code the kit's compiler does not write): the missing
  // ones are 0.
  EXPECT_EQ(RunInt(KitCodeVar(EXPR_OP_INDEX_OPEN, GRID_ID) + I(1) + Op(')')), 104);
  EXPECT_EQ(g_Expr.ref.element, 4);
  const Code cube11 = KitCodeVar(EXPR_OP_INDEX_OPEN, CUBE_ID) + I(1) + I(1) + Op(')');
  EXPECT_DOUBLE_EQ(ExprEvalFloat(cube11.data(), static_cast<u32>(cube11.size())), 6.5);
  // Inside an index list arithmetic is integer, even in float mode: 3 / 2 selects 1.
  EXPECT_DOUBLE_EQ(Float("cube[3 / 2][1][1] + 0.25"), 7.75);
  // Nested index lists.
  VarSetNumElement(GRID_ID, 0, 2);
  EXPECT_EQ(Int("grid[grid[0][0]][1]"), 109);
  EXPECT_EQ(g_ErrLastText, "");

  struct Bad {
    Code code;
    const char* why;
  } bad[] = {
      {KitCodeVar(EXPR_OP_INDEX_OPEN, GRID_ID) + I(3) + I(0) + Op(')'), "first index at its dimension"},
      {KitCodeVar(EXPR_OP_INDEX_OPEN, GRID_ID) + I(0) + I(-1) + Op(')'), "negative index"},
      {KitCodeVar(EXPR_OP_INDEX_OPEN, GRID_ID) + I(3) + Op(')'), "a lone index at its dimension"},
      {KitCodeVar(EXPR_OP_INDEX_OPEN, CUBE_ID) + I(0) + I(2) + Op(')'), "a second index at its dimension"},
      {KitCodeVar(EXPR_OP_INDEX_OPEN, GRID_ID) + I(0) + I(0) + I(0) + Op(')'), "too many indexes"},
      // 2^32 + 1 has low 32 bits 1: every index is compared whole.
      {KitCodeVar(EXPR_OP_INDEX_OPEN, GRID_ID) + I((i64{1} << 32) + 1) + I(0) + Op(')'), "index beyond 32 bits"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.why);
    ClearErr();
    RunInt(b.code);
    EXPECT_TRUE(Raised(ERR_EXPR_INDEX));
    EXPECT_TRUE(g_Expr.failed);
  }
  ClearErr();
  RunInt(KitCodeVar(EXPR_OP_INDEX_OPEN, GRID_ID) + S("1") + I(0) + Op(')'));
  EXPECT_TRUE(Raised(ERR_EXPR_STRING_MIX)) << "a string index";
}

TEST_F(ExprTest, WholeVariableAndDeclarationMode) {
  EXPECT_EQ(Int("grid[]"), 0);
  EXPECT_EQ(g_Expr.ref.var_id, static_cast<u32>(GRID_ID));
  EXPECT_EQ(g_Expr.ref.whole, 1);
  EXPECT_EQ(g_Expr.ref.element, 0);

  // In declaration mode a reference at depth 0 pushes nothing and keeps its list as sizes.
  g_ExprDeclareMode = 1;
  Code c = KitCodeVar(EXPR_OP_INDEX_OPEN, UNDEF_ID) + I(3) + I(2) + I(9) + Op(')');
  EXPECT_EQ(RunInt(c), 0);
  EXPECT_EQ(g_Expr.top, 0);
  EXPECT_FALSE(g_Expr.failed);
  EXPECT_EQ(g_Expr.ref.var_id, static_cast<u32>(UNDEF_ID));
  ASSERT_EQ(g_Expr.ref.index_count, 3);
  EXPECT_EQ(g_Expr.ref.indexes[0], 3);
  EXPECT_EQ(g_Expr.ref.indexes[2], 9);
  RunInt(KitCodeVar(EXPR_OP_VAR, UNDEF_ID));
  EXPECT_EQ(g_Expr.top, 0);
  EXPECT_EQ(g_Expr.ref.index_count, 0) << "a scalar";
  // An index list inside the sizes is read as usual.
  c = KitCodeVar(EXPR_OP_INDEX_OPEN, UNDEF_ID) + KitCodeVar(EXPR_OP_INDEX_OPEN, GRID_ID) + I(1) + I(1) + Op(')') +
      Op(')');
  RunInt(c);
  ASSERT_EQ(g_Expr.ref.index_count, 1);
  EXPECT_EQ(g_Expr.ref.indexes[0], 105);
  // Nine sizes are more than a variable can have.
  c = KitCodeVar(EXPR_OP_INDEX_OPEN, UNDEF_ID);
  for (int k = 0; k < 9; k++) c = c + I(1);
  RunInt(c + Op(')'));
  EXPECT_TRUE(Raised(ERR_EXPR_INDEX));
  g_ExprDeclareMode = 0;
}

TEST_F(ExprTest, MalformedByteCodeFailsWith900030) {
  struct Case {
    Code code;
    const char* why;
  } cases[] = {
      {Raw({'Q', 0, 0}), "unknown opcode"},
      {Raw({'B', 1}), "instruction header cut"},
      {Raw({'B', 5, 0, 1}), "operand beyond the code"},
      {Raw({'B', 0, 0}), "B without its byte"},
      {Raw({'W', 1, 0, 1}), "W short"},
      {Raw({'I', 3, 0, 1, 2, 3}), "I short"},
      {Raw({'L', 7, 0, 1, 2, 3, 4, 5, 6, 7}), "L short"},
      {Raw({'F', 7, 0, 1, 2, 3, 4, 5, 6, 7}), "F short"},
      {Raw({'H', 2, 0, 0, 0}), "H short"},
      {Raw({'M', 0, 0}), "M without its quote"},
      {I(1) + Op(EXPR_OP_ADD), "binary operator with one operand"},
      {Op(EXPR_OP_NEG), "unary operator on an empty stack"},
      {Op(EXPR_OP_TO_TEXT), "conversion on an empty stack"},
      {Op(')'), "closing a list that is not open"},
      {I(5) + KitCodeVar(EXPR_OP_INDEX_OPEN, GRID_ID) + Op(EXPR_OP_ADD) + Op(')'),
       "an operator took the list's placeholder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ClearErr();
    RunInt(c.code);
    EXPECT_TRUE(Raised(ERR_EXPR_BAD_CODE));
    EXPECT_TRUE(g_Expr.failed);
    EXPECT_EQ(g_QuitRequested.load(), 1);
  }
}

TEST_F(ExprTest, StackAndStringPoolLimits) {
  Code full;
  for (int k = 0; k < EXPR_STACK_SLOTS; k++) full = full + I(k);
  EXPECT_EQ(RunInt(full), 0);
  EXPECT_FALSE(g_Expr.failed);
  EXPECT_EQ(g_Expr.top, EXPR_STACK_SLOTS);
  RunInt(full + I(1));
  EXPECT_TRUE(Raised(ERR_EXPR_BAD_CODE)) << "the 1025th slot";
  EXPECT_TRUE(g_Expr.failed);

  ClearErr();
  Code strings;
  for (int k = 0; k < EXPR_POOL_BUFFERS - 1; k++) strings = strings + S("p");
  Str(strings);
  EXPECT_FALSE(g_Expr.failed) << "1023 strings fit";
  Str(strings + S("q"));
  EXPECT_TRUE(Raised(ERR_EXPR_BAD_CODE)) << "the 1024th string";
  EXPECT_TRUE(g_Expr.failed);
  // The pool restarts with every evaluation.
  ClearErr();
  EXPECT_EQ(Str("'again'"), "again");
  EXPECT_EQ(g_ErrLastText, "");
}

TEST_F(ExprTest, StringModeOfANumberGivesTheEmptyString) {
  char buf[EXPR_STR_BUF] = "stale";
  Code c = Compile("x + 1");
  EXPECT_EQ(ExprEvalStr(c.data(), static_cast<u32>(c.size()), buf), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(ExprEvalStr(nullptr, 0, buf), 0);
  EXPECT_EQ(ExprEvalInt(nullptr, 0), 0) << "an empty program reads 0";
}

TEST_F(ExprTest, EntriesByValueType) {
  // Types 2 and 4 truncate the float result; their float form is that integer.
  Code c = Compile("7 / 2");
  struct Case {
    u8 type;
    i64 as_int;
    double as_float;
  } cases[] = {{1, 3, 3.0}, {2, 3, 3.0}, {3, 3, 3.0},  {4, 3, 3.0},  {6, 3, 3.0},  {7, 3, 3.5},
               {8, 3, 3.0}, {9, 3, 3.5}, {11, 3, 3.5}, {12, 3, 3.5}, {13, 3, 3.5}, {14, 3, 3.5}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.type);
    i64 i = -1;
    double d = -1;
    EXPECT_EQ(ExprEvalByTypeInt(k.type, c.data(), static_cast<u32>(c.size()), &i), 0);
    EXPECT_EQ(i, k.as_int);
    EXPECT_EQ(ExprEvalByTypeFloat(k.type, c.data(), static_cast<u32>(c.size()), &d), 0);
    EXPECT_DOUBLE_EQ(d, k.as_float);
  }
  EXPECT_EQ(g_ErrLastText, "");
  // Value types without an entry are refused instead of being called.
  for (u8 type : {0, 5, 10, 15, 255}) {
    SCOPED_TRACE(type);
    ClearErr();
    i64 i = -1;
    EXPECT_EQ(ExprEvalByTypeInt(type, c.data(), static_cast<u32>(c.size()), &i), -1);
    EXPECT_TRUE(Raised(ERR_EXPR_BAD_CODE));
  }
  char buf[EXPR_STR_BUF];
  i32 len = 0;
  Code s = Compile("'t' + str(7 / 2)");
  EXPECT_EQ(ExprEvalByTypeStr(3, s.data(), static_cast<u32>(s.size()), buf, &len), 0);
  EXPECT_STREQ(buf, "t3");
  EXPECT_EQ(ExprEvalByTypeStr(4, s.data(), static_cast<u32>(s.size()), buf, &len), 0);
  EXPECT_STREQ(buf, "t3.500000");
  ClearErr();
  EXPECT_EQ(ExprEvalByTypeStr(0, s.data(), static_cast<u32>(s.size()), buf, &len), -1);
  EXPECT_EQ(ExprEvalByTypeStr(5, s.data(), static_cast<u32>(s.size()), buf, &len), -1);
}

TEST_F(ExprTest, LoadingTableMarksVariableReadsAsNotConstant) {
  ExprInitOpTable(0);
  char buf[EXPR_STR_BUF];
  for (const char* text : {"s", "names[1]", "grid[]", "'a' + s"}) {
    SCOPED_TRACE(text);
    Code c = Compile(text);
    ExprEvalStr(c.data(), static_cast<u32>(c.size()), buf);
    EXPECT_TRUE(g_Expr.not_constant);
    EXPECT_TRUE(g_Expr.failed);
  }
  Code c = Compile("'LAB' + 'EL'");
  ExprEvalStr(c.data(), static_cast<u32>(c.size()), buf);
  EXPECT_FALSE(g_Expr.not_constant);
  EXPECT_STREQ(buf, "LABEL");
  EXPECT_EQ(g_ErrLastText, "") << "the aborting readers raise nothing";
  ExprInitOpTable(1);
  c = Compile("s");
  ExprEvalStr(c.data(), static_cast<u32>(c.size()), buf);
  EXPECT_STREQ(buf, "abc");
}

namespace {

// What an integer evaluation leaves behind, as far as anything reads it.
struct Outcome {
  i64 value;
  u16 top;
  u8 failed;
  u32 var_id;
  i64 element;
  u8 whole;
  u8 index_count;
  std::string error;
  bool operator==(const Outcome&) const = default;
};

Outcome Evaluate(const Code& c) {
  ErrReset();
  g_QuitRequested = 0;
  Outcome o{};
  o.value = ExprEvalInt(c.data(), static_cast<u32>(c.size()));
  o.top = g_Expr.top;
  o.failed = g_Expr.failed;
  o.var_id = g_Expr.ref.var_id;
  o.element = g_Expr.ref.element;
  o.whole = g_Expr.ref.whole;
  o.index_count = g_Expr.ref.index_count;
  o.error = g_ErrLastText;
  return o;
}

}  // namespace

// The short forms (a literal, an integer variable, a variable against a literal) give what the
// instruction-by-instruction run gives, errors included; a trailing no-op instruction forces that
// run on the same expression.
TEST_F(ExprTest, ShortIntegerFormsMatchTheFullRun) {
  VarSetNumElement(INT_ID, 0, INT64_MAX);
  const Code cases[] = {
      I(0),
      I(-1),
      I(127),
      I(-300),
      I(70000),
      I(-5000000000LL),
      I(INT64_MIN),
      KitCodeVar(EXPR_OP_VAR, INT_ID),
      KitCodeVar(EXPR_OP_VAR, FLT_ID),
      KitCodeVar(EXPR_OP_VAR, STR_ID),
      KitCodeVar(EXPR_OP_VAR, UNDEF_ID),
      KitCodeVar(EXPR_OP_VAR, 5000),
      KitCodeVar(EXPR_OP_VAR, 49),
      KitCodeVar(EXPR_OP_VAR, INT_ID) + I(-1) + Op(EXPR_OP_EQ),
      KitCodeVar(EXPR_OP_VAR, INT_ID) + I(1) + Op(EXPR_OP_ADD),
      KitCodeVar(EXPR_OP_VAR, INT_ID) + I(-1) + Op(EXPR_OP_SUB),
      KitCodeVar(EXPR_OP_VAR, INT_ID) + I(5) + Op(EXPR_OP_NE),
      KitCodeVar(EXPR_OP_VAR, INT_ID) + I(5) + Op(EXPR_OP_LT),
      KitCodeVar(EXPR_OP_VAR, INT_ID) + I(5) + Op(EXPR_OP_GT),
      KitCodeVar(EXPR_OP_VAR, INT_ID) + I(5) + Op(EXPR_OP_LE),
      KitCodeVar(EXPR_OP_VAR, INT_ID) + I(5) + Op(EXPR_OP_GE),
      KitCodeVar(EXPR_OP_VAR, STR_ID) + I(5) + Op(EXPR_OP_EQ),
      KitCodeVar(EXPR_OP_VAR, 5000) + I(5) + Op(EXPR_OP_EQ),
      KitCodeVar(EXPR_OP_VAR, GRID_ID) + I(5) + Op(EXPR_OP_LT),
      Raw({EXPR_OP_I8, 2, 0, 9, 9}),
      Raw({EXPR_OP_I32, 1, 0, 9}),
  };
  for (const Code& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c));
    const Outcome quick = Evaluate(c);
    const Outcome full = Evaluate(c + Op(EXPR_OP_NOP));
    EXPECT_EQ(quick, full);
    EXPECT_EQ(quick.error.empty(), !quick.failed);
  }
  VarSetNumElement(INT_ID, 0, 7);
}

#pragma once
// Every intermediate-code opcode once, with all that the compiler and the
// engine need to know about it. The enum, the names, the translator's operand
// and argument counts, the executor's jump table, the machine-code translator's
// call table, the dependency analysis and the math error records' names are
// all expanded from this one list; a new inner function is one row here plus
// its code (a checked function or a built-in) and its tests.
//
// Columns: value, name, formula name ("" when the parser never calls it by
// name), shape (see TOpcodeShape below), math error record number (-1: none;
// 0-19 are numbered as the math library's faults are), the library's name for
// its faults ("" none), and the function that computes it: checked::<fn> for
// the shapes Func1 and Func2, a built-in (engine/Builtins.h) for the shapes
// Builtin0..2, `_` for the rest.
//
// Values 1-8 and 11-15 are unused.
#include <cstdint>

namespace velmora {

#define VELMORA_OPCODES(X)                                                   \
  X(0, icDeclare, "", Meta, -1, "", _)                                       \
  X(9, icBegin, "", Meta, -1, "", _)                                         \
  X(10, icEnd, "", Result, -1, "", _)                                        \
  X(16, icAssign, "", Move, -1, "", _)                                       \
  X(17, icBind, "", Meta, -1, "", _)                                         \
  X(18, icAdd, "", Arith, -1, "", _)                                         \
  X(19, icSubtract, "", Arith, -1, "", _)                                    \
  X(20, icMultiply, "", Arith, -1, "", _)                                    \
  X(21, icDivide, "", Arith, -1, "", _)                                      \
  X(22, icRemainder, "", Remainder, -1, "", _)                               \
  X(23, icNegate, "", Move, -1, "", _)                                       \
  X(24, icIncrement, "", Update, -1, "", _)                                  \
  X(25, icDecrement, "", Update, -1, "", _)                                  \
  X(26, icEqual, "", Logic, -1, "", _)                                       \
  X(27, icNotEqual, "", Logic, -1, "", _)                                    \
  X(28, icLess, "", Logic, -1, "", _)                                        \
  X(29, icLessEqual, "", Logic, -1, "", _)                                   \
  X(30, icGreater, "", Logic, -1, "", _)                                     \
  X(31, icGreaterEqual, "", Logic, -1, "", _)                                \
  X(32, icLogicalAnd, "", Logic, -1, "", _)                                  \
  X(33, icLogicalOr, "", Logic, -1, "", _)                                   \
  X(34, icLogicalNot, "", Logic, -1, "", _)                                  \
  X(35, icRandomize, "randomize", Builtin0, -1, "", Randomize)               \
  X(36, icAsin, "asin", Func1, 0, "asinl", Asin)                             \
  X(37, icAcos, "acos", Func1, 1, "acosl", Acos)                             \
  X(38, icAtan, "atan", Func1, 2, "atanl", Atan)                             \
  X(39, icAtan2, "atan2", Func2, 17, "atan2l", Atan2)                        \
  X(40, icAbs, "abs", Func1, 3, "fabsl", Abs)                                \
  X(41, icArg, "arg", Complex, -1, "", _)                                    \
  X(42, icConj, "conj", Complex, -1, "", _)                                  \
  X(43, icCos, "cos", Func1, 4, "cosl", Cos)                                 \
  X(44, icCosh, "cosh", Func1, 5, "coshl", Cosh)                             \
  X(45, icExp, "exp", Func1, 6, "expl", Exp)                                 \
  X(46, icImag, "imag", Complex, -1, "", _)                                  \
  X(47, icLn, "ln", Func1, 7, "logl", Ln)                                    \
  X(48, icLog, "log", Builtin2, 21, "", LogBase)                             \
  X(49, icLog10, "log10", Func1, 8, "log10l", Log10)                         \
  X(50, icPolar, "polar", Complex, -1, "", _)                                \
  X(51, icPow, "pow", Func2, 18, "powl", Pow)                                \
  X(52, icReal, "real", Complex, -1, "", _)                                  \
  X(53, icSin, "sin", Func1, 9, "sinl", Sin)                                 \
  X(54, icSinh, "sinh", Func1, 10, "sinhl", Sinh)                            \
  X(55, icSqrt, "sqrt", Func1, 11, "sqrtl", Sqrt)                            \
  X(56, icTan, "tan", Func1, 12, "tanl", Tan)                                \
  X(57, icTanh, "tanh", Func1, 13, "tanhl", Tanh)                            \
  X(58, icCeil, "ceil", Func1, 14, "ceill", Ceil)                            \
  X(59, icFloor, "floor", Func1, 15, "floorl", Floor)                        \
  X(60, icMod, "mod", Func2, 19, "fmodl", Mod)                               \
  X(61, icRandom, "random", Builtin1, 16, "random", Random)                  \
  X(62, icCall, "", Invalid, -1, "", _)                                      \
  X(63, icInvalid, "", Invalid, -1, "", _)

enum TIntercodeCode : std::uint8_t {
#define VELMORA_OPCODE_ENUM(value, name, ...) name = value,
  VELMORA_OPCODES(VELMORA_OPCODE_ENUM)
#undef VELMORA_OPCODE_ENUM
};

// Opcode values lie below this; tables by opcode have this many rows (the
// executor's step codes are opcode * 8 + variant).
inline constexpr int OpcodeSpace = 64;
#define VELMORA_OPCODE_IN_SPACE(value, name, ...) static_assert(value < OpcodeSpace, #name " is outside the opcode space");
VELMORA_OPCODES(VELMORA_OPCODE_IN_SPACE)
#undef VELMORA_OPCODE_IN_SPACE

// What an instruction does with its operands, and how it is translated.
struct TOpcodeShape {
  std::int8_t Operands = -1;   // operands of the executable instruction; -1: it becomes none
  std::int8_t FirstRead = 1;   // the first operand read
  std::int8_t ReadCount = 0;   // how many are read from FirstRead on
  bool Writes = false;         // operand 0 receives the result
  std::int8_t Arguments = -1;  // a call's argument count as the parser gives it; -1 no call
  bool CallsOut = false;       // the machine code calls a function for it
  bool Inline = false;         // the executor's case and the machine code are written out by hand
  const char *Refusal = nullptr;  // the translator refuses it with this message
};

namespace opcode_shapes {
// clang-format off
inline constexpr TOpcodeShape Meta{};      // declarations and bindings: resolved while translating
inline constexpr TOpcodeShape Result{1, 0, 1, false, -1, false, true};
inline constexpr TOpcodeShape Move{2, 1, 1, true, -1, false, true};
inline constexpr TOpcodeShape Arith{3, 1, 2, true, -1, false, true};
inline constexpr TOpcodeShape Update{1, 0, 1, true, -1, false, true};
inline constexpr TOpcodeShape Func1{2, 1, 1, true, 1, true, false};
inline constexpr TOpcodeShape Func2{3, 1, 2, true, 2, true, false};
inline constexpr TOpcodeShape Builtin0{0, 1, 0, false, 0, true, true};
inline constexpr TOpcodeShape Builtin1{2, 1, 1, true, 1, true, true};
inline constexpr TOpcodeShape Builtin2{3, 1, 2, true, 2, true, true};
inline constexpr TOpcodeShape Logic{-1, 1, 0, false, -1, false, false, "論理演算は使用できない"};
inline constexpr TOpcodeShape Remainder{-1, 1, 0, false, -1, false, false, "演算子%は使用できない"};
inline constexpr TOpcodeShape Complex{-1, 1, 0, false, -1, false, false, "関数(arg, conj, imag, real, polar)は使用できない"};
inline constexpr TOpcodeShape Invalid{-1, 1, 0, false, -1, false, false, "式の文法エラー."};
// clang-format on
}  // namespace opcode_shapes

struct TOpcodeInfo {
  const char *Name = "";     // "icAdd"; "" for an unused value
  const char *Formula = "";  // the inner function's name in a formula
  TOpcodeShape Shape = opcode_shapes::Invalid;
  std::int8_t Record = -1;   // math error record number
  const char *Library = "";  // the math library's name for its faults
};

namespace opcode_detail {
struct TTable {
  TOpcodeInfo Rows[OpcodeSpace];
  constexpr TTable() {
#define VELMORA_OPCODE_ROW(value, name, formula, shape, record, library, fn) \
  Rows[value] = TOpcodeInfo{#name, formula, opcode_shapes::shape, record, library};
    VELMORA_OPCODES(VELMORA_OPCODE_ROW)
#undef VELMORA_OPCODE_ROW
  }
};
inline constexpr TTable Table{};
inline constexpr TOpcodeInfo Unused{};
}  // namespace opcode_detail

// The row of an opcode value (values without an opcode read as invalid, with no name).
constexpr const TOpcodeInfo &OpcodeInfo(int code) {
  return code >= 0 && code < OpcodeSpace ? opcode_detail::Table.Rows[code] : opcode_detail::Unused;
}
constexpr const TOpcodeShape &ShapeOf(int code) { return OpcodeInfo(code).Shape; }

// ++, -- and the end read operand 0; the others read from operand 1 on.
constexpr bool ReadsOperand0(int opcode) { return ShapeOf(opcode).FirstRead == 0; }
constexpr bool WritesOperand0(int opcode) { return ShapeOf(opcode).Writes; }
constexpr int FirstRead(int opcode) { return ShapeOf(opcode).FirstRead; }
constexpr int ReadCount(int opcode) { return ShapeOf(opcode).ReadCount; }
// Whether the machine code calls out for it (and so empties the register stack).
constexpr bool CallsOut(int opcode) { return ShapeOf(opcode).CallsOut; }

// The step variants (see TArithmeticUnit::TExpression::TStep) the executor
// has a case for: +1 operand 1 (or 0) from the register, +2 operand 2 from
// it, +4 the result not stored.
constexpr bool HasVariant(int opcode, int variant) {
  const TOpcodeShape &s = ShapeOf(opcode);
  if (s.Operands < 0) return false;
  if ((variant & 1) && s.ReadCount < 1) return false;
  if ((variant & 2) && s.ReadCount < 2) return false;
  if ((variant & 4) && !s.Writes) return false;
  return true;
}

// The row of the function with a math error record number, or null.
constexpr const TOpcodeInfo *RecordRow(int record) {
  if (record < 0) return nullptr;
  for (const TOpcodeInfo &row : opcode_detail::Table.Rows)
    if (row.Record == record) return &row;
  return nullptr;
}

namespace opcode_detail {
constexpr bool RecordsNumberedOnce() {
  for (const TOpcodeInfo &row : Table.Rows) {
    if (row.Record < 0) continue;
    if (RecordRow(row.Record) != &row) return false;
  }
  return true;
}
constexpr bool ShapesAgree() {
  for (const TOpcodeInfo &row : Table.Rows) {
    const TOpcodeShape &s = row.Shape;
    if (s.Operands >= 0 && s.ReadCount > 0 && s.FirstRead + s.ReadCount > s.Operands) return false;
    if (s.Writes && s.Operands < 1) return false;
    // Calls are made by name; their arguments are read from operand 1 on.
    if (s.Arguments >= 0 && row.Formula[0] == '\0') return false;
    if (s.Arguments >= 0 && s.Operands >= 0 && s.Arguments != s.ReadCount) return false;
    if (row.Record >= 0 && s.Arguments < 1) return false;
  }
  return true;
}
constexpr bool FormulaNamesInOrder() {
  // The parser numbers the inner functions from icRandomize on.
  for (int code = 0; code < OpcodeSpace; ++code) {
    const bool named = Table.Rows[code].Formula[0] != '\0';
    if (named != (code >= icRandomize && code <= icRandom)) return false;
  }
  return true;
}
}  // namespace opcode_detail

static_assert(opcode_detail::RecordsNumberedOnce(), "a math error record number belongs to one function");
static_assert(opcode_detail::ShapesAgree(), "an opcode's shape contradicts its row");
static_assert(opcode_detail::FormulaNamesInOrder(), "inner functions are the opcodes icRandomize .. icRandom");

}  // namespace velmora

#include "engine/NativeCode.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "engine/ArithmeticUnit.h"
#include "engine/CheckedMath.h"
#include "engine/MathErrorManager.h"
#include "engine/Random.h"

namespace velmora {

std::unique_ptr<TNativeCode> TNativeCode::Install(const std::uint8_t *code, std::size_t size) {
  if (!Supported || size == 0) return nullptr;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t rounded = (size + page - 1) / page * page;
  void *memory = mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  std::memcpy(memory, code, size);
  // Never writable and executable at once.
  if (mprotect(memory, rounded, PROT_READ | PROT_EXEC) != 0) {
    munmap(memory, rounded);
    return nullptr;
  }
  return std::unique_ptr<TNativeCode>(new TNativeCode(memory, rounded));
}

TNativeCode::~TNativeCode() { munmap(Memory, Size); }

// ---------------------------------------------------------------------------
// What the machine code calls for the instructions that can stop a run. It
// cannot stop by itself: it notes that the run must be replayed and goes on
// with a harmless value; the caller then undoes the run and lets the
// interpreter run it again, which stops at the right instruction.

long double TArithmeticUnit::NativeDivideByZero(TArithmeticUnit *unit, std::int32_t ip, long double dividend,
                                                long double divisor) {
  if (divisor != 0) return dividend / divisor;  // only zeros come here, but be sure
  if (!unit->MathErrorMode) {
    unit->NativeBailout = true;
    return 0;
  }
  TMathErrorManager &m = MathErrorManager();
  unit->InstructionIndex = ip;
  m.Add(TMathErrorManager::KindZeroDivision, TMathErrorManager::FunctionZeroDivision);
  return m.ZeroDivisionValue;
}

long double TArithmeticUnit::NativeLog(TArithmeticUnit *unit, std::int32_t ip, long double baseValue,
                                       long double value) {
  unit->InstructionIndex = ip;
  const long double base = checked::Ln(baseValue);
  if (base != 0) return checked::Ln(value) / base;
  if (!unit->MathErrorMode) {
    unit->NativeBailout = true;
    return 0;
  }
  TMathErrorManager &m = MathErrorManager();
  m.Arg1Pointer = &baseValue;
  m.Arg2Pointer = &value;
  m.Add(TMathErrorManager::KindDomain, TMathErrorManager::FunctionLogBase);
  m.Arg1Pointer = m.Arg2Pointer = nullptr;
  return m.DomainValue;
}

long double TArithmeticUnit::NativeRandom(TArithmeticUnit *unit, std::int32_t, long double v, long double) {
  if (!(std::fabs(v) < 0x1p63L)) {
    unit->NativeBailout = true;
    return 0;
  }
  const auto n = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(v)));
  return n == 0 ? 0.0L : static_cast<long double>(RandomGenerator().Draw() % n);
}

long double TArithmeticUnit::NativeRandomize(TArithmeticUnit *, std::int32_t, long double, long double) {
  RandomGenerator().Seed(static_cast<std::uint32_t>(std::time(nullptr)));
  return 0;
}

// ---------------------------------------------------------------------------
// The translation. Between instructions the x87 stack holds nothing, or the
// previous instruction's result in st(0) when the next one reads it (the
// step's variant bits say which operands are that result). The frame keeps
// 32 bytes for the long double arguments of calls, which go in memory.

namespace {

class TEmitter {
 public:
  std::vector<std::uint8_t> Code;

  void Bytes(std::initializer_list<std::uint8_t> bytes) { Code.insert(Code.end(), bytes); }
  void Imm32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) Code.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Imm64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) Code.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void RaxIs(const void *p) { Bytes({0x48, 0xB8}), Imm64(reinterpret_cast<std::uintptr_t>(p)); }  // movabs rax, p
  void RdiIs(const void *p) { Bytes({0x48, 0xBF}), Imm64(reinterpret_cast<std::uintptr_t>(p)); }  // movabs rdi, p
  void EsiIs(std::int32_t v) { Bytes({0xBE}), Imm32(static_cast<std::uint32_t>(v)); }            // mov esi, v
  void Load(const long double *p) { RaxIs(p), Bytes({0xDB, 0x28}); }        // fld tbyte [rax]
  void StorePop(const long double *p) { RaxIs(p), Bytes({0xDB, 0x38}); }    // fstp tbyte [rax]
  void Duplicate() { Bytes({0xD9, 0xC0}); }                                  // fld st(0)
  void Pop() { Bytes({0xDD, 0xD8}); }                                        // fstp st(0)
  void Exchange() { Bytes({0xD9, 0xC9}); }                                   // fxch st(1)
  // st(1) := st(1) op st(0), pop: faddp, fsubp, fmulp, fdivp; and the
  // reversed forms st(1) := st(0) op st(1): fsubrp, fdivrp.
  void AddPop() { Bytes({0xDE, 0xC1}); }
  void SubPop() { Bytes({0xDE, 0xE9}); }
  void SubReversedPop() { Bytes({0xDE, 0xE1}); }
  void MulPop() { Bytes({0xDE, 0xC9}); }
  void DivPop() { Bytes({0xDE, 0xF9}); }
  void DivReversedPop() { Bytes({0xDE, 0xF1}); }
  void One() { Bytes({0xD9, 0xE8}); }     // fld1
  void Zero() { Bytes({0xD9, 0xEE}); }    // fldz
  void Negate() { Bytes({0xD9, 0xE0}); }  // fchs
  // Pops st(0) into the call argument at [rsp + offset] (offset 0 or 16).
  void ArgumentFromStack(int offset) {
    if (offset == 0) Bytes({0xDB, 0x3C, 0x24});
    else Bytes({0xDB, 0x7C, 0x24, static_cast<std::uint8_t>(offset)});
  }
  // Copies a value from memory into the call argument without the x87 unit.
  void ArgumentFromMemory(const long double *p, int offset) {
    const auto o = static_cast<std::uint8_t>(offset);
    RaxIs(p);
    Bytes({0x48, 0x8B, 0x08});                                   // mov rcx, [rax]
    Bytes({0x48, 0x89, 0x4C, 0x24, o});                          // mov [rsp+o], rcx
    Bytes({0x66, 0x8B, 0x48, 0x08});                             // mov cx, [rax+8]
    Bytes({0x66, 0x89, 0x4C, 0x24, static_cast<std::uint8_t>(o + 8)});  // mov [rsp+o+8], cx
  }
  void Call(const void *function) { RaxIs(function), Bytes({0xFF, 0xD0}); }  // call rax
  void SetIndex(std::int32_t *where, std::int32_t ip) {
    RaxIs(where);
    Bytes({0xC7, 0x00}), Imm32(static_cast<std::uint32_t>(ip));  // mov dword [rax], ip
  }
  void Prologue() { Bytes({0x48, 0x83, 0xEC, 0x28}); }            // sub rsp, 40
  void Return() { Bytes({0x48, 0x83, 0xC4, 0x28, 0xC3}); }        // add rsp, 40; ret
  // A forward jump whose distance is filled in later: returns where to patch.
  std::size_t Jump(std::uint8_t opcode) {
    Bytes({opcode, 0});
    return Code.size() - 1;
  }
  void Land(std::size_t patch) { Code[patch] = static_cast<std::uint8_t>(Code.size() - (patch + 1)); }
};

}  // namespace

bool TArithmeticUnit::CompileNative(TExpression &e) {
  e.Native.reset();
  if (!TNativeCode::Supported || !NativeCodeEnabled) return false;
  TEmitter out;
  out.Prologue();
  const std::size_t n = e.Steps.size();
  for (std::size_t i = 0; i < n; ++i) {
    const TExpression::TStep &step = e.Steps[i];
    const int opcode = step.Op / 8, v = step.Op % 8;
    const auto ip = static_cast<std::int32_t>(i);
    long double *const *p = step.P;
    // Whether the next instruction takes this one's result from the register.
    const bool keep = i + 1 < n && (e.Steps[i + 1].Op & 3) != 0;
    auto operand = [&](int k, bool inRegister) {
      if (!inRegister) out.Load(p[k]);
    };
    // The result is in st(0): store it where it goes, keep or drop it.
    auto finish = [&] {
      const bool store = !(v & 4);
      if (store && keep) out.Duplicate();
      if (store) out.StorePop(p[0]);
      else if (!keep) out.Pop();
    };
    // Operands 1 and 2 as st(1) and st(0), in that order.
    auto binary = [&] {
      switch (v & 3) {
        case 0: operand(1, false), operand(2, false); return false;
        case 1: operand(2, false); return false;  // st(1) is the previous result
        case 2: operand(1, false); return true;   // st(0) is operand 1: reversed
        default: out.Duplicate(); return false;
      }
    };
    // The call arguments of a function with `count` operands from operand 1 on.
    auto arguments = [&](int count) {
      const bool first = v & 1, second = count == 2 && (v & 2);
      if (first && second) out.Duplicate();
      if (first) out.ArgumentFromStack(0);
      if (second) out.ArgumentFromStack(16);
      if (!first) out.ArgumentFromMemory(p[1], 0);
      if (count == 2 && !second) out.ArgumentFromMemory(p[2], 16);
    };
    auto helper = [&](long double (*function)(TArithmeticUnit *, std::int32_t, long double, long double)) {
      out.RdiIs(this);
      out.EsiIs(ip);
      out.Call(reinterpret_cast<const void *>(function));
    };
    using F1 = long double (*)(long double);
    using F2 = long double (*)(long double, long double);
    F1 unary = nullptr;
    F2 twoArguments = nullptr;
    switch (opcode) {
      case icIncrement: case icDecrement:
        operand(0, v & 1);
        out.One();
        if (opcode == icIncrement) out.AddPop();
        else out.SubPop();
        finish();
        break;
      case icAssign:
        operand(1, v & 1);
        finish();
        break;
      case icNegate:
        operand(1, v & 1);
        out.Negate();
        finish();
        break;
      case icAdd: binary(), out.AddPop(), finish(); break;
      case icMultiply: binary(), out.MulPop(), finish(); break;
      case icSubtract:
        if (binary()) out.SubReversedPop();
        else out.SubPop();
        finish();
        break;
      case icDivide: {
        if (binary()) out.Exchange();  // dividend in st(1), divisor in st(0)
        out.Zero();
        out.Bytes({0xDF, 0xE9});  // fucomip st, st(1): compares and pops the zero; NaN is unordered
        const std::size_t notEqual = out.Jump(0x75), unordered = out.Jump(0x7A);
        out.ArgumentFromStack(16);
        out.ArgumentFromStack(0);
        helper(NativeDivideByZero);
        const std::size_t done = out.Jump(0xEB);
        out.Land(notEqual);
        out.Land(unordered);
        out.DivPop();
        out.Land(done);
        finish();
        break;
      }
      case icRandomize:
        helper(NativeRandomize);
        out.Pop();
        break;
      case icRandom: arguments(1), helper(NativeRandom), finish(); break;
      case icLog: arguments(2), helper(NativeLog), finish(); break;
      case icAsin: unary = checked::Asin; break;
      case icAcos: unary = checked::Acos; break;
      case icAtan: unary = checked::Atan; break;
      case icAbs: unary = checked::Abs; break;
      case icCos: unary = checked::Cos; break;
      case icCosh: unary = checked::Cosh; break;
      case icExp: unary = checked::Exp; break;
      case icLn: unary = checked::Ln; break;
      case icLog10: unary = checked::Log10; break;
      case icSin: unary = checked::Sin; break;
      case icSinh: unary = checked::Sinh; break;
      case icSqrt: unary = checked::Sqrt; break;
      case icTan: unary = checked::Tan; break;
      case icTanh: unary = checked::Tanh; break;
      case icCeil: unary = checked::Ceil; break;
      case icFloor: unary = checked::Floor; break;
      case icAtan2: twoArguments = checked::Atan2; break;
      case icPow: twoArguments = checked::Pow; break;
      case icMod: twoArguments = checked::Mod; break;
      case icEnd:
        operand(0, v & 1);
        out.Return();
        e.Native = TNativeCode::Install(out.Code.data(), out.Code.size());
        return e.Native != nullptr;
      default:
        return false;  // the interpreter reports it
    }
    if (unary || twoArguments) {
      arguments(unary ? 1 : 2);
      out.SetIndex(&InstructionIndex, ip);
      out.Call(unary ? reinterpret_cast<const void *>(unary) : reinterpret_cast<const void *>(twoArguments));
      finish();
    }
  }
  return false;  // no end instruction
}

}  // namespace velmora

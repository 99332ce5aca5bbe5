#include "engine/NativeCode.h"

#include <cmath>
#include <array>
#include <functional>
#include <cstring>
#include <unordered_map>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "engine/ArithmeticUnit.h"
#include "engine/CheckedMath.h"
#include "engine/InstructionShape.h"
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
  std::int32_t n = 0;
  if (!RandomBound(v, n)) {
    unit->NativeBailout = true;
    return 0;
  }
  return n == 0 ? 0.0L : static_cast<long double>(RandomGenerator().Draw() % n);
}

long double TArithmeticUnit::NativeRandomize(TArithmeticUnit *, std::int32_t, long double, long double) {
  RandomGenerator().Seed(static_cast<std::uint32_t>(std::time(nullptr)));
  return 0;
}

// ---------------------------------------------------------------------------
// The translation. The x87 registers form a stack of eight; the translator
// keeps a picture of what each holds (a temporary, a copy of a variable, or a
// value nobody needs any more) so that temporaries live in registers instead
// of memory and a variable read twice is loaded once. Variables are always
// written through to memory. Calls need an empty register stack: before one,
// the temporaries still needed go to their memory. The frame keeps 32 bytes
// for the long double arguments of calls, which go in memory.

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
  void Load(const long double *p) { RaxIs(p), Bytes({0xDB, 0x28}); }      // fld tbyte [rax]
  void StorePop(const long double *p) { RaxIs(p), Bytes({0xDB, 0x38}); }  // fstp tbyte [rax]
  static std::uint8_t R(int i) { return static_cast<std::uint8_t>(i); }
  void Copy(int i) { Bytes({0xD9, R(0xC0 + i)}); }           // fld st(i)
  void PopInto(int i) { Bytes({0xDD, R(0xD8 + i)}); }        // fstp st(i): st(i) := st(0), pop
  void Exchange(int i) { Bytes({0xD9, R(0xC8 + i)}); }       // fxch st(i)
  void One() { Bytes({0xD9, 0xE8}); }                        // fld1
  void Zero() { Bytes({0xD9, 0xEE}); }                       // fldz
  void Negate() { Bytes({0xD9, 0xE0}); }                     // fchs
  void CompareWithPop(int i) { Bytes({0xDF, R(0xE8 + i)}); }  // fucomip st, st(i)
  // st(0) := st(0) op st(i), for add, mul, sub, div (D8 group).
  void OpWith(int opcode, int i) {
    const int base = opcode == icAdd ? 0xC0 : opcode == icMultiply ? 0xC8 : opcode == icSubtract ? 0xE0 : 0xF0;
    Bytes({0xD8, R(base + i)});
  }
  // st(1) := st(1) op st(0), pop (DE group: faddp, fmulp, fsubp, fdivp).
  void OpPop(int opcode) {
    const int code = opcode == icAdd ? 0xC1 : opcode == icMultiply ? 0xC9 : opcode == icSubtract ? 0xE9 : 0xF9;
    Bytes({0xDE, R(code)});
  }
  // Pops st(0) into the call argument at [rsp + offset] (offset 0 or 16).
  void ArgumentFromStack(int offset) {
    if (offset == 0) Bytes({0xDB, 0x3C, 0x24});
    else Bytes({0xDB, 0x7C, 0x24, static_cast<std::uint8_t>(offset)});
  }
  // Copies a value from memory into the call argument without the x87 unit.
  void ArgumentFromMemory(const long double *p, int offset) {
    const auto o = static_cast<std::uint8_t>(offset);
    RaxIs(p);
    Bytes({0x48, 0x8B, 0x08});                                          // mov rcx, [rax]
    Bytes({0x48, 0x89, 0x4C, 0x24, o});                                 // mov [rsp+o], rcx
    Bytes({0x66, 0x8B, 0x48, 0x08});                                    // mov cx, [rax+8]
    Bytes({0x66, 0x89, 0x4C, 0x24, static_cast<std::uint8_t>(o + 8)});  // mov [rsp+o+8], cx
  }
  void Call(const void *function) { RaxIs(function), Bytes({0xFF, 0xD0}); }  // call rax
  void SetIndex(std::int32_t *where, std::int32_t ip) {
    RaxIs(where);
    Bytes({0xC7, 0x00}), Imm32(static_cast<std::uint32_t>(ip));  // mov dword [rax], ip
  }
  void SetFlag(bool *where) { RaxIs(where), Bytes({0xC6, 0x00, 0x01}); }  // mov byte [rax], 1
  void Prologue() { Bytes({0x48, 0x83, 0xEC, 0x28}); }                    // sub rsp, 40
  void Return() { Bytes({0x48, 0x83, 0xC4, 0x28, 0xC3}); }                // add rsp, 40; ret
  // A short forward jump whose distance is filled in by Land.
  std::size_t Jump(std::uint8_t opcode) {
    Bytes({opcode, 0});
    return Code.size() - 1;
  }
  void Land(std::size_t patch) { Code[patch] = static_cast<std::uint8_t>(Code.size() - (patch + 1)); }

  // Constants live after the code and are loaded relative to the instruction
  // pointer, in the shortest format that holds them exactly (as a compiler
  // does): a float or double load is one simple operation, an 80-bit one is not.
  void LoadConstant(long double v) {
    const float f = static_cast<float>(v);
    const double d = static_cast<double>(v);
    unsigned char bytes[10];
    std::size_t size;
    if (f == v && std::fpclassify(f) == FP_NORMAL) {
      Bytes({0xD9, 0x05});  // fld dword [rip + disp32]
      std::memcpy(bytes, &f, size = 4);
    } else if (d == v && std::fpclassify(d) == FP_NORMAL) {
      Bytes({0xDD, 0x05});  // fld qword [rip + disp32]
      std::memcpy(bytes, &d, size = 8);
    } else {
      Bytes({0xDB, 0x2D});  // fld tbyte [rip + disp32]
      std::memcpy(bytes, &v, size = 10);
    }
    while (Pool.size() % 16 != 0) Pool.push_back(0);
    Fixups.push_back({Code.size(), Pool.size()});
    Imm32(0);
    Pool.insert(Pool.end(), bytes, bytes + size);
  }
  // Appends the constants and points the loads at them.
  void Finish() {
    while (Code.size() % 16 != 0) Code.push_back(0xCC);
    const std::size_t pool = Code.size();
    Code.insert(Code.end(), Pool.begin(), Pool.end());
    for (const auto &[at, offset] : Fixups) {
      const auto disp = static_cast<std::uint32_t>(static_cast<std::int64_t>(pool + offset) - static_cast<std::int64_t>(at + 4));
      for (int i = 0; i < 4; ++i) Code[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(disp >> (8 * i));
    }
  }

 private:
  std::vector<std::uint8_t> Pool;
  std::vector<std::pair<std::size_t, std::size_t>> Fixups;
};

bool Calls(int opcode) {
  switch (opcode) {
    case icIncrement: case icDecrement: case icEnd: case icAssign: case icNegate: case icAdd: case icSubtract:
    case icMultiply: case icDivide:
      return false;
    default: return true;
  }
}

// A place a value can come from: a work register or a variable.
struct TPlace {
  int Area = -1;  // 0 work register, 1 variable, -1 none (an immediate, or nothing)
  std::int32_t Index = 0;
  bool operator==(const TPlace &o) const { return Area == o.Area && Index == o.Index; }
};

TPlace PlaceOf(const TArithmeticUnit::TOperand &o) {
  TPlace p;
  if (o.Mode == 1) p.Area = o.Area, p.Index = o.Index;
  return p;
}

// The register stack as the translator sees it; Stack.back() is st(0).
class TRegisters {
 public:
  struct TEntry {
    TPlace Place;  // Area -1: a value that is not needed any more
  };
  std::vector<TEntry> Stack;
  TEmitter &Out;
  std::vector<long double> &Work;

  TRegisters(TEmitter &out, std::vector<long double> &work) : Out(out), Work(work) {}

  int Depth(std::size_t position) const { return static_cast<int>(Stack.size() - 1 - position); }
  // The register holding the value of a place, or -1.
  int Find(const TPlace &place) const {
    if (place.Area < 0) return -1;
    for (std::size_t i = Stack.size(); i-- > 0;)
      if (Stack[i].Place == place) return Depth(i);
    return -1;
  }
  std::size_t Position(int depth) const { return Stack.size() - 1 - static_cast<std::size_t>(depth); }
  void Push(TPlace place = {}) { Stack.push_back({place}); }
  // Forgets the register copy of a place (its value changes, or nobody needs it).
  void Forget(const TPlace &place) {
    for (TEntry &e : Stack)
      if (e.Place == place) e.Place = {};
  }
  // Removes the register at `depth`, storing it first when it is a temporary.
  void Remove(int depth) {
    TEntry &e = Stack[Position(depth)];
    if (e.Place.Area == 0) {
      if (depth > 0) {
        Out.Exchange(depth);
        std::swap(Stack[Position(depth)], Stack.back());
      }
      Out.StorePop(&Work[static_cast<std::size_t>(Stack.back().Place.Index)]);
      Stack.pop_back();
      return;
    }
    Out.PopInto(depth);  // st(depth) := st(0), pop: the top takes its place
    if (depth > 0) Stack[Position(depth)] = Stack.back();
    Stack.pop_back();
  }
  // Drops values nobody needs from the top, and makes room for an instruction.
  // How many instructions until a place is read next (large: never).
  std::function<std::size_t(const TPlace &)> NextRead;

  void Tidy(std::size_t limit) {
    while (!Stack.empty() && Stack.back().Place.Area < 0) Remove(0);
    while (Stack.size() > limit) {
      // The one needed last goes (unneeded values first); on a tie a
      // variable's copy, which needs no store.
      std::size_t best = 0, bestDistance = 0;
      bool bestIsTemporary = true;
      for (std::size_t i = 0; i < Stack.size(); ++i) {
        const TPlace &place = Stack[i].Place;
        const std::size_t distance = place.Area < 0 ? SIZE_MAX : NextRead(place);
        const bool temporary = place.Area == 0;
        if (i == 0 || distance > bestDistance || (distance == bestDistance && bestIsTemporary && !temporary)) {
          best = i, bestDistance = distance, bestIsTemporary = temporary;
        }
      }
      Remove(Depth(best));
    }
  }
  // Empties the stack; temporaries still needed go to memory.
  void Flush() {
    while (!Stack.empty()) Remove(0);
  }
};

// Loads an operand from memory onto the stack; 0 and 1 need no memory.
void LoadOperand(TEmitter &out, const TArithmeticUnit::TOperand &o, const long double *p) {
  if (o.Mode != 0) out.Load(p);
  else if (o.Value == 0 && !std::signbit(o.Value)) out.Zero();
  else if (o.Value == 1) out.One();
  else out.LoadConstant(o.Value);
}

}  // namespace

bool TArithmeticUnit::CompileNative(TExpression &e) {
  e.Native.reset();
  if (!TNativeCode::Supported || !NativeCodeEnabled) return false;
  const std::size_t n = e.Code.size();
  if (n == 0 || n != e.Steps.size()) return false;

  // Backwards: for each read, whether the place is read again before it is
  // written (variables: also before the next call, which empties the
  // registers); for each write, whether the value is read afterwards.
  std::vector<std::array<bool, 3>> readAgain(n, {false, false, false});
  std::vector<bool> writtenValueUsed(n, false);
  {
    std::vector<char> workRead(static_cast<std::size_t>(WorkCapacity), 0);
    std::unordered_map<std::int32_t, char> variableRead;
    auto readLater = [&](const TPlace &place) -> char * {
      if (place.Area == 0) return &workRead[static_cast<std::size_t>(place.Index)];
      if (place.Area == 1) return &variableRead[place.Index];
      return nullptr;
    };
    for (std::size_t i = n; i-- > 0;) {
      const TInstruction &ins = e.Code[i];
      const int opcode = ins.Opcode;
      if (Calls(opcode)) variableRead.clear();
      if (WritesOperand0(opcode)) {
        if (char *later = readLater(PlaceOf(ins.Operands[0]))) {
          writtenValueUsed[i] = *later != 0;
          *later = 0;
        }
      }
      const int first = FirstRead(opcode), last = first + ReadCount(opcode);
      for (int k = first; k < last; ++k) {
        const char *later = readLater(PlaceOf(ins.Operands[k]));
        readAgain[i][static_cast<std::size_t>(k)] = later && *later;
      }
      for (int k = first; k < last; ++k) {
        if (char *later = readLater(PlaceOf(ins.Operands[k]))) *later = 1;
      }
    }
  }

  TEmitter out;
  TRegisters regs(out, Work);
  out.Prologue();
  for (std::size_t i = 0; i < n; ++i) {
    const TInstruction &ins = e.Code[i];
    const int opcode = ins.Opcode;
    long double *const *p = e.Steps[i].P;
    const auto ip = static_cast<std::int32_t>(i);
    const TPlace dest = PlaceOf(ins.Operands[0]);
    // Room for what this instruction pushes: up to two for its first operand
    // (a variable's copy stays), one for the second, one for a zero test.
    std::size_t pushes = 2;
    if (opcode == icIncrement || opcode == icDecrement) pushes = 3;
    if (opcode == icAdd || opcode == icSubtract || opcode == icMultiply) pushes = 3;
    if (opcode == icDivide) pushes = 4;
    regs.NextRead = [&, i](const TPlace &place) -> std::size_t {
      for (std::size_t j = i; j < n && j < i + 512; ++j) {
        const TInstruction &next = e.Code[j];
        const int first = FirstRead(next.Opcode), last = first + ReadCount(next.Opcode);
        for (int k = first; k < last; ++k)
          if (PlaceOf(next.Operands[k]) == place) return j - i;
        if (WritesOperand0(next.Opcode) && PlaceOf(next.Operands[0]) == place) break;
        if (place.Area == 1 && Calls(next.Opcode)) break;
      }
      return SIZE_MAX / 2;
    };
    regs.Tidy(8 - pushes);

    // Puts operand k on top as a value of its own: a copy of its register,
    // the register itself when this is a temporary's last use (`mayTake`),
    // or a load, keeping a copy below when a variable is read again soon.
    auto fetch = [&](int k, bool mayTake) {
      const TOperand &o = ins.Operands[k];
      const TPlace place = PlaceOf(o);
      const bool again = readAgain[i][static_cast<std::size_t>(k)];
      const int depth = regs.Find(place);
      if (depth >= 0) {
        if (mayTake && place.Area == 0 && !again) {
          if (depth > 0) {
            out.Exchange(depth);
            std::swap(regs.Stack[regs.Position(depth)], regs.Stack.back());
          }
          regs.Stack.back().Place = {};
          return;
        }
        out.Copy(depth);
        regs.Push();
        return;
      }
      LoadOperand(out, o, p[k]);
      const bool keepCopy = place.Area == 1 && again;
      regs.Push(keepCopy ? place : TPlace{});
      if (keepCopy) {
        out.Copy(0);
        regs.Push();
      }
    };
    // The value on top is the instruction's result: give it to operand 0.
    auto deliver = [&] {
      regs.Forget(dest);  // older copies are stale now
      const bool used = writtenValueUsed[i];
      if (dest.Area == 1) {  // variables are written through
        if (used) out.Copy(0), regs.Push();
        out.StorePop(p[0]);
        regs.Stack.pop_back();
        if (used) regs.Stack.back().Place = dest;
        return;
      }
      regs.Stack.back().Place = dest.Area == 0 && used ? dest : TPlace{};
    };
    // A read that was a temporary's last use frees its register.
    auto release = [&](int k) {
      const TPlace place = PlaceOf(ins.Operands[k]);
      if (place.Area == 0 && !readAgain[i][static_cast<std::size_t>(k)]) regs.Forget(place);
    };
    // A zero divisor (in st(depth)) is reported by the interpreter: note it and go on.
    auto checkDivisor = [&](int depth) {
      const TOperand &divisor = ins.Operands[2];
      if (divisor.Mode == 0 && divisor.Value != 0) return;  // a constant: never zero
      out.Zero();
      out.CompareWithPop(depth + 1);
      const std::size_t notEqual = out.Jump(0x75), unordered = out.Jump(0x7A);
      out.SetFlag(&NativeBailout);
      out.Land(notEqual);
      out.Land(unordered);
    };
    // Call arguments from operand 1 on, then an empty register stack.
    auto arguments = [&](int count) {
      for (int k = 1; k <= count; ++k) {
        const int depth = regs.Find(PlaceOf(ins.Operands[k]));
        if (depth >= 0) {
          out.Copy(depth);
          out.ArgumentFromStack(16 * (k - 1));
        } else {
          out.ArgumentFromMemory(p[k], 16 * (k - 1));
        }
      }
      for (int k = 1; k <= count; ++k) release(k);
      regs.Flush();
    };
    auto helper = [&](long double (*function)(TArithmeticUnit *, std::int32_t, long double, long double)) {
      out.RdiIs(this);
      out.EsiIs(ip);
      out.Call(reinterpret_cast<const void *>(function));
      regs.Push();
    };
    using F1 = long double (*)(long double);
    using F2 = long double (*)(long double, long double);
    F1 unary = nullptr;
    F2 binaryFunction = nullptr;

    switch (opcode) {
      case icIncrement: case icDecrement:
        fetch(0, true);
        out.One();
        out.OpPop(opcode == icIncrement ? icAdd : icSubtract);
        deliver();
        break;
      case icAssign:
        fetch(1, true);
        deliver();
        break;
      case icNegate:
        fetch(1, true);
        out.Negate();
        deliver();
        break;
      case icAdd: case icSubtract: case icMultiply: case icDivide: {
        const TPlace second = PlaceOf(ins.Operands[2]);
        const bool same = second.Area >= 0 && second == PlaceOf(ins.Operands[1]);
        fetch(1, !same);  // st(0): operand 1, to become the result
        const int depth = regs.Find(second);
        if (depth >= 0) {
          if (opcode == icDivide) checkDivisor(depth);
          out.OpWith(opcode, depth);  // st(0) := st(0) op st(depth)
          release(2);
        } else if (same) {
          out.Copy(0);
          regs.Push();
          if (opcode == icDivide) checkDivisor(0);
          out.OpPop(opcode);
          regs.Stack.pop_back();
        } else {
          const TOperand &o = ins.Operands[2];
          LoadOperand(out, o, p[2]);
          if (opcode == icDivide) checkDivisor(0);
          if (second.Area == 1 && readAgain[i][2]) {
            // Keep the loaded variable: st(1) := st(1) op st(0), then swap.
            const int code = opcode == icAdd ? 0xC1 : opcode == icMultiply ? 0xC9 : opcode == icSubtract ? 0xE9 : 0xF9;
            out.Bytes({0xDC, static_cast<std::uint8_t>(code)});
            out.Exchange(1);
            regs.Stack.back().Place = second;  // below: the variable; on top: the result
            regs.Push();
          } else {
            out.OpPop(opcode);
          }
        }
        deliver();
        break;
      }
      case icRandomize:
        regs.Flush();
        helper(NativeRandomize);
        regs.Remove(0);
        break;
      case icRandom: arguments(1), helper(NativeRandom), deliver(); break;
      case icLog: arguments(2), helper(NativeLog), deliver(); break;
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
      case icAtan2: binaryFunction = checked::Atan2; break;
      case icPow: binaryFunction = checked::Pow; break;
      case icMod: binaryFunction = checked::Mod; break;
      case icEnd: {
        fetch(0, false);
        while (regs.Stack.size() > 1) {
          out.PopInto(1);  // st(1) := st(0), pop: the result stays on top
          regs.Stack.erase(regs.Stack.end() - 2);
        }
        out.Return();
        out.Finish();
        e.Native = TNativeCode::Install(out.Code.data(), out.Code.size());
        return e.Native != nullptr;
      }
      default:
        return false;  // the interpreter reports it
    }
    if (unary || binaryFunction) {
      arguments(unary ? 1 : 2);
      out.SetIndex(&InstructionIndex, ip);
      out.Call(unary ? reinterpret_cast<const void *>(unary) : reinterpret_cast<const void *>(binaryFunction));
      regs.Push();
      deliver();
    }
  }
  return false;  // no end instruction
}

}  // namespace velmora

#pragma once
// The x86-64 encodings the machine-code translator uses: x87 loads, stores and
// arithmetic, calls and their arguments, short jumps, and a pool of constants
// after the code.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "compiler/Opcodes.h"

namespace velmora {

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
  // st(1) := st(1) op st(0), no pop (DC group), for keeping st(0) below the result.
  void OpIntoBelow(int opcode) {
    const int code = opcode == icAdd ? 0xC1 : opcode == icMultiply ? 0xC9 : opcode == icSubtract ? 0xE9 : 0xF9;
    Bytes({0xDC, R(code)});
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
  void StorePopAtRax(int offset) { Bytes({0xDB, 0x78, static_cast<std::uint8_t>(offset)}); }  // fstp tbyte [rax+o]
  void LoadAtRax(int offset) { Bytes({0xDB, 0x68, static_cast<std::uint8_t>(offset)}); }      // fld tbyte [rax+o]
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

}  // namespace velmora

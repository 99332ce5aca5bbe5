// A formula line into a slot: scan, name the number literals as constants,
// parse into intermediate code, then translate that into executable
// instructions whose operands are immediates, work registers or variables.
#include <clocale>
#include <cmath>
#include <locale.h>
#include <new>
#include <stdlib.h>

#include "compiler/Opcodes.h"
#include "engine/AddressingManager.h"
#include "engine/ArithmeticUnit.h"
#include "text/AllocationFailed.h"

namespace velmora {

namespace {

constexpr const char *OutOfMemoryText = AllocationFailedText;
constexpr const char *AddressRefused = "アドレスに関する演算は行えない.";
constexpr const char *SyntaxError = "式の文法エラー.";
constexpr const char *ArgumentMismatch = "内部関数の引数が一致しない";

bool StartsWith(const std::string &s, const std::string &prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// Number tokens are plain ASCII; read them the same way whatever the user's locale.
long double ParseNumber(const std::string &token) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  // "1e+" and "2E-" count as exponent 0: strtold stops before the bare mark.
  return strtold_l(token.c_str(), nullptr, cLocale);
}

}  // namespace

struct TArithmeticUnit::TTranslation {
  std::string ConstPrefix;
  std::vector<long double> Constants;
  TAddressingManager *Bindings = nullptr;
  std::int32_t Declared = 0;
  bool EndSeen = false;

  // k of a constant name, or -1 when the rest is not a valid index.
  long ConstantIndex(const std::string &name) const {
    if (!StartsWith(name, ConstPrefix) || name.size() == ConstPrefix.size()) return -1;
    long k = 0;
    for (std::size_t i = ConstPrefix.size(); i < name.size(); ++i) {
      if (name[i] < '0' || name[i] > '9') return -1;
      k = k * 10 + (name[i] - '0');
      if (k >= static_cast<long>(Constants.size())) return -1;
    }
    return k;
  }
  // A name left unbound would later read as a variable of that name: a failed
  // binding (no room; names never repeat) ends the compilation.
  void Bind(const std::string &name, std::uint8_t kind, std::int32_t value) {
    if (!Bindings->Add(name, kind, value)) throw std::bad_alloc();
  }
};

bool TArithmeticUnit::SetExpression(int index, const std::string &text) {
  OutOfMemory = false;
  try {
    return Compile(index, text);
  } catch (const std::bad_alloc &) {
    OutOfMemory = true;
    ErrorMessage = OutOfMemoryText;
    if (index >= 0 && index < ExpressionCount) {
      TExpression &slot = Expressions[static_cast<std::size_t>(index)];
      slot.Code.clear();  // nothing half-translated runs
      slot.Steps.clear();
      slot.Native.reset();
    }
    return false;
  }
}

bool TArithmeticUnit::Compile(int index, const std::string &text) {
  Intercode.Clear();
  ErrorMessage.clear();
  if (index < 0 || index >= ExpressionCount) {
    ErrorMessage = "Invalid expression index is selected.";
    return false;
  }
  TExpression &slot = Expressions[static_cast<std::size_t>(index)];
  slot.Source = text;

  SlotSequenceCount = -1;  // the slot's code changes
  Scanner.Text = text;
  if (!Scanner.Tokenize()) {
    ErrorMessage = Scanner.ErrorMessage;
    OutOfMemory = Scanner.OutOfMemory;
    return false;
  }
  TStringList &tokens = *Scanner.Tokens;
  slot.Steps.clear();
  slot.StepsGeneration = 0;
  slot.Native.reset();
  if (tokens.empty()) {
    TInstruction end;
    end.Opcode = icEnd;  // operand 0: the immediate 0
    slot.Code.assign(1, end);
    return true;
  }

  TTranslation t;
  bool refused = false;
  const auto constant = [&](const std::string &token) {
    const long double value = ParseNumber(token);
    if (std::isinf(value)) {
      // The literal lies beyond the long double range; say so instead of
      // silently computing with infinity.
      ErrorMessage = "数値が大きすぎる: " + token;
      refused = true;
      return false;
    }
    t.Constants.push_back(value);
    return true;
  };
  std::int32_t block = 1;
  const bool compiled = Parser.CompileScanned(Scanner, Intercode, block, constant);
  t.ConstPrefix = Parser.TempPrefix + "_const";
  if (!compiled) {
    if (refused) return false;
    ErrorMessage = Parser.ErrorMessage;
    OutOfMemory = Parser.OutOfMemory;
    return false;
  }

  slot.Code.clear();
  TAddressingManager bindings(Parser.TempCount + 10, Parser.TempPrefix);
  t.Bindings = &bindings;
  bool ok = Translate(slot, t);
  if (ok && !t.EndSeen) {
    ErrorMessage = "数式が完結していない.";
    ok = false;
  }
  while (ok && t.Declared + 10 > WorkCapacity) {
    if (!GrowWork()) ok = false;
  }
  // A slot whose compilation failed holds no code: running it can never reach
  // half-translated instructions.
  if (!ok) {
    slot.Code.clear();
    return false;
  }
  slot.NoteWritten();
  return true;
}

bool TArithmeticUnit::StripAddress(const std::string &text, std::string &name) {
  if (text.empty() || text[0] != '&' || (text.size() > 1 && (text[1] == '&' || text[1] == '*'))) {
    ErrorMessage = AddressRefused;
    return false;
  }
  name = text.substr(1);
  return true;
}

bool TArithmeticUnit::ResolveOperand(const std::string &text, TOperand &operand, TTranslation &t) {
  std::string name;
  if (!StripAddress(text, name)) return false;
  const std::int32_t k = t.Bindings->Search(name);
  if (k >= 0) {
    const auto &id = t.Bindings->Identifiers[static_cast<std::size_t>(k)];
    if (id.Kind == TAddressingManager::KindConstant) {
      operand.Mode = 0;
      operand.Value = t.Constants[static_cast<std::size_t>(id.Value)];
    } else {
      operand.Mode = 1;
      operand.Area = id.Kind;
      operand.Index = id.Value;
    }
    return true;
  }
  if (StartsWith(name, t.ConstPrefix)) {
    const long c = t.ConstantIndex(name);
    if (c < 0) {
      ErrorMessage = SyntaxError;
      return false;
    }
    operand.Mode = 0;
    operand.Value = t.Constants[static_cast<std::size_t>(c)];
    return true;
  }
  const std::int32_t v = SearchVariable(name, true);
  if (!ErrorMessage.empty()) return false;
  operand.Mode = 1;
  operand.Area = 1;
  operand.Index = v;
  return true;
}

bool TArithmeticUnit::Translate(TExpression &slot, TTranslation &t) {
  const int n = Intercode.GetCount();
  // A long line's intermediate code is let go of as it is translated, unless
  // someone wants to read it afterwards: the two are never held whole at once.
  const bool release = !KeepIntercode && Intercode.Capacity > TQDIntercodeManager::InitialCapacity;
  struct TReleaseAtEnd {
    TQDIntercodeManager *Manager;
    ~TReleaseAtEnd() {
      if (Manager) Manager->Reset();
    }
  } releaseAtEnd{release ? &Intercode : nullptr};
  if (!release) {
    // Room for exactly the instructions that become code (declarations and
    // bindings become none).
    std::size_t produced = 0;
    for (int i = 0; i < n; ++i) {
      const std::uint8_t code = Intercode.Items[static_cast<std::size_t>(i)].Code;
      produced += code != icDeclare && code != icBegin && code != icBind;
    }
    slot.Code.reserve(produced);
  }
  for (int i = 0; i < n; ++i) {
    if (release && i > 0) Intercode.Items.pop_front();  // the one before is done
    TQDIntercode &c = Intercode.Items[release ? 0 : static_cast<std::size_t>(i)];
    if (!TranslateOne(c, slot, t)) return false;
  }
  return true;
}

bool TArithmeticUnit::TranslateOne(const TQDIntercode &c, TExpression &slot, TTranslation &t) {
  switch (c.Code) {
    case icDeclare:
      t.Bind(c.Operand1, TAddressingManager::KindWork, t.Declared);
      ++t.Declared;
      return true;
    case icBegin:
      return true;
    case icBind:
      return TranslateBind(c, t);
    case icEnd: {
      if (Parser.Tokens.size() != 1) return Fail("数式の処理に失敗した");
      // The result is the one token left; the stored code keeps its end as it was.
      TQDIntercode end = c;
      end.Operand1 = Parser.AddressOf(Parser.Tokens[0]);
      if (!Parser.ErrorMessage.empty()) {
        ErrorMessage = Parser.ErrorMessage;
        return false;
      }
      t.EndSeen = true;
      return Emit(end, 1, slot, t);
    }
    default:
      break;
  }
  // Everything else goes by the opcode table.
  const TOpcodeShape &shape = ShapeOf(c.Code);
  if (shape.Refusal || shape.Operands < 0) return Fail(shape.Refusal ? shape.Refusal : SyntaxError);
  if (shape.Arguments >= 0 && c.ArgCount != shape.Arguments) return Fail(ArgumentMismatch);
  return Emit(c, shape.Operands, slot, t);
}

bool TArithmeticUnit::Emit(const TQDIntercode &c, int operands, TExpression &slot, TTranslation &t) {
  TInstruction ins;
  ins.Opcode = c.Code;
  const std::string *texts[3] = {&c.Operand1, &c.Operand2, &c.Operand3};
  for (int k = 0; k < operands; ++k) {
    if (!ResolveOperand(*texts[k], ins.Operands[k], t)) return false;
  }
  slot.Code.push_back(ins);
  return true;
}

bool TArithmeticUnit::TranslateBind(const TQDIntercode &c, TTranslation &t) {
  std::string target;
  if (!StripAddress(c.Operand2, target)) return false;
  const std::int32_t k = t.Bindings->Search(target);
  if (k >= 0) {
    const auto id = t.Bindings->Identifiers[static_cast<std::size_t>(k)];
    t.Bind(c.Operand1, id.Kind, id.Value);
  } else if (StartsWith(target, t.ConstPrefix)) {
    const long constant = t.ConstantIndex(target);
    if (constant < 0) return Fail(SyntaxError);
    t.Bind(c.Operand1, TAddressingManager::KindConstant, static_cast<std::int32_t>(constant));
  } else {
    const std::int32_t v = SearchVariable(target, true);
    if (!ErrorMessage.empty()) return false;
    t.Bind(c.Operand1, TAddressingManager::KindVariable, v);
  }
  return true;
}

}  // namespace velmora

#include "engine/ReusePlan.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

#include "compiler/Opcodes.h"
#include "engine/Float80.h"

namespace velmora {

namespace {

// What a value can change with: nothing, the column (x), the row (y), or the
// pixel. Joining two is or-ing their bits.
// A value of a class is computed by the plan's program of the same number.
enum TClass : std::uint8_t {
  Constant = TReusePlan::Once,
  WithX = TReusePlan::PerColumn,
  WithY = TReusePlan::PerRow,
  WithPixel = TReusePlan::PerPixel
};
static_assert(Constant == 0 && (WithX | WithY) == WithPixel, "joining classes is or-ing their bits");

struct TNode {
  std::uint8_t Opcode = 0;  // 0: a leaf
  std::int32_t A = -1, B = -1;
  std::uint8_t Class = Constant;
  bool Immediate = false;
  long double Value = 0;  // an immediate's value, or a variable's at the start
  bool HasValue = false;  // a leaf that starts with Value in its cell
  std::int32_t Cell = -1;
  std::int32_t Work = -1;
  bool ReadPerPixel = false;  // a per-pixel operation reads it
  std::int32_t RowSlot = -1;  // its place in a row of the row table
};

class TBuilder {
 public:
  TBuilder(const TArithmeticUnit &engine, int count, const TPaintVariables &names, bool rows)
      : Engine(engine), Names(names), Rows(rows),
        WorkValue(static_cast<std::size_t>(engine.WorkCapacity), -1),
        WrittenBySlots(static_cast<std::size_t>(engine.VariableCount), 0) {
    for (int k = 0; k < count; ++k) {
      for (const TArithmeticUnit::TInstruction &ins : engine.Expressions[static_cast<std::size_t>(k)].Code) {
        const TArithmeticUnit::TOperand &o = ins.Operands[0];
        if (WritesOperand0(ins.Opcode) && o.Mode == 1 && o.Area == 1 && o.Index >= 0 && o.Index < engine.VariableCount)
          WrittenBySlots[static_cast<std::size_t>(o.Index)] = 1;
      }
    }
  }

  bool Take(const TArithmeticUnit::TInstruction &ins);
  bool Finish(TReusePlan &plan);

 private:
  const TArithmeticUnit &Engine;
  const TPaintVariables &Names;
  const bool Rows;
  std::vector<TNode> Nodes;
  std::vector<std::int32_t> WorkValue;                    // work register -> value, -1 unset
  std::unordered_map<std::int32_t, std::int32_t> VariableValue;  // variable -> value
  std::vector<std::uint8_t> WrittenBySlots;
  std::map<std::pair<std::uint64_t, std::uint16_t>, std::int32_t> Immediates;  // by their bits
  std::unordered_map<std::uint64_t, std::int32_t> Operations;  // by opcode and operands
  std::int32_t Merged = 0;
  std::int32_t XLeaf = -1, YLeaf = -1, OldColourLeaf[3] = {-1, -1, -1};

  std::int32_t Add(TNode node) {
    if (Nodes.size() >= static_cast<std::size_t>(MaxPlannedValues)) return -1;
    Nodes.push_back(node);
    return static_cast<std::int32_t>(Nodes.size() - 1);
  }
  std::int32_t ImmediateValue(long double value);
  std::int32_t VariableLeaf(std::int32_t index);
  std::int32_t Read(const TArithmeticUnit::TOperand &o);
  std::int32_t Operation(std::uint8_t opcode, std::int32_t a, std::int32_t b);
  bool Write(const TArithmeticUnit::TOperand &o, std::int32_t value);
  TArithmeticUnit::TOperand OperandOf(std::int32_t node) const;

  // The passes of Finish, in order.
  std::int32_t Cells = 0;
  std::int32_t Channels[3] = {-1, -1, -1};  // the values of r, g and b after the slots
  std::int32_t CellOf(std::int32_t node);
  bool IsChannel(std::size_t node) const;
  bool PlaceInputs(TReusePlan &plan);
  void PlaceCells();
  void PlaceWork(TReusePlan &plan);
  void WritePrograms(TReusePlan &plan) const;
};

std::int32_t TBuilder::ImmediateValue(long double value) {
  // Equal values with other bits (0 and -0) are other values.
  const TFloat80Bits bits = Float80Bits(value);
  const std::uint64_t low = bits.Significand;
  const std::uint16_t high = bits.SignExponent;
  const auto found = Immediates.find({low, high});
  if (found != Immediates.end()) return found->second;
  TNode n;
  n.Immediate = true;
  n.Value = value;
  const std::int32_t id = Add(n);
  if (id >= 0) Immediates.emplace(std::make_pair(low, high), id);
  return id;
}

// A variable read before any slot wrote it: a paint input, or a value that
// stays the same for the whole paint.
std::int32_t TBuilder::VariableLeaf(std::int32_t index) {
  TNode n;
  std::int32_t *input = nullptr;  // where the leaf of a paint input is noted
  if (index == Names.X) {
    n.Class = WithX;
    input = &XLeaf;
  } else if (index == Names.Y) {
    n.Class = Rows ? WithY : WithPixel;
    input = &YLeaf;
  } else {
    for (int c = 0; c < 3; ++c) {
      if (index == Names.OldColour[c]) n.Class = WithPixel, input = &OldColourLeaf[c];
    }
  }
  if (!input) {
    // A variable the slots write must be written before it is read.
    if (WrittenBySlots[static_cast<std::size_t>(index)]) return -1;
    n.HasValue = true;
    n.Value = Engine.Variables[static_cast<std::size_t>(index)].Value;
  }
  const std::int32_t id = Add(n);
  if (id >= 0) VariableValue[index] = id;
  if (input) *input = id;
  return id;
}

std::int32_t TBuilder::Read(const TArithmeticUnit::TOperand &o) {
  if (o.Mode == 0) return ImmediateValue(o.Value);
  if (o.Area == 0) {
    // Temporaries are written before they are read, within the same run.
    if (o.Index < 0 || o.Index >= static_cast<std::int32_t>(WorkValue.size())) return -1;
    return WorkValue[static_cast<std::size_t>(o.Index)];
  }
  if (o.Index < 0 || o.Index >= Engine.VariableCount) return -1;
  const auto found = VariableValue.find(o.Index);
  return found != VariableValue.end() ? found->second : VariableLeaf(o.Index);
}

std::int32_t TBuilder::Operation(std::uint8_t opcode, std::int32_t a, std::int32_t b) {
  if (a < 0 || (b < 0 && ReadCount(opcode) == 2)) return -1;
  const std::uint64_t key = static_cast<std::uint64_t>(opcode) << 56 | static_cast<std::uint64_t>(a) << 28 |
                            static_cast<std::uint64_t>(b + 1);
  const auto found = Operations.find(key);
  if (found != Operations.end()) {
    ++Merged;
    return found->second;
  }
  TNode n;
  n.Opcode = opcode;
  n.A = a;
  n.B = b;
  n.Class = Nodes[static_cast<std::size_t>(a)].Class;
  if (b >= 0) n.Class |= Nodes[static_cast<std::size_t>(b)].Class;
  const std::int32_t id = Add(n);
  if (id >= 0) Operations.emplace(key, id);
  return id;
}

bool TBuilder::Write(const TArithmeticUnit::TOperand &o, std::int32_t value) {
  if (value < 0 || o.Mode != 1 || o.Index < 0) return false;
  if (o.Area == 0) {
    if (o.Index >= static_cast<std::int32_t>(WorkValue.size())) return false;
    WorkValue[static_cast<std::size_t>(o.Index)] = value;
  } else {
    if (o.Index >= Engine.VariableCount) return false;
    VariableValue[o.Index] = value;
  }
  return true;
}

bool TBuilder::Take(const TArithmeticUnit::TInstruction &ins) {
  const TArithmeticUnit::TOperand *o = ins.Operands;
  switch (ins.Opcode) {
    case icEnd:
      return Read(o[0]) >= 0;  // the slot's value is not used by a paint
    case icAssign:
      return Write(o[0], Read(o[1]));
    case icNegate:
      return Write(o[0], Operation(icNegate, Read(o[1]), -1));
    // x + 1 and x - 1 exactly as ++ and -- compute them.
    case icIncrement:
      return Write(o[0], Operation(icAdd, Read(o[0]), ImmediateValue(1)));
    case icDecrement:
      return Write(o[0], Operation(icSubtract, Read(o[0]), ImmediateValue(1)));
    case icAdd: case icSubtract: case icMultiply: case icDivide: case icLog:
      return Write(o[0], Operation(ins.Opcode, Read(o[1]), Read(o[2])));
    default:
      break;
  }
  // The plain math functions; random and randomize never come here (their
  // slots are not independent), nor does anything else.
  const TOpcodeShape &shape = ShapeOf(ins.Opcode);
  if (shape.Operands < 0 || shape.Inline || !shape.Writes) return false;
  if (shape.ReadCount == 1) return Write(o[0], Operation(ins.Opcode, Read(o[1]), -1));
  return Write(o[0], Operation(ins.Opcode, Read(o[1]), Read(o[2])));
}

// A value is read from its cell, or from the work register of a per-pixel
// temporary. (Per pixel, the cells of the row values are the per-pixel
// program's inputs, which take the row table's entries.)
TArithmeticUnit::TOperand TBuilder::OperandOf(std::int32_t node) const {
  const TNode &n = Nodes[static_cast<std::size_t>(node)];
  TArithmeticUnit::TOperand o;
  if (n.Immediate) {
    o.Mode = 0;
    o.Value = n.Value;
    return o;
  }
  o.Mode = 1;
  o.Area = n.Cell >= 0 ? 1 : 0;
  o.Index = n.Cell >= 0 ? n.Cell : n.Work;
  return o;
}

std::int32_t TBuilder::CellOf(std::int32_t node) {
  TNode &n = Nodes[static_cast<std::size_t>(node)];
  if (n.Cell < 0) n.Cell = Cells++;
  return n.Cell;
}

bool TBuilder::IsChannel(std::size_t node) const {
  return std::find(std::begin(Channels), std::end(Channels), static_cast<std::int32_t>(node)) != std::end(Channels);
}

// x and y always have cells, read or not; the old colour only when read. The
// values r, g and b hold after the slots are the channels.
bool TBuilder::PlaceInputs(TReusePlan &plan) {
  if (XLeaf < 0) XLeaf = Add(TNode{0, -1, -1, WithX});
  if (YLeaf < 0) YLeaf = Add(TNode{0, -1, -1, WithPixel});
  if (XLeaf < 0 || YLeaf < 0) return false;
  plan.X = CellOf(XLeaf);
  plan.Y = CellOf(YLeaf);
  for (int c = 0; c < 3; ++c) plan.OldColour[c] = OldColourLeaf[c] >= 0 ? CellOf(OldColourLeaf[c]) : -1;
  for (int c = 0; c < 3; ++c) {
    Channels[c] = Read({1, 1, Names.Colour[c], 0});
    if (Channels[c] < 0) return false;
  }
  return true;
}

// Cells for the leaves with a value, the channels, and every value computed
// less often than per pixel; noting which values per-pixel operations read.
void TBuilder::PlaceCells() {
  for (std::size_t i = 0; i < Nodes.size(); ++i) {
    TNode &n = Nodes[i];
    if (n.Opcode == 0) {
      if ((n.HasValue || IsChannel(i)) && n.Cell < 0) CellOf(static_cast<std::int32_t>(i));
      continue;
    }
    if (n.Class == WithPixel) {
      Nodes[static_cast<std::size_t>(n.A)].ReadPerPixel = true;
      if (n.B >= 0) Nodes[static_cast<std::size_t>(n.B)].ReadPerPixel = true;
    }
    if (n.Class != WithPixel || IsChannel(i)) CellOf(static_cast<std::int32_t>(i));
  }
}

// The row values a pixel reads make a row of the row table; the pixel's own
// temporaries take work registers.
void TBuilder::PlaceWork(TReusePlan &plan) {
  std::int32_t row = 0, work = 0;
  for (std::size_t i = 0; i < Nodes.size(); ++i) {
    TNode &n = Nodes[i];
    if (n.Opcode != 0 && n.Class == WithY && (n.ReadPerPixel || IsChannel(i))) {
      n.RowSlot = row++;
      plan.RowCells.push_back(n.Cell);
    }
  }
  for (TNode &n : Nodes) {
    if (n.Opcode != 0 && n.Class == WithPixel && n.Cell < 0) n.Work = work++;
  }
  for (int c = 0; c < 3; ++c) {
    const TNode &n = Nodes[static_cast<std::size_t>(Channels[c])];
    plan.Channels[c] = n.RowSlot >= 0 ? TReusePlan::TPlace{0, n.RowSlot} : TReusePlan::TPlace{1, n.Cell};
    plan.ChannelChanges[c] = static_cast<TReusePlan::TProgram>(n.Class);
  }
}

// Every operation into the program of how often it changes, in order, and
// the cells' starting values.
void TBuilder::WritePrograms(TReusePlan &plan) const {
  for (std::size_t i = 0; i < Nodes.size(); ++i) {
    const TNode &n = Nodes[i];
    if (n.Cell >= 0 && (n.HasValue || n.Immediate)) plan.Initial.push_back({n.Cell, n.Value});
    if (n.Opcode == 0) continue;
    TArithmeticUnit::TInstruction ins;
    ins.Opcode = n.Opcode;
    ins.Operands[0] = OperandOf(static_cast<std::int32_t>(i));
    ins.Operands[1] = OperandOf(n.A);
    if (n.B >= 0) ins.Operands[2] = OperandOf(n.B);
    plan.Code[n.Class].push_back(ins);
    ++plan.Operations[n.Class];
  }
  for (std::vector<TArithmeticUnit::TInstruction> &code : plan.Code) {
    TArithmeticUnit::TInstruction end;
    end.Opcode = icEnd;  // operand 0: the immediate 0
    code.push_back(end);
  }
}

bool TBuilder::Finish(TReusePlan &plan) {
  if (!PlaceInputs(plan)) return false;
  PlaceCells();
  PlaceWork(plan);
  WritePrograms(plan);
  plan.Cells = Cells;
  plan.Merged = Merged;
  return true;
}

}  // namespace

TPaintVariables ResolvePaintVariables(TArithmeticUnit &engine) {
  // Created in the order the paint has always created them (it is the order
  // of the variable list), all before any index is taken.
  static const char *const names[] = {"x", "y", "r", "g", "b", "getr", "getg", "getb"};
  for (const char *name : names) engine.GetVariablePointer(name, true);
  TPaintVariables v{};
  std::int32_t *const places[] = {&v.X,         &v.Y,         &v.Colour[0],    &v.Colour[1],
                                  &v.Colour[2], &v.OldColour[0], &v.OldColour[1], &v.OldColour[2]};
  for (std::size_t i = 0; i < 8; ++i) *places[i] = engine.SearchVariable(names[i], false);
  return v;
}

bool PlanReuse(const TArithmeticUnit &engine, int count, const TPaintVariables &names, bool rows,
               TReusePlan &plan, const std::atomic<bool> *cancel) {
  plan = TReusePlan();
  count = std::clamp(count, 0, engine.ExpressionCount);
  TBuilder builder(engine, count, names, rows);
  std::size_t taken = 0;
  for (int k = 0; k < count; ++k) {
    for (const TArithmeticUnit::TInstruction &ins : engine.Expressions[static_cast<std::size_t>(k)].Code) {
      if (!builder.Take(ins)) return false;
      if (++taken % 4096 == 0 && cancel && cancel->load(std::memory_order_relaxed)) return false;
    }
  }
  return builder.Finish(plan);
}

}  // namespace velmora

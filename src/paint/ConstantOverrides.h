#pragma once
// Constants given from outside the document: `NAME=VALUE` on the command
// line, or an animation's value of the frame. The constants lines run as for
// any paint; then these values replace what they left in their variables,
// before the carpet formulas run. Only a variable that a constants line
// assigns can be set, so that a misspelt name is an error, not a new variable
// nobody reads.
#include <string>
#include <vector>

#include "engine/ArithmeticUnit.h"

namespace velmora {

struct TConstantOverride {
  std::string Name;
  long double Value = 0;
};
using TConstantOverrides = std::vector<TConstantOverride>;

// A number as a formula reads it (full-width digits, exponents and a sign
// included), giving exactly the value that typing it into a constants line
// gives. False with a message for anything else (a name, an expression, a
// value too large).
bool ReadConstantValue(const std::string &text, long double &value, std::string &error);

// "NAME=VALUE"; false with a message when either part is not right.
bool ParseConstantOverride(const std::string &text, TConstantOverride &override, std::string &error);

// The variables the constants lines assign (=, *=, /=, +=, -=, ++, --), in
// order of first appearance, each once.
std::vector<std::string> AssignedVariables(const TStringList &constants);

// False with a message naming the first override whose variable no constants
// line assigns.
bool CheckConstantOverrides(const TConstantOverrides &overrides, const TStringList &constants, std::string &error);

// Sets each variable to its value, in order (a later one for the same name wins).
void ApplyConstantOverrides(TArithmeticUnit &engine, const TConstantOverrides &overrides);

}  // namespace velmora

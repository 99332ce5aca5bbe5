#include "engine/Random.h"

namespace velmora {

TRandomGenerator &RandomGenerator() {
  static TRandomGenerator generator;
  return generator;
}

}  // namespace velmora

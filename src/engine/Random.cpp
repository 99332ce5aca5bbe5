#include "engine/Random.h"

namespace velmora {

namespace {
thread_local TRandomGenerator *ThreadGenerator = nullptr;
}

TRandomGenerator &RandomGenerator() {
  if (ThreadGenerator) return *ThreadGenerator;
  static TRandomGenerator generator;
  return generator;
}

TThreadRandomGenerator::TThreadRandomGenerator(TRandomGenerator &generator) : Previous(ThreadGenerator) {
  ThreadGenerator = &generator;
}

TThreadRandomGenerator::~TThreadRandomGenerator() { ThreadGenerator = Previous; }

}  // namespace velmora

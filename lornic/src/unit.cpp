// The library unit's start and end, run with the library image.
//
// The identifiers the library works with are constants of the image, ready
// before any code runs, so neither has work of its own: Initialize can run
// any number of times, and Finalize leaves COM and everything else as it is.

#include "lornic/Lornic.h"

namespace {

struct UnitLifetime {
  UnitLifetime() { Lornicclass::Initialize(); }
  ~UnitLifetime() { Lornicclass::Finalize(); }
} g_unitLifetime;

}  // namespace

namespace Lornicclass {

void Initialize() {}

void Finalize() {}

}  // namespace Lornicclass

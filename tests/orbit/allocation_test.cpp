// The orbit loop allocates nothing per integration step: a trial of twice as many steps makes
// exactly as many allocations (those of the start-value interpolation of the trial set-up).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>

#include "calc/orbits/orbit.h"
#include "calc/run/driver.h"
#include "numerics/field_patches.h"
#include "platform/message.h"
#include "tests/orbit/test_support.h"
#include "tests/shown.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace zuba {
namespace {

// Allocations made by one trial at step h once the sample tables have their room.
long TrialAllocations(double h) {
  PreparedRun record = test::MakeRecord(kModeTvk310, h, 0.6, 30.6, 10.0, test::MapShape{},
                                        test::NearUniform(1.75, 4));
  OrbitInputs prepared;
  EXPECT_EQ(test::PrepareOrbitInputsShown(record, prepared), 1);
  const std::optional<FieldPatches> field =
      FieldPatches::Build(prepared.radialSteps, record.radii, record.azimuths, record.field,
                          prepared.moments)
          .TakeOptional();
  EXPECT_TRUE(field.has_value());
  OrbitSamples samples;
  samples.Reserve(static_cast<size_t>(prepared.constants.nSteps) * 2);
  const double E = record.Ek[2] + prepared.constants.E0;
  double tauTurn = 0, dr = 0;
  const long before = allocations.load();
  EXPECT_EQ(ShowOutcome(TrackTrial(prepared.constants, prepared.tables(), *field, E, 0.2, samples,
                                   tauTurn, dr)),
            1);
  return allocations.load() - before;
}

TEST(OrbitLoop, AllocatesNothingPerStep) {
  const long coarse = TrialAllocations(2e-3);  // about 3142 steps
  const long fine = TrialAllocations(1e-3);    // about 6283 steps
  EXPECT_EQ(fine, coarse);
  EXPECT_LT(fine, 50);
}

}  // namespace
}  // namespace zuba

#include "fs/repair_policy.h"

namespace tmn {

namespace {

constexpr ACCESS_MASK kRepairAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

}  // namespace

bool RepairRefusedStep(const ExpectedEntry& entry, RefusedStep step, NTSTATUS refusal, const RefusedDeleteHook* hook) {
  if (hook == nullptr || refusal != kStatusAccessDenied || entry.listedAsLink) return false;
  UniqueFile secured;
  OpenedFacts facts;
  if (FAILED(OpenOwn(entry, kRepairAccess, kOpenItself, &secured, facts))) return false;
  if (!facts.IsFolder() && facts.Info().numberOfLinks > 1) return false;
  return hook->repair(hook->context, secured.get(), step);
}

}  // namespace tmn

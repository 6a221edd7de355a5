#include "fs/repair_policy.h"

namespace tmn {

namespace {

constexpr ACCESS_MASK kRepairAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

}  // namespace

bool RepairRefusedStep(const ExpectedEntry& entry, RefusedStep step, NTSTATUS refusal, const RefusedDeleteHook* hook) {
  if (hook == nullptr || refusal != kStatusAccessDenied || entry.listedAsLink) return false;
  UniqueFile secured;
  if (OpenRelative(entry.folder->handle.get(), entry.name, entry.length, kRepairAccess, kOpenItself, &secured) < 0)
    return false;
  OpenedFacts facts;
  if (facts.Read(secured.get()) < 0 || CheckOpened(secured.get(), facts, entry) != Verdict::kOwn) return false;
  if (!facts.IsFolder() && facts.Info().numberOfLinks > 1) return false;
  return hook->repair(hook->context, secured.get(), step);
}

}  // namespace tmn

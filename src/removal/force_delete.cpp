#include "removal/force_delete.h"

#include "base/windows_version.h"
#include "removal/refused_link_log.h"
#include "security/access_repair.h"
#include "security/system_writers.h"

namespace tmn {

namespace {

struct RepairRules {
  bool preVista;
};

bool RepairRefusedEntry(void* context, const ExpectedEntry& entry, RefusedStep step) {
  const RepairRules& rules = *static_cast<const RepairRules*>(context);
  return RepairsRefusedStep(step, rules.preVista) && RepairAccessOf(entry) != 0;
}

}  // namespace

bool RepairsRefusedStep(RefusedStep step, bool preVista) { return preVista || step == RefusedStep::kRemoveFolder; }

HRESULT ForceDeleteTree(const WideString& path, bool preVista) {
  RepairRules rules{preVista};
  const RefusedDeleteHook hook{RepairRefusedEntry, &rules};
  SystemRule rule;
  WideString refusedLink;
  HRESULT walkerError = S_OK;
  TreeDeleteOptions options;
  options.trust = rule.Links();
  options.hook = &hook;
  options.refusedLink = &refusedLink;
  options.walkerError = &walkerError;
  // Paths that name no one tree of their own the tree deleter refuses itself.
  const HRESULT deleted = LogRefusedLink(DeleteTree(path, options), refusedLink);
  if (deleted == E_INVALIDARG || deleted == E_OUTOFMEMORY || FAILED(walkerError)) return deleted;
  // Entries that stay do not count against the walk; a root that could not
  // be taken on, or a folder that could not be listed, does.
  return SUCCEEDED(deleted) || deleted == kTreeNotAllDeleted ? S_OK : E_UNEXPECTED;
}

HRESULT DeleteDirectoryTree(const WideString& path) { return ForceDeleteTree(path, IsPreVistaWindows()); }

}  // namespace tmn

#include "removal/force_delete.h"

#include "base/windows_version.h"
#include "fs/path_operations.h"
#include "removal/refused_link_log.h"
#include "security/access_repair.h"

namespace tmn {

namespace {

bool HasWildcard(const wchar_t* path) {
  for (const wchar_t* c = SkipPathPrefix(path); *c != L'\0'; ++c)
    if (*c == L'*' || *c == L'?') return true;
  return false;
}

struct RepairRules {
  bool preVista;
};

bool RepairRefusedEntry(void* context, HANDLE entry, RefusedStep step) {
  const RepairRules& rules = *static_cast<const RepairRules*>(context);
  return RepairsRefusedStep(step, rules.preVista) && RepairAccessOf(entry) != 0;
}

}  // namespace

bool RepairsRefusedStep(RefusedStep step, bool preVista) { return preVista || step == RefusedStep::kRemoveFolder; }

HRESULT ForceDeleteTree(const WideString& path, bool preVista) {
  // A pattern would name other entries than the one meant. An empty path
  // or a volume root the tree deleter refuses itself.
  if (HasWildcard(path.Get())) return E_INVALIDARG;
  RepairRules rules{preVista};
  const RefusedDeleteHook hook{RepairRefusedEntry, &rules};
  WideString refusedLink;
  const HRESULT deleted = LogRefusedLink(DeleteTree(path, &hook, &refusedLink), refusedLink);
  if (deleted == E_INVALIDARG || deleted == E_OUTOFMEMORY) return deleted;
  // Entries that stay do not count against the walk; a root that could not
  // be taken on, or a folder that could not be listed, does.
  return SUCCEEDED(deleted) || deleted == kTreeNotAllDeleted ? S_OK : E_UNEXPECTED;
}

HRESULT DeleteDirectoryTree(const WideString& path) { return ForceDeleteTree(path, IsPreVistaWindows()); }

}  // namespace tmn

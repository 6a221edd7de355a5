#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "fs/folder_by_path.h"
#include "fs/tree_delete.h"
#include "security/system_writers.h"
#include "support/file_system_recorder.h"
#include "support/installed_product.h"
#include "support/test_support.h"

using tmtest::FileSystemRecorder;
using tmtest::TempDir;

namespace {

#define TI L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
// System32 as Windows sets it: its writers are those the rule trusts.
constexpr wchar_t kSystemFolder[] =
    L"O:" TI L"D:PAI(A;;FA;;;" TI L")(A;;0x1301bf;;;SY)(A;;0x1301bf;;;BA)(A;;0x1200a9;;;BU)";

// A folder above the tree, "outer", lists and opens as a junction (through
// the seam; Wine makes none), with the access lists of each row for it and
// for the folder holding it. It leads the deletion on only when no one but
// the system folder's writers may change it or replace it in its folder;
// any other refuses the whole path, named as written.
TEST(DeleteTree, ATreeBelowALinkIsReachedOnlyThroughOneThatOnlyTheSystemsWritersMayChange) {
  const std::wstring admins = L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", users = L"(A;;0x1301bf;;;BU)";
  struct Case {
    const char* what;
    std::wstring link, folder;  // SDDL; an empty link: its access cannot be read
    bool followed;
  } cases[] = {
      {"Windows' own", L"O:SY" + admins, L"O:BA" + admins, true},
      {"TrustedInstaller's", L"O:" TI + admins, L"O:BA" + admins, true},
      {"an administrators' link in a folder users may change", L"O:BA" + admins, L"O:BA" + admins + users, false},
      {"an administrators' link users may aim anew", L"O:BA" + admins + users, L"O:BA" + admins, false},
      {"a user's", L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", L"O:BA" + admins, false},
      {"one whose access cannot be read", L"", L"O:BA" + admins, false},
  };
  for (const Case& c : cases) {
    TempDir dir(L"linked");
    const std::wstring outer = dir / L"outer", tree = outer + L"\\tree";
    ASSERT_TRUE(CreateDirectoryW(outer.c_str(), nullptr) && CreateDirectoryW(tree.c_str(), nullptr));
    ASSERT_TRUE(tmtest::WriteFileText(tree + L"\\a.txt", "x"));
    FileSystemRecorder recorder;
    recorder.ShowAsJunction(L"outer", outer);
    recorder.descriptorOf = [&](const std::wstring& path) {
      return path == outer ? c.link : path == dir.path() ? c.folder : tmtest::IsSystemFolder(path) ? kSystemFolder : L"";
    };
    recorder.readStatus = [&](const std::wstring& path) {
      return path == outer && c.link.empty() ? static_cast<DWORD>(ERROR_ACCESS_DENIED) : ERROR_SUCCESS;
    };
    tmn::SystemRule rule;
    tmn::WideString link = tmtest::MakeWide(L"junk");
    const HRESULT deleted = tmn::DeleteTree(tmtest::MakeWide(tree), {rule.Links(), nullptr, &link});
    EXPECT_EQ(c.followed ? S_OK : tmn::kLinkNotTrusted, deleted) << c.what;
    EXPECT_EQ(!c.followed, tmtest::FileExists(tree + L"\\a.txt")) << c.what;
    EXPECT_EQ(c.followed ? L"junk" : outer, tmtest::Text(link)) << c.what;
  }
}

// A path is read once, in the form Windows acts on: by 8.3 names, in the
// long form; the last name exactly as written. A path that leads wherever
// the installer stands (relative to the current folder, to the current
// drive's root, or to a drive's current folder) reaches nothing.
TEST(OpenFolderByPath, ReachesTheFolderHoweverItsFoldersAreSpeltButNeverFromWhereTheInstallerStands) {
  TempDir dir(L"spelt");
  const std::wstring folder = dir / L"a folder with a long name\\tree";
  ASSERT_TRUE(CreateDirectoryW((dir / L"a folder with a long name").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  wchar_t shortPath[MAX_PATH] = {};
  ASSERT_NE(0u, GetShortPathNameW(folder.c_str(), shortPath, MAX_PATH));
  tmtest::CurrentFolder standing(dir.path());
  for (const std::wstring& path : {folder, L"\\\\?\\" + folder, std::wstring(shortPath), folder + L"\\"}) {
    tmn::HeldPath held;
    EXPECT_EQ(S_OK, tmn::OpenFolderByPath(tmtest::MakeWide(path), nullptr, &held)) << tmtest::Narrow(path);
    EXPECT_EQ(L"tree", tmtest::Text(held.folder.name)) << tmtest::Narrow(path);
  }
  for (const std::wstring& path : {std::wstring(L"a folder with a long name\\tree"), folder.substr(2),
                                   folder.substr(0, 2) + L"a folder with a long name\\tree", std::wstring(L".")}) {
    tmn::HeldPath held;
    EXPECT_EQ(E_INVALIDARG, tmn::OpenFolderByPath(tmtest::MakeWide(path), nullptr, &held)) << tmtest::Narrow(path);
  }
}

}  // namespace

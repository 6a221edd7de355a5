#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "fs/folder_by_path.h"
#include "fs/tree_delete.h"
#include "support/file_system_recorder.h"
#include "support/installed_product.h"
#include "support/test_support.h"

using tmtest::FileSystemRecorder;
using tmtest::TempDir;

namespace {

constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// A folder above the tree, "outer", lists and opens as a junction (through
// the seam; Wine makes none), owned as each row says. Only a link that
// SYSTEM, Administrators or TrustedInstaller made leads the deletion on;
// any other refuses the whole path, named as written.
TEST(DeleteTree, ATreeBelowALinkIsReachedOnlyThroughOneAnAdministratorMade) {
  struct Case {
    std::wstring owner;  // SDDL; empty: the owner cannot be read
    bool followed;
  } cases[] = {
      {L"SY", true},  {L"BA", true}, {kTrustedInstaller, true}, {L"BU", false},
      {L"WD", false}, {L"S-1-5-21-1-2-3-1001", false},
      // Unreadable: followed, as the folder reached carries the names asked for.
      {L"", true},
  };
  for (const Case& c : cases) {
    TempDir dir(L"linked");
    const std::wstring outer = dir / L"outer", tree = outer + L"\\tree";
    ASSERT_TRUE(CreateDirectoryW(outer.c_str(), nullptr) && CreateDirectoryW(tree.c_str(), nullptr));
    ASSERT_TRUE(tmtest::WriteFileText(tree + L"\\a.txt", "x"));
    FileSystemRecorder recorder;
    recorder.ShowAsJunction(L"outer", outer);
    recorder.descriptor = L"O:" + c.owner + L"D:(A;;FA;;;WD)";
    if (c.owner.empty()) recorder.readStatus = [](const std::wstring&) { return static_cast<DWORD>(ERROR_ACCESS_DENIED); };
    tmn::WideString link = tmtest::MakeWide(L"junk");
    const HRESULT deleted = tmn::DeleteTree(tmtest::MakeWide(tree), nullptr, &link);
    EXPECT_EQ(c.followed ? S_OK : tmn::kLinkNotTrusted, deleted) << tmtest::Narrow(c.owner);
    EXPECT_EQ(!c.followed, tmtest::FileExists(tree + L"\\a.txt")) << tmtest::Narrow(c.owner);
    EXPECT_EQ(c.followed ? L"junk" : outer, tmtest::Text(link)) << tmtest::Narrow(c.owner);
  }
}

// A path is read once, in the form Windows acts on: relative to the
// current folder, by 8.3 names, in the long form; the last name exactly as
// written.
TEST(OpenFolderByPath, ReachesTheFolderHoweverItsFoldersAreSpelt) {
  TempDir dir(L"spelt");
  const std::wstring folder = dir / L"a folder with a long name\\tree";
  ASSERT_TRUE(CreateDirectoryW((dir / L"a folder with a long name").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  wchar_t shortPath[MAX_PATH] = {};
  ASSERT_NE(0u, GetShortPathNameW(folder.c_str(), shortPath, MAX_PATH));
  tmtest::CurrentFolder standing(dir.path());
  for (const std::wstring& path : {folder, L"\\\\?\\" + folder, std::wstring(shortPath),
                                   std::wstring(L"a folder with a long name\\tree"),
                                   std::wstring(L".\\a folder with a long name\\..\\a folder with a long name\\tree\\")}) {
    tmn::HeldPath held;
    EXPECT_EQ(S_OK, tmn::OpenFolderByPath(tmtest::MakeWide(path), &held)) << tmtest::Narrow(path);
    EXPECT_EQ(L"tree", tmtest::Text(held.folder.name)) << tmtest::Narrow(path);
  }
}

}  // namespace

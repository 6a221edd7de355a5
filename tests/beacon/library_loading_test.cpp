// Which product libraries the installer loads: only what the system's own
// writers alone may change, with its imports from its own folder.
#include <gtest/gtest.h>

#include <string>

#include "beacon/library_loading.h"
#include "support/file_system_recorder.h"
#include "support/installed_product.h"
#include "support/test_support.h"

namespace {

// The imports' test libraries, built beside the test programs, copied into
// folder.
void CopyImporter(const std::wstring& folder, bool withImport) {
  const std::wstring built = tmtest::TestBinDir() + L"\\imports\\";
  ASSERT_TRUE(CopyFileW((built + L"tmimporter.dll").c_str(), (folder + L"\\tmimporter.dll").c_str(), FALSE));
  if (withImport) {
    ASSERT_TRUE(CopyFileW((built + L"tmimported.dll").c_str(), (folder + L"\\tmimported.dll").c_str(), FALSE));
  }
}

// Its imports come from its own folder, never from the current folder,
// where the loader of a plain LoadLibraryW would also look.
TEST(ProductLibrary, ItsImportsComeFromItsOwnFolderNotTheCurrentOne) {
  tmtest::TempDir dir(L"imports");
  const std::wstring importer = dir / L"tmimporter.dll";
  CopyImporter(dir.path(), false);
  ASSERT_TRUE(CreateDirectoryW((dir / L"cwd").c_str(), nullptr));
  CopyImporter(dir / L"cwd", true);
  tmtest::CurrentFolder standing(dir / L"cwd");
  tmn::UniqueModule library;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), tmn::LoadProductLibrary(importer.c_str(), &library));
  ASSERT_TRUE(CopyFileW((dir / L"cwd\\tmimported.dll").c_str(), (dir / L"tmimported.dll").c_str(), FALSE));
  EXPECT_EQ(S_OK, tmn::LoadProductLibrary(importer.c_str(), &library));
}

// Windows' own lists, shown through the seam: a folder of the
// administrators' passes, one the user may write does not, and neither
// does a file the user may write in a folder of the administrators'.
TEST(ProductLibrary, IsLoadedOnlyWhenOnlyTheSystemsWritersMayChangeItOrItsFolder) {
  tmtest::TempDir dir(L"writers");
  const std::wstring importer = dir / L"tmimporter.dll";
  CopyImporter(dir.path(), true);
  const std::wstring system32 =
      L"O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", programFiles = L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)",
      downloads = L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1-2-3-1001)";
  const struct {
    const wchar_t* what;
    const std::wstring& file;
    const std::wstring& folder;
    HRESULT expected;
  } cases[] = {
      {L"Program Files", programFiles, programFiles, S_OK},
      {L"Downloads", programFiles, downloads, tmn::kLibraryNotSystemOwn},
      {L"a user's file", downloads, programFiles, tmn::kLibraryNotSystemOwn},
  };
  for (const auto& c : cases) {
    tmtest::FileSystemRecorder recorder;
    recorder.descriptorOf = [&](const std::wstring& path) {
      return path == importer ? c.file : path == dir.path() ? c.folder : system32;
    };
    tmn::UniqueModule library;
    EXPECT_EQ(c.expected, tmn::JudgeProductLibrary(importer.c_str())) << tmtest::Narrow(c.what);
    EXPECT_EQ(c.expected, tmn::LoadProductLibrary(importer.c_str(), &library)) << tmtest::Narrow(c.what);
    EXPECT_EQ(SUCCEEDED(c.expected), static_cast<bool>(library)) << tmtest::Narrow(c.what);
  }
}

}  // namespace

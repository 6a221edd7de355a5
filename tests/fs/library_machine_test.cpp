// Which library files this process could load: the plug-ins of both
// machines, built beside each other, and headers made up byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/library_machine.h"
#include "support/test_support.h"

using tmn::LibraryMachine;
using tmtest::TempDir;

namespace {

#ifdef _WIN64
const wchar_t kOtherMachineFolder[] = L"x86-ansi";
#else
const wchar_t kOtherMachineFolder[] = L"amd64-unicode";
#endif

// The first bytes of an image: a DOS header whose e_lfanew is 64, then the
// NT signature and a file header naming machine.
std::string ImageHead(WORD machine, DWORD signature = IMAGE_NT_SIGNATURE, WORD dosMagic = IMAGE_DOS_SIGNATURE,
                      LONG ntOffset = 64) {
  std::string bytes(64 + 24, '\0');
  IMAGE_DOS_HEADER dos = {};
  dos.e_magic = dosMagic;
  dos.e_lfanew = ntOffset;
  memcpy(&bytes[0], &dos, sizeof(dos));
  memcpy(&bytes[64], &signature, sizeof(signature));
  IMAGE_FILE_HEADER file = {};
  file.Machine = machine;
  memcpy(&bytes[68], &file, sizeof(file));
  return bytes;
}

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

TEST(LibraryMachine, TellsThisMachineFromAnotherByTheImageHeaders) {
  const WORD other = tmn::ThisProcessMachine() == IMAGE_FILE_MACHINE_I386 ? IMAGE_FILE_MACHINE_AMD64
                                                                          : IMAGE_FILE_MACHINE_I386;
  const struct {
    std::string head;
    size_t dosBytes, ntBytes;
    LibraryMachine expected;
  } cases[] = {
      {ImageHead(tmn::ThisProcessMachine()), 64, 24, LibraryMachine::kThisProcess},
      {ImageHead(other), 64, 24, LibraryMachine::kOther},
      {ImageHead(IMAGE_FILE_MACHINE_ARM64), 64, 24, LibraryMachine::kOther},
      {ImageHead(tmn::ThisProcessMachine(), IMAGE_NT_SIGNATURE, 0x4D5A), 64, 24, LibraryMachine::kUnreadable},
      {ImageHead(tmn::ThisProcessMachine(), 0x00004550 ^ 1), 64, 24, LibraryMachine::kUnreadable},
      {ImageHead(tmn::ThisProcessMachine()), 63, 24, LibraryMachine::kUnreadable},
      {ImageHead(tmn::ThisProcessMachine()), 64, 23, LibraryMachine::kUnreadable},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, tmn::MachineOfImage(Bytes(c.head), c.dosBytes, Bytes(c.head) + 64, c.ntBytes))
        << "dos " << c.dosBytes << ", nt " << c.ntBytes;
  }
  EXPECT_EQ(LibraryMachine::kUnreadable, tmn::MachineOfImage(nullptr, 64, nullptr, 24));
}

TEST(LibraryMachine, ReadsTheFilesOwnHeaders) {
  TempDir dir(L"machine");
  tmtest::WriteFileText(dir / L"text.dll", "not a program, and longer than a DOS header will ever be........");
  tmtest::WriteFileText(dir / L"far.dll", ImageHead(tmn::ThisProcessMachine(), IMAGE_NT_SIGNATURE,
                                                    IMAGE_DOS_SIGNATURE, 0x7FFFFFF0));
  tmtest::WriteFileText(dir / L"made.dll", ImageHead(tmn::ThisProcessMachine()));
  const struct {
    std::wstring path;
    LibraryMachine expected;
  } cases[] = {
      {tmtest::PluginDllPath(), LibraryMachine::kThisProcess},
      {tmtest::PluginDllPath(kOtherMachineFolder), LibraryMachine::kOther},
      {dir / L"made.dll", LibraryMachine::kThisProcess},
      {dir / L"text.dll", LibraryMachine::kUnreadable},
      {dir / L"far.dll", LibraryMachine::kUnreadable},
      {dir / L"missing.dll", LibraryMachine::kUnreadable},
      {dir.path(), LibraryMachine::kUnreadable},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, tmn::ReadLibraryMachine(c.path.c_str())) << tmtest::Narrow(c.path);
}

}  // namespace

// Which library files this process could load: the plug-ins of both
// machines, built beside each other, and headers made up byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/library_machine.h"
#include "support/test_support.h"

using tmn::LibraryMachine;

namespace {

// A DOS header whose e_lfanew is ntOffset, then at 64 the NT signature and
// a file header naming machine.
std::string ImageHead(WORD machine, DWORD signature = IMAGE_NT_SIGNATURE, LONG ntOffset = 64) {
  std::string bytes(64 + 24, '\0');
  IMAGE_DOS_HEADER dos = {};
  dos.e_magic = IMAGE_DOS_SIGNATURE;
  dos.e_lfanew = ntOffset;
  memcpy(&bytes[0], &dos, sizeof(dos));
  memcpy(&bytes[64], &signature, sizeof(signature));
  memcpy(&bytes[64 + offsetof(IMAGE_NT_HEADERS32, FileHeader.Machine)], &machine, sizeof(machine));
  return bytes;
}

TEST(LibraryMachine, TellsThisMachineFromAnotherByTheImageHeaders) {
  const WORD own = tmn::ThisProcessMachine();
  const struct {
    std::string head;
    size_t dosBytes, ntBytes;
    LibraryMachine expected;
  } cases[] = {
      {ImageHead(own), 64, 24, LibraryMachine::kThisProcess},
      {ImageHead(own == IMAGE_FILE_MACHINE_I386 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386), 64, 24,
       LibraryMachine::kOther},
      {ImageHead(IMAGE_FILE_MACHINE_ARM64), 64, 24, LibraryMachine::kOther},
      {ImageHead(own, IMAGE_NT_SIGNATURE ^ 1), 64, 24, LibraryMachine::kUnreadable},
      {ImageHead(own), 63, 24, LibraryMachine::kUnreadable},
      {ImageHead(own), 64, 23, LibraryMachine::kUnreadable},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.head.data());
    EXPECT_EQ(c.expected, tmn::MachineOfImage(bytes, c.dosBytes, bytes + 64, c.ntBytes))
        << "dos " << c.dosBytes << ", nt " << c.ntBytes;
  }
}

TEST(LibraryMachine, ReadsTheFilesOwnHeaders) {
  tmtest::TempDir dir(L"machine");
  tmtest::WriteFileText(dir / L"text.dll", std::string(100, 'x'));
  tmtest::WriteFileText(dir / L"far.dll", ImageHead(tmn::ThisProcessMachine(), IMAGE_NT_SIGNATURE, 0x7FFFFFF0));
  const struct {
    std::wstring path;
    LibraryMachine expected;
  } cases[] = {
      {tmtest::PluginDllPath(), LibraryMachine::kThisProcess},
      {tmtest::PluginDllPath(sizeof(void*) == 8 ? L"x86-ansi" : L"amd64-unicode"), LibraryMachine::kOther},
      {dir / L"text.dll", LibraryMachine::kUnreadable},
      {dir / L"far.dll", LibraryMachine::kUnreadable},
      {dir / L"missing.dll", LibraryMachine::kUnreadable},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, tmn::ReadLibraryMachine(c.path.c_str())) << tmtest::Narrow(c.path);
}

}  // namespace

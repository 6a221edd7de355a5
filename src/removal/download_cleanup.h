// Cleanup of the product's download folders for hotfixes, software and
// drivers. The answer "y", exactly, means the user chose to delete the
// downloads; download leftovers go whatever the answer. Nothing is
// reported: what cannot be deleted stays.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wide_string.h"

namespace tmn {

bool IsYes(const WideString& answer);

// True when name is longer than, and ends in, one of the 21 endings made of
// ".exe", ".msu" or ".zip" followed by ".tmp", ".nfo", "_kt", "_kti", ".fd",
// ".fd.cfg" or "c", letters in any case.
bool IsLeftoverName(const wchar_t* name, size_t length);
bool IsLeftoverName(const wchar_t* name);

// Bytes of all files in folder, below it too when recursive, listed
// through handles; links are never entered, nor is a folder that is itself
// a link. Writes a trace line per listed entry to standard output.
uint64_t GetFolderSize(const WideString& folder, bool recursive);

// Deletes the download leftovers lying directly in folder, read-only ones
// included, each through a handle opened relative to the folder's. A
// folder that is a link is left alone. Always 1.
int DeleteLeftoverFiles(const WideString& folder);

// Deletes the folder and everything below it, read-only files included,
// without prompts and without undo, through handles that no link planted
// meanwhile can turn: links inside go as links where the system can remove
// them so, and stay otherwise with everything they lead to; a folder that
// is itself a link loses only the link.
void DeleteFolderTree(const WideString& folder);

// The software and driver core: the default folder goes whole when it
// holds data and the answer is yes; the leftovers of the configured folder
// go whatever the answer.
void CleanDownloadFolder(const WideString& defaultDir, const WideString& configuredDir, const WideString& answer);

void CleanHotfixDownloads(const WideString& answer);
void CleanSoftDownloads(const WideString& answer);
void CleanDriverDownloads(const WideString& answer);

// Hotfix, software and driver cleanups, each with the answer yes.
void CleanAllDownloads();

}  // namespace tmn

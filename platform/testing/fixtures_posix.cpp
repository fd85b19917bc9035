// Fixture builders for the tests, Linux.
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/testing/testing.h"

bool SetUnreadable(const std::wstring &path) {
  return chmod(BytesFromWide(path).c_str(), 0) == 0;
}

bool SetHidden(const std::wstring &path) {
  size_t slash = path.find_last_of(L"/\\");
  size_t start = slash == std::wstring::npos ? 0 : slash + 1;
  return start < path.size() && path[start] == L'.';
}

bool MakeHardLink(const std::wstring &existing, const std::wstring &link) {
  return ::link(BytesFromWide(existing).c_str(), BytesFromWide(link).c_str()) ==
         0;
}

bool MakeSymlink(const std::wstring &target, const std::wstring &link) {
  return symlink(BytesFromWide(target).c_str(), BytesFromWide(link).c_str()) ==
         0;
}

bool MakeFolderLink(const std::wstring &target, const std::wstring &link) {
  return MakeSymlink(target, link);
}

bool RemoveFolderLink(const std::wstring &link) {
  return unlink(BytesFromWide(link).c_str()) == 0;
}

bool MakeFifo(const std::wstring &path) {
  return mkfifo(BytesFromWide(path).c_str(), 0644) == 0;
}

void *HoldFileExclusively(const std::wstring &) { return nullptr; }

void ReleaseFileHold(void *) {}

bool RunLinuxShell(const std::string &script,
                   const std::vector<std::wstring> &paths) {
  std::vector<std::wstring> args = {L"-c", WideFromBytes(script), L"sh"};
  args.insert(args.end(), paths.begin(), paths.end());
  ProcessResult run;
  return RunProcess(L"/bin/sh", args, L"", &run) && run.exitCode == 0;
}

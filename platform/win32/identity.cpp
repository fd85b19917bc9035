// A file's identity from an open handle, asking the volume for its serial
// number once per directory instead of once per file.
//
// GetFileInformationByHandle asks the file system for the file's data and
// the volume for its serial number on every call; the second question costs
// a round trip to the volume's driver (under Wine, to another process: a
// few hundred microseconds, more than hashing a small file). A file opened
// by path lies on the volume of the directory that holds it, so the serial
// learnt for one file of a directory holds for every other file opened in
// it. Handles opened with FILE_FLAG_BACKUP_SEMANTICS (directories, which may
// be mount points or junctions leading to another volume) always take the
// full call, and so does any handle this file has not seen opened.
#include <winternl.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/platform.h"

extern "C" NTSTATUS NTAPI NtQueryInformationFile(HANDLE file,
                                                 PIO_STATUS_BLOCK status,
                                                 PVOID info, ULONG length,
                                                 FILE_INFORMATION_CLASS kind);

namespace {

const FILE_INFORMATION_CLASS kFileInternalInformation =
    static_cast<FILE_INFORMATION_CLASS>(6);

struct FileInternalInformation {
  LARGE_INTEGER indexNumber;
};

// Guards both tables; the hashing may run on several threads.
std::mutex tablesLock;
// The directory each file handle was opened in (its path up to the last
// separator). A value is replaced when the system hands the same handle
// value out again.
std::unordered_map<HANDLE, std::wstring> openedIn;
// The volume serial number of each directory that a file was opened in.
std::unordered_map<std::wstring, DWORD> serialOf;

std::wstring DirectoryPart(const wchar_t *path) {
  std::wstring dir(path);
  const size_t sep = dir.find_last_of(L"\\/");
  dir.resize(sep == std::wstring::npos ? 0 : sep);
  return dir;
}

// The serial number of the volume that h lies on, from the table or, the
// first time for its directory, from the volume itself. On error (a handle
// not seen opened, a volume that won't tell) false is returned.
bool VolumeSerial(HANDLE h, DWORD *serial) {
  std::wstring dir;
  {
    std::lock_guard<std::mutex> hold(tablesLock);
    auto at = openedIn.find(h);
    if (at == openedIn.end()) return false;
    auto known = serialOf.find(at->second);
    if (known != serialOf.end()) {
      *serial = known->second;
      return true;
    }
    dir = at->second;
  }
  if (!GetVolumeInformationByHandleW(h, nullptr, 0, serial, nullptr, nullptr,
                                     nullptr, 0)) {
    return false;
  }
  std::lock_guard<std::mutex> hold(tablesLock);
  serialOf.emplace(dir, *serial);
  return true;
}

void FileTimeFrom(const LARGE_INTEGER &t, FILETIME *out) {
  out->dwLowDateTime = static_cast<DWORD>(t.QuadPart & 0xFFFFFFFF);
  out->dwHighDateTime = static_cast<DWORD>(t.QuadPart >> 32);
}

// The file's own data: attributes, times, size, links and index, in three
// questions that the file system answers without the volume. On error false
// is returned.
bool FileData(HANDLE h, BY_HANDLE_FILE_INFORMATION *info) {
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  FileInternalInformation internal;
  IO_STATUS_BLOCK status;
  if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(h, FileStandardInfo, &standard,
                                    sizeof standard) ||
      NtQueryInformationFile(h, &status, &internal, sizeof internal,
                             kFileInternalInformation) < 0) {
    return false;
  }
  info->dwFileAttributes = basic.FileAttributes;
  FileTimeFrom(basic.CreationTime, &info->ftCreationTime);
  FileTimeFrom(basic.LastAccessTime, &info->ftLastAccessTime);
  FileTimeFrom(basic.LastWriteTime, &info->ftLastWriteTime);
  info->nFileSizeHigh = static_cast<DWORD>(standard.EndOfFile.QuadPart >> 32);
  info->nFileSizeLow =
      static_cast<DWORD>(standard.EndOfFile.QuadPart & 0xFFFFFFFF);
  info->nNumberOfLinks = standard.NumberOfLinks;
  info->nFileIndexHigh =
      static_cast<DWORD>(internal.indexNumber.QuadPart >> 32);
  info->nFileIndexLow =
      static_cast<DWORD>(internal.indexNumber.QuadPart & 0xFFFFFFFF);
  return true;
}

}  // namespace

void NoteOpenedHandle(HANDLE h, const wchar_t *path, DWORD flags) {
  if (h == INVALID_HANDLE_VALUE) return;
  std::lock_guard<std::mutex> hold(tablesLock);
  if ((flags & FILE_FLAG_BACKUP_SEMANTICS) != 0) {
    openedIn.erase(h);
  } else {
    openedIn[h] = DirectoryPart(path);
  }
}

BOOL WINAPI TsGetFileInformationByHandle(HANDLE h,
                                         BY_HANDLE_FILE_INFORMATION *info) {
  DWORD serial = 0;
  if (FileData(h, info) && VolumeSerial(h, &serial)) {
    info->dwVolumeSerialNumber = serial;
    return TRUE;
  }
  return GetFileInformationByHandle(h, info);
}

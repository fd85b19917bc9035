// The program-wide records and the shared Debug and failure texts.
#include "common/common.h"

#include <cstring>
#include <cwchar>
#include <string>

Options options;

uint32_t cntFilesInSource;
uint32_t cntFilesInTree;
uint32_t cntFilesHashed;
uint32_t cntFilesDuplicates;
uint32_t cntFilesErased;
uint32_t cntDirsRemoved;

namespace {

FileIdentity runOutput[2];  // standard output and standard error

uint64_t fileTimeTicks(const FILETIME &t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

int FileHasIdentity(const FileIdentity *id) {
  return id->known && id->volume != 0 &&
         (id->indexHigh != 0 || id->indexLow != 0);
}

void RunOutputLearn(void) {
  for (int i = 0; i < 2; i++) {
    FileIdentity &f = runOutput[i];
    f = FileIdentity{};
    f.known = StdStreamIdentity(i + 1, &f.volume, &f.indexHigh, &f.indexLow);
  }
}

int RunOutputKnown(void) {
  return FileHasIdentity(&runOutput[0]) || FileHasIdentity(&runOutput[1]);
}

int IsRunOutput(const FileIdentity *id) {
  return SameFile(id, &runOutput[0]) || SameFile(id, &runOutput[1]);
}

int FileIdentityFromHandle(HANDLE file, FileIdentity *id) {
  BY_HANDLE_FILE_INFORMATION info;
  memset(id, 0, sizeof(*id));
  if (!platformCalls.GetFileInformationByHandle(file, &info)) return 0;
  id->known = 1;
  id->volume = info.dwVolumeSerialNumber;
  id->indexHigh = info.nFileIndexHigh;
  id->indexLow = info.nFileIndexLow;
  id->size =
      (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  id->createTime = fileTimeTicks(info.ftCreationTime);
  id->writeTime = fileTimeTicks(info.ftLastWriteTime);
  return 1;
}

int SameFile(const FileIdentity *a, const FileIdentity *b) {
  return FileHasIdentity(a) && FileHasIdentity(b) && a->volume == b->volume &&
         a->indexHigh == b->indexHigh && a->indexLow == b->indexLow;
}

bool FileIdentityLess(const FileIdentity *a, const FileIdentity *b) {
  if (a->volume != b->volume) return a->volume < b->volume;
  if (a->indexHigh != b->indexHigh) return a->indexHigh < b->indexHigh;
  return a->indexLow < b->indexLow;
}

int SameFileIdentity(const FileIdentity *a, const FileIdentity *b) {
  const bool named = FileHasIdentity(a) || FileHasIdentity(b);
  return a->known && b->known && (named ? SameFile(a, b) : true) &&
         a->size == b->size && a->createTime == b->createTime &&
         a->writeTime == b->writeTime;
}

// Can't fail.
void DebugText(const wchar_t *text) {
  if (options.Debug) PrintW(L"%ls", text);
}

void SystemErrorText(wchar_t *buf, DWORD capacity) {
  buf[0] = L'\0';
  DWORD n = platformCalls.FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                         platformCalls.GetLastError(), 0, buf,
                                         capacity, nullptr);
  if (n == 0) {
    buf[0] = L'\0';
    return;
  }
  buf[capacity - 1] = L'\0';
  buf[wcscspn(buf, L"\r\n")] = L'\0';
}

void PrintFailure(FailedOperation op, DWORD code, const wchar_t *path) {
  if (IsNoMemoryCode(code)) MemoryExhausted();
  // The text must describe this code, whatever the calls since left.
  platformCalls.SetLastError(code);
  wchar_t text[ERROR_TEXT_CAPACITY];
  SystemErrorText(text, ERROR_TEXT_CAPACITY);
  std::wstring shown = ShowPath(path, 0);
  switch (op) {
    case kFailedHash:
      PrintW(L"ComputeSHA256 failed (0x%x): \"%ls\" %ls\n", code, shown.c_str(),
             text);
      break;
    case kFailedDelete:
      PrintW(L"DeleteFile failed (%d): \"%ls\" : %ls\n", static_cast<int>(code),
             shown.c_str(), text);
      break;
    case kFailedRemoveDirectory:
      PrintW(L"RemoveDirectory failed (%d): \"%ls\" : %ls\n",
             static_cast<int>(code), shown.c_str(), text);
      break;
  }
  platformCalls.SetLastError(code);
}

int ReportLost(void) {
  static int told = 0;
  EndIfMemoryExhausted();  // nothing is erased after it
  const DWORD code = PrintWriteError();
  if (code == 0) return 0;
  if (!told) {
    told = 1;
    ProgressEnd();
    platformCalls.SetLastError(code);
    wchar_t text[ERROR_TEXT_CAPACITY];
    SystemErrorText(text, ERROR_TEXT_CAPACITY);
    wchar_t line[ERROR_TEXT_CAPACITY + 64];
    swprintf(line, ERROR_TEXT_CAPACITY + 64,
             L"TwinSift: the report could not be written (%lu): %ls\n",
             static_cast<unsigned long>(code), text);
    PrintErrW(line);
  }
  return 1;
}

int ReportFlushLost(void) {
  (void)PrintFlush();  // its code is the one ReportLost reads
  return ReportLost();
}

void FolderUnread(const wchar_t *dir, DWORD code) {
  if (IsNoMemoryCode(code)) MemoryExhausted();
  progress.foldersUnread++;
  ProgressClear();
  platformCalls.SetLastError(code);
  wchar_t text[ERROR_TEXT_CAPACITY];
  SystemErrorText(text, ERROR_TEXT_CAPACITY);
  const std::wstring line = L"TwinSift: a folder could not be read (" +
                            std::to_wstring(code) + L"): \"" +
                            ShowPath(dir, 0) + L"\" " + text + L"\n";
  PrintErrW(line.c_str());
  platformCalls.SetLastError(code);
}

void OnlineOnlyNotice(void) {
  const uint32_t n = progress.onlineUnread;
  if (n == 0) return;
  const std::wstring line =
      L"TwinSift: " + std::to_wstring(n) +
      (n == 1 ? L" online-only file was not read (it would have been "
                L"downloaded).\n"
              : L" online-only files were not read (they would have been "
                L"downloaded).\n");
  PrintErrW(line.c_str());
}

// Paths of records: each folder's path stored once, each file's name once
// for its records, and the full path built where a call needs it.
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include "containers/containers.h"
#include "containers/internal.h"

namespace {

wchar_t *FolderChars(StoredFolder *folder) {
  return reinterpret_cast<wchar_t *>(folder + 1);
}

const wchar_t *FolderChars(const StoredFolder *folder) {
  return reinterpret_cast<const wchar_t *>(folder + 1);
}

NameUnit *NameUnits(StoredName *stored) {
  return reinterpret_cast<NameUnit *>(stored + 1);
}

const NameUnit *NameUnits(const StoredName *stored) {
  return reinterpret_cast<const NameUnit *>(stored + 1);
}

bool NameIsWide(const StoredName *stored) {
  return (stored->head.bytes & kNameWide) != 0;
}

const size_t kKeepWide = SIZE_MAX;

// The units name takes, or kKeepWide when it must keep its wide
// characters. Can't fail.
size_t UnitsFor(const wchar_t *name, size_t len) {
  size_t units = len;
  if (sizeof(wchar_t) == sizeof(NameUnit)) return units;
  for (size_t i = 0; i < len; i++) {
    const uint32_t c = static_cast<uint32_t>(name[i]);
    if ((c >= 0xD800 && c <= 0xDBFF) || c > 0x10FFFF) return kKeepWide;
    if (c >= 0x10000) units++;
  }
  return units;
}

void Encode(NameUnit *out, const wchar_t *name, size_t len) {
  for (size_t i = 0; i < len; i++) {
    const uint32_t c = static_cast<uint32_t>(name[i]);
    if (sizeof(wchar_t) != sizeof(NameUnit) && c >= 0x10000) {
      *out++ = static_cast<NameUnit>(0xD800 + ((c - 0x10000) >> 10));
      *out++ = static_cast<NameUnit>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      *out++ = static_cast<NameUnit>(c);
    }
  }
  *out = 0;
}

// Appends the stored name's characters to out. Can't fail.
void AppendName(const StoredName *stored, std::wstring *out) {
  if (NameIsWide(stored)) {
    out->append(reinterpret_cast<const wchar_t *>(NameUnits(stored)));
    return;
  }
  for (const NameUnit *u = NameUnits(stored); *u != 0; u++) {
    uint32_t c = static_cast<uint32_t>(*u);
    if (sizeof(wchar_t) != sizeof(NameUnit) && c >= 0xD800 && c <= 0xDBFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(u[1]) - 0xDC00);
      u++;
    }
    out->push_back(static_cast<wchar_t>(c));
  }
}

}  // namespace

StoredFolder *FolderStore(const wchar_t *prefix, size_t len) {
  void *entry = EntryTake(sizeof(StoredFolder) + (len + 1) * sizeof(wchar_t));
  StoredFolder *folder = static_cast<StoredFolder *>(entry);
  folder->len = static_cast<uint32_t>(len);
  folder->reserved = 0;
  wmemcpy(FolderChars(folder), prefix, len);
  FolderChars(folder)[len] = L'\0';
  return folder;
}

size_t FolderPartLength(const wchar_t *path) {
  size_t cut = 0;
  for (size_t i = 0; path[i] != L'\0'; i++) {
    if (path[i] == PATH_SEPARATOR || path[i] == L'/') cut = i + 1;
  }
  return cut;
}

void FolderRelease(StoredFolder *folder) {
  if (folder != nullptr) (void)EntryRelease(folder);
}

StoredName *NameStore(StoredFolder *folder, const wchar_t *name) {
  const size_t len = wcslen(name);
  const size_t units = UnitsFor(name, len);
  const bool wide = units == kKeepWide;
  const size_t chars = wide ? (len + 1) * sizeof(wchar_t)
                            : (units + 1) * sizeof(NameUnit);
  void *entry = EntryTake(sizeof(StoredName) + chars);
  StoredName *stored = static_cast<StoredName *>(entry);
  stored->folder = folder;
  EntryShare(folder);
  if (wide) {
    stored->head.bytes |= kNameWide;
    wmemcpy(reinterpret_cast<wchar_t *>(NameUnits(stored)), name, len + 1);
  } else {
    Encode(NameUnits(stored), name, len);
  }
  return stored;
}

void NameShare(StoredName *stored) { EntryShare(stored); }

void NameRelease(StoredName *stored) {
  if (stored == nullptr) return;
  StoredFolder *folder = stored->folder;
  if (EntryRelease(stored)) FolderRelease(folder);
}

const wchar_t *FileRecordPath(const FileRecord *record, std::wstring *out) {
  const StoredFolder *folder = record->name->folder;
  out->assign(FolderChars(folder), folder->len);
  AppendName(record->name, out);
  return out->c_str();
}

const wchar_t *FileRecordPathHere(const FileRecord *record) {
  thread_local std::wstring buffer;
  return FileRecordPath(record, &buffer);
}

int FileRecordPathIs(const FileRecord *record, const wchar_t *path) {
  const StoredFolder *folder = record->name->folder;
  if (wcsncmp(FolderChars(folder), path, folder->len) != 0) return 0;
  std::wstring name;
  AppendName(record->name, &name);
  return wcscmp(name.c_str(), path + folder->len) == 0 ? 1 : 0;
}

int FileRecordSamePath(const FileRecord *a, const FileRecord *b) {
  if (a->name == b->name) return 1;
  std::wstring path;
  return FileRecordPathIs(b, FileRecordPath(a, &path));
}

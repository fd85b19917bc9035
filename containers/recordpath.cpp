// Paths of records: each folder's path stored once, each file's name once
// for its records, and the full path built where a call needs it.
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "containers/containers.h"
#include "containers/internal.h"

namespace {

const size_t kKeepWide = SIZE_MAX;

wchar_t *FolderChars(StoredFolder *folder) {
  return reinterpret_cast<wchar_t *>(folder + 1);
}

const wchar_t *FolderChars(const StoredFolder *folder) {
  return reinterpret_cast<const wchar_t *>(folder + 1);
}

size_t FolderBytes(size_t len) {
  return sizeof(StoredFolder) + (len + 1) * sizeof(wchar_t);
}

void *NameUnits(StoredName *stored) {
  return reinterpret_cast<char *>(stored) + kNameUnitsAt;
}

const void *NameUnits(const StoredName *stored) {
  return reinterpret_cast<const char *>(stored) + kNameUnitsAt;
}

bool NameIsWide(const StoredName *stored) {
  return (stored->refs.load(std::memory_order_relaxed) & kNameWide) != 0;
}

// The bytes of a stored name of units units (wide: wide characters).
size_t NameBytes(size_t units, bool wide) {
  return kNameUnitsAt +
         (units + 1) * (wide ? sizeof(wchar_t) : sizeof(NameUnit));
}

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
    out->append(static_cast<const wchar_t *>(NameUnits(stored)));
    return;
  }
  for (const NameUnit *u = static_cast<const NameUnit *>(NameUnits(stored));
       *u != 0; u++) {
    uint32_t c = static_cast<uint32_t>(*u);
    if (sizeof(wchar_t) != sizeof(NameUnit) && c >= 0xD800 && c <= 0xDBFF) {
      c = 0x10000 + ((c - 0xD800) << 10) +
          (static_cast<uint32_t>(u[1]) - 0xDC00);
      u++;
    }
    out->push_back(static_cast<wchar_t>(c));
  }
}

// The bytes the stored name takes, from its units. Can't fail.
size_t StoredNameBytes(const StoredName *stored) {
  if (NameIsWide(stored))
    return NameBytes(wcslen(static_cast<const wchar_t *>(NameUnits(stored))),
                     true);
  size_t units = 0;
  const NameUnit *u = static_cast<const NameUnit *>(NameUnits(stored));
  while (u[units] != 0) units++;
  return NameBytes(units, false);
}

}  // namespace

size_t FolderPartLength(const wchar_t *path) {
  size_t cut = 0;
  for (size_t i = 0; path[i] != L'\0'; i++) {
    if (path[i] == PATH_SEPARATOR || path[i] == L'/') cut = i + 1;
  }
  return cut;
}

StoredFolder *FolderStore(const wchar_t *prefix, size_t len) {
  StoredFolder *folder = new (StoredTake(FolderBytes(len)))
      StoredFolder{{1}, static_cast<uint32_t>(len), 0};
  wmemcpy(FolderChars(folder), prefix, len);
  FolderChars(folder)[len] = L'\0';
  return folder;
}

void FolderSetParameter(StoredFolder *folder, uint32_t parm) {
  folder->parm = parm;
}

uint32_t FileRecordParameter(const FileRecord *record) {
  return record->name->folder->parm;
}

const StoredFolder *FileRecordFolder(const FileRecord *record) {
  return record->name->folder;
}

void FolderRelease(StoredFolder *folder) {
  if (folder == nullptr) return;
  if (folder->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  const size_t bytes = FolderBytes(folder->len);
  folder->~StoredFolder();
  StoredGive(folder, bytes);
}

StoredName *NameStore(StoredFolder *folder, const wchar_t *name) {
  const size_t len = wcslen(name);
  const size_t units = UnitsFor(name, len);
  const bool wide = units == kKeepWide;
  void *entry = StoredTake(NameBytes(wide ? len : units, wide));
  StoredName *stored =
      new (entry) StoredName{folder, {1u | (wide ? kNameWide : 0u)}};
  folder->refs.fetch_add(1, std::memory_order_relaxed);
  if (wide) {
    wmemcpy(static_cast<wchar_t *>(NameUnits(stored)), name, len + 1);
  } else {
    Encode(static_cast<NameUnit *>(NameUnits(stored)), name, len);
  }
  return stored;
}

void NameShare(StoredName *stored) {
  stored->refs.fetch_add(1, std::memory_order_relaxed);
}

void NameRelease(StoredName *stored) {
  if (stored == nullptr) return;
  const uint32_t was = stored->refs.fetch_sub(1, std::memory_order_acq_rel);
  if ((was & ~kNameWide) != 1) return;
  StoredFolder *folder = stored->folder;
  const size_t bytes = StoredNameBytes(stored);
  stored->~StoredName();
  StoredGive(stored, bytes);
  FolderRelease(folder);
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

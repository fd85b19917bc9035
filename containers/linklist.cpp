// linklist: a lock-guarded first-in, first-out list of FileRecords.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "common/common.h"
#include "containers/containers.h"
#include "containers/internal.h"

// Where a record's name comes from: a full path of its own, a stored
// folder and a name in it, or the stored name of another record.
struct NameSource {
  const wchar_t *path;
  StoredFolder *folder;
  const wchar_t *name;
  StoredName *shared;
};

// The stored name for a new record: one more reference to a shared one, or
// a new one (for a path of its own, in a folder of its own).
static StoredName *NameFrom(const NameSource &from) {
  if (from.shared != nullptr) {
    NameShare(from.shared);
    return from.shared;
  }
  if (from.folder != nullptr) return NameStore(from.folder, from.name);
  const size_t cut = FolderPartLength(from.path);
  StoredFolder *folder = FolderStore(from.path, cut);
  StoredName *stored = NameStore(folder, from.path + cut);
  FolderRelease(folder);  // the name holds it
  return stored;
}

// An element and its record, taken and given back as one slot.
struct ElementSlot {
  ListElement element;
  FileRecord record;
};

static FileRecord *PayloadOf(ListElement *element) {
  return &reinterpret_cast<ElementSlot *>(element)->record;
}

static ElementSlot *SlotOf(FileRecord *record) {
  return reinterpret_cast<ElementSlot *>(reinterpret_cast<char *>(record) -
                                         offsetof(ElementSlot, record));
}

// Fills the record of a new slot: the size from findData, flags clear and
// nothing hashed, named as from says. Exhaustion ends the process.
static FileRecord *RecordMake(ElementSlot *slot, const NameSource &from,
                              const WIN32_FIND_DATAW *findData,
                              int32_t fInSource) {
  FileRecord *record = &slot->record;
  memset(record, 0, sizeof *record);
  record->name = NameFrom(from);
  record->size = (uint64_t)findData->nFileSizeHigh << 32 |
                 (uint64_t)findData->nFileSizeLow;
  record->fInSource = fInSource;
  return record;
}

// Drops the record's reference to its name, then its identity and the
// record with its element. Can't fail.
static void RecordFree(FileRecord *record) {
  NameRelease(record->name);
  RecordSlotGive(record->hashed, sizeof(FileHashed));
  ContainerSlotGive(SlotOf(record), sizeof(ElementSlot));
}

static FileHashed *HashedMade(FileRecord *record) {
  if (record->hashed == nullptr) {
    record->hashed =
        static_cast<FileHashed *>(RecordSlotTake(sizeof(FileHashed)));
  }
  return record->hashed;
}

static const FileHashed kNotHashed = {};

FileIdentity *FileRecordIdentity(FileRecord *record) {
  return &HashedMade(record)->id;
}

uint8_t *FileRecordDigest(FileRecord *record) {
  return HashedMade(record)->hash;
}

const FileIdentity *FileRecordIdentityOf(const FileRecord *record) {
  return record->hashed != nullptr ? &record->hashed->id : &kNotHashed.id;
}

void FileRecordForgetDigest(FileRecord *record) {
  RecordSlotGive(record->hashed, sizeof(FileHashed));
  record->hashed = nullptr;
}

const uint8_t *FileRecordDigestOf(const FileRecord *record) {
  return record->hashed != nullptr ? record->hashed->hash : kNotHashed.hash;
}

// A copy of the record, from malloc, for a caller of linklist_Dequeue
// (which releases it with FileRecordFree). Exhaustion ends the process.
static FileRecord *RecordHandOut(const FileRecord *record) {
  FileRecord *copy = (FileRecord *)malloc(sizeof(FileRecord));
  if (copy == nullptr) MemoryExhausted();
  *copy = *record;
  NameShare(copy->name);
  if (record->hashed != nullptr) {
    copy->hashed = (FileHashed *)malloc(sizeof(FileHashed));
    if (copy->hashed == nullptr) MemoryExhausted();
    *copy->hashed = *record->hashed;
  }
  return copy;
}

void FileRecordFree(FileRecord *record) {
  if (record == nullptr) return;
  NameRelease(record->name);
  free(record->hashed);
  free(record);
}

// Returns the new empty list, or null (with the Debug lines) when the header
// or its lock cannot be made.
linklist *linklist_Allocate(void) {
  linklist *list = (linklist *)ContainerSlotTake(sizeof(linklist));
  if (list == nullptr) {
    DebugText(L"linklistAllocate: memory alloc failed");
    DebugText(L"AllocateList - list allocate failed");
    return nullptr;
  }
  list->head = nullptr;
  list->tail = nullptr;
  list->count = 0;
  if (!ContainerInitLock(&list->lock)) {
    DebugText(L"linklist_Allocate - Mutex allocate failed");
    ContainerSlotGive(list, sizeof(linklist));
    DebugText(L"AllocateList - list allocate failed");
    return nullptr;
  }
  return list;
}

// Same as linklist_Allocate.
linklist *AllocateList(void) { return linklist_Allocate(); }

// Returns 0 when the list's lock is held; otherwise the wait's value (87
// for a null list), after the Debug line.
DWORD linklist_AcquireMutex(linklist *list) {
  DWORD wait = list != nullptr ? ContainerWait(&list->lock)
                               : (DWORD)ERROR_INVALID_PARAMETER;
  if (wait != 0) DebugText(L"linklist_AcquireMutex (failed)");
  return wait;
}

// Appends a new record named as from says at the tail.
// Returns 0; 87 for a null list, 8 when the element cannot be allocated, or
// the wait's value; on failure nothing stays allocated. *made is the
// record appended, or null.
static DWORD EnqueueRecord(linklist *list, const NameSource &from,
                           const WIN32_FIND_DATAW *findData, int32_t fInSource,
                           FileRecord **made) {
  *made = nullptr;
  if (list == nullptr) {
    DebugText(L"ERROR: linklist_Enqueue called on NULL linklist");
    return ERROR_INVALID_PARAMETER;
  }
  ElementSlot *slot = (ElementSlot *)ContainerSlotTake(sizeof(ElementSlot));
  if (slot == nullptr) {
    DebugText(L"linklist_Enqueue: memory alloc failed (list element)");
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  FileRecord *record = RecordMake(slot, from, findData, fInSource);
  ListElement *element = &slot->element;
  element->next = nullptr;
  DWORD wait = linklist_AcquireMutex(list);
  if (wait != 0) {
    DebugText(L"linklist_Enqueue - Acquire mutex failed");
    RecordFree(record);
    return wait;
  }
  if (list->tail == nullptr) {
    list->head = element;
  } else {
    list->tail->next = element;
  }
  list->tail = element;
  platformCalls.InterlockedIncrement(&list->count);
  ContainerRelease(&list->lock);
  *made = record;
  return 0;
}

DWORD linklist_Enqueue(linklist *list, const wchar_t *path,
                       const WIN32_FIND_DATAW *findData, int32_t fInSource) {
  FileRecord *made;
  return EnqueueRecord(list, NameSource{path, nullptr, nullptr, nullptr},
                       findData, fInSource, &made);
}

DWORD linklist_EnqueueStored(linklist *list, const wchar_t *path,
                             const WIN32_FIND_DATAW *findData,
                             int32_t fInSource, StoredName **stored) {
  FileRecord *made;
  DWORD rc = EnqueueRecord(list, NameSource{path, nullptr, nullptr, nullptr},
                           findData, fInSource, &made);
  *stored = made != nullptr ? made->name : nullptr;
  return rc;
}

DWORD linklist_EnqueueIn(linklist *list, StoredFolder *folder,
                         const wchar_t *name, const WIN32_FIND_DATAW *findData,
                         int32_t fInSource, StoredName **stored) {
  FileRecord *made;
  DWORD rc = EnqueueRecord(list, NameSource{nullptr, folder, name, nullptr},
                           findData, fInSource, &made);
  if (stored != nullptr) *stored = made != nullptr ? made->name : nullptr;
  return rc;
}

DWORD linklist_EnqueueShared(linklist *list, StoredName *stored,
                             const WIN32_FIND_DATAW *findData,
                             int32_t fInSource) {
  FileRecord *made;
  return EnqueueRecord(list, NameSource{nullptr, nullptr, nullptr, stored},
                       findData, fInSource, &made);
}

// Takes the head's record out, still in its slot.
// Returns null for an empty or null list or a failed wait.
static FileRecord *DequeueRecord(linklist *list) {
  if (list == nullptr) {
    DebugText(L"ERROR: linklist_Dequeue called on NULL linklist");
    return nullptr;
  }
  if (linklist_AcquireMutex(list) != 0) {
    DebugText(L"linklist_Dequeue - Acquire mutex failed");
    return nullptr;
  }
  ListElement *element = list->head;
  if (element == nullptr) {
    ContainerRelease(&list->lock);
    return nullptr;
  }
  list->head = element->next;
  if (list->head == nullptr) list->tail = nullptr;
  platformCalls.InterlockedDecrement(&list->count);
  ContainerRelease(&list->lock);
  return PayloadOf(element);
}

// Takes the head's record out; the caller owns it and releases it with
// FileRecordFree. Returns null for an empty or null list or a failed
// wait.
FileRecord *linklist_Dequeue(linklist *list) {
  FileRecord *record = DequeueRecord(list);
  if (record == nullptr) return nullptr;
  FileRecord *out = RecordHandOut(record);
  RecordFree(record);
  return out;
}

// 1 when the list has no element, else 0. A null list or a failed wait
// also gives 1.
int linklist_IsEmpty(linklist *list) {
  if (list == nullptr) {
    DebugText(L"ERROR: linklist_IsEmpty called on NULL linklist");
    return 1;
  }
  if (linklist_AcquireMutex(list) != 0) {
    DebugText(L"linklist_IsEmpty - Acquire mutex failed");
    return 1;
  }
  int empty = list->head == nullptr ? 1 : 0;
  ContainerRelease(&list->lock);
  return empty;
}

// Points *cursor at the head and returns its record, or null for an empty
// list. A null list or a failed wait gives null, *cursor untouched.
FileRecord *linklist_FindFirst(linklist *list, ListElement **cursor) {
  if (list == nullptr) {
    DebugText(L"ERROR: linklist_FindFirst called on NULL linklist");
    return nullptr;
  }
  if (linklist_AcquireMutex(list) != 0) {
    DebugText(L"linklist_FindFirst - Acquire mutex failed");
    return nullptr;
  }
  *cursor = list->head;
  FileRecord *record = *cursor != nullptr ? PayloadOf(*cursor) : nullptr;
  ContainerRelease(&list->lock);
  return record;
}

// Advances *cursor and returns the new current record, or null at the end
// (and for a null cursor). A null list or a failed wait gives null, *cursor
// untouched.
FileRecord *linklist_FindNext(linklist *list, ListElement **cursor) {
  if (list == nullptr) {
    DebugText(L"ERROR: linklist_FindNext called on NULL linklist");
    return nullptr;
  }
  if (linklist_AcquireMutex(list) != 0) {
    DebugText(L"linklist_FindNext - Acquire mutex failed");
    return nullptr;
  }
  if (*cursor != nullptr) *cursor = (*cursor)->next;
  FileRecord *record = *cursor != nullptr ? PayloadOf(*cursor) : nullptr;
  ContainerRelease(&list->lock);
  return record;
}

// The number of elements; 0 for a null list or a failed wait.
DWORD linklist_GetCount(linklist *list) {
  if (list == nullptr) {
    DebugText(L"ERROR: linklist_GetCount called on NULL linklist");
    return 0;
  }
  if (linklist_AcquireMutex(list) != 0) {
    DebugText(L"linklist_GetCount - Acquire mutex failed");
    return 0;
  }
  DWORD count = (DWORD)list->count;
  ContainerRelease(&list->lock);
  return count;
}

// Releases every record with its name, then the header and its lock. A
// null list, or a wait that fails at the end (the header then stays), is
// reported under Debug only.
void linklist_DeAllocate(linklist *list) {
  while (linklist_IsEmpty(list) == 0) {
    FileRecord *record = DequeueRecord(list);
    if (record == nullptr) break;
    RecordFree(record);
  }
  if (list == nullptr) {
    DebugText(L"linklist_DeAllocate called on NULL queue");
    return;
  }
  // Last guard against elements that appeared meanwhile: their records
  // are dropped, not released.
  while (linklist_IsEmpty(list) == 0) {
    DebugText(L"linklistDeAlloc - Not empty! (purging)");
    if (DequeueRecord(list) == nullptr) break;
  }
  if (linklist_AcquireMutex(list) != 0) {
    DebugText(L"linklistDeAlloc - Acquire mutex failed");
    return;
  }
  ContainerRelease(&list->lock);
  ContainerDeleteLock(&list->lock);
  ContainerSlotGive(list, sizeof(linklist));
}

// Slots: the containers' small objects (records, list elements, list
// headers, tree nodes, size groups) and the stored folders and names, carved
// one after the other from large blocks. A run then makes a few hundred
// allocator calls instead of several per file, objects carry no allocator
// header, a file's objects lie side by side (the tear-down, which visits them
// in size order, finds them in a few cache lines), and the blocks are given
// back whole once the last slot is.
//
// Container slots report exhaustion as null; record slots and stored names have
// no failure path: exhaustion ends the process, as for the records they
// replace. Blocks come from ContainerAlloc (the table's malloc, where a test
// can make them fail).
//
// In direct mode (the fault-injection tests) every slot is an allocation of
// its own: container slots from ContainerAlloc, records and stored names from
// calloc, so that a test's count of allocator calls reaches every container
// allocation one by one. The mode may change while slots of the other kind
// are out: while direct slots exist, a slot given back is looked for in the
// blocks.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "containers/containers.h"
#include "containers/internal.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define SLOT_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define SLOT_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define SLOT_POISON(p, n) ((void)(p), (void)(n))
#define SLOT_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

const size_t kAlign = 8;
const size_t kMaxSlot = 128;
const size_t kFirstBlock = 4096;
const size_t kMaxBlock = 256 * 1024;

// At the start of every large block; 16 bytes keep what follows aligned.
struct BlockHead {
  BlockHead *next;
  size_t bytes;
};

struct Arena {
  std::atomic_flag busy;
  BlockHead *blocks;
  char *next;  // the unused rest of the newest block
  char *end;
  void *freeLists[kMaxSlot / kAlign + 1];  // slots given back, by size
  size_t nextBlock;
  size_t live;  // slots and entries handed out and not given back
};

enum Family { kContainer, kRecord };

Arena arena;
bool direct = false;
std::atomic<long> directOut{0};  // direct slots and entries not given back

size_t Rounded(size_t size) { return (size + kAlign - 1) & ~(kAlign - 1); }

// Held for the few instructions of a take or a give: a spin costs no call.
class ArenaHold {
 public:
  ArenaHold() {
    while (arena.busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~ArenaHold() { arena.busy.clear(std::memory_order_release); }
  ArenaHold(const ArenaHold &) = delete;
  ArenaHold &operator=(const ArenaHold &) = delete;
};

// Starts a new block big enough for need bytes; false when it cannot be
// had. Called held.
bool ArenaGrow(size_t need) {
  size_t bytes = arena.nextBlock != 0 ? arena.nextBlock : kFirstBlock;
  while (bytes < need + sizeof(BlockHead)) bytes *= 2;
  BlockHead *block = static_cast<BlockHead *>(ContainerAlloc(bytes));
  if (block == nullptr) return false;
  block->next = arena.blocks;
  block->bytes = bytes;
  arena.blocks = block;
  arena.next = reinterpret_cast<char *>(block + 1);
  arena.end = reinterpret_cast<char *>(block) + bytes;
  SLOT_POISON(arena.next, (size_t)(arena.end - arena.next));
  arena.nextBlock = bytes < kMaxBlock ? bytes * 2 : kMaxBlock;
  return true;
}

// Gives back every block once nothing handed out remains. Called held.
void ArenaDrainIfIdle(void) {
  if (arena.live != 0) return;
  while (arena.blocks != nullptr) {
    BlockHead *block = arena.blocks;
    arena.blocks = block->next;
    SLOT_UNPOISON(block, block->bytes);
    ContainerFree(block);
  }
  arena.next = arena.end = nullptr;
  for (void *&list : arena.freeLists) list = nullptr;
  arena.nextBlock = 0;
}

// size bytes (a multiple of kAlign) from the newest block, a new one when
// it is spent; null when no block can be had. Called held.
void *ArenaCarve(size_t size) {
  if ((size_t)(arena.end - arena.next) < size && !ArenaGrow(size)) {
    return nullptr;
  }
  void *slot = arena.next;
  arena.next += size;
  SLOT_UNPOISON(slot, size);
  arena.live++;
  return slot;
}

// Takes back size bytes at slot. Called held.
void ArenaTakeBack(void *slot, size_t size) {
  SLOT_POISON(slot, size);
  arena.live--;
  ArenaDrainIfIdle();
}

// True when at lies in one of the blocks. Called held.
bool InBlocks(const void *at) {
  const char *p = static_cast<const char *>(at);
  for (const BlockHead *b = arena.blocks; b != nullptr; b = b->next) {
    const char *start = reinterpret_cast<const char *>(b);
    if (p >= start && p < start + b->bytes) return true;
  }
  return false;
}

// True when a block given back was allocated directly. Called held.
bool WasDirect(const void *at) {
  return directOut.load(std::memory_order_relaxed) != 0 && !InBlocks(at);
}

void *DirectAlloc(Family family, size_t size) {
  void *p = family == kContainer ? ContainerAlloc(size) : calloc(1, size);
  if (p != nullptr) directOut.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void DirectFree(Family family, void *p) {
  directOut.fetch_sub(1, std::memory_order_relaxed);
  if (family == kContainer) {
    ContainerFree(p);
  } else {
    free(p);
  }
}

// A slot of size bytes, from a free list or carved; too big a slot, or any
// in direct mode, is allocated directly. Null when memory runs out.
void *SlotTake(Family family, size_t size) {
  size = Rounded(size);
  if (direct || size > kMaxSlot) return DirectAlloc(family, size);
  ArenaHold hold;
  void *&list = arena.freeLists[size / kAlign];
  if (list == nullptr) return ArenaCarve(size);
  void *slot = list;
  SLOT_UNPOISON(slot, size);
  list = *static_cast<void **>(slot);
  arena.live++;
  return slot;
}

void SlotGive(Family family, void *slot, size_t size) {
  size = Rounded(size);
  ArenaHold hold;
  if (size > kMaxSlot || WasDirect(slot)) {
    DirectFree(family, slot);
    return;
  }
  void *&list = arena.freeLists[size / kAlign];
  *static_cast<void **>(slot) = list;
  list = slot;
  ArenaTakeBack(slot, size);
}

}  // namespace

void *ContainerSlotTake(size_t size) { return SlotTake(kContainer, size); }

void ContainerSlotGive(void *slot, size_t size) {
  if (slot != nullptr) SlotGive(kContainer, slot, size);
}

void *RecordSlotTake(size_t size) {
  void *slot = SlotTake(kRecord, size);
  if (slot == nullptr) MemoryExhausted();
  if (!direct) memset(slot, 0, size);
  return slot;
}

void RecordSlotGive(void *slot, size_t size) {
  if (slot != nullptr) SlotGive(kRecord, slot, size);
}

void *StoredTake(size_t bytes) {
  bytes = Rounded(bytes);
  void *entry;
  if (direct) {
    entry = DirectAlloc(kRecord, bytes);
  } else {
    ArenaHold hold;
    entry = ArenaCarve(bytes);
  }
  if (entry == nullptr) MemoryExhausted();
  return entry;
}

void StoredGive(void *entry, size_t bytes) {
  ArenaHold hold;
  if (WasDirect(entry)) {
    DirectFree(kRecord, entry);
  } else {
    ArenaTakeBack(entry, Rounded(bytes));
  }
}

long ContainerSlotsInUse(void) {
  ArenaHold hold;
  return (long)arena.live + directOut.load(std::memory_order_relaxed);
}

void ContainerSlotsDirect(bool on) { direct = on; }

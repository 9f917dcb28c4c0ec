#include "memory/GroupManagement.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "base/faults.h"
#include "diagnostics/log.h"
#include "diagnostics/verbatim.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"

using namespace vlx;

// ORDER ADGCAT
const char* const Adgcategory[kGrpCategories] = {
    "Server",         "Scripts",       "Menus",         "Tables",         "Masks",
    "Variables",      "Miscelleanous buffers",          "Report",         "Stack buffers",
    "Screens/Windows", "Libelles",     "Oracle buffers", "-",             "Debug buffers",
    "-",              "-",             "Communications", "Printers",      "Sreen buffers",
    "Help windows",   "Sequential files",               "Classes",
};

namespace {

constexpr std::uint32_t kSlotMask = MAXGRP - 1;

int vlxcFreeMem(unsigned int shortage);

}  // namespace

adgMemory::adgMemory(const char* table_name)
    : name(table_name), slots(MAXGRP), descriptions(static_cast<char*>(std::calloc(MAXGRP, kDescription)), std::free) {
  if (descriptions == nullptr) throw std::bad_alloc();
  buildLists();
}

adgMemory::~adgMemory() {
  for (s_grp& g : slots) {
    while (g.segments != nullptr) {
      ss_sgm* segment = g.segments;
      g.segments = segment->next;
      delete segment;
    }
  }
}

void adgMemory::iniGroup() {
  log::trace(log::system, "MAXGRP:%i", static_cast<int>(MAXGRP));
  buildLists();
}

void adgMemory::buildLists() {
  freeHead = usedHead = kNoSlot;
  for (std::uint32_t slot = 0; slot < MAXGRP; ++slot) {
    s_grp& g = slots[slot];
    if (g.id == 0) g.id = slot;
    g.next = g.prev = kNoSlot;
    if (slot < 2) g.flags = kGroupInUse | kGroupKept;
  }
  // Slots 2..1023 not in use form the free list in ascending order.
  std::uint32_t last = kNoSlot;
  for (std::uint32_t slot = 2; slot < MAXGRP; ++slot) {
    s_grp& g = slots[slot];
    if (g.flags & kGroupInUse) {
      pushFront(usedHead, slot);
      continue;
    }
    g.prev = last;
    g.next = kNoSlot;
    if (last == kNoSlot)
      freeHead = slot;
    else
      slots[last].next = slot;
    last = slot;
  }
}

int adgMemory::setMaxMemory(int kilobytes) {
  std::uint32_t bytes = static_cast<std::uint32_t>(static_cast<std::uint64_t>(kilobytes) * 1024u);
  log::trace(log::system, "size = %u", bytes);
  if (bytes == maxMem) return 0;
  // The byte count is 32 bits wide: 4 GiB and more cannot be represented.
  if (kilobytes >= 0 && static_cast<std::uint64_t>(kilobytes) * 1024u <= 0xFFFFFFFFull && bytes > maxMem) {
    maxMem = bytes;
    return 0;
  }
  return err_vlx(kErrDomain, "Cannot change max %s memory usage to %i (current value : %i)", name,
                 static_cast<int>(static_cast<long long>(kilobytes) * 1024), static_cast<int>(maxMem));
}

std::uint32_t adgMemory::slotOf(std::uint32_t group) const {
  if (group == 0) return 0;
  std::uint32_t slot = group & kSlotMask;
  const s_grp& g = slots[slot];
  return g.id == group && (g.flags & kGroupInUse) && slot != 0 ? slot : 0;
}

void adgMemory::account(std::uint32_t slot, char op, long long size) {
  usedMem = static_cast<std::uint32_t>(usedMem + size);
  if (slot < MAXGRP) slots[slot].usedBytes = static_cast<std::uint32_t>(slots[slot].usedBytes + size);
  if (log::enabled(log::records)) {
    char when[32];
    std::time_t now = std::time(nullptr);
    std::strftime(when, sizeof when, "%FT%TZ", std::localtime(&now));
    log::trace(log::records, "%s;%i;%c;%i;%s;%i;%i", when, static_cast<int>(slot), op,
               static_cast<int>(size < 0 ? -size : size), name, static_cast<int>(slots[slot & kSlotMask].category),
               static_cast<int>(usedMem));
  }
}

int adgMemory::tryGetMem(std::size_t size) {
  std::uint32_t room = maxMem - usedMem;
  bool refused = fault::hit(fault::alloc);
  if (!refused && room >= size) return 0;
  if (!refused) {
    log::trace(log::system, " => free_mem size = %i, max mem = %i, used mem = %i", static_cast<int>(size),
               static_cast<int>(maxMem), static_cast<int>(usedMem));
    std::uint64_t shortage = usedMem + static_cast<std::uint64_t>(size) - maxMem;
    if (shortage <= 0xFFFFFFFFull && freeMem != nullptr && freeMem(static_cast<unsigned>(shortage)) != 0) return 0;
  }
  return err_vlx(kErrNoMemory, "size = %llu, max mem = %i, used mem = %i", static_cast<unsigned long long>(size),
                 static_cast<int>(maxMem), static_cast<int>(usedMem));
}

void adgMemory::unlink(std::uint32_t& head, std::uint32_t slot) {
  s_grp& g = slots[slot];
  if (g.prev != kNoSlot)
    slots[g.prev].next = g.next;
  else if (head == slot)
    head = g.next;
  if (g.next != kNoSlot) slots[g.next].prev = g.prev;
  g.next = g.prev = kNoSlot;
}

void adgMemory::pushFront(std::uint32_t& head, std::uint32_t slot) {
  s_grp& g = slots[slot];
  g.prev = kNoSlot;
  g.next = head;
  if (head != kNoSlot) slots[head].prev = slot;
  head = slot;
}

std::uint32_t adgMemory::getGroup(adg_onfree onFree, adg_releasable isReleasable, int category,
                                  const char* description) {
  if ((freeHead == kNoSlot || fault::hit(fault::group)) && freeGroup() == 0) {
    log::trace(log::system, "no more memory available");
    err_vlx(kErrNoMemory, VLX_AT(kAtGroupSlots));
    return 0;
  }
  std::uint32_t slot = freeHead;
  unlink(freeHead, slot);
  s_grp& g = slots[slot];
  g.flags = kGroupInUse | kGroupKept;
  g.usedBytes = 0;
  g.onFree = onFree;
  g.isReleasable = isReleasable;
  pushFront(usedHead, slot);
  if (category != -1) g.category = static_cast<std::uint8_t>(category);
  char* text = this->description(slot);
  std::strncpy(text, description, kDescription - 1);
  text[kDescription - 1] = '\0';
  return g.id;
}

int adgMemory::releaseGroup(std::uint32_t group) {
  std::uint32_t slot = slotOf(group);
  if (slot == 0) return 0;
  s_grp& g = slots[slot];
  if (g.onFree != nullptr) {
    int veto = g.onFree(group);
    if (veto < 0) return veto;
  }
  if (slot != 1) g.flags &= static_cast<std::uint8_t>(~(kGroupInUse | kGroupKept));
  g.id += MAXGRP;
  adgFree(group);
  // A group takes its segments with it: their holders check the group first.
  while (g.segments != nullptr) {
    ss_sgm* segment = g.segments;
    g.segments = segment->next;
    account(slot, '-', -static_cast<long long>(segment->buffer.size()));
    delete segment;
  }
  g.usedBytes = 0;
  if (slot != 1) {
    unlink(usedHead, slot);
    pushFront(freeHead, slot);
  }
  return 0;
}

std::uint32_t adgMemory::freeGroup() {
  std::uint32_t vetoed = 0;
  for (;;) {
    std::uint32_t best = 0;
    for (std::uint32_t slot = 3; slot < MAXGRP; ++slot) {
      const s_grp& g = slots[slot];
      if ((g.flags & (kGroupInUse | kGroupKept)) != kGroupInUse || g.id <= vetoed) continue;
      if (g.isReleasable != nullptr && g.isReleasable(g.id) == 0) continue;
      if (best == 0 || g.id < slots[best].id) {
        best = slot;
        log::trace(log::system, "{%i,%i} can be released", static_cast<int>(slot), static_cast<int>(g.id));
      }
    }
    if (best == 0) break;
    std::uint32_t id = slots[best].id;
    if (releaseGroup(id) < 0) {
      vetoed = id;
      continue;
    }
    log::trace(log::system, "found group %i", static_cast<int>(best));
    return best;
  }
  log::trace(log::system, "no group available !");
  if (dumpOnExhaust) {
    adg_dump();
    if (Adgsignal != nullptr) Adgsignal(15);
  }
  return 0;
}

ss_sgm* adgMemory::allocSegment(std::uint32_t group, std::size_t size) {
  std::uint32_t slot = slotOf(group);
  if (slot == 0 || size == 0) {
    err_vlx(kErrInternal, "Cannot allocate memory (size : %i, group : %i, slot : %i", static_cast<int>(size),
            static_cast<int>(group), static_cast<int>(slot));
    return nullptr;
  }
  std::uint32_t room = maxMem - usedMem;
  if (fault::hit(fault::alloc) || size > room) {
    log::trace(log::system, " => free_mem size = %i, max mem = %i, used mem = %i", static_cast<int>(size),
               static_cast<int>(maxMem), static_cast<int>(usedMem));
    std::uint64_t shortage = usedMem + static_cast<std::uint64_t>(size) - maxMem;
    if (size <= room || shortage > 0xFFFFFFFFull || freeMem == nullptr ||
        freeMem(static_cast<unsigned>(shortage)) == 0 || slotOf(group) == 0) {
      err_vlx(kErrNoMemory, "size = %llu, max mem = %i, used mem = %i", static_cast<unsigned long long>(size),
              static_cast<int>(maxMem), static_cast<int>(usedMem));
      return nullptr;
    }
  }
  ss_sgm* segment = new (std::nothrow) ss_sgm;
  if (segment != nullptr) {
    try {
      segment->buffer.resize(size);
    } catch (const std::bad_alloc&) {
      delete segment;
      segment = nullptr;
    }
  }
  if (segment == nullptr) {
    err_vlx(kErrNoMemory, VLX_AT(kAtSegment));
    if (slot >= 2) releaseGroup(group);
    return nullptr;
  }
  s_grp& g = slots[slot];
  segment->slot = slot;
  segment->next = g.segments;
  if (g.segments != nullptr) g.segments->prev = segment;
  g.segments = segment;
  account(slot, '+', static_cast<long long>(size));
  return segment;
}

int adgMemory::growSegment(ss_sgm* segment, std::size_t size) {
  if (segment == nullptr) return err_vlx(kErrInternal, "%s : null segment", "adg_realloc2");
  std::size_t length = segment->buffer.size();
  if (size <= length) return 0;
  long long growth = static_cast<long long>(size - length);
  long long room = static_cast<long long>(maxMem) - static_cast<long long>(usedMem);
  if (fault::hit(fault::alloc) || room < 0 || room < growth) {
    log::trace(log::system, "adg_realloc3 => memFree size:%i diff:%i M_memsize:%i U_memsize:%i", static_cast<int>(size),
               static_cast<int>(growth), static_cast<int>(maxMem), static_cast<int>(usedMem));
    long long shortage = growth - room;
    if (shortage <= 0 || shortage > 0xFFFFFFFFll || freeMem == nullptr ||
        freeMem(static_cast<unsigned>(shortage)) == 0 || (slots[segment->slot].flags & kGroupInUse) == 0)
      return err_vlx(kErrNoMemory, "adg_realloc3 failed to free memory - diff:%i free:%i M_memsize:%i U_memsize:%i",
                     static_cast<int>(growth), static_cast<int>(room), static_cast<int>(maxMem),
                     static_cast<int>(usedMem));
  }
  try {
    segment->buffer.resize(size);
  } catch (const std::bad_alloc&) {
    return err_vlx(kErrNoMemory, VLX_AT(kAtSegmentGrowth));
  }
  account(segment->slot, '+', growth);
  return 0;
}

int adgMemory::freeSegment(ss_sgm* segment) {
  if (segment == nullptr) return err_vlx(kErrInternal, "%s : null segment", "segmentFree");
  s_grp& g = slots[segment->slot];
  if (segment->prev == nullptr && g.segments != segment) return err_vlx(kErrInternal, "%s : segment mismatch", "segmentFree");
  if (segment->prev != nullptr)
    segment->prev->next = segment->next;
  else
    g.segments = segment->next;
  if (segment->next != nullptr) segment->next->prev = segment->prev;
  account(segment->slot, '-', -static_cast<long long>(segment->buffer.size()));
  delete segment;
  return 0;
}

void* adgMemoryHash::adgMalloc(std::uint32_t group, std::size_t size) {
  void* block = std::calloc(1, size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  blocks_[group][block] = static_cast<std::uint32_t>(size);
  account(group & kSlotMask, '+', static_cast<long long>(size));
  return block;
}

void* adgMemoryHash::adgRealloc(std::uint32_t group, void* pointer, std::size_t size) {
  auto& map = blocks_[group];
  auto it = map.try_emplace(pointer, 0u).first;
  std::uint32_t old = it->second;
  if (old >= size) return pointer;
  void* block = std::realloc(pointer, size);
  if (block == nullptr) return nullptr;
  map.erase(pointer);
  map[block] = static_cast<std::uint32_t>(size);
  std::memset(static_cast<char*>(block) + old, 0, size - old);
  account(group & kSlotMask, '~', static_cast<long long>(size - old));
  return block;
}

int adgMemoryHash::adgMemfree(std::uint32_t group, void* pointer) {
  auto map = blocks_.find(group);
  auto it = map == blocks_.end() ? decltype(map->second.end()){} : map->second.find(pointer);
  if (map == blocks_.end() || it == map->second.end()) return err_vlx(kErrInternal, "Buffer reference not found");
  account(group & kSlotMask, '-', -static_cast<long long>(it->second));
  map->second.erase(it);
  std::free(pointer);
  if (map->second.empty()) blocks_.erase(map);
  return 0;
}

void adgMemoryHash::adgFree(std::uint32_t group) {
  auto map = blocks_.find(group);
  if (map == blocks_.end()) return;
  for (auto& [block, size] : map->second) {
    account(group & kSlotMask, '-', -static_cast<long long>(size));
    std::free(block);
  }
  blocks_.erase(map);
}

adgMemoryHash::~adgMemoryHash() {
  for (auto& [group, map] : blocks_)
    for (auto& [block, size] : map) std::free(block);
}

adgMemory& heap_table() {
  // Every buffer-unit access checks its group here: set up once.
  static adgMemory& table = []() -> adgMemory& {
    static adgMemoryHash heap("HEAP");
    heap.freeMem = vlxcFreeMem;
    return heap;
  }();
  return table;
}

adgMemory& common_table() {
  static adgMemoryHash table("COMMON");
  return table;
}

namespace {

bool releasable(const s_grp& g) {
  return (g.flags & (kGroupInUse | kGroupKept)) == kGroupInUse &&
         (g.isReleasable == nullptr || g.isReleasable(g.id) != 0);
}

int vlxcFreeMem(unsigned int shortage) {
  adgMemory& t = heap_table();
  log::trace(log::system, "%s(%i)", "vlxcFreeMem", static_cast<int>(shortage));
  if (shortage == 0) {
    int released = 0;
    for (std::uint32_t slot = 3; slot < MAXGRP; ++slot)
      if (releasable(t.slots[slot]) && t.releaseGroup(t.slots[slot].id) == 0) released = 1;
    return released;
  }
  std::uint32_t vetoed = 0;
  for (;;) {
    std::uint32_t best = kNoSlot;
    std::uint32_t bestCover = 0;
    for (std::uint32_t slot = 0; slot < MAXGRP; ++slot) {
      const s_grp& g = t.slots[slot];
      if (g.id <= vetoed || !releasable(g)) continue;
      std::uint32_t cover = std::min(shortage, g.usedBytes);
      if (cover == 0) continue;
      if (cover > bestCover || (cover == shortage && bestCover == shortage && g.id < t.slots[best].id)) {
        best = slot;
        bestCover = cover;
      }
    }
    if (best == kNoSlot) return 0;
    std::uint32_t id = t.slots[best].id;
    std::uint32_t used = t.slots[best].usedBytes;
    if (t.releaseGroup(id) < 0) {
      vetoed = id;
      continue;
    }
    if (used >= shortage) return 1;
    shortage -= used;
  }
}

}  // namespace

#include "memory/vlxcalls.h"

#include <unistd.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "base/vlxpath.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"

using namespace vlx;

void (*Adgsignal)(int signal) = [](int signal) { std::raise(signal); };

namespace {

adgMemory& heap() { return heap_table(); }

void* common_malloc(unsigned group, std::size_t size) {
  adgMemory& t = common_table();
  if (t.slotOf(group) == 0 || t.tryGetMem(size) < 0) return nullptr;
  return t.adgMalloc(group, size);
}
void* common_realloc(unsigned group, void* pointer, std::size_t size) {
  adgMemory& t = common_table();
  if (pointer == nullptr || t.slotOf(group) == 0 || t.tryGetMem(size) < 0) return nullptr;
  return t.adgRealloc(group, pointer, size);
}
int common_memfree(unsigned group, void* pointer) { return common_table().adgMemfree(group, pointer); }
ss_sgm* common_malloc2(unsigned group, std::size_t size) { return common_table().allocSegment(group, size); }
int common_realloc2(ss_sgm* segment, std::size_t size) { return common_table().growSegment(segment, size); }
int common_sgmfree(ss_sgm* segment) { return common_table().freeSegment(segment); }
int common_if(unsigned group) { return static_cast<int>(common_table().slotOf(group)); }

int Dumpseq;

}  // namespace

const s_cbualloc Cbualloc[3] = {
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {adg_malloc, adg_realloc, adg_memfree, adg_malloc2, adg_realloc2, adg_sgmfree, adg_if},
    {common_malloc, common_realloc, common_memfree, common_malloc2, common_realloc2, common_sgmfree, common_if},
};

int ini_malloc(int kilobytes) {
  Errdump = adg_dump;
  heap().iniGroup();
  return heap().setMaxMemory(kilobytes);
}

unsigned adg_get(adg_onfree onFree, adg_releasable isReleasable, int category, const char* format, ...) {
  char description[256] = "";
  if (format != nullptr) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(description, 255, format, ap);
    va_end(ap);
  }
  if (heap().maxMem == 0) {
    err_vlx(kErrInternal, "Memory has to be initialized");
    return 0;
  }
  return heap().getGroup(onFree, isReleasable, category, description);
}

namespace {

// Validates the group and makes room for `size` bytes. Making room may
// release groups, the caller's own among them, so it is checked again.
bool room_for(unsigned group, std::size_t size, const char* function) {
  adgMemory& t = heap();
  if (t.slotOf(group) == 0) return err_vlx(kErrInternal, "%s", function), false;
  if (t.tryGetMem(size) < 0) return false;
  if (t.slotOf(group) == 0) return err_vlx(kErrNoMemory, "%s", function), false;
  return true;
}

}  // namespace

void* adg_malloc(unsigned group, std::size_t size) {
  return room_for(group, size, "adg_malloc") ? heap().adgMalloc(group, size) : nullptr;
}

void* adg_realloc(unsigned group, void* pointer, std::size_t size) {
  if (pointer == nullptr) return nullptr;
  return room_for(group, size, "adg_realloc") ? heap().adgRealloc(group, pointer, size) : nullptr;
}

int adg_memfree(unsigned group, void* pointer) { return heap().adgMemfree(group, pointer); }
int adg_free(unsigned group) { return heap().releaseGroup(group); }
int adg_if(unsigned group) { return static_cast<int>(heap().slotOf(group)); }

int adg_keep(unsigned group) {
  std::uint32_t slot = heap().slotOf(group);
  if (slot == 0) return err_vlx(kErrInternal, "adg_keep");
  heap().slots[slot].flags |= kGroupKept;
  return 0;
}

int adg_unkeep(unsigned group) {
  std::uint32_t slot = heap().slotOf(group);
  if (slot == 0) return err_vlx(kErrInternal, "adg_unkeep");
  if (slot > 1) heap().slots[slot].flags &= static_cast<std::uint8_t>(~kGroupKept);
  return 0;
}

int adg_ikeep(unsigned group) {
  std::uint32_t slot = heap().slotOf(group);
  return slot != 0 && (heap().slots[slot].flags & kGroupKept) ? 1 : 0;
}

unsigned adg_siz(unsigned group) {
  std::uint32_t slot = heap().slotOf(group);
  return slot == 0 ? 0 : heap().slots[slot].usedBytes;
}

ss_sgm* adg_malloc2(unsigned group, std::size_t size) { return heap().allocSegment(group, size); }
int adg_realloc2(ss_sgm* segment, std::size_t size) { return heap().growSegment(segment, size); }
int adg_sgmfree(ss_sgm* segment) { return heap().freeSegment(segment); }

unsigned vlx_group() { return heap().slots[1].id; }
void* vlx_malloc(std::size_t size) { return adg_malloc(vlx_group(), size); }
int vlx_free(void* pointer) { return adg_memfree(vlx_group(), pointer); }

std::uint32_t adg_used() { return heap().usedMem; }

void adg_dump() {
  adgMemory& t = heap();
  log::trace(log::system, "adg_dump");
  std::string name = "memory_" + vlx_program_name() + "_" + std::to_string(::getpid()) + "_" + std::to_string(Dumpseq++);
  std::string path = resolve_path("!tmp", name.c_str(), "tra");
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return;
  log::trace(log::system, "memory dumped in %s", path);
  auto line = [&](const char* text) {
    std::fprintf(file, "%s\n", text);
    log::trace(log::system, "%s", text);
  };
  line("group;category;destination;used;kept;releasable;size");
  char text[512];
  for (std::uint32_t slot = 1; slot < MAXGRP; ++slot) {
    const s_grp& g = t.slots[slot];
    int releasable = g.isReleasable == nullptr ? 1 : (g.isReleasable(g.id) != 0);
    std::snprintf(text, sizeof text, "%u;%s;%s;%d;%d;%d;%u", slot, Adgcategory[g.category < kGrpCategories ? g.category : 0],
                  t.description(slot), (g.flags & kGroupInUse) ? 1 : 0, (g.flags & kGroupKept) ? 1 : 0, releasable,
                  g.usedBytes);
    line(text);
  }
  line("");
  std::snprintf(text, sizeof text, "Maxmem : %d, Memuse : %d", static_cast<int>(t.maxMem), static_cast<int>(t.usedMem));
  line(text);
  std::fclose(file);
}

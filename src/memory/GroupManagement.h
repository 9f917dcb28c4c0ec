// Memory group tables: named, categorised sets of blocks and segments that
// are released together, under a ceiling on the bytes the process holds.
//
// A group id carries its slot in the low 10 bits and a generation above, so
// a released group's id goes stale at once. When a request would pass the
// ceiling, the table's release function frees groups their owners declared
// releasable; only when nothing can go is the request refused (error 31).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

inline constexpr unsigned MAXGRP = 1024;
inline constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

using adg_onfree = int (*)(unsigned int group);
using adg_releasable = int (*)(unsigned int group);

struct ss_sgm {
  std::uint32_t slot = 0;
  std::vector<unsigned char> buffer;
  ss_sgm* next = nullptr;
  ss_sgm* prev = nullptr;
};

enum : std::uint8_t { kGroupInUse = 1, kGroupKept = 2 };

inline constexpr std::size_t kDescription = 256;

struct s_grp {
  std::uint8_t category;
  std::uint32_t id;
  std::uint32_t usedBytes;
  ss_sgm* segments;
  adg_onfree onFree;
  adg_releasable isReleasable;
  std::uint32_t next, prev;
  std::uint8_t flags;
};

// Categories of groups, which say what a group holds in the dump; those
// the engine creates are named.
// ORDER ADGCAT: Adgcategory holds their labels.
enum adg_category : std::uint8_t {
  kGrpServer = 0,
  kGrpTables = 3,
  kGrpBuffers = 6,
  kGrpCommunications = 16,
  kGrpSequential = 20,
};
inline constexpr int kGrpCategories = 22;
// Labels of the group categories, as the dump shows them.
extern const char* const Adgcategory[kGrpCategories];

class adgMemory {
 public:
  const char* name;
  std::uint32_t maxMem = 0;
  std::uint32_t usedMem = 0;
  std::uint32_t freeHead = kNoSlot;
  std::uint32_t usedHead = kNoSlot;
  bool dumpOnExhaust = true;
  std::vector<s_grp> slots;
  // The slots' descriptions (kDescription bytes each), apart from the
  // slots: a process touches the pages of the few groups it describes.
  std::unique_ptr<char[], void (*)(void*)> descriptions;
  char* description(std::uint32_t slot) const { return descriptions.get() + slot * kDescription; }
  int (*freeMem)(unsigned int shortage) = nullptr;

  explicit adgMemory(const char* table_name);
  // Not virtual: tables are never deleted through a base pointer.
  ~adgMemory();

  virtual void* adgMalloc(std::uint32_t group, std::size_t size) = 0;
  virtual void* adgRealloc(std::uint32_t group, void* pointer, std::size_t size) = 0;
  virtual int adgMemfree(std::uint32_t group, void* pointer) = 0;
  virtual void adgFree(std::uint32_t group) = 0;

  // Rebuilds the slot lists (slots 0 and 1 in use and kept).
  void iniGroup();
  // Raises the ceiling to `kilobytes` KiB; 0 or error 50.
  int setMaxMemory(int kilobytes);
  // Slot of a valid group id, else 0.
  std::uint32_t slotOf(std::uint32_t group) const;
  // Makes room for `size` more bytes, releasing groups if needed; 0 or -31.
  int tryGetMem(std::size_t size);
  // Creates a group; its id, or 0 with the error recorded.
  std::uint32_t getGroup(adg_onfree onFree, adg_releasable isReleasable, int category, const char* description);
  // Releases a group; 0, or the veto of its onFree.
  int releaseGroup(std::uint32_t group);
  // Slot-release policy: frees the oldest releasable group; its slot or 0.
  std::uint32_t freeGroup();
  void account(std::uint32_t slot, char op, long long size);

  ss_sgm* allocSegment(std::uint32_t group, std::size_t size);
  int growSegment(ss_sgm* segment, std::size_t size);
  int freeSegment(ss_sgm* segment);

 protected:
  void buildLists();
  void unlink(std::uint32_t& head, std::uint32_t slot);
  void pushFront(std::uint32_t& head, std::uint32_t slot);
};

class adgMemoryHash final : public adgMemory {
 public:
  using adgMemory::adgMemory;
  // At process exit the table gives back every block it still holds.
  ~adgMemoryHash();
  void* adgMalloc(std::uint32_t group, std::size_t size) override;
  void* adgRealloc(std::uint32_t group, void* pointer, std::size_t size) override;
  int adgMemfree(std::uint32_t group, void* pointer) override;
  void adgFree(std::uint32_t group) override;

 private:
  std::unordered_map<std::uint32_t, std::unordered_map<void*, std::uint32_t>> blocks_;
};

// The two tables, created on first use.
adgMemory& heap_table();
adgMemory& common_table();

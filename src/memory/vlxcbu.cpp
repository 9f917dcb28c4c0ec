#include "memory/vlxcbu.h"

#include <cstring>

#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"

using namespace vlx;

s_cbu* Cbu;
std::uint32_t Maxcbu;
std::uint32_t Cbuflb;

namespace {

constexpr std::uint32_t kNone = 0;
constexpr unsigned kGrowth = 2048;
constexpr unsigned kExtentStep = 3;

unsigned Grpcbu;
std::uint32_t Usedhead[3];
unsigned Usedcount[3];
unsigned char Scratch[256];

// Index of a valid reference, else 0; touches nothing.
std::uint32_t index_of(cbu_ref ref) {
  std::uint32_t index = static_cast<std::uint32_t>(ref >> 32);
  if (index == 0 || index > Maxcbu || Cbu == nullptr) return 0;
  return Cbu[index].cbu_stamp == static_cast<std::uint32_t>(ref) ? index : 0;
}

bool valid_mod(std::uint8_t mod) { return mod == 1 || mod == 2; }

// A unit whose group was released has lost its segments with it.
bool group_alive(const s_cbu& u) {
  return valid_mod(u.cbu_mod) && Cbualloc[u.cbu_mod].if_(u.cbu_group) != 0;
}

int alloc_error(std::uint8_t mod, const char* detail) {
  int pending = get_last_errvlx();
  log::trace(log::system, "cbu allocation failed in row %d", static_cast<int>(mod));
  return err_vlx(static_cast<short>(pending != 0 ? pending : kErrNoMemory), "%s", detail);
}

void chain_free(std::uint32_t first, std::uint32_t last) {
  for (std::uint32_t i = last + 1; i-- > first;) {
    Cbu[i].cbu_stamp = 1;
    Cbu[i].cbu_nxt = Cbuflb;
    Cbuflb = i;
  }
}

int grow_table() {
  if (Maxcbu + kGrowth > kCbuMaxIndex) return err_vlx(kErrInternal, "Max cbu reached");
  std::size_t entries = Maxcbu + 1 + kGrowth;
  void* table = adg_realloc(Grpcbu, Cbu, entries * sizeof(s_cbu));
  if (table == nullptr) return alloc_error(1, "Reallocation des cbu");
  Cbu = static_cast<s_cbu*>(table);
  std::uint32_t first = Maxcbu + 1;
  Maxcbu += kGrowth;
  chain_free(first, Maxcbu);
  return 0;
}

void unlink_used(std::uint32_t index) {
  s_cbu& u = Cbu[index];
  if (u.cbu_prv != kNone)
    Cbu[u.cbu_prv].cbu_nxt = u.cbu_nxt;
  else
    Usedhead[u.cbu_mod] = u.cbu_nxt;
  if (u.cbu_nxt != kNone) Cbu[u.cbu_nxt].cbu_prv = u.cbu_prv;
}

// The unit of a valid reference that is in use and whose segments live.
s_cbu* live_unit(cbu_ref ref) {
  std::uint32_t index = index_of(ref);
  if (index < 2) return nullptr;
  s_cbu& u = Cbu[index];
  return (u.cbu_flags & kCbuInUse) && group_alive(u) ? &u : nullptr;
}

// Chain word of a text extent: the next extent's number, big-endian.
unsigned short next_text_extent(const ss_sgm* segment) {
  if (segment->buffer.size() < 2) return 0;
  return static_cast<unsigned short>(segment->buffer[0] << 8 | segment->buffer[1]);
}

// Chain of a dynamic-array chunk: low 16 bits of its second 32-bit word.
unsigned short next_chunk(const ss_sgm* segment) {
  if (segment->buffer.size() < 8) return 0;
  std::uint32_t word;
  std::memcpy(&word, segment->buffer.data() + 4, sizeof word);
  return static_cast<unsigned short>(word & 0xFFFF);
}

int free_chain(cbu_ref ref, unsigned short number, unsigned short (*next)(const ss_sgm*)) {
  s_cbu* u = live_unit(ref);
  if (u == nullptr) return err_vlx(kErrInternal, "Inconsistent reference value");
  if (number > u->cbu_nmx) return err_vlx(kErrInternal, "(cbu_free_extent) Illegal extent number");
  // Each number is visited once at most, so a looping chain ends.
  for (unsigned visits = 0; number != 0 && number <= u->cbu_nmx && visits <= u->cbu_nmx; ++visits) {
    ss_sgm* segment = u->cbu_ext[number];
    if (segment == nullptr) break;
    unsigned short following = next(segment);
    u->cbu_ext[number] = nullptr;
    int st = Cbualloc[u->cbu_mod].sgmfree(segment);
    if (st < 0) return st;
    number = following;
  }
  return 0;
}

}  // namespace

int cbu_ini(int max) {
  if (max < 3) max = 3;
  Grpcbu = adg_get(nullptr, nullptr, kGrpBuffers, "CBU global group");
  if (Grpcbu == 0) return err_vlx(static_cast<short>(get_last_errvlx() ? get_last_errvlx() : kErrInternal), "Init des cbu Grpcbu=0");
  log::trace(log::system, "cbu_ini(%i) sizeof(s_cbu):%llu", max, static_cast<unsigned long long>(sizeof(s_cbu)));
  Cbu = static_cast<s_cbu*>(adg_malloc(Grpcbu, (static_cast<std::size_t>(max) + 1) * sizeof(s_cbu)));
  if (Cbu == nullptr) return err_vlx(static_cast<short>(get_last_errvlx() ? get_last_errvlx() : kErrNoMemory), "Init des cbu");
  Maxcbu = static_cast<std::uint32_t>(max);
  Cbuflb = kNone;
  chain_free(2, Maxcbu - 1);
  Cbu[1].cbu_stamp = 1;
  Cbu[1].cbu_flags = kCbuInUse;
  for (int row = 0; row < 3; ++row) Usedhead[row] = kNone, Usedcount[row] = 0;
  log::trace(log::system, "cbu_ini return");
  return 0;
}

int cbu_new(unsigned char mod, unsigned group, unsigned size, cbu_ref* ref, const char* description) {
  if (!valid_mod(mod)) return err_vlx(kErrInternal, "Illegal mod for cbu");
  if (Cbualloc[mod].if_(group) == 0) return err_vlx(kErrInternal, "Illegal allocation group for cbu");
  if (size == 0) return err_vlx(kErrInternal, "Illegal size for cbu");
  if (Cbu == nullptr) return err_vlx(kErrInternal, "Init des cbu");
  if (Cbuflb == kNone) {
    int st = grow_table();
    if (st < 0) return st;
  }
  std::uint32_t index = Cbuflb;
  s_cbu& u = Cbu[index];
  Cbuflb = u.cbu_nxt;
  std::uint32_t stamp = u.cbu_stamp;
  u = s_cbu{};
  u.cbu_stamp = stamp;
  u.cbu_mod = mod;
  u.cbu_group = group;
  u.cbu_flags = kCbuInUse;
  u.cbu_prv = kNone;
  u.cbu_nxt = Usedhead[mod];
  if (Usedhead[mod] != kNone) Cbu[Usedhead[mod]].cbu_prv = index;
  Usedhead[mod] = index;
  ++Usedcount[mod];
  u.cbu_sgm = Cbualloc[mod].malloc2(group, size);
  if (u.cbu_sgm == nullptr) {
    unlink_used(index);
    --Usedcount[mod];
    u = s_cbu{};
    u.cbu_stamp = stamp;
    u.cbu_nxt = Cbuflb;
    Cbuflb = index;
    return alloc_error(mod, "Cbu main allocation");
  }
  *ref = static_cast<cbu_ref>(index) << 32 | stamp;
  log::trace(log::system, "new Cbu[%lx]:%llx (%s)", static_cast<unsigned long>(index),
             static_cast<unsigned long long>(*ref), description != nullptr ? description : "");
  return 0;
}

int cbu_free(cbu_ref ref) {
  std::uint32_t index = index_of(ref);
  if (index == 0) return err_vlx(kErrInternal, "Inconsistent reference value");
  s_cbu& u = Cbu[index];
  if (index == 1 || (u.cbu_flags & kCbuInUse) == 0) return 0;
  // Dependents are detached first so that a cycle among them ends.
  cbu_ref subs[2] = {u.cbu_sub1, u.cbu_sub2};
  u.cbu_sub1 = u.cbu_sub2 = 0;
  for (cbu_ref sub : subs) {
    if (sub == 0) continue;
    int st = cbu_free(sub);
    if (st < 0) return st;
  }
  if (u.cbu_stamp != static_cast<std::uint32_t>(ref)) return 0;
  if (group_alive(u)) {
    int st = Cbualloc[u.cbu_mod].sgmfree(u.cbu_sgm);
    if (st < 0) {
      if ((u.cbu_group & (MAXGRP - 1)) != 1) return st;
      raz_err();
    }
    u.cbu_sgm = nullptr;
    for (unsigned n = 1; u.cbu_ext != nullptr && n <= u.cbu_nmx; ++n)
      if (u.cbu_ext[n] != nullptr) Cbualloc[u.cbu_mod].sgmfree(u.cbu_ext[n]);
    if (u.cbu_ext != nullptr) Cbualloc[u.cbu_mod].memfree(u.cbu_group, u.cbu_ext);
  }
  std::uint8_t mod = u.cbu_mod;
  unlink_used(index);
  std::uint32_t stamp = u.cbu_stamp + 1;
  u = s_cbu{};
  u.cbu_stamp = stamp;
  if (valid_mod(mod)) --Usedcount[mod];
  u.cbu_nxt = Cbuflb;
  Cbuflb = index;
  return 0;
}

int cbu_if(cbu_ref ref) { return static_cast<int>(index_of(ref)); }

unsigned char* cbu_bu(cbu_ref ref) {
  std::uint32_t index = index_of(ref);
  if (index == 0) return nullptr;
  s_cbu& u = Cbu[index];
  if ((u.cbu_flags & kCbuInUse) == 0 || (u.cbu_flags & kCbuNoAddress)) return nullptr;
  if (u.cbu_sgm == nullptr) return Scratch;
  return group_alive(u) ? u.cbu_sgm->buffer.data() : nullptr;
}

unsigned char* cbu_buf(cbu_ref ref, unsigned* length) {
  *length = 0;
  std::uint32_t index = index_of(ref);
  if (index == 0) return nullptr;
  s_cbu& u = Cbu[index];
  if ((u.cbu_flags & kCbuInUse) == 0 || (u.cbu_flags & kCbuNoAddress)) return nullptr;
  if (u.cbu_sgm == nullptr) {
    if (index == 1) *length = sizeof Scratch;
    return Scratch;
  }
  if (!group_alive(u)) return nullptr;
  *length = static_cast<unsigned>(u.cbu_sgm->buffer.size());
  return u.cbu_sgm->buffer.data();
}

unsigned cbu_len(cbu_ref ref) {
  std::uint32_t index = index_of(ref);
  if (index == 1) return sizeof Scratch;
  s_cbu* u = live_unit(ref);
  return u == nullptr || u->cbu_sgm == nullptr ? 0 : static_cast<unsigned>(u->cbu_sgm->buffer.size());
}

int cbu_realloc(cbu_ref ref, unsigned size) {
  s_cbu* u = live_unit(ref);
  if (u == nullptr || u->cbu_sgm == nullptr) return err_vlx(kErrInternal, "Inconsistent reference value");
  int st = Cbualloc[u->cbu_mod].realloc2(u->cbu_sgm, size);
  if (st == 0) ++u->cbu_updtick;
  return st;
}

unsigned cbu_grp(cbu_ref ref) {
  std::uint32_t index = index_of(ref);
  return index < 2 ? 0 : Cbu[index].cbu_group;
}

int cbu_new_extent(cbu_ref ref, unsigned short* number) {
  s_cbu* u = live_unit(ref);
  if (u == nullptr) return err_vlx(kErrInternal, "Inconsistent reference value");
  const s_cbualloc& row = Cbualloc[u->cbu_mod];
  unsigned short chosen = 0;
  if (u->cbu_ext == nullptr) {
    void* table = row.malloc(u->cbu_group, 4 * sizeof(ss_sgm*));
    if (table == nullptr) return alloc_error(u->cbu_mod, "Cbu extent table reallocation");
    u = live_unit(ref);
    u->cbu_ext = static_cast<ss_sgm**>(table);
    u->cbu_nmx = 3;
    chosen = 1;
  } else {
    for (unsigned short n = 1; n <= u->cbu_nmx && chosen == 0; ++n)
      if (u->cbu_ext[n] == nullptr) chosen = n;
    if (chosen == 0) {
      if (u->cbu_nmx + kExtentStep > 0xFFFF) return err_vlx(kErrInternal, "Cbu extent table reallocation");
      std::size_t slots = u->cbu_nmx + 1u + kExtentStep;
      void* table = row.realloc(u->cbu_group, u->cbu_ext, slots * sizeof(ss_sgm*));
      if (table == nullptr) return alloc_error(u->cbu_mod, "Cbu extent table reallocation");
      u = live_unit(ref);
      u->cbu_ext = static_cast<ss_sgm**>(table);
      chosen = static_cast<unsigned short>(u->cbu_nmx + 1);
      u->cbu_nmx = static_cast<unsigned short>(u->cbu_nmx + kExtentStep);
    }
  }
  ss_sgm* segment = row.malloc2(u->cbu_group, 2);
  if (segment == nullptr) return alloc_error(u->cbu_mod, "Cbu extent allocation");
  u = live_unit(ref);
  u->cbu_ext[chosen] = segment;
  *number = chosen;
  return 0;
}

int cbu_extent(cbu_ref ref, unsigned short number, unsigned char** address, unsigned* length) {
  std::uint32_t index = index_of(ref);
  s_cbu* u = live_unit(ref);
  if (u == nullptr) return err_vlx(kErrInternal, "cbu_extent - inconsistent reference value");
  if (number > u->cbu_nmx)
    return err_vlx(kErrInternal, "cbu_extent - illegal extent number:%i > Cbu[%i].cbu_nmx:%i", number, static_cast<int>(index),
                   u->cbu_nmx);
  ss_sgm* segment = number == 0 ? u->cbu_sgm : u->cbu_ext[number];
  *address = segment != nullptr ? segment->buffer.data() : nullptr;
  *length = segment != nullptr ? static_cast<unsigned>(segment->buffer.size()) : 0;
  return 0;
}

int cbu_realloc_extent(cbu_ref ref, unsigned short number, unsigned size) {
  s_cbu* u = live_unit(ref);
  if (u == nullptr) return err_vlx(kErrInternal, "cbu_extent - inconsistent reference value");
  if (number == 0 || number > u->cbu_nmx || u->cbu_ext[number] == nullptr)
    return err_vlx(kErrInternal, "cbu_extent - illegal extent number:%i > Cbu[%i].cbu_nmx:%i", number,
                   static_cast<int>(index_of(ref)), u->cbu_nmx);
  return Cbualloc[u->cbu_mod].realloc2(u->cbu_ext[number], size);
}

int cbu_free_extent(cbu_ref ref, unsigned short number) { return free_chain(ref, number, next_text_extent); }
int cbu_free_tab_extent(cbu_ref ref, unsigned short number) { return free_chain(ref, number, next_chunk); }

int cbu_free_all_extent(cbu_ref ref) {
  s_cbu* u = live_unit(ref);
  if (u == nullptr) return err_vlx(kErrInternal, "Inconsistent reference value");
  for (unsigned n = 1; u->cbu_ext != nullptr && n <= u->cbu_nmx; ++n) {
    if (u->cbu_ext[n] == nullptr) continue;
    int st = Cbualloc[u->cbu_mod].sgmfree(u->cbu_ext[n]);
    if (st < 0) return st;
    u->cbu_ext[n] = nullptr;
  }
  return 0;
}

int cbu_max_ext(cbu_ref ref) {
  s_cbu* u = live_unit(ref);
  return u == nullptr ? err_vlx(kErrInternal, "Inconsistent reference value") : u->cbu_nmx;
}

int cbu_vobj(cbu_ref ref) {
  std::uint32_t index = index_of(ref);
  return index == 0 ? err_vlx(kErrInternal, "Inconsistent reference value") : Cbu[index].cbu_vobj;
}

unsigned cbu_get_updtick(cbu_ref ref) {
  std::uint32_t index = index_of(ref);
  return index == 0 ? 0 : Cbu[index].cbu_updtick;
}

int cbu_set_noextent(cbu_ref ref, int on) {
  std::uint32_t index = index_of(ref);
  if (index < 2) return err_vlx(kErrInternal, "Inconsistent reference value");
  if (on)
    Cbu[index].cbu_flags |= kCbuNoExtent;
  else
    Cbu[index].cbu_flags &= ~kCbuNoExtent;
  return 0;
}

int cbu_is_noextent(cbu_ref ref) {
  std::uint32_t index = index_of(ref);
  return index != 0 && (Cbu[index].cbu_flags & kCbuNoExtent) ? 1 : 0;
}

int cbu_load(cbu_ref ref, int count, const unsigned char* const* pieces, const unsigned* sizes) {
  s_cbu* u = live_unit(ref);
  if (u == nullptr || u->cbu_sgm == nullptr || count < 1) return err_vlx(kErrInternal, "Inconsistent reference value");
  const s_cbualloc& row = Cbualloc[u->cbu_mod];
  if (sizes[0] > 0) {
    int st = row.realloc2(u->cbu_sgm, sizes[0]);
    if (st < 0) return st;
    std::memcpy(u->cbu_sgm->buffer.data(), pieces[0], sizes[0]);
  }
  int st = cbu_free_all_extent(ref);
  if (st < 0) return st;
  if (count == 1) return 0;
  if (u->cbu_nmx < count - 1) {
    std::size_t slots = static_cast<std::size_t>(count);
    void* table = u->cbu_ext == nullptr ? row.malloc(u->cbu_group, slots * sizeof(ss_sgm*))
                                        : row.realloc(u->cbu_group, u->cbu_ext, slots * sizeof(ss_sgm*));
    if (table == nullptr) return alloc_error(u->cbu_mod, "Cbu extent table reallocation");
    u = live_unit(ref);
    u->cbu_ext = static_cast<ss_sgm**>(table);
    u->cbu_nmx = static_cast<std::uint16_t>(count - 1);
  }
  for (int i = 1; i < count; ++i) {
    if (pieces[i] == nullptr || sizes[i] == 0) continue;
    ss_sgm* segment = row.malloc2(u->cbu_group, sizes[i]);
    if (segment == nullptr) return alloc_error(u->cbu_mod, "Cbu extent allocation");
    u = live_unit(ref);
    std::memcpy(segment->buffer.data(), pieces[i], sizes[i]);
    u->cbu_ext[i] = segment;
  }
  ++u->cbu_updtick;
  return 0;
}

unsigned cbu_count(int mod) { return mod >= 0 && mod < 3 ? Usedcount[mod] : 0; }

#include "channel/iocbu.h"

#include <cstring>
#include <vector>

#include "base/bigend.h"
#include "channel/divcom.h"
#include "channel/iocom.h"
#include "diagnostics/verbatim.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"

namespace {

constexpr int kMaxPieces = (kPieceHeaderMax - 2) / 4;

bool raw_form(int slot, cbu_ref unit) { return getProtocolVersion(slot) >= 8 && cbu_is_noextent(unit); }

// The pieces of a unit to send: main buffer (less `omit` bytes), then every
// extent up to the highest one held, a single zero byte standing for a
// missing one; `header` receives the count and the sizes.
struct Outgoing {
  std::vector<const char*> pieces;
  std::vector<int> sizes;
  unsigned char header[kPieceHeaderMax];
  int headerSize = 0;
};

int collect(int slot, cbu_ref unit, int omit, Outgoing& out) {
  unsigned char* main = cbu_bu(unit);
  if (main == nullptr) return err_vlx(kErrInternal, "Inconsistent reference value");
  int length = static_cast<int>(cbu_len(unit)) - omit;
  if (length < 0) length = 0;
  out.pieces.push_back(reinterpret_cast<const char*>(main));
  out.sizes.push_back(length);
  if (raw_form(slot, unit)) return 0;
  static const char zero = 0;
  int highest = 0;
  int max = cbu_max_ext(unit);
  for (int n = 1; n <= max; ++n) {
    unsigned char* address;
    unsigned size;
    if (cbu_extent(unit, static_cast<unsigned short>(n), &address, &size) == 0 && address != nullptr) highest = n;
  }
  if (highest + 1 > kMaxPieces) return err_vlx(kErrInternal, "Too many extent to serialize");
  for (int n = 1; n <= highest; ++n) {
    unsigned char* address;
    unsigned size;
    cbu_extent(unit, static_cast<unsigned short>(n), &address, &size);
    out.pieces.push_back(address != nullptr ? reinterpret_cast<const char*>(address) : &zero);
    out.sizes.push_back(address != nullptr ? static_cast<int>(size) : 1);
  }
  int count = static_cast<int>(out.pieces.size());
  put_be16(out.header, count);
  for (int i = 0; i < count; ++i) put_be32(out.header + 2 + 4 * i, static_cast<std::uint32_t>(out.sizes[i]));
  out.headerSize = 2 + 4 * count;
  return 0;
}

using Reader = int (*)(int slot, void* bytes, int count);

[[noreturn]] void fail(int status, int line, const char* operation) {
  int number = status < 0 ? -status : kErrInternal;
  if (number != kErrNoMemory) err_vlx(static_cast<short>(number), VLX_WHERE(kSourceIocom, line, operation));
  throwException(number);
}

// Reads a unit in either form and loads it; throws on failure.
void receive(int slot, cbu_ref unit, Reader read, const char* operation) {
  if (cbu_bu(unit) == nullptr) {
    err_vlx(kErrInternal, "Inconsistent reference value");
    throwException(kErrInternal);
  }
  if (raw_form(slot, unit)) {
    int st = read(slot, cbu_bu(unit), static_cast<int>(cbu_len(unit)));
    if (st < 0) fail(st, __LINE__, operation);
    return;
  }
  unsigned char head[4];
  int st = read(slot, head, 2);
  if (st < 0) fail(st, __LINE__, operation);
  int count = get_be16(head);
  if (count < 1 || count > kMaxPieces) {
    err_vlx(kErrInternal, "Too many extent to serialize");
    throwException(kErrInternal);
  }
  std::vector<unsigned> sizes(static_cast<std::size_t>(count));
  for (unsigned& size : sizes) {
    if ((st = read(slot, head, 4)) < 0) fail(st, __LINE__, operation);
    size = get_be32(head);
  }
  // Pieces live in the unit's group until loaded; they go whatever happens.
  unsigned group = cbu_grp(unit);
  std::vector<unsigned char*> pieces(static_cast<std::size_t>(count), nullptr);
  struct Release {
    unsigned group;
    std::vector<unsigned char*>& pieces;
    ~Release() {
      for (unsigned char* p : pieces)
        if (p != nullptr) adg_memfree(group, p);
    }
  } release{group, pieces};
  for (int i = 0; i < count; ++i) {
    std::size_t size = sizes[static_cast<std::size_t>(i)];
    if (i > 0 && size == 1) {
      unsigned char dropped;
      if ((st = read(slot, &dropped, 1)) < 0) fail(st, __LINE__, operation);
      continue;
    }
    if (size == 0) continue;
    pieces[static_cast<std::size_t>(i)] = static_cast<unsigned char*>(adg_malloc(group, size));
    if (pieces[static_cast<std::size_t>(i)] == nullptr) fail(-kErrNoMemory, __LINE__, operation);
    if ((st = read(slot, pieces[static_cast<std::size_t>(i)], static_cast<int>(size))) < 0)
      fail(st, __LINE__, operation);
  }
  static const unsigned char empty = 0;
  if (pieces[0] == nullptr) pieces[0] = nullptr, sizes[0] = 0;
  std::vector<const unsigned char*> loaded(pieces.begin(), pieces.end());
  if (loaded[0] == nullptr) loaded[0] = &empty;
  st = cbu_load(unit, count, loaded.data(), sizes.data());
  if (st < 0) fail(st, __LINE__, operation);
}

}  // namespace

int ack_cbu(int slot, cbu_ref unit, int omit) {
  Outgoing out;
  int st = collect(slot, unit, omit, out);
  if (st < 0) return st;
  if (out.headerSize > 0 && (st = wl_ack(slot, out.header, out.headerSize)) < 0) return st;
  for (std::size_t i = 0; i < out.pieces.size(); ++i)
    if ((st = wl_ack(slot, out.pieces[i], out.sizes[i])) < 0) return st;
  return 0;
}

int send_cbu(int slot, int code, const char* body, int length, int omit, cbu_ref unit) {
  Outgoing out;
  int st = collect(slot, unit, omit, out);
  if (st < 0) return st;
  if (out.headerSize > 0) {
    out.pieces.insert(out.pieces.begin(), reinterpret_cast<const char*>(out.header));
    out.sizes.insert(out.sizes.begin(), out.headerSize);
  }
  return snd_rb(slot, code, body, length, static_cast<int>(out.pieces.size()), out.pieces.data(), out.sizes.data());
}

void read_cbu(int slot, cbu_ref unit) { receive(slot, unit, rl_req, "read_cbu"); }

void recv_cbu(int slot, cbu_ref unit, int) { receive(slot, unit, rl_ack, "recv_cbu"); }

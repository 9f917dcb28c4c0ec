#include "image/vlxfsq.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/bigend.h"
#include "channel/divcom.h"
#include "channel/iocom.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "files/vlxfile.h"
#include "memory/vlxcalls.h"

using namespace vlx;

#define WHERE(fn) VLX_WHERE("src/image/vlxfsq", __LINE__, fn)

// ORDER SECTIONS: exp, int, dcb, stu, ide, cla, cid, i64 (kCodecs below).
const int Grammar_section_size[kSections] = {24, 4, 20, 2, 1, 8, 24, 8};

namespace {

constexpr int kDcbStored = 17;
constexpr int kMaxSectionSize = 65535;

bool wide(char release) { return release >= 'R'; }

// Bounds of one section's bytes while decoding.
struct Cursor {
  const unsigned char* p;
  const unsigned char* end;
  bool room(int n) const { return end - p >= n; }
};

// Allocates the cell of a decoded section: capacity count, count - 1 in use.
int prepareRead(grctx* g, s_gcl* c, const unsigned char* data, int count) {
  if (g == nullptr || data == nullptr || count <= 0) return err_vlx(kErrInternal, WHERE("prepareRead"));
  std::size_t bytes = static_cast<std::size_t>(c->gc_siz) * static_cast<unsigned>(count) + 1;
  auto* p = static_cast<char*>(adg_malloc(c->gc_grp, bytes));
  if (p == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(kErrNoMemory, "prepareRead");
  std::memset(p, 0, bytes);
  c->gc_ptr = p;
  c->gc_cmx = static_cast<unsigned>(count);
  c->gc_nbr = static_cast<unsigned>(count - 1);
  return 0;
}

// Codecs of fixed-size elements: element i is decoded from `width` bytes.
template <typename Decode>
int read_fixed(grctx* g, s_gcl* c, const unsigned char* data, int count, int width, Decode decode) {
  if (int st = prepareRead(g, c, data, count); st < 0) return st;
  for (int i = 0; i < count; i++)
    if (int st = decode(c->gc_ptr + static_cast<std::size_t>(i) * c->gc_siz, data + i * width); st < 0) return st;
  return 0;
}

}  // namespace

int getSizeOfNode(char release) { return wide(release) ? 4 : 2; }

char getRemoteVlxRelease(int protocolVersion) { return protocolVersion < 14 ? 'N' : 'S'; }

int section_slot_size(int section, char release) {
  if (!wide(release) && section == 0) return 12;
  if (!wide(release) && section == 5) return 4;
  return Grammar_section_size[section];
}

std::uint32_t readNodeWithSize(const unsigned char** p, int size) {
  std::uint32_t v = 0;
  for (int i = 0; i < size; i++) v = v << 8 | *(*p)++;
  return v;
}

std::uint32_t readNode(const unsigned char** p, char release) { return readNodeWithSize(p, getSizeOfNode(release)); }

std::uint32_t readMask(const unsigned char** p, char release) {
  if (!wide(release)) return *(*p)++;
  std::uint32_t m = 0;
  for (int i = 0; i < 4; i++) m |= static_cast<std::uint32_t>(*(*p)++) << (8 * i);
  return m;
}

std::uint32_t readNodeWithMask(const unsigned char** p, std::uint32_t mask, int k, char release) {
  int bytes = getSizeOfNode(release);
  std::uint32_t v = 0;
  for (int b = 0; b < bytes; b++)
    if (mask & (1u << (bytes * k + b))) v |= static_cast<std::uint32_t>(*(*p)++) << (8 * (bytes - 1 - b));
  return v;
}

void writeNode(unsigned char** p, std::uint32_t value, char release) {
  for (int b = getSizeOfNode(release) - 1; b >= 0; b--) *(*p)++ = static_cast<unsigned char>(value >> (8 * b));
}

void setMaskPointer(s_mask* m, unsigned char** p, char release) {
  m->at = *p;
  m->bits = 0;
  m->bit = 1;
  *p += wide(release) ? 4 : 1;
}

void writeNodeAndSetMask(unsigned char** p, s_mask* m, std::uint32_t value, char release) {
  bool started = false;
  for (int b = getSizeOfNode(release) - 1; b >= 0; b--, m->bit <<= 1) {
    auto byte = static_cast<unsigned char>(value >> (8 * b));
    started = started || byte != 0;
    if (!started) continue;
    *(*p)++ = byte;
    m->bits |= m->bit;
  }
}

void setMaskValue(const s_mask* m, char release) {
  if (!wide(release)) {
    m->at[0] = static_cast<unsigned char>(m->bits);
    return;
  }
  for (int i = 0; i < 4; i++) m->at[i] = static_cast<unsigned char>(m->bits >> (8 * i));
}

int readExp(grctx* g, const unsigned char* data, int count, char release) {
  if (int st = prepareRead(g, &g->gr_exp, data, count); st < 0) return st;
  int node = getSizeOfNode(release);
  Cursor in{data, data + static_cast<std::ptrdiff_t>(count) * section_slot_size(0, release)};
  for (int i = 0; i < count; i++) {
    if (!in.room(2 * node + (wide(release) ? 4 : 1))) return err_vlx(kErrInternal, "readExp element %d", i);
    s_exp* e = gt_exp(g, static_cast<unsigned>(i));
    e->code = readNode(&in.p, release);
    e->objectId = readNode(&in.p, release);
    std::uint32_t mask = readMask(&in.p, release);
    if (!in.room(__builtin_popcount(mask & (wide(release) ? 0xFFFFu : 0xFFu))))
      return err_vlx(kErrInternal, "readExp element %d", i);
    e->type = readNodeWithMask(&in.p, mask, 0, release);
    e->header = readNodeWithMask(&in.p, mask, 1, release);
    e->tail = readNodeWithMask(&in.p, mask, 2, release);
    e->next = readNodeWithMask(&in.p, mask, 3, release);
  }
  return 0;
}

int readIntegers(grctx* g, const unsigned char* data, int count, char) {
  return read_fixed(g, &g->gr_int, data, count, 4, [](char* out, const unsigned char* in) {
    std::int32_t v = static_cast<std::int32_t>(get_be32(in));
    std::memcpy(out, &v, 4);
    return 0;
  });
}

int readDcb(grctx* g, const unsigned char* data, int count, char) {
  return read_fixed(g, &g->gr_dcb, data, count, kDcbStored, [](char* out, const unsigned char* in) {
    s_dcb d;
    if (int st = ldsdcb(in, kDcbStored, &d); st < 0) return st;
    if (d.ndigits == 0) d = Zerdcb;
    std::memcpy(out, &d, sizeof d);
    return 0;
  });
}

int readStu(grctx* g, const unsigned char* data, int count, char release) {
  int width = release < 'L' ? 1 : 2;
  return read_fixed(g, &g->gr_stu, data, count, width, [width](char* out, const unsigned char* in) {
    char16_t unit = width == 1 ? in[0] : static_cast<char16_t>(in[0] << 8 | in[1]);
    std::memcpy(out, &unit, 2);
    return 0;
  });
}

int readIdentifiers(grctx* g, const unsigned char* data, int count, char) {
  if (int st = prepareRead(g, &g->gr_ide, data, count); st < 0) return st;
  std::memcpy(g->gr_ide.gc_ptr, data, static_cast<std::size_t>(count));
  if (int st = prepareRead(g, &g->gr_ids, data, count); st < 0) return st;
  for (int i = 0; i < count; i++) g->gr_ids.gc_ptr[i] = data[i] == 0 ? '@' : static_cast<char>(data[i]);
  g->gr_ids.gc_ptr[count] = 0;
  return 0;
}

int readClasses(grctx* g, const unsigned char* data, int count, char release) {
  int node = getSizeOfNode(release);
  return read_fixed(g, &g->gr_cla, data, count, 2 * node, [release](char* out, const unsigned char* in) {
    s_cla c;
    c.ca_class = readNode(&in, release);
    c.ca_sclas = readNode(&in, release);
    std::memcpy(out, &c, sizeof c);
    return 0;
  });
}

int readClassesIdentifiers(grctx* g, const unsigned char* data, int count, char release) {
  return read_fixed(g, &g->gr_cid, data, count, section_slot_size(6, release),
                    [release](char* out, const unsigned char* in) {
                      s_cid c{};
                      c.ci_class = readNode(&in, release);
                      c.ci_iden = readNode(&in, release);
                      std::memcpy(out, &c, sizeof c);
                      return 0;
                    });
}

int readDatetimes(grctx* g, const unsigned char* data, int count, char) {
  return read_fixed(g, &g->gr_i64, data, count, 8, [](char* out, const unsigned char* in) {
    std::uint64_t v = get_be64(in);
    std::memcpy(out, &v, 8);
    return 0;
  });
}

namespace {

// Elements 0..gc_nbr of a cell, or none when it is empty.
unsigned elements(const s_gcl& c) { return c.gc_ptr == nullptr ? 0 : c.gc_nbr + 1; }

template <typename Encode>
int write_fixed(unsigned char* buffer, const s_gcl& c, Encode encode) {
  unsigned char* p = buffer;
  for (unsigned i = 0; i < elements(c); i++) encode(&p, c.gc_ptr + static_cast<std::size_t>(i) * c.gc_siz, i);
  return static_cast<int>(p - buffer);
}

}  // namespace

int transformExp(char release, unsigned char* buffer, grctx* g) {
  return write_fixed(buffer, g->gr_exp, [release](unsigned char** p, const char* at, unsigned) {
    s_exp e;
    std::memcpy(&e, at, sizeof e);
    writeNode(p, e.code, release);
    writeNode(p, e.objectId, release);
    s_mask m;
    setMaskPointer(&m, p, release);
    for (std::uint32_t v : {e.type, e.header, e.tail, e.next}) writeNodeAndSetMask(p, &m, v, release);
    setMaskValue(&m, release);
  });
}

int transformInt(char, unsigned char* buffer, grctx* g) {
  return write_fixed(buffer, g->gr_int, [](unsigned char** p, const char* at, unsigned) {
    std::int32_t v;
    std::memcpy(&v, at, 4);
    put_be32(*p, static_cast<std::uint32_t>(v));
    *p += 4;
  });
}

int transformDcb(char, unsigned char* buffer, grctx* g) {
  int status = 0;
  int n = write_fixed(buffer, g->gr_dcb, [&status](unsigned char** p, const char* at, unsigned i) {
    s_dcb d;
    std::memcpy(&d, at, sizeof d);
    if (i == 0) std::memset(*p, 0, kDcbStored);
    else if (int st = stpdcb(&d, *p, kDcbStored); st < 0 && status == 0) status = st;
    *p += kDcbStored;
  });
  return status < 0 ? status : n;
}

int transformStu(char release, unsigned char* buffer, grctx* g) {
  return write_fixed(buffer, g->gr_stu, [release](unsigned char** p, const char* at, unsigned) {
    char16_t unit;
    std::memcpy(&unit, at, 2);
    if (release >= 'L') *(*p)++ = static_cast<unsigned char>(unit >> 8);
    *(*p)++ = static_cast<unsigned char>(unit);
  });
}

int transformIde(char, unsigned char* buffer, grctx* g) {
  unsigned n = elements(g->gr_ide);
  if (n != 0) std::memcpy(buffer, g->gr_ide.gc_ptr, n);
  return static_cast<int>(n);
}

int transformClass(char release, unsigned char* buffer, grctx* g) {
  return write_fixed(buffer, g->gr_cla, [release](unsigned char** p, const char* at, unsigned) {
    s_cla c;
    std::memcpy(&c, at, sizeof c);
    writeNode(p, c.ca_class, release);
    writeNode(p, c.ca_sclas, release);
  });
}

int transformCid(char release, unsigned char* buffer, grctx* g) {
  return write_fixed(buffer, g->gr_cid, [release](unsigned char** p, const char* at, unsigned) {
    s_cid c;
    std::memcpy(&c, at, sizeof c);
    writeNode(p, c.ci_class, release);
    writeNode(p, c.ci_iden, release);
  });
}

int transformDtm(char, unsigned char* buffer, grctx* g) {
  return write_fixed(buffer, g->gr_i64, [](unsigned char** p, const char* at, unsigned) {
    std::uint64_t v;
    std::memcpy(&v, at, 8);
    put_be64(*p, v);
    *p += 8;
  });
}

namespace {

using decoder = int (*)(grctx*, const unsigned char*, int, char);
using encoder = int (*)(char, unsigned char*, grctx*);

// ORDER SECTIONS
const decoder kDecoders[kSections] = {readExp, readIntegers, readDcb, readStu,
                                      readIdentifiers, readClasses, readClassesIdentifiers, readDatetimes};
const encoder kEncoders[kSections] = {transformExp, transformInt, transformDcb, transformStu,
                                      transformIde, transformClass, transformCid, transformDtm};
s_gcl grctx::*const kCells[kSections] = {&grctx::gr_exp, &grctx::gr_int, &grctx::gr_dcb, &grctx::gr_stu,
                                         &grctx::gr_ide, &grctx::gr_cla, &grctx::gr_cid, &grctx::gr_i64};

// Codecs raise no exceptions of their own; the allocator may.
int guarded(int section, int (*step)(int section, void* arg), void* arg) {
  try {
    return step(section, arg);
  } catch (const std::bad_alloc&) {
    return err_vlx(kErrNoMemory, "section %d", section);
  } catch (const PLUMEMException&) {
    return Vstat1 > 0 ? -Vstat1 : err_vlx(kErrNoMemory, "section %d", section);
  } catch (const std::exception& e) {
    log::trace(log::system, "Exception '%s' raised in function %s (line %d)", e.what(), "readGrammar", __LINE__);
    return -Vstat1;
  }
}

int sections_for(int slot) { return getProtocolVersion(slot) < 7 ? kSections - 1 : kSections; }

}  // namespace

int encoded_bound(int section, grctx* g, char release) {
  unsigned n = elements(g->*kCells[section]);
  int node = getSizeOfNode(release);
  // A node element may need all its bytes: code, objectId, mask, 4 fields.
  int per = section == 0 ? 6 * node + (wide(release) ? 4 : 1) : section_slot_size(section, release);
  return static_cast<int>(n) * per;
}

int grammar_counts(const unsigned char* sizes, int counts[kSections]) {
  for (int i = 0; i < kSections; i++) {
    int size = static_cast<std::uint16_t>(get_be16(sizes + 2 * i));
    if (size % Grammar_section_size[i] != 0)
      return err_vlx(kErrInternal, "section %d of %d bytes is not a multiple of %d", i, size, Grammar_section_size[i]);
    counts[i] = size / Grammar_section_size[i];
  }
  return 0;
}

int readGrammar(int slot, grctx** context, unsigned group, const int counts[kSections], int bufferSize) {
  grctx* g = *context;
  int result = 0;
  if (g == nullptr) {
    g = static_cast<grctx*>(adg_malloc(group, sizeof(grctx)));
    if (g == nullptr) result = Vstat1 > 0 ? -Vstat1 : err_vlx(kErrNoMemory, "readGrammar");
  }
  if (g != nullptr) {
    std::memset(g, 0, sizeof *g);
    g->group = group;
    inigcl(g);
  }
  unsigned scratchGroup = vlx_group();
  auto* buffer = static_cast<unsigned char*>(adg_malloc(scratchGroup, bufferSize > 0 ? bufferSize : 1));
  if (buffer == nullptr && result == 0) result = Vstat1 > 0 ? -Vstat1 : err_vlx(kErrNoMemory, "readGrammar");
  for (int i = 0; i < kSections; i++) {
    if (counts[i] == 0) continue;
    long long bytes = static_cast<long long>(counts[i]) * Grammar_section_size[i];
    if (counts[i] < 0 || bytes > kMaxSectionSize) {
      if (result == 0) result = err_vlx(kErrInternal, "readGrammar section %d of %lld bytes", i, bytes);
      continue;  // nothing sensible to skip
    }
    if (result == 0 && bytes > bufferSize) result = err_vlx(kErrInternal, "readGrammar section %d of %lld bytes", i, bytes);
    if (result < 0) {
      rl_req(slot, nullptr, static_cast<int>(bytes));
      continue;
    }
    if (int st = rl_req(slot, buffer, static_cast<int>(bytes)); st < 0) {
      result = st;
      continue;
    }
    struct Step {
      grctx* g;
      const unsigned char* data;
      int count;
    } step{g, buffer, counts[i]};
    result = guarded(i, [](int section, void* arg) {
      auto* s = static_cast<Step*>(arg);
      return kDecoders[section](s->g, s->data, s->count, 'S');
    }, &step);
  }
  if (buffer != nullptr) adg_memfree(scratchGroup, buffer);
  if (*context == nullptr && g != nullptr) {
    // A record made here that the caller does not get would stay in its
    // group for the group's life: the engine's own group lives as long as
    // the process, and a client repeating a bad grammar would fill it.
    if (result == 0) *context = g;
    else gram_drop()(g);
  }
  return result;
}

int getGrammarSize(grctx* g, unsigned char* sizes, int* maxSize, int slot) {
  char release = getRemoteVlxRelease(getProtocolVersion(slot));
  int n = sections_for(slot);
  *maxSize = 0;
  for (int i = 0; i < n; i++) {
    long long size = static_cast<long long>(elements(g->*kCells[i])) * section_slot_size(i, release);
    if (size > kMaxSectionSize) return err_vlx(kErrInternal, "getGrammarSize section %d of %lld bytes", i, size);
    put_be16(sizes + 2 * i, static_cast<int>(size));
    int room = std::max(static_cast<int>(size), encoded_bound(i, g, release));
    if (room > *maxSize) *maxSize = room;
  }
  return 2 * n;
}

int sendGrammarElements(int slot, const unsigned char* sizes, grctx* g, unsigned char* buffer) {
  char release = getRemoteVlxRelease(getProtocolVersion(slot));
  int n = sections_for(slot);
  for (int i = 0; i < n; i++) {
    int size = static_cast<std::uint16_t>(get_be16(sizes + 2 * i));
    if (size == 0) continue;
    int length = kEncoders[i](release, buffer, g);
    if (length < 0) return length;
    if (length > size) return err_vlx(kErrInternal, "sendGrammarElements section %d: %d bytes for %d", i, length, size);
    std::memset(buffer + length, 0, static_cast<std::size_t>(size - length));
    if (int st = com_flush(slot); st < 0) return st;
    if (int st = wl_req(slot, buffer, size); st < 0) return st;
  }
  return 0;
}

namespace {

int read_line(int channel, char* out, int max) {
  int n = 0;
  char c;
  while (n < max && adf_read(channel, &c, 1) == 1 && c != '\n') out[n++] = c;
  out[n] = 0;
  return n;
}

const char* skip_blanks(const char* p) {
  while (*p == ' ') p++;
  return p;
}

}  // namespace

int get_header(int channel, vlx_header* h) {
  std::memset(h, 0, sizeof *h);
  char c = 0;
  int got = adf_read(channel, &c, 1);
  if (got != 1 || c != '#') {
    if (got == 1) adf_seek(channel, -1, SEEK_CUR);
    h->hd_type = '?';
    h->hd_release = 'S';
    h->hd_rel[0] = -1;
    return 0;
  }
  char line[256];
  read_line(channel, line, 255);
  const char* text = skip_blanks(line);
  if (std::strncmp(text, "<Vlx", 4) != 0 || std::strlen(text) < 7 || text[6] != '>')
    return err_vlx(kErrFileFormat, "compiled file on channel %d", channel);
  h->hd_type = text[4];
  h->hd_release = text[5];
  const char* p = skip_blanks(text + 7);
  if (std::strncmp(p, "@(#)", 4) == 0) p += 4;
  p = skip_blanks(p);
  if (*p == '%') {
    h->hd_rel[0] = -1;
    p += std::min<std::size_t>(3, std::strlen(p));
  } else {
    for (int i = 0; i < 4; i++) {
      h->hd_rel[i] = static_cast<std::int16_t>(std::atoi(p));
      if (i < 3) {
        const char* dot = std::strchr(p, '.');
        p = dot != nullptr ? dot + 1 : p + std::strlen(p);
      }
    }
    while (std::isdigit(static_cast<unsigned char>(*p))) p++;
  }
  const char* desc = skip_blanks(p);
  std::memcpy(h->hd_desc, desc, std::min(std::strlen(desc), sizeof h->hd_desc - 1));
  if (h->hd_type == 's' && adf_read(channel, h->hd_block, 16) != 16)
    return err_vlx(kErrFileFormat, "compiled file on channel %d", channel);
  if (std::islower(static_cast<unsigned char>(h->hd_type))) {
    int markLength = h->hd_release <= 'N' ? 4 : 8;
    unsigned char block[12];
    if (adf_read(channel, block, markLength + 4) != markLength + 4)
      return err_vlx(kErrFileFormat, "compiled file on channel %d", channel);
    std::memcpy(h->hd_mark, block, static_cast<std::size_t>(markLength));
    h->hd_fmt = get_be16(block + markLength);
    h->hd_word = get_be16(block + markLength + 2);
    return 1;
  }
  h->hd_fmt = 1;
  got = adf_read(channel, &c, 1);
  if (got == 1 && h->hd_type == 'V' && c == '#') {
    read_line(channel, line, 255);
    const char* mark = skip_blanks(line);
    std::memcpy(h->hd_mark, mark, std::min(std::strlen(mark), sizeof h->hd_mark - 1));
    return 2;
  }
  if (got == 1) adf_seek(channel, -1, SEEK_CUR);
  return 1;
}

int read_section(int channel, unsigned char** buffer, int* size, unsigned group, char release) {
  int node = getSizeOfNode(release);
  unsigned char head[8];
  int got = adf_read(channel, head, 2 * node);
  if (got < 0) return got;
  if (got != 2 * node) return err_vlx(kErrFileFormat, "read_section");
  const unsigned char* p = head;
  std::uint32_t bytes = readNode(&p, release), count = readNode(&p, release);
  if (count == 0) return 0;
  if (bytes > 0x7FFFFFFFu) return err_vlx(kErrFileFormat, "read_section");
  if (*buffer == nullptr || static_cast<std::uint32_t>(*size) < bytes) {
    void* grown = *buffer == nullptr ? adg_malloc(group, bytes) : adg_realloc(group, *buffer, bytes);
    if (grown == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(kErrNoMemory, "read_section");
    *buffer = static_cast<unsigned char*>(grown);
    *size = static_cast<int>(bytes);
  }
  got = adf_read(channel, *buffer, static_cast<int>(bytes));
  if (got < 0) return got;
  if (static_cast<std::uint32_t>(got) != bytes) return err_vlx(kErrFileFormat, "read_section");
  return static_cast<int>(count);
}

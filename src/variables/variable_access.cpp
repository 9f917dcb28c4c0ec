// The elements of a variable: where one lies, and its reads, writes and
// resets through the stored forms or the variable's accessor.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "base/bigend.h"
#include "diagnostics/vlxerr.h"
#include "variables/varcla.h"
#include "variables/variable.h"

namespace {

// A dynamic array keeps its elements in chunks, extents of the unit that
// holds the variable: the chunk's first position (word 0), then the next
// chunk's number in the low 16 bits of word 1 and the slots in use above
// them, then the elements. Chunks are chained in order of position.
constexpr unsigned kChunkHead = 8;
constexpr unsigned kChunkBytes = 4096;
constexpr unsigned kChunkMost = 64;

struct Place {
  unsigned char* at;
  cbu_ref unit;
};

struct Chunk {
  std::uint32_t first;
  std::uint16_t next, used;
};

Chunk read_chunk(const unsigned char* at) {
  std::uint32_t words[2];
  std::memcpy(words, at, sizeof words);
  return Chunk{words[0], static_cast<std::uint16_t>(words[1] & 0xFFFF), static_cast<std::uint16_t>(words[1] >> 16)};
}

void write_chunk(unsigned char* at, const Chunk& c) {
  std::uint32_t words[2] = {c.first, static_cast<std::uint32_t>(c.used) << 16 | c.next};
  std::memcpy(at, words, sizeof words);
}

unsigned chunk_slots(int width) {
  return std::clamp<unsigned>(kChunkBytes / static_cast<unsigned>(std::max(width, 1)), 1, kChunkMost);
}

// What an element never written reads as.
const unsigned char* zeros(std::size_t n) {
  static std::vector<unsigned char> area(64);
  if (area.size() < n) area.resize(n);
  return area.data();
}

bool is_lob(int type) { return type == LBLOB || type == LCLOB; }

int bad_index(const varan* v, int index) { return err_vlx(8, "%.64s(%d)", v->name, index); }

// Counts and lower bounds of the dimensions of v; their number.
int dims_of(const s_cls* c, const varan* v, int* counts, int* lowers) {
  if (v->ndim <= 1) {
    counts[0] = v->dim;
    lowers[0] = v->lowerBound;
    return 1;
  }
  unsigned r = static_cast<std::uint16_t>(v->dim);
  for (int k = 0; k < v->ndim; ++k) {
    if (r == 0 || r > c->dimCount) return err_vlx(26, "%.64s: dimension record %u", v->name, r);
    counts[k] = c->dims[r].count;
    lowers[k] = c->dims[r].lower;
    r = c->dims[r].next;
  }
  return v->ndim;
}

// The element's position in storage order, its indexes checked.
int position_of(const s_cls* c, const varan* v, const short* indexes, int n, long long* position) {
  *position = 0;
  if (n == 0 || indexes == nullptr) return 0;
  if (n != v->ndim) return err_vlx(55, "%.64s", v->name);
  int counts[kMaxDims], lowers[kMaxDims];
  if (int st = dims_of(c, v, counts, lowers); st < 0) return st;
  long long p = 0;
  for (int k = 0; k < n; ++k) {
    long long offset = static_cast<long long>(indexes[k]) - lowers[k];
    bool ok = offset == 0 || (k == 0 && counts[k] == kDynamic ? offset > 0 : offset >= 0 && offset < counts[k]);
    if (!ok) return bad_index(v, indexes[k]);
    p = p * std::max(counts[k], 1) + offset;
  }
  *position = p;
  return 0;
}

// The unit and buffer holding v: its own, else its class's value buffer.
int holder(const s_cls* c, const varan* v, cbu_ref* unit, unsigned char** base, unsigned* length) {
  *unit = v->buffer != 0 ? v->buffer : c->values;
  if (*unit == 0) return err_vlx(133, "%.64s", v->name);
  *base = cbu_buf(*unit, length);
  if (*base != nullptr) return 0;
  return v->buffer != 0 ? err_vlx(133, "%.64s", v->name) : err_vlx(26, "Invalid cbu on variable class");
}

// The chunk reference of a dynamic array: 4 bytes, big-endian.
int dynamic_head(const varan* v, cbu_ref* unit, unsigned char** head) {
  s_cls* c = cls_ptr(v->classNo);
  if (c == nullptr) return err_vlx(7, VLX_WHERE("src/variable", 2336, "recup_var"));
  unsigned char* base = nullptr;
  unsigned length = 0;
  if (int st = holder(c, v, unit, &base, &length); st < 0) return st;
  if (v->offset + 4ull > length) return err_vlx(26, "recup_var %.64s", v->name);
  if (cbu_is_noextent(*unit)) return err_vlx(26, "recup_var %.64s: no extents", v->name);
  *head = base + v->offset;
  if (get_be32(*head) > 0xFFFF) return err_vlx(26, "recup_var %.64s: chunk %u", v->name, get_be32(*head));
  return 0;
}

int chunk_at(cbu_ref unit, unsigned short number, unsigned need, unsigned char** at) {
  unsigned length = 0;
  if (int st = cbu_extent(unit, number, at, &length); st < 0) return st;
  if (*at == nullptr || length < need) return err_vlx(26, "dynarray chunk %u", number);
  return 0;
}

int dynarray_new_chunk(cbu_ref unit, const Chunk& header, unsigned bytes, unsigned short* number) {
  unsigned char* at = nullptr;
  int st = cbu_new_extent(unit, number);
  if (st == 0) st = cbu_realloc_extent(unit, *number, bytes);
  if (st == 0) st = chunk_at(unit, *number, bytes, &at);
  if (st < 0) {
    if (*number != 0) cbu_free_tab_extent(unit, *number);
    return st;
  }
  write_chunk(at, header);
  return 0;
}

// The element at `position` of a dynamic array, created in mode 'w'.
int dynarray_get_elmnt_at(const varan* v, long long position, char mode, Place* p) {
  unsigned char* head = nullptr;
  if (int st = dynamic_head(v, &p->unit, &head); st < 0) return st;
  int width = stored_size(v->type, v->size);
  unsigned slots = chunk_slots(width);
  unsigned bytes = kChunkHead + slots * static_cast<unsigned>(width);
  long long first = position / slots * slots;
  if (first > UINT32_MAX) return bad_index(v, static_cast<int>(position));
  unsigned slot = static_cast<unsigned>(position - first);
  unsigned short number = static_cast<unsigned short>(get_be32(head)), previous = 0;
  int visits = cbu_max_ext(p->unit);
  unsigned char* at = nullptr;
  for (; number != 0; previous = number, number = read_chunk(at).next) {
    if (visits-- < 0) return err_vlx(26, "dynarray chain of %.64s", v->name);
    if (int st = chunk_at(p->unit, number, bytes, &at); st < 0) return st;
    Chunk c = read_chunk(at);
    if (c.first < first) continue;
    if (c.first > first) break;
    if (mode == 'w' && c.used <= slot) c.used = static_cast<std::uint16_t>(slot + 1), write_chunk(at, c);
    p->at = at + kChunkHead + slot * static_cast<unsigned>(width);
    return 0;
  }
  if (mode != 'w') {
    p->at = const_cast<unsigned char*>(zeros(is_lob(v->type) ? 8 : static_cast<std::size_t>(width)));
    return 0;
  }
  unsigned short made = 0;
  Chunk header{static_cast<std::uint32_t>(first), number, static_cast<std::uint16_t>(slot + 1)};
  if (int st = dynarray_new_chunk(p->unit, header, bytes, &made); st < 0) return st;
  if (previous == 0) {
    put_be32(head, made);
  } else {
    if (int st = chunk_at(p->unit, previous, kChunkHead, &at); st < 0) return st;
    Chunk before = read_chunk(at);
    before.next = made;
    write_chunk(at, before);
  }
  if (int st = chunk_at(p->unit, made, bytes, &at); st < 0) return st;
  p->at = at + kChunkHead + slot * static_cast<unsigned>(width);
  return 0;
}

int locate(varan* v, const short* indexes, int n, char mode, Place* p) {
  s_cls* c = cls_ptr(v->classNo);
  if (c == nullptr) return err_vlx(7, VLX_WHERE("src/variable", 2336, "recup_var"));
  long long position = 0;
  if (int st = position_of(c, v, indexes, n, &position); st < 0) return st;
  int width = stored_size(v->type, v->size);
  if (width < 0) return err_vlx(26, "recup_var %.64s: type %d", v->name, v->type);
  if (dynamic_or_static(v)) return dynarray_get_elmnt_at(v, position, mode, p);
  unsigned char* base = nullptr;
  unsigned length = 0;
  if (int st = holder(c, v, &p->unit, &base, &length); st < 0) return st;
  unsigned long long at = v->offset + static_cast<unsigned long long>(width) * static_cast<unsigned long long>(position);
  if (at + static_cast<unsigned>(width) > length) return err_vlx(26, "recup_var %.64s: beyond its buffer", v->name);
  p->at = base + at;
  return 0;
}

// Elements of a static variable.
long long static_elements(const s_cls* c, const varan* v) {
  int counts[kMaxDims], lowers[kMaxDims];
  int n = dims_of(c, v, counts, lowers);
  if (n < 0) return n;
  long long total = 1;
  for (int k = 0; k < n; ++k) total *= std::max(counts[k], 1);
  return total;
}

}  // namespace

long long nboct(int type, int length, const short* dims, int ndim) {
  long long total = stored_size(type, length);
  if (total < 0) return -1;
  for (int k = 0; k < ndim && dims != nullptr; ++k) {
    total *= std::max<int>(dims[k], 1);
    if (total > INT_MAX) return -1;
  }
  return total;
}

long long sizofvar(const varan* v) {
  if (dynamic_or_static(v)) return 4;
  s_cls* c = cls_ptr(v->classNo);
  if (c == nullptr) return err_vlx(7, VLX_WHERE("src/variable", 2336, "sizofvar"));
  long long elements = static_elements(c, v);
  int width = stored_size(v->type, v->size);
  return elements < 0 ? elements : width < 0 ? -1 : elements * width;
}

char get_io_mode(const res_u* value, const res_u* other) { return value == nullptr ? 'z' : other == nullptr ? 'r' : 'w'; }

unsigned char* recup_var(varan* v, const short* indexes, int nindexes, char mode) {
  Place p{};
  return locate(v, indexes, nindexes, mode, &p) < 0 ? nullptr : p.at;
}

int assign(varan* v, const short* indexes, int nindexes, res_u* value) {
  if (v->flags & kVarReadOnly) return err_vlx(62, "%.64s", v->name);
  if (v->accessor != nullptr) return v->accessor(v, indexes, nindexes, value, value);
  Place p{};
  if (int st = locate(v, indexes, nindexes, 'w', &p); st < 0) return st;
  return rs2vad(p.at, &p.unit, v->type, v->size, value, 0);
}

int get_value(varan* v, const short* indexes, int nindexes, res_u* value) {
  if (v->accessor != nullptr) return v->accessor(v, indexes, nindexes, value, nullptr);
  Place p{};
  if (int st = locate(v, indexes, nindexes, 'r', &p); st < 0) return st;
  return vad2rs(value, p.at, &p.unit, v->type, v->size, 0);
}

int raz_var(varan* v) {
  if (v->flags & kVarReadOnly) return err_vlx(62, "%.64s", v->name);
  if (v->accessor != nullptr) return v->accessor(v, nullptr, 0, nullptr, nullptr);
  int width = stored_size(v->type, v->size);
  if (width < 0) return err_vlx(26, "raz_var %.64s: type %d", v->name, v->type);
  if (dynamic_or_static(v)) {
    cbu_ref unit = 0;
    unsigned char* head = nullptr;
    if (int st = dynamic_head(v, &unit, &head); st < 0) return st;
    unsigned short number = static_cast<unsigned short>(get_be32(head));
    if (is_lob(v->type)) {
      unsigned bytes = kChunkHead + chunk_slots(width) * static_cast<unsigned>(width);
      int visits = cbu_max_ext(unit);
      for (unsigned char* at = nullptr; number != 0 && visits-- >= 0; number = read_chunk(at).next) {
        if (int st = chunk_at(unit, number, bytes, &at); st < 0) return st;
        for (unsigned slot = 0; slot < read_chunk(at).used; ++slot)
          lob_free(at + kChunkHead + slot * static_cast<unsigned>(width), &unit, v->type, v->size);
      }
      number = static_cast<unsigned short>(get_be32(head));
    }
    put_be32(head, 0);
    return number != 0 ? cbu_free_tab_extent(unit, number) : 0;
  }
  s_cls* c = cls_ptr(v->classNo);
  if (c == nullptr) return err_vlx(7, VLX_WHERE("src/variable", 2336, "raz_var"));
  long long elements = static_elements(c, v);
  if (elements < 0) return static_cast<int>(elements);
  cbu_ref unit = 0;
  unsigned char* base = nullptr;
  unsigned length = 0;
  if (int st = holder(c, v, &unit, &base, &length); st < 0) return st;
  if (v->offset + static_cast<unsigned long long>(width) * elements > length)
    return err_vlx(26, "raz_var %.64s: beyond its buffer", v->name);
  if (!is_lob(v->type)) {
    std::memset(base + v->offset, 0, static_cast<std::size_t>(width * elements));
    return 0;
  }
  for (long long i = 0; i < elements; ++i)
    if (int st = lob_free(base + v->offset + i * width, &unit, v->type, v->size); st < 0) return st;
  return 0;
}

int dynamic_or_static(const varan* v) {
  if (v->ndim <= 1) return v->dim == kDynamic;
  s_cls* c = cls_ptr(v->classNo);
  unsigned r = static_cast<std::uint16_t>(v->dim);
  return c != nullptr && r != 0 && r <= c->dimCount && c->dims[r].count == kDynamic;
}

int getIndexLastElmnt(varan* v) {
  if (!dynamic_or_static(v)) return err_vlx(26, "getIndexLastElmnt %.64s", v->name);
  cbu_ref unit = 0;
  unsigned char* head = nullptr;
  if (int st = dynamic_head(v, &unit, &head); st < 0) return st;
  long long last = -1;
  int visits = cbu_max_ext(unit);
  unsigned char* at = nullptr;
  for (unsigned short number = static_cast<unsigned short>(get_be32(head)); number != 0; number = read_chunk(at).next) {
    if (visits-- < 0) return err_vlx(26, "dynarray chain of %.64s", v->name);
    if (int st = chunk_at(unit, number, kChunkHead, &at); st < 0) return st;
    Chunk c = read_chunk(at);
    if (c.used > 0) last = std::max<long long>(last, static_cast<long long>(c.first) + c.used - 1);
  }
  return static_cast<int>(std::min<long long>(last, INT_MAX));
}

int givedim(const varan* v, int k, int* out) {
  if (k == 0) {
    *out = v->ndim;
    return 0;
  }
  int which = k < 0 ? -k : k;
  if (k == INT_MIN || which > v->ndim) return err_vlx(26, "givedim");
  int counts[kMaxDims], lowers[kMaxDims];
  s_cls* c = cls_ptr(v->classNo);
  if (v->ndim > 1 && c == nullptr) return err_vlx(26, "givedim");
  if (dims_of(c, v, counts, lowers) < 0) return err_vlx(26, "givedim");
  *out = k > 0 ? counts[which - 1] : lowers[which - 1];
  return 0;
}

int var_elements(varan* v) {
  s_cls* c = cls_ptr(v->classNo);
  if (c == nullptr) return err_vlx(7, VLX_WHERE("src/variable", 2336, "var_elements"));
  long long all = static_elements(c, v);
  if (all < 0 || !dynamic_or_static(v)) return static_cast<int>(std::min<long long>(all, INT_MAX));
  // A row of a dynamic array: the elements of its other dimensions.
  int counts[kMaxDims], lowers[kMaxDims];
  dims_of(c, v, counts, lowers);
  long long row = all / std::max(counts[0], 1);
  int last = getIndexLastElmnt(v);
  if (last < 0) return last == -1 ? 0 : last;
  return static_cast<int>(std::min<long long>((last / row + 1) * row, INT_MAX));
}

int get_element(varan* v, int position, res_u* value) {
  s_cls* c = cls_ptr(v->classNo);
  if (c == nullptr) return err_vlx(7, VLX_WHERE("src/variable", 2336, "get_element"));
  if (position < 0) return bad_index(v, position);
  int counts[kMaxDims], lowers[kMaxDims];
  int n = dims_of(c, v, counts, lowers);
  if (n < 0) return n;
  // The last dimension varies fastest; the first takes what remains.
  short indexes[kMaxDims];
  long long rest = position;
  for (int k = n - 1; k > 0; --k) {
    indexes[k] = static_cast<short>(lowers[k] + rest % std::max(counts[k], 1));
    rest /= std::max(counts[k], 1);
  }
  if (lowers[0] + rest > SHRT_MAX) return bad_index(v, position);
  indexes[0] = static_cast<short>(lowers[0] + rest);
  return get_value(v, indexes, n, value);
}

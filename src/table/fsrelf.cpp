#include "table/fsrelf.h"

#include <cstring>

#include "base/bigend.h"
#include "channel/divcom.h"
#include "channel/iocbu.h"
#include "channel/iocom.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "image/vlxfsq.h"
#include "memory/vlxcalls.h"
#include "table/filsrv.h"
#include "table/fsrarq.h"

using namespace vlx;

namespace {

int Identmode;
int Readvalue;

void trace_decoder(const char* name, int event, int object) {
  log::trace(log::automaton, "%s: car = %d nob = %d", name, event, object);
}

int peer_version() { return getProtocolVersion(Iak); }

// A key value: 2-byte length then the bytes, kept up to kKeyValue bytes.
void read_key(unsigned char* out, int* length) {
  int n = nxtint();
  if (n < 0) n = 0;
  int kept = n < kKeyValue ? n : kKeyValue;
  nxtbuf(out, kept);
  for (int rest = n - kept; rest > 0 && Prq < Frq; --rest) ++Prq;
  *length = kept;
}

int read_lock() { return peer_version() > 10 ? nxtint() : nxtcar(); }

// The eight section sizes of a grammar announced in the body.
struct SectionSizes {
  int status;  // of grammar_counts
  int counts[kSections];
  int largest;
  int total;   // bytes announced after the body
};

SectionSizes read_sizes() {
  unsigned char bytes[2 * kSections];
  nxtbuf(bytes, sizeof bytes);
  SectionSizes s{};
  for (int i = 0; i < kSections; ++i) {
    int size = static_cast<std::uint16_t>(get_be16(bytes + 2 * i));
    s.largest = std::max(s.largest, size);
    s.total += size;
  }
  s.status = grammar_counts(bytes, s.counts);
  return s;
}

// Reads the grammar that follows the body into `group`; g is null when
// none was sent. A size list that is refused still has its bytes read, so
// that the stream stays in step.
int receive_grammar(const SectionSizes& s, unsigned group, grammar_ptr* g) {
  if (s.largest == 0) return 0;
  if (s.status < 0) {
    rl_req(Iak, nullptr, s.total);
    return s.status;
  }
  grctx* received = nullptr;
  int st = readGrammar(Iak, &received, group, s.counts, s.largest);
  g->reset(received);
  return st;
}

// Sends the records a read found: per found slot, the sub-record of the
// selection when conversion applies, else the current record.
void send_found(s_fsr* d, const int found[kFoundSlots], const int flags[kFoundSlots], int criterion, int requestFlags) {
  const s_sel* sel = criterion >= 0 && criterion < kSelections ? &d->selections[criterion] : nullptr;
  bool convert = sel != nullptr && sel->fieldNodes > 0 && ((requestFlags & kReadSelected) != 0 || sel->flag != 0);
  for (int i = 0; i < kFoundSlots && found[i] > 0; ++i) {
    s_fsr* t = fsr_table(found[i]);
    if (t == nullptr) continue;
    if (!convert) {
      ack_cbu(Iak, fsr_record(t), flags[i]);
      continue;
    }
    int st = rb2sb(found[i], t, const_cast<grctx*>(&sel->cells), sel->head, sel->size);
    if (st < 0) continue;
    if (t->subrecord != 0) {
      ack_cbu(Iak, t->subrecord, 0);
      cbu_free(t->subrecord);
      t->subrecord = 0;
    } else if (t->wholeRecord) {
      ack_cbu(Iak, fsr_record(t), flags[i]);
    }
  }
}

// Field kinds of the requests whose role is not served here.
// ORDER SPECS: c 1 byte, i 2 bytes, l 4 bytes, s text, g eight section
// sizes (the grammar follows the body), U a buffer unit after the body;
// the answer adds `values` 4-byte zeros after the status.
struct Layout {
  const char* name;
  const char* fields;
  int values;
};

int read_layout(const Layout& layout, int object, int event) {
  trace_decoder(layout.name, event, object);
  SectionSizes sizes{};
  bool grammar = false, unit = false;
  char text[256];
  for (const char* f = layout.fields; *f != '\0'; ++f) {
    switch (*f) {
      case 'c': nxtcar(); break;
      case 'i': nxtint(); break;
      case 'l': nxtlng(); break;
      case 's': nxtstr(text); break;
      case 'g': sizes = read_sizes(), grammar = true; break;
      case 'U': unit = true; break;
    }
  }
  int st = 0;
  if (grammar) {
    grammar_ptr g;
    st = receive_grammar(sizes, vlx_group(), &g);
  }
  if (unit) {
    cbu_ref scratch = 0;
    st = cbu_new(1, vlx_group(), 1, &scratch, "fsr_wr");
    try {
      if (st == 0) read_cbu(Iak, scratch);
    } catch (const std::exception&) {
      st = -get_last_errvlx();
    }
    if (scratch != 0) cbu_free(scratch);
  }
  if (layout.values > 0) return afd_ack_value(st, 0);
  wc_ack(Iak, st);
  return st;
}

void zero_values(int count) {
  // The first 4-byte value went with the status; the others follow.
  unsigned char zeros[4] = {};
  for (int i = 1; i < count; ++i) wl_ack(Iak, zeros, 4);
}

}  // namespace

int fsr_op(int object, int event, const s_drv& driver) {
  trace_decoder("fsr_op", event, object);
  s_opn request{};
  request.flags = nxtcar();
  request.idmode = nxtcar();
  Identmode = request.idmode;
  nxtstr(request.name);
  nxtstr(request.text2);
  nxtstr(request.text3);
  log::trace(log::automaton, "fsr_op %s %s", request.name,
             request.idmode == 2 ? "DBIDENT3_PRESENT" : "DBIDENT3_ABSENT");
  request.fieldCount = nxtint();
  request.indexCount = nxtcar();
  request.recordLength = nxtlng();
  int fieldBytes = request.fieldCount > 0 ? request.fieldCount * kFieldDescription : 0;
  int indexBytes = request.indexCount * kIndexDescription;
  request.group = adg_get(nullptr, nullptr, kGrpTables, "%s", request.name);
  unsigned char* raw = request.group != 0 ? static_cast<unsigned char*>(adg_malloc(request.group, fieldBytes + 1)) : nullptr;
  request.fields = request.group != 0 ? static_cast<s_fld*>(adg_malloc(request.group, sizeof(s_fld) * (request.fieldCount > 0 ? request.fieldCount : 1))) : nullptr;
  request.indexes = request.group != 0 ? static_cast<unsigned char*>(adg_malloc(request.group, indexBytes + 1)) : nullptr;
  // What follows the body is read whatever happens, to stay in step.
  int st = raw != nullptr ? rl_req(Iak, raw, fieldBytes) : rl_req(Iak, nullptr, fieldBytes);
  int st2 = request.indexes != nullptr ? rl_req(Iak, request.indexes, indexBytes) : rl_req(Iak, nullptr, indexBytes);
  if (st == 0) st = st2;
  if (request.flags & kOpenQueryLines) {
    unsigned char count[2] = {};
    if (rl_req(Iak, count, 2) == 0) {
      for (int line = 0, lines = get_be16(count); line < lines; ++line) {
        unsigned char length[2] = {};
        int r = rl_req(Iak, length, 2);
        log::trace(log::query, "rd_qry off:%i", line);
        if (r == 0) r = rl_req(Iak, nullptr, static_cast<std::uint16_t>(get_be16(length)));
        log::trace(log::query, "rl_req returned:%i", r);
        if (r < 0 && st == 0) st = r;
      }
    }
  }
  if (request.group == 0 || raw == nullptr || request.fields == nullptr || request.indexes == nullptr) {
    if (st == 0) st = -(get_last_errvlx() != 0 ? get_last_errvlx() : kErrNoMemory);
  }
  if (st == 0 && request.fieldCount < 0) st = err_vlx(kErrInternal, "fsr_op: %d fields", request.fieldCount);
  for (int i = 0; st == 0 && i < request.fieldCount; ++i) {
    const unsigned char* f = raw + i * kFieldDescription;
    s_fld& field = request.fields[i];
    field.offset = get_be32(f + kFdOffset);
    field.type = get_be16(f + kFdType);
    field.length = static_cast<std::uint16_t>(get_be16(f + kFdLength));
    field.scale = static_cast<std::uint16_t>(get_be16(f + kFdScale));
    std::memcpy(field.name, f + kFdName, kFdNameBytes);
    field.name[kFdNameBytes] = '\0';
    field.flag = f[kFdFlag];
    if (field.type == LBLOB || field.type == LCLOB) request.hasLob = true;
  }
  if (st == 0 && driver.open != nullptr) st = driver.open(&request);
  if (st < 0) {
    adg_free(request.group);
    wc_ack(Iak, st);
    return st;
  }
  wc_ack(Iak, 0);
  if (peer_version() > 10) {
    unsigned char slot[2];
    put_be16(slot, st);
    wl_ack(Iak, slot, 2);
  } else {
    wc_ack(Iak, st);
  }
  return st;
}

int fsr_rd(int object, int event, const s_drv& driver) {
  trace_decoder("fsr_rd", event, object);
  int key = nxtint();
  int mode = nxtcar();
  int flags = nxtint();
  unsigned char keyBytes[kKeyValue];
  s_keyv value{keyBytes, 0};
  read_key(keyBytes, &value.length);
  nxtcar();
  int criterion = nxtcar();
  char text[256];
  nxtstr(text);
  int lock = read_lock();
  int extra = peer_version() >= 7 ? nxtlng() : 0;
  if (peer_version() > 19) Readvalue = nxtlng();
  int found[kFoundSlots + 1] = {}, foundFlags[kFoundSlots + 1] = {};
  int st = driver.read == nullptr
               ? 0
               : driver.read(object, key, lock, mode, flags, &value, found, criterion, extra, foundFlags, text);
  wc_ack(Iak, st);
  s_fsr* d = fsr_table(object);
  if (st == 0 && d != nullptr) send_found(d, found, foundFlags, criterion, flags);
  return st;
}

int fsr_of(int object, int event, const s_drv& driver) {
  trace_decoder("fsr_of", event, object);
  int key = nxtint();
  int count = nxtcar();
  int mode = nxtint();
  unsigned char firstBytes[kKeyValue], secondBytes[kKeyValue];
  s_keyv first{firstBytes, 0}, second{secondBytes, 0};
  read_key(firstBytes, &first.length);
  read_key(secondBytes, &second.length);
  int criterion = nxtcar();
  int value = nxtlng();
  char text[256];
  nxtstr(text);
  int lock = read_lock();
  if (peer_version() > 19) Readvalue = nxtlng();
  int found[kFoundSlots + 1] = {}, foundFlags[kFoundSlots + 1] = {};
  int st = driver.read_keys == nullptr ? 0
                                       : driver.read_keys(object, key, lock, count, &first, &second, mode, criterion,
                                                          found, value, foundFlags, text);
  wc_ack(Iak, st);
  s_fsr* d = fsr_table(object);
  if (st == 0 && d != nullptr) send_found(d, found, foundFlags, criterion, 0);
  return st;
}

int fsr_cs(int object, int event, const s_drv& driver) {
  trace_decoder("fsr_cs", event, object);
  SectionSizes sizes = read_sizes();
  unsigned node = static_cast<std::uint16_t>(nxtint());
  int criterion = nxtcar();
  s_fsr* d = fsr_table(object);
  grammar_ptr g;
  int st = receive_grammar(sizes, d != nullptr ? d->group : vlx_group(), &g);
  if (d == nullptr) {
    log::trace(log::automaton, "fsr_cs : invalid file descriptor (%i)", object);
    return 0;
  }
  // The handler owns the grammar from the call; otherwise it is released
  // here.
  if (st >= 0 && driver.add_filter != nullptr) st = driver.add_filter(object, std::move(g), node, criterion);
  g.reset();
  wc_ack(Iak, st);
  return st;
}

int fsr_sl(int object, int event, const s_drv& driver) {
  trace_decoder("fsr_sl", event, object);
  SectionSizes sizes = read_sizes();
  unsigned node = static_cast<unsigned>(nxtcar());
  int flags = nxtcar();
  int selection = nxtcar();
  s_fsr* d = fsr_table(object);
  unsigned group = d != nullptr ? d->group : vlx_group();
  grammar_ptr g;
  int st = receive_grammar(sizes, group, &g);
  if (st >= 0 && driver.select != nullptr) st = driver.select(object, g.get(), node, flags, selection);
  g.reset();
  wc_ack(Iak, st);
  return st;
}

// ORDER SPECS: the requests this program reads but does not serve.
int fsr_st(int o, int e, const s_drv&) { return read_layout({"fsr_st", "ccis", 0}, o, e); }
int fsr_cd(int o, int e, const s_drv&) { return read_layout({"fsr_cd", "ssgllls", 0}, o, e); }
int fsr_wr(int o, int e, const s_drv&) { return read_layout({"fsr_wr", "cU", 0}, o, e); }
int fsr_rw(int o, int e, const s_drv&) { return read_layout({"fsr_rw", "U", 0}, o, e); }
int fsr_ck(int o, int e, const s_drv&) { return read_layout({"fsr_ck", "giiis", 1}, o, e); }
int fsr_ln(int o, int e, const s_drv&) {
  int st = read_layout({"fsr_ln", "ig", 1}, o, e);
  if (st >= 0) zero_values(3);
  return st;
}
int fsr_up(int o, int e, const s_drv&) { return read_layout({"fsr_up", "ig", 1}, o, e); }
int fsr_ci(int o, int e, const s_drv&) { return read_layout({"fsr_ci", "igiii", 1}, o, e); }
int fsr_es(int o, int e, const s_drv&) { return read_layout({"fsr_es", "s", 1}, o, e); }
int fsr_gi(int o, int e, const s_drv&) { return read_layout({"fsr_gi", "igi", 0}, o, e); }
int fsr_xs(int o, int e, const s_drv&) { return read_layout({"fsr_xs", "ss", 0}, o, e); }
int fsr_as(int o, int e, const s_drv&) { return read_layout({"fsr_as", "s", 1}, o, e); }
int fsr_ad(int o, int e, const s_drv&) { return read_layout({"fsr_ad", "ig", 0}, o, e); }
int fsr_sq(int o, int e, const s_drv&) { return read_layout({"fsr_sq", "ii", 1}, o, e); }
int fsr_id(int o, int e, const s_drv&) { return read_layout({"fsr_id", "sss", 0}, o, e); }

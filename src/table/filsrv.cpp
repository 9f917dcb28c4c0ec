#include "table/filsrv.h"

#include <cstring>
#include <vector>

#include "diagnostics/log.h"
#include "diagnostics/verbatim.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "table/fsrarq.h"
#include "variables/variable.h"
#include "variables/varsys.h"

using namespace vlx;

s_fsr* Tfs[kTableSlots];
plan_record Fsr_views[kTableSlots];

const unsigned char Fsrmod[16] = {2, 1, 6, 5, 4, 12, 10, 14, 9, 13, 0, 0, 0, 0, 0, 0};

namespace {

constexpr unsigned kTableMark = 322;

// 1 when the current record passes the filter, 0 when not, or an error.
int filter_passes(const s_filter& f) {
  if (f.plan.count > 0) return plan_eval(&f.plan, f.grammar);
  res_u value;
  res_zero(&value);
  int st = evafsr(&value, f.grammar, f.node);
  if (st >= 0) st = ifnull(&value);
  res_drop(&value);
  return st < 0 ? st : !st;
}

}  // namespace

int op_tfs(s_fsr* d) {
  std::memset(static_cast<void*>(d), 0, sizeof *d);
  int limit = Nutmsk != 255 && Tfs[1] != nullptr ? 1023 : 255;
  int slot = Tfs[1] == nullptr ? 1 : 0;
  for (int i = 2; slot == 0 && i <= limit; ++i)
    if (Tfs[i] == nullptr) slot = i;
  if (slot == 0) return err_vlx(kErrTooManyFiles, VLX_AT(kAtTableSlots));
  d->slot = slot;
  Tfs[slot] = d;
  Fsr_views[slot] = {nullptr, 0};
  return slot;
}

int cl_tfs(s_fsr* d) {
  if (d == nullptr || d->slot <= 0 || d->slot >= kTableSlots || Tfs[d->slot] != d) return 0;
  Tfs[d->slot] = nullptr;
  Fsr_views[d->slot] = {nullptr, 0};
  return 0;
}

s_fsr* fsr_table(int slot) { return slot > 0 && slot < kTableSlots ? Tfs[slot] : nullptr; }

int fsr_convlist(s_fsr* d, const s_raw* rawForms, int recordLength) {
  bool differs = false;
  for (int i = 0; i < d->fieldCount && !differs; ++i) {
    const s_fld& f = d->fields[i];
    differs = f.offset != rawForms[i].offset || f.type != rawForms[i].type || f.length != rawForms[i].length;
  }
  if (!differs) return 0;
  for (int i = 0; i < d->fieldCount; ++i) {
    const s_fld& f = d->fields[i];
    int stored = stored_size(f.type, f.length);
    if (stored < 0 || f.offset + static_cast<std::uint64_t>(stored) > static_cast<std::uint64_t>(recordLength))
      return err_vlx(kErrInternal, "fsr_convlist: field %d at %u of %d bytes", i + 1, f.offset, stored);
  }
  int st = cbu_new(1, d->group, static_cast<unsigned>(recordLength), &d->converted, "Buffer converti de table");
  if (st < 0) return st;
  cbu_set_noextent(d->converted, 1);
  d->rawForms = rawForms;
  d->convert = true;
  return 0;
}

namespace {

int convert(s_fsr* d) {
  d->typed = false;
  unsigned rawLength = 0, typedLength = 0;
  const unsigned char* raw = cbu_buf(d->record, &rawLength);
  unsigned char* typed = cbu_buf(d->converted, &typedLength);
  if (raw == nullptr || typed == nullptr || d->rawForms == nullptr) return err_vlx(kErrInternal, "fsr_convert");
  std::memset(typed, 0, typedLength);
  res_u value;
  res_zero(&value);
  int st = 0;
  for (int i = 0; i < d->fieldCount && st >= 0; ++i) {
    const s_fld& f = d->fields[i];
    const s_raw& r = d->rawForms[i];
    if (r.offset + static_cast<std::uint64_t>(stored_size(r.type, r.length)) > rawLength) {
      st = err_vlx(kErrInternal, "fsr_convert: raw field %d", i + 1);
      break;
    }
    st = vad2rs(&value, raw + r.offset, nullptr, r.type, r.length, 0);
    if (st < 0) break;
    // An empty word is the null value of its field: zeros, as cleared.
    if (value.rs_type == LCLOB && value.rs_str != nullptr && value.rs_str->length == 0 && f.type != r.type) continue;
    // Text reads as a number through the decimal reading, whatever the
    // field's numeric type.
    int target = typconv(f.type);
    if (value.rs_type == LCLOB && (target == LINTG || target == LINT64 || target == LDBLE || target == LBOOL))
      st = rsconv(&value, LDCB);
    if (st >= 0) st = rs2vad(typed + f.offset, nullptr, f.type, f.length, &value, 0);
  }
  res_drop(&value);
  if (st < 0) return st;
  d->typed = true;
  return 0;
}

}  // namespace

int fsr_convert(s_fsr* d) {
  bool typed = d->typed;
  int st = convert(d);
  if (d->typed != typed) fsr_review(d);
  return st;
}

cbu_ref fsr_record(const s_fsr* d) { return d->typed ? d->converted : d->record; }

void fsr_review(const s_fsr* d) {
  plan_record& view = Fsr_views[d->slot];
  view.bytes = cbu_buf(fsr_record(d), &view.length);
}

int fsr_class(s_fsr* d, const char* name) {
  std::vector<s_fgfld> fields(static_cast<std::size_t>(std::max(d->fieldCount, 0)));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const s_fld& f = d->fields[i];
    fields[i] = s_fgfld{f.name, f.type, f.length, f.scale, f.offset};
  }
  int cls = cre_FG(d->group, name, d->slot, fields.data(), static_cast<int>(fields.size()),
                   d->convert ? d->converted : d->record);
  if (cls < 0) return cls;
  d->varClass = cls;
  return 0;
}

int fsrukc(s_fsr* d, int key, int criterion) {
  if (criterion < 0 || criterion > 1) return err_vlx(kErrInternal, "fsrukc");
  d->currentKey[criterion] = key;
  return 0;
}

int fsrocf(s_fsr* d, int key, const unsigned char* first, int firstLength, const unsigned char* second,
           int secondLength) {
  if (d->currentKey[1] != -1) return err_vlx(kErrInternal, "fsrocf");
  d->currentKey[1] = key;
  const unsigned char* values[2] = {first, second};
  int lengths[2] = {firstLength, secondLength};
  for (int i = 0; i < 2; ++i) {
    d->keyLength[i] = std::min(std::max(lengths[i], 0), kKeyValue);
    std::memset(d->keyValue[i], 0, kKeyValue);
    if (values[i] != nullptr) std::memcpy(d->keyValue[i], values[i], static_cast<std::size_t>(d->keyLength[i]));
  }
  return 0;
}

int fsrinw(s_fsr* d, grammar_ptr g, unsigned node, int criterion) {
  int entry = 0;
  while (entry < kFilters && d->filters[entry].grammar != nullptr) ++entry;
  if (entry == kFilters) return err_vlx(kErrNoMemory, VLX_AT(kAtFilters));
  if (node != 0 && (g == nullptr || node > g->gr_exp.gc_nbr)) return err_vlx(kErrInternal, "woptan");
  s_filter& f = d->filters[entry];
  f.criterion = criterion;
  f.node = node;
  f.grammar = g.release();
  if (node != 0) plan_make(&f.plan, f.grammar, node);
  return entry + 1;
}

int fsrdlw(s_fsr* d, int filter) {
  if (filter < 1 || filter > kFilters) return err_vlx(kErrInternal, "fsrdlw(%d)", filter);
  s_filter& f = d->filters[filter - 1];
  int st = 0;
  if (f.grammar != nullptr) {
    st = gramlb(f.grammar);
    adg_memfree(d->group, f.grammar);
  }
  f = s_filter{};
  return st;
}

int fsrtcs(s_fsr* d, int criterion) {
  for (const s_filter& f : d->filters) {
    if (f.grammar == nullptr || f.node == 0 || f.criterion != criterion) continue;
    int st = filter_passes(f);
    if (st <= 0) return st;
  }
  return 1;
}

bool fsr_required_text(const s_fsr* d, int criterion, const s_exp** field, std::string* text) {
  for (const s_filter& f : d->filters) {
    if (f.grammar == nullptr || f.node == 0 || f.criterion != criterion) continue;
    return plan_required_text(&f.plan, f.grammar, field, text);
  }
  return false;
}

int fsrcsel(s_fsr* d, grctx* g, unsigned node, int flags, int selection, int* tableSlots, int count) {
  if (selection < 0 || selection >= kSelections) return err_vlx(kErrInternal, "fsrcsel(%d)", selection);
  fsrdsel(d, selection);
  s_sel& s = d->selections[selection];
  int st = init_pt_exp(&s.cells, d->group);
  if (st < 0) return st;
  s.used = true;
  s.flag = (flags & kSelectAlways) != 0;
  // Each node is visited once at most: a looping chain ends.
  unsigned visits = 0;
  for (unsigned n = node; n != 0 && g != nullptr && n <= g->gr_exp.gc_nbr && visits++ < g->gr_exp.gc_nbr;
       n = gt_exp(g, n)->next) {
    const s_exp* e = gt_exp(g, n);
    int slot = static_cast<int>(e->objectId) & Nutmsk;
    if (e->code == kTableMark) {
      int* list = tableSlots != nullptr ? tableSlots : s.tableSlots;
      int room = tableSlots != nullptr ? count : 12;
      for (int i = 0; i < room; ++i)
        if (list[i] == 0 || list[i] == slot) {
          list[i] = slot;
          break;
        }
      continue;
    }
    bool known = false;
    for (unsigned l = s.head; l != 0 && !known; l = gt_exp(&s.cells, l)->next) {
      const s_exp* f = gt_exp(&s.cells, gt_exp(&s.cells, l)->header);
      known = static_cast<int>(f->objectId) == slot && f->header == e->header && f->tail == e->tail;
    }
    if (known) continue;
    int field = stfexp(&s.cells, kFieldLoad, static_cast<unsigned>(slot), e->header, e->tail, e->type, 0);
    if (field < 0) return field;
    int link = stfexp(&s.cells, 0, 0, static_cast<unsigned>(field), 0, 0, s.head);
    if (link < 0) return link;
    s.head = static_cast<unsigned>(link);
    ++s.fieldNodes;
    s.size += stored_size(static_cast<int>(e->type), static_cast<int>(e->tail));
  }
  return 0;
}

int fsrdsel(s_fsr* d, int selection) {
  if (selection < 0 || selection >= kSelections) return err_vlx(kErrInternal, "fsrdsel(%d)", selection);
  s_sel& s = d->selections[selection];
  if (s.used) gramlb(&s.cells);
  std::memset(static_cast<void*>(&s), 0, sizeof s);
  return 0;
}

int rb2sb(int slot, s_fsr* d, grctx* cells, unsigned head, int size) {
  if (d->subrecord != 0) cbu_free(d->subrecord);
  d->subrecord = 0;
  d->wholeRecord = false;
  if (size < 0) {
    d->wholeRecord = true;
    return 0;
  }
  if (size == 0) return 0;
  int st = cbu_new(1, d->group, static_cast<unsigned>(size), &d->subrecord, "Sous enreg");
  if (st < 0) return st;
  cbu_set_noextent(d->subrecord, cbu_is_noextent(d->record));
  unsigned char* out = cbu_bu(d->subrecord);
  unsigned recordLength = 0;
  const unsigned char* record = cbu_buf(fsr_record(d), &recordLength);
  int at = size;
  res_u value;
  res_zero(&value);
  for (unsigned l = head; l != 0 && st >= 0; l = gt_exp(cells, l)->next) {
    const s_exp* f = gt_exp(cells, gt_exp(cells, l)->header);
    if ((static_cast<int>(f->objectId) & Nutmsk) != slot) continue;
    int type = static_cast<int>(f->type), length = static_cast<int>(f->tail);
    int stored = stored_size(type, length);
    if (f->header + static_cast<unsigned>(stored) > recordLength || at < stored) {
      st = err_vlx(kErrInternal, VLX_AT(kAtSubrecord));
      break;
    }
    at -= stored;
    st = vad2rs(&value, record + f->header, nullptr, type, length, 0);
    if (st >= 0) st = rs2vad(out + at, nullptr, type, length, &value, 0);
    if (st < 0) st = err_vlx(static_cast<short>(-st), VLX_AT(kAtSubrecordField));
  }
  res_drop(&value);
  if (st < 0) {
    // Not kept until the next read or the close: a selection may announce
    // any size, and the answer has no use for a sub-record half made.
    cbu_free(d->subrecord);
    d->subrecord = 0;
    return st;
  }
  return 0;
}

const plan_record* chamfi_view(unsigned table) {
  static const plan_record kNone{nullptr, 0};
  int slot = static_cast<int>(table) & Nutmsk;
  return slot > 0 && slot < kTableSlots ? &Fsr_views[slot] : &kNone;
}

int chamfi_g(res_u* result, grctx* g, s_exp* node, int code) {
  (void)g, (void)code;
  auto [record, recordLength] = *chamfi_view(node->objectId);
  if (record == nullptr) return err_vlx(kErrInternal, "chamfi_g: no table in slot %u", node->objectId & static_cast<unsigned>(Nutmsk));
  int type = static_cast<int>(node->type), length = static_cast<int>(node->tail);
  int stored = stored_size(type, length);
  if (stored < 0 || node->header + static_cast<std::uint64_t>(stored) > recordLength)
    return err_vlx(kErrInternal, "chamfi_g: field at %u of %d bytes", node->header, stored);
  return vad2rs(result, record + node->header, nullptr, type, length, 0);
}

int kcmp_g(res_u* result, grctx* g, s_exp* node, int code) {
  (void)result, (void)code;
  int mode = static_cast<int>(node->objectId) & 0xF;
  if ((Fsrmod[mode] & 8) == 0) return err_vlx(kErrCalcMode, "kcmp_g");
  if (fsr_table(static_cast<int>(node->type) & Nutmsk) == nullptr)
    return err_vlx(kErrInternal, "kcmp_g: no table in slot %u", node->type);
  res_u compared;
  res_zero(&compared);
  // Evaluated as an operand, within the nesting the evaluation already
  // counts: a received grammar may lead back to this node.
  int st = calcul(&compared, g, node->header);
  res_drop(&compared);
  // The tables of this server have no index: there is no key to compare.
  return st < 0 ? st : err_vlx(kErrNoKey, "kcmp_g");
}

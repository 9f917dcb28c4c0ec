#include "table/sysop.h"

#include <dirent.h>
#include <emmintrin.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "base/vlxpath.h"
#include "channel/iocom.h"
#include "diagnostics/log.h"
#include "diagnostics/verbatim.h"
#include "diagnostics/vlxerr.h"
#include "files/vlxfile.h"
#include "files/vlxpopen.h"
#include "memory/vlxcalls.h"
#include "table/fsrarq.h"
#include "variables/varsys.h"

using namespace vlx;

s_tsy* Tsy[kTableSlots];

namespace {

int Spoolcounter;

// The read mode in a mode's low bits, and the bit with which a read with
// key criteria has rd_sys convert every record to its declared types.
constexpr int kModeMask = 0xF;
constexpr int kModeTyped = 16;

s_tsy* context(int slot) { return slot > 0 && slot < kTableSlots ? Tsy[slot] : nullptr; }

std::string spool_path() {
  char name[64];
  std::snprintf(name, sizeof name, "vlxt%d_%d", static_cast<int>(::getpid()), Spoolcounter);
  Spoolcounter = Spoolcounter >= 2147483646 ? 0 : Spoolcounter + 1;
  return vlx_tmp_dir() + "/" + name;
}

// Copies the command's output into the spool as lines of at most 512
// bytes: a longer line goes as consecutive lines of 512 bytes and its
// rest; a last line without a line feed is not copied (only its whole
// 512-byte pieces are). Runs of short lines are written as they came.
int spool_output(int pipe, int spool) {
  constexpr int kBlock = 65536;
  static char buffer[kBlock];
  int have = 0;
  for (;;) {
    int n = adf_read(pipe, buffer + have, kBlock - have);
    if (n < 0) return n;
    have += n;
    bool last = n == 0;
    int run = 0, at = 0;
    for (;;) {
      const char* feed = static_cast<const char*>(std::memchr(buffer + at, '\n', static_cast<std::size_t>(have - at)));
      int length = feed != nullptr ? static_cast<int>(feed - (buffer + at)) : have - at;
      if (feed == nullptr && !last && length < kBlock - kSpoolLine) break;  // wait for the rest of the line
      if (feed != nullptr && length < kSpoolLine) {
        at += length + 1;
        continue;
      }
      // A long line, or the unterminated end: flush the run, cut the line.
      int st = at > run ? adf_write(spool, buffer + run, at - run) : 0;
      for (; st >= 0 && length >= kSpoolLine; at += kSpoolLine, length -= kSpoolLine)
        st = adf_uput(spool, buffer + at, kSpoolLine, '\n');
      if (st < 0) return st;
      if (feed != nullptr) {
        if ((st = adf_uput(spool, buffer + at, length, '\n')) < 0) return st;
        at += length + 1;
      } else if (last) {
        at = have;  // the unterminated rest is dropped
      }
      run = at;
      if (feed == nullptr) break;
    }
    int st = at > run ? adf_write(spool, buffer + run, at - run) : 0;
    if (st < 0) return st;
    std::memmove(buffer, buffer + at, static_cast<std::size_t>(have - at));
    have -= at;
    if (last) return 0;
  }
}

// The shell's way of saying that a command could not be started.
int start_failure(int status) {
  if (!WIFEXITED(status)) return 0;
  if (WEXITSTATUS(status) == 127) return err_vlx(kErrFileNotFound, "command not found");
  if (WEXITSTATUS(status) == 126) return err_vlx(kErrAccess, "command not executable");
  return 0;
}

// Checks the lines of a spool while the command writes it: no line of 512
// bytes or more, and a line feed at the end. Each step looks for the last
// line feed within the next 512 bytes.
struct SpoolCheck {
  std::size_t pending = 0;  // bytes of the line not yet ended
  bool ok = true;
  void scan(const char* block, std::size_t size) {
    for (std::size_t at = 0; ok && at < size;) {
      std::size_t window = std::min<std::size_t>(kSpoolLine - pending, size - at);
      const void* feed = ::memrchr(block + at, '\n', window);
      if (feed == nullptr) {
        pending += window;
        at += window;
        ok = pending < kSpoolLine;
      } else {
        at = static_cast<std::size_t>(static_cast<const char*>(feed) - block) + 1;
        pending = 0;
      }
    }
  }
};

// Runs a local command with its output going straight into the spool;
// when the output has long lines or no final line feed, it is copied
// again through the line rules. The spool is checked while the command
// writes it, through the channel that then serves the table, so that the
// check costs no time of its own. Returns that channel (open for reading
// the spool) or a negated error.
int spool_locally(unsigned group, const std::string& command, const std::string& path) {
  int spool = adf_open(group, path.c_str(), "w");
  if (spool < 0) {
    ::unlink(path.c_str());
    return spool;
  }
  int pid = adf_spawn_into(command.c_str(), "", adf_fd(spool));
  int closed = adf_close(spool);
  if (pid < 0) return pid;
  SpoolCheck check;
  int behind = adf_open(group, path.c_str(), "r");
  bool whole = false;
  int status = adf_follow(pid, behind > 0 ? behind : 0, [&check](const char* block, std::size_t size) {
    check.scan(block, size);
    return check.ok;
  }, &whole);
  int st = closed < 0 ? closed : start_failure(status);
  if (st >= 0 && whole && check.pending == 0) {
    std::int64_t start = adf_seek(behind, 0, SEEK_SET);
    if (start >= 0) return behind;
    st = static_cast<int>(start);
  }
  if (behind > 0) adf_close(behind);
  if (st < 0) return st;
  std::string raw = path + ".raw";
  if ((st = adf_rename(path.c_str(), raw.c_str())) < 0) return st;
  int in = adf_open(group, raw.c_str(), "r");
  if (in >= 0) adf_ulnk(in);
  else ::unlink(raw.c_str());
  int out = in < 0 ? in : adf_open(group, path.c_str(), "w");
  st = out < 0 ? out : spool_output(in, out);
  if (out >= 0 && (closed = adf_close(out)) < 0 && st >= 0) st = closed;
  if (in >= 0) adf_close(in);
  return st < 0 ? st : adf_open(group, path.c_str(), "r");
}

// Puts a word of n bytes into a field's slot, its rest zero: only what
// the last read left in the slot needs clearing.
inline void put_word(s_tsy* t, int field, unsigned char* slot, const char* word, int n) {
  n = std::min(n, kFieldWidth);
  std::memcpy(slot, word, static_cast<std::size_t>(n));
  if (t->used[field] > n) std::memset(slot + n, 0, static_cast<std::size_t>(t->used[field] - n));
  t->used[field] = static_cast<std::uint8_t>(n);
}

// Fills the record (`length` bytes) from the line of n bytes read at the
// spool's position: word i goes to the 255-byte slot i, the rest of a slot
// is zero; longer words are cut, surplus words dropped. 4 at the end of
// the spool.
//
// The line is looked at 16 bytes at a time: a mask of its blanks, whose
// bits tell where each word begins and ends.
int fill_record(s_tsy* t, unsigned char* record, unsigned length, const char* line, int n) {
  bool ended = n > 0 && line[n - 1] == '\n';
  if (ended) --n;
  int fields = std::min(t->fieldCount, static_cast<int>(length / kFieldWidth));
  int field = 0, start = 0;
  bool inWord = false;
  const __m128i blank = _mm_set1_epi8(' ');
  for (int base = 0; base < n && field < fields; base += 16) {
    __m128i block;
    if (base + 16 <= n) {
      block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + base));
    } else {
      // The line's last bytes, followed by blanks.
      char tail[16];
      std::memset(tail, ' ', sizeof tail);
      std::memcpy(tail, line + base, static_cast<std::size_t>(n - base));
      block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tail));
    }
    unsigned blanks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, blank)));
    unsigned words = ~blanks & 0xFFFFu;
    // The next change of state: a blank inside a word, a word byte outside.
    for (unsigned next = inWord ? blanks : words; next != 0;) {
      int at = __builtin_ctz(next);
      unsigned after = ~((2u << at) - 1);
      if (inWord) {
        put_word(t, field, record + field * kFieldWidth, line + start, base + at - start);
        if (++field == fields) break;
        next = words & after;
      } else {
        start = base + at;
        next = blanks & after;
      }
      inWord = !inWord;
    }
  }
  if (inWord && field < fields) {
    put_word(t, field, record + field * kFieldWidth, line + start, n - start);
    ++field;
  }
  for (; field < fields; ++field) put_word(t, field, record + field * kFieldWidth, line, 0);
  if (!ended) {
    t->atEnd = true;
    return 4;
  }
  return 0;
}

// Moves the spool back to the start of the line before the position.
int sys_fetch_pv(s_tsy* t) {
  std::int64_t p = adf_tell(t->spool);
  if (p < 0) return static_cast<int>(p);
  if (p == 0) return 4;
  if (t->atEnd) {
    t->atEnd = false;
    std::int64_t end = adf_seek(t->spool, 0, SEEK_END);
    return end < 0 ? static_cast<int>(end) : 0;
  }
  for (std::int64_t at = p - 2; at >= 0; --at) {
    char c;
    if (adf_seek(t->spool, at, SEEK_SET) < 0 || adf_read(t->spool, &c, 1) != 1) return -Vstat1;
    if (c == '\n') return 0;
  }
  std::int64_t start = adf_seek(t->spool, 0, SEEK_SET);
  return start < 0 ? static_cast<int>(start) : 0;
}

// Positions the spool for a read mode: 0, 4 at the start (or before), or
// a negated error. A next read reads on from where the last one ended.
int position(s_tsy* t, int mode) {
  std::int64_t at = 0;
  switch (mode) {
    case kReadFirst:
      t->atEnd = false;
      at = adf_seek(t->spool, 0, SEEK_SET);
      break;
    case kReadLast:
      t->atEnd = false;
      at = adf_seek(t->spool, 0, SEEK_END);
      if (at >= 0) return sys_fetch_pv(t);
      break;
    case kReadPrevious: {
      int st = sys_fetch_pv(t);
      return st == 0 ? sys_fetch_pv(t) : st;
    }
    case kReadCurrent:
      t->atEnd = false;
      at = adf_seek(t->spool, t->descriptor->position, SEEK_SET);
      break;
  }
  return at < 0 ? static_cast<int>(at) : 0;
}

void release(s_tsy* t, int slot) {
  if (t->spool > 0) adf_close(t->spool);
  if (t->descriptor != nullptr) {
    if (t->descriptor->varClass != 0) cla_free(t->descriptor->varClass);
    if (t->descriptor->record != 0) cbu_free(t->descriptor->record);
    if (t->descriptor->converted != 0) cbu_free(t->descriptor->converted);
    cl_tfs(t->descriptor);
  }
  Tsy[slot] = nullptr;
}

}  // namespace

int sys_clean_spools() {
  std::string folder = vlx_tmp_dir();
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    int pid = 0, counter = 0;
    char tail = 0;
    // Most entries of a shared folder are not spools: sscanf is dear.
    if (std::strncmp(entry->d_name, "vlxt", 4) != 0) continue;
    if (std::sscanf(entry->d_name, "vlxt%d_%d%c", &pid, &counter, &tail) != 2 || pid <= 0) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
    std::string path = folder + "/" + entry->d_name;
    if (::unlink(path.c_str()) == 0) {
      log::trace(log::fileops, "removed the spool file %s of process %d", path, pid);
      ++removed;
    }
  }
  ::closedir(dir);
  return removed;
}

namespace {

// A process that ends while tables are open (its client went away, a
// request could not be read) still deletes their spool files.
void close_spools_at_exit() {
  for (s_tsy* t : Tsy)
    if (t != nullptr && t->spool > 0) adf_close(t->spool);
}

}  // namespace

void sysisf() {
  sys_clean_spools();
  static bool registered = std::atexit(close_spools_at_exit) == 0;
  (void)registered;
  static const s_drv kSystem = {
      .open = op_sys,
      .properties = pr_sys,
      .read = rd_sys,
      .close = cl_sys,
      .add_filter = cw_sys,
      .remove_filter = dw_sys,
      .read_keys = of_sys,
      .select = syscrsel,
      .remove_selection = sysdlsel,
  };
  fsr_in(kSysDriver, &kSystem);
}

int op_sys(s_opn* r) {
  auto* d = static_cast<s_fsr*>(adg_malloc(r->group, sizeof(s_fsr)));
  if (d == nullptr) return -Vstat1;
  int slot = op_tfs(d);
  if (slot < 0) return slot;
  if (Tsy[slot] != nullptr) {
    cl_tfs(d);
    return err_vlx(kErrInternal, "op_cis");
  }
  auto* t = static_cast<s_tsy*>(adg_malloc(r->group, sizeof(s_tsy)));
  if (t == nullptr) {
    cl_tfs(d);
    return -Vstat1;
  }
  Tsy[slot] = t;
  d->group = r->group;
  d->slot = slot;
  t->descriptor = d;

  std::string name = r->name;
  std::string host, command = name;
  if (std::size_t at = name.find('@'); at != std::string::npos) {
    host = name.substr(0, at);
    command = name.substr(at + 1);
  }
  std::string path = spool_path();
  int st;
  if (host.empty()) {
    st = t->spool = spool_locally(r->group, command, path);
    if (t->spool < 0) t->spool = 0;
  } else {
    int pipe = adf_popen(r->group, command.c_str(), "r", host.c_str());
    if (pipe < 0) {
      release(t, slot);
      return pipe >= -128 ? pipe : err_vlx(kErrSystem, "op_sys");
    }
    int spool = adf_open(r->group, path.c_str(), "w");
    if (spool < 0) {
      // The file may exist although its channel could not be made.
      ::unlink(path.c_str());
      adf_close(pipe);
      release(t, slot);
      return spool;
    }
    st = spool_output(pipe, spool);
    int closed = adf_close(spool);
    int ended = adf_close(pipe);
    if (st >= 0) st = closed < 0 ? closed : ended < 0 ? ended : start_failure(adf_last_status());
    if (st >= 0) {
      t->spool = adf_open(r->group, path.c_str(), "r");
      st = t->spool;
      if (t->spool < 0) t->spool = 0;
    }
  }
  if (t->spool > 0) adf_ulnk(t->spool);
  else ::unlink(path.c_str());
  if (st < 0) {
    release(t, slot);
    return st;
  }
  std::snprintf(t->name, sizeof t->name, "%s", r->name);
  t->slot = slot;
  t->group = r->group;
  t->flags = r->flags;
  t->fieldCount = r->fieldCount;
  t->fields = r->fields;
  d->fields = r->fields;
  d->fieldCount = r->fieldCount;
  // Word i of a line lies in the 255-byte text slot i of the raw record;
  // fields declared otherwise are read from the typed record.
  int count = std::max(r->fieldCount, 0);
  auto* raw = static_cast<s_raw*>(adg_malloc(r->group, sizeof(s_raw) * static_cast<std::size_t>(std::max(count, 1))));
  if (raw == nullptr) {
    st = -Vstat1;
    release(t, slot);
    return st;
  }
  for (int i = 0; i < count; ++i) raw[i] = s_raw{static_cast<std::uint32_t>(i * kFieldWidth), kFieldType, kFieldWidth};
  st = fsr_convlist(d, raw, r->recordLength);
  int rawLength = d->convert ? count * kFieldWidth : std::max(r->recordLength, 0);
  if (st >= 0)
    st = cbu_new(1, r->group, static_cast<unsigned>(rawLength), &d->record, "Buffer principale de table");
  if (st < 0) {
    release(t, slot);
    return st;
  }
  cbu_set_noextent(d->record, 1);
  fsr_review(d);
  t->used = static_cast<std::uint8_t*>(adg_malloc(r->group, static_cast<std::size_t>(std::max(r->fieldCount, 1))));
  if (t->used == nullptr) {
    st = -Vstat1;
    release(t, slot);
    return st;
  }
  std::memset(t->used, kFieldWidth, static_cast<std::size_t>(std::max(r->fieldCount, 0)));
  if ((st = fsr_class(d, r->name)) < 0) {
    release(t, slot);
    return st;
  }
  d->currentKey[0] = d->currentKey[1] = -1;
  return slot;
}

namespace {

// The text that the first filter of `criterion` requires of a record,
// when the field that must hold it is a word's slot of the raw record: a
// line without that text cannot pass. Empty when there is none.
std::string required_text(const s_tsy* t, int criterion, unsigned length) {
  const s_fsr* d = t->descriptor;
  const s_exp* field = nullptr;
  std::string text;
  if (d->convert || !fsr_required_text(d, criterion, &field, &text)) return {};
  bool wordSlot = (static_cast<int>(field->objectId) & Nutmsk) == d->slot && field->type == LSTRG &&
                  field->header % kFieldWidth == 0 && field->tail <= static_cast<unsigned>(kFieldWidth) &&
                  field->header + static_cast<std::uint64_t>(field->tail) <= length;
  return wordSlot ? text : std::string();
}

}  // namespace

int rd_sys(int slot, int key, int lock, int mode, int flags, const s_keyv* keyValue, int* found, int criterion,
           int value, int* foundFlags, char* text) {
  (void)key, (void)lock, (void)flags, (void)keyValue, (void)value, (void)foundFlags, (void)text;
  s_tsy* t = context(slot);
  if (t == nullptr) return err_vlx(kErrInternal, "rd_sys: slot %d is not open", slot);
  int m = mode & kModeMask;
  if (m > kReadCurrent) return err_vlx(kErrUnknownFunction, "rd_sys");
  s_fsr* d = t->descriptor;
  unsigned length = 0;
  unsigned char* record = cbu_buf(d->record, &length);
  if (record == nullptr) return err_vlx(kErrInternal, "rd_sys: no record buffer");
  unsigned char* reads = fg_counter(d->varClass);
  // Forward reads pass over the lines that lack the text their first
  // filter requires, without filling the record from them.
  std::string required = m == kReadFirst || m == kReadNext ? required_text(t, criterion, length) : std::string();
  char scratch[2 * kSpoolLine + 2];
  for (;;) {
    int st = position(t, m);
    if (st != 0) return st;
    const char* line = nullptr;
    int n = adf_uview(t->spool, scratch, sizeof scratch - 1, '\n', &line);
    if (n < 0) return n;
    if (!required.empty() && n > 0 && line[n - 1] == '\n' &&
        std::string_view(line, static_cast<std::size_t>(n)).find(required) == std::string_view::npos) {
      m = kReadNext;
      continue;
    }
    // The record's offset: where the line just read began.
    std::int64_t after = adf_tell(t->spool);
    d->position = after < 0 ? after : after - n;
    st = fill_record(t, record, length, line, n);
    if (st != 0) return st;
    fg_tick(reads);
    // A conversion sets the typed flag and the view itself; the view
    // changes only with the flag.
    if (d->rawForms != nullptr && (d->convert || (mode & kModeTyped))) {
      if (st = fsr_convert(d); st < 0) return st;
    } else if (d->typed) {
      d->typed = false;
      fsr_review(d);
    }
    int pass = fsrtcs(d, criterion);
    if (pass < 0) return pass;
    if (m == kReadCurrent || pass == 1) break;
    // The next candidate: the line after, or the one before this one.
    m = Fsrmod[m] & 1 ? kReadPrevious : kReadNext;
  }
  found[0] = slot;
  found[1] = 0;
  return 0;
}

int of_sys(int slot, int key, int lock, int count, const s_keyv* first, const s_keyv* second, int mode,
           int criterion, int* found, int value, int* foundFlags, char* text) {
  s_tsy* t = context(slot);
  if (t == nullptr) return err_vlx(kErrInternal, "of_sys: slot %d is not open", slot);
  if (key != 0) return err_vlx(kErrNoKey, VLX_AT(kAtKeyNumber));
  if (count >= 2) return err_vlx(kErrNoKey, VLX_AT(kAtKeyCount));
  s_fsr* d = t->descriptor;
  d->currentKey[1] = -1;
  t->atEnd = false;
  std::int64_t at = adf_seek(t->spool, 0, SEEK_SET);
  if (at < 0) return static_cast<int>(at);
  int st = fsrocf(d, key, first->bytes, first->length, second->bytes, second->length);
  // rd_sys itself goes on past failing records, except in mode 4, which
  // answers the current record as it is: here that record must pass too,
  // else the read goes on in the mode plus 2 (as first becomes next).
  for (int m = (mode & kModeMask) | kModeTyped; st >= 0;) {
    st = rd_sys(slot, key, lock, m, kReadSelected, first, found, criterion, value, foundFlags, text);
    if (st != 0 || (m & kModeMask) != kReadCurrent) break;
    int pass = fsrtcs(d, criterion);
    if (pass != 0) {
      st = pass < 0 ? pass : 0;
      break;
    }
    m |= kReadNext;
  }
  d->currentKey[1] = -1;
  return st == 5 ? 4 : st;
}

int cl_sys(int slot, int code) {
  (void)code;
  s_tsy* t = context(slot);
  int st = 0;
  if (t == nullptr) {
    st = err_vlx(kErrInternal, "cl_sys: slot %d is not open", slot);
  } else {
    unsigned group = t->group;
    st = t->spool > 0 ? adf_close(t->spool) : 0;
    t->spool = 0;
    release(t, slot);
    adg_free(group);
  }
  wc_ack(Iak, st);
  return st;
}

int cw_sys(int slot, grammar_ptr g, unsigned node, int criterion) {
  s_tsy* t = context(slot);
  if (t == nullptr) return err_vlx(kErrInternal, "cw_sys: slot %d is not open", slot);
  if (node == 0) return 0;
  return fsrinw(t->descriptor, std::move(g), node, criterion);
}

int dw_sys(int slot, int filter) {
  s_tsy* t = context(slot);
  if (t == nullptr) return err_vlx(kErrInternal, "dw_sys: slot %d is not open", slot);
  return fsrdlw(t->descriptor, filter);
}

int syscrsel(int slot, grctx* g, unsigned node, int flags, int selection) {
  s_tsy* t = context(slot);
  if (t == nullptr || selection != 0) return err_vlx(kErrInternal, "vtbcrsel");
  return fsrcsel(t->descriptor, g, node, flags, selection, nullptr, 0);
}

int sysdlsel(int slot, int selection) {
  s_tsy* t = context(slot);
  if (t == nullptr || selection != 0) return err_vlx(kErrInternal, "vtbdlsel");
  return fsrdsel(t->descriptor, selection);
}

int pr_sys(int object, char* name, char* information) {
  (void)object, (void)name, (void)information;
  return 4;
}

#include "channel/iocom.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/bigend.h"
#include "base/sigpend.h"
#include "channel/socket.h"
#include "diagnostics/callstack.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "values/varstr.h"

using namespace vlx;

void (*Comlost)();

namespace {

// Gathered output of pipe and socket writes: one destination at a time.
struct Pending {
  int fd = -1;
  int slot = 0;
  bool socket = false;
  int length = 0;
  unsigned char bytes[8192];
};
Pending Out;

// Read-ahead of each slot's request stream: one read() takes whatever has
// arrived, so a request's header and body cost one system call, not two.
// Nothing is buffered while start == end, whatever fd says. No member
// initialisers: the table is zero-filled static storage, which costs no
// page until a slot reads.
struct Ahead {
  int fd;
  int start, end;
  unsigned char bytes[4096];
};
Ahead Aheads[kComSlots + 1];

// Takes buffered bytes of `fd` first; true when `count` are then done.
bool take_ahead(int fd, unsigned char*& bytes, int& count, int slot) {
  if (slot < 1 || slot > kComSlots) return false;
  Ahead& a = Aheads[slot];
  if (a.fd != fd || a.start == a.end) return false;
  int n = std::min(count, a.end - a.start);
  std::memcpy(bytes, a.bytes + a.start, static_cast<std::size_t>(n));
  a.start += n;
  bytes += n;
  count -= n;
  return count == 0;
}

bool reads_ahead(int fd, int slot) {
  return slot >= 1 && slot <= kComSlots && Com[slot] != nullptr && static_cast<int>(Com[slot]->reqr) == fd;
}

struct Cbuf {
  bool open = false;
  std::string data;
  std::size_t taken = 0;
};
Cbuf Cbufs[kCbufCount];

bool stack_dump_enabled() {
  const char* value = std::getenv("STACK_DUMP_ENABLED");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

void lost_peer() {
  if (stack_dump_enabled()) log_call_stack(1);
  if (Comlost != nullptr) Comlost();
}

const char* type_of_reader(int fd) {
  for (int i = 1; i <= kComSlots; ++i)
    if (Com[i] != nullptr && static_cast<int>(Com[i]->reqr) == fd) return debugSrvtyf2(Com[i]->abv.b[0]);
  return "unknown";
}

int write_all(int fd, const unsigned char* bytes, int count, bool socket) {
  int done = 0;
  while (done < count) {
    ssize_t n = socket ? ::send(fd, bytes + done, static_cast<std::size_t>(count - done), MSG_NOSIGNAL)
                       : ::write(fd, bytes + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += static_cast<int>(n);
  }
  return 0;
}

int report_write_failure(int fd, int length, bool socket, int e) {
  if (socket) return networkError(e, "send(%d)", fd);
  log::trace(log::system, "write(idp:%lld,nbc:%i) errno:%s (%i)", static_cast<long long>(fd), length,
             std::strerror(e), e);
  int st = set_vstat1(e);
  st = err_vlx(static_cast<short>(-st), "write on pipe %lld failed with error:%s (%i)", static_cast<long long>(fd),
               std::strerror(e), e);
  lost_peer();
  return st;
}

// Sends what was gathered; reports a failure as the mode's write would.
int flush_pending() {
  if (Out.length == 0) return 0;
  int length = Out.length;
  Out.length = 0;
  if (write_all(Out.fd, Out.bytes, length, Out.socket) == 0) return 0;
  return report_write_failure(Out.fd, length, Out.socket, errno);
}

int gather(int fd, const unsigned char* bytes, int count, int slot, bool socket) {
  bool elsewhere = Out.length > 0 && (Out.fd != fd || Out.socket != socket);
  if (elsewhere || Out.length + count > static_cast<int>(sizeof Out.bytes)) {
    int st = flush_pending();
    if (st < 0) return st;
  }
  if (count > static_cast<int>(sizeof Out.bytes)) {
    if (write_all(fd, bytes, count, socket) == 0) return 0;
    return report_write_failure(fd, count, socket, errno);
  }
  Out.fd = fd;
  Out.slot = slot;
  Out.socket = socket;
  std::memcpy(Out.bytes + Out.length, bytes, static_cast<std::size_t>(count));
  Out.length += count;
  return 0;
}

struct FlushAtExit {
  FlushAtExit() {
    std::atexit([] {
      if (Out.length > 0) write_all(Out.fd, Out.bytes, Out.length, Out.socket);
      Out.length = 0;
    });
  }
} Flushatexit;

s_com* checked(int slot, const char* operation) {
  s_com* c = com_slot(slot);
  if (c == nullptr) err_vlx(kErrNoComResource, "%s(%d)", operation, slot);
  return c;
}

int do_write(s_com* c, std::uint32_t fd, const void* bytes, int count, int slot) {
  if (count <= 0) return 0;
  int st = c->write_fn(static_cast<int>(fd), static_cast<unsigned char*>(const_cast<void*>(bytes)), count, slot);
  if (st >= 0) c->written += static_cast<std::uint32_t>(count);
  return st < 0 ? st : 0;
}

int do_read(s_com* c, std::uint32_t fd, void* bytes, int count, int slot) {
  if (count <= 0) return 0;
  int st = c->read_fn(static_cast<int>(fd), static_cast<unsigned char*>(bytes), count, slot);
  if (st >= 0) c->read += static_cast<std::uint32_t>(count);
  return st < 0 ? st : 0;
}

// Reads `count` bytes for a slot: from its read-ahead, then from `fd`
// (into the read-ahead when the fd is the slot's request stream).
// Returns 0, -1 with errno on failure, or 1 at the end of the data.
int read_for_slot(int fd, unsigned char* bytes, int count, int slot, bool socket) {
  if (take_ahead(fd, bytes, count, slot)) return 0;
  bool ahead = reads_ahead(fd, slot) && count < static_cast<int>(sizeof Aheads[0].bytes);
  if (ahead) Aheads[slot].fd = fd;
  while (count > 0) {
    unsigned char* into = ahead ? Aheads[slot].bytes : bytes;
    std::size_t room = ahead ? sizeof Aheads[0].bytes : static_cast<std::size_t>(count);
    // A signal recorded before the wait, or one that interrupts it, is
    // acted on here.
    if (Sigpend != nullptr) Sigpend();
    ssize_t n = socket ? ::recv(fd, into, room, 0) : ::read(fd, into, room);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? -1 : 1;
    if (!ahead) {
      bytes += n;
      count -= static_cast<int>(n);
      continue;
    }
    Aheads[slot].start = 0;
    Aheads[slot].end = static_cast<int>(n);
    take_ahead(fd, bytes, count, slot);
  }
  return 0;
}

}  // namespace

void com_forget_ahead(int slot) {
  if (slot >= 1 && slot <= kComSlots) Aheads[slot] = Ahead{};
}

int r_pipe(int fd, unsigned char* bytes, int count, int slot) {
  int st = flush_pending();
  if (st < 0) return st;
  int r = read_for_slot(fd, bytes, count, slot, false);
  if (r < 0) {
    int e = errno;
    st = err_vlx(kErrInternal, "r_pipe read(id:%lld type:%s) failed with error %i (%s)", static_cast<long long>(fd),
                 type_of_reader(fd), e, std::strerror(e));
    lost_peer();
    return st;
  }
  if (r > 0) {
    st = err_vlx(kErrInternal, "r_pipe read(id:%lld type:%s) ended-up with no data", static_cast<long long>(fd),
                 type_of_reader(fd));
    lost_peer();
    return st;
  }
  return 0;
}

int w_pipe(int fd, unsigned char* bytes, int count, int slot) { return gather(fd, bytes, count, slot, false); }

int r_sock(int fd, unsigned char* bytes, int count, int slot) {
  int st = flush_pending();
  if (st < 0) return st;
  int r = read_for_slot(fd, bytes, count, slot, true);
  if (r < 0) return networkError(errno, "recv(%d)", fd);
  if (r > 0) {
    log::trace(log::system, "r_sock st:%i lg:%i => sisignal(SIGHUP)", 0, count);
    if (Comlost != nullptr) Comlost();
    // The loss was not fatal: the peer is gone for good, so stop waiting.
    return networkError(ECONNRESET, "recv(%d)", fd);
  }
  return 0;
}

int w_sock(int fd, unsigned char* bytes, int count, int slot) { return gather(fd, bytes, count, slot, true); }

int r_cbuf(int fd, unsigned char* bytes, int count, int slot) {
  (void)slot;
  if (fd < 0 || fd >= kCbufCount || !Cbufs[fd].open) return err_vlx(kErrInternal, "r_cbuf");
  Cbuf& b = Cbufs[fd];
  if (b.data.size() - b.taken < static_cast<std::size_t>(count)) {
    b.taken = b.data.size();
    return err_vlx(kErrInternal, "r_cbuf");
  }
  std::memcpy(bytes, b.data.data() + b.taken, static_cast<std::size_t>(count));
  b.taken += static_cast<std::size_t>(count);
  return 0;
}

int w_cbuf(int fd, unsigned char* bytes, int count, int slot) {
  (void)slot;
  if (fd < 0 || fd >= kCbufCount || !Cbufs[fd].open) return err_vlx(kErrInternal, "w_cbuf");
  Cbufs[fd].data.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
  return 0;
}

bool com_transfer(int mode, com_io* write_fn, com_io* read_fn) {
  switch (mode) {
    case kModeBuffer: *write_fn = w_cbuf, *read_fn = r_cbuf; return true;
    case kModePipe: *write_fn = w_pipe, *read_fn = r_pipe; return true;
    case kModeSocket: *write_fn = w_sock, *read_fn = r_sock; return true;
    default: return false;
  }
}

int com_flush(int slot) { return Out.length > 0 && Out.slot == slot ? flush_pending() : 0; }
int com_flush_all() { return flush_pending(); }

int cbuf_open() {
  for (int i = 0; i < kCbufCount; ++i) {
    if (Cbufs[i].open) continue;
    Cbufs[i] = Cbuf{};
    Cbufs[i].open = true;
    return i;
  }
  return err_vlx(kErrNoChannel, "cbuf_open");
}

void cbuf_close(int index) {
  if (index >= 0 && index < kCbufCount) Cbufs[index] = Cbuf{};
}

void cbuf_feed(int index, const void* bytes, int count) {
  w_cbuf(index, static_cast<unsigned char*>(const_cast<void*>(bytes)), count, 0);
}

std::string cbuf_take_all(int index) {
  if (index < 0 || index >= kCbufCount || !Cbufs[index].open) return {};
  Cbuf& b = Cbufs[index];
  std::string rest = b.data.substr(b.taken);
  b.data.clear();
  b.taken = 0;
  return rest;
}

int wr_req(int slot, int code, int length, const char* body) {
  s_com* c = checked(slot, "wr_req");
  if (c == nullptr) return -Vstat1;
  unsigned char header[4];
  int size = 0;
  if (c->com_vh == 2) {
    put_be16(header, code);
    size = 2;
  } else {
    header[size++] = static_cast<unsigned char>(code);
  }
  put_be16(header + size, length);
  size += 2;
  if (slot == 1 && log::enabled(log::request)) {
    log::trace(log::request, "wr_req(ids:%i f:%i l:%i) Com[%i]->com_vh:%i", slot, code, length, slot,
               static_cast<int>(c->com_vh));
    log::trace(log::request, "Send Query to client");
    log::dump(log::request, {header, static_cast<std::size_t>(size)});
    if (length > 0) log::dump(log::request, {reinterpret_cast<const unsigned char*>(body), static_cast<std::size_t>(length)});
  }
  int st = do_write(c, c->reqw, header, size, slot);
  if (st < 0) return st;
  return do_write(c, c->reqw, body, length, slot);
}

int req_ex(int slot) {
  s_com* c = com_slot(slot);
  return c != nullptr && c->callback != nullptr ? c->callback(slot) : 0;
}

int snd_rq(int slot, int code, const char* body, int length) {
  int st = wr_req(slot, code, length, body);
  return st < 0 ? st : req_ex(slot);
}

int snd_rb(int slot, int code, const char* body, int length, int n, const char* const* pieces, const int* sizes) {
  int st = wr_req(slot, code, length, body);
  for (int i = 0; st >= 0 && i < n; ++i) st = wl_req(slot, pieces[i], sizes[i]);
  return st < 0 ? st : req_ex(slot);
}

int wl_req(int slot, const void* bytes, int count) {
  s_com* c = checked(slot, "wl_req");
  return c == nullptr ? -Vstat1 : do_write(c, c->reqw, bytes, count, slot);
}

int rd_req(int slot, int* code, int* length, char* body) {
  s_com* c = checked(slot, "rd_req");
  if (c == nullptr) return -Vstat1;
  unsigned char header[4];
  int size = c->com_vh == 2 ? 4 : 3;
  int st = do_read(c, c->reqr, header, size, slot);
  if (st < 0) return st;
  *code = c->com_vh == 2 ? get_be16(header) : header[0];
  *length = get_be16(header + size - 2);
  body[0] = '\0';
  if (*length <= 0) return 0;
  if (*length >= kRequestMax) {
    // Stay in step with the peer, then refuse the request.
    st = rl_req(slot, nullptr, *length);
    if (st < 0) return st;
    return err_vlx(kErrInternal, "rd_req: body of %d bytes", *length);
  }
  st = do_read(c, c->reqr, body, *length, slot);
  if (st < 0) return st;
  body[*length] = '\0';
  if (slot == 1 && log::enabled(log::request)) {
    log::trace(log::request, "rd_req(ids:%i f:%i l:%i)", slot, *code, *length);
    log::dump(log::request, {reinterpret_cast<const unsigned char*>(body), static_cast<std::size_t>(*length)});
  }
  return 0;
}

int rl_req(int slot, void* bytes, int count) {
  s_com* c = checked(slot, "rl_req");
  if (c == nullptr) return -Vstat1;
  if (bytes != nullptr) return do_read(c, c->reqr, bytes, count, slot);
  unsigned char scratch[255];
  for (int left = count; left > 0;) {
    int piece = std::min(left, 255);
    int st = do_read(c, c->reqr, scratch, piece, slot);
    if (st < 0) return st;
    left -= piece;
  }
  return 0;
}

int rl_crv_req(int slot, void* bytes, int count) {
  s_com* c = checked(slot, "rl_crv_req");
  return c == nullptr ? -Vstat1 : do_read(c, c->reqr, bytes, count, slot);
}

int wc_ack(int slot, int code) {
  s_com* c = checked(slot, "wc_ack");
  if (c == nullptr) return -Vstat1;
  unsigned char byte = static_cast<unsigned char>(code & 0xFF);
  return do_write(c, c->ackw, &byte, 1, slot);
}

int ws_ack(int slot, const char* text) {
  s_com* c = checked(slot, "ws_ack");
  if (c == nullptr) return -Vstat1;
  std::size_t length = std::strlen(text);
  unsigned char bytes[256];
  bytes[0] = static_cast<unsigned char>(length & 0xFF);
  std::memcpy(bytes + 1, text, bytes[0]);
  return do_write(c, c->ackw, bytes, 1 + bytes[0], slot);
}

int wl_ack(int slot, const void* bytes, int count) {
  s_com* c = checked(slot, "wl_ack");
  return c == nullptr ? -Vstat1 : do_write(c, c->ackw, bytes, count, slot);
}

int rc_ack(int slot, char* out) {
  s_com* c = checked(slot, "rc_ack");
  if (c == nullptr) return -Vstat1;
  int st = do_read(c, c->ackr, out, 1, slot);
  if (st == 0 && slot == 1) log::trace(log::request, "rc_ack:%x", static_cast<unsigned char>(*out));
  return st;
}

int rs_ack(int slot, char* out) {
  s_com* c = checked(slot, "rs_ack");
  if (c == nullptr) return -Vstat1;
  unsigned char length;
  int st = do_read(c, c->ackr, &length, 1, slot);
  if (st == 0) st = do_read(c, c->ackr, out, length, slot);
  if (st < 0) return st;
  out[length] = '\0';
  if (slot == 1 && log::enabled(log::request)) {
    log::trace(log::request, "Read Ack string from client");
    log::dump(log::request, {reinterpret_cast<const unsigned char*>(out), length});
    log::trace(log::request, "End Ack");
  }
  return 0;
}

int rl_ack(int slot, void* bytes, int count) {
  s_com* c = checked(slot, "rl_ack");
  return c == nullptr ? -Vstat1 : do_read(c, c->ackr, bytes, count, slot);
}

namespace {

// The two counts before a converted text: its byte count plus 2, and the
// conversion's character count. Returns the field's whole length.
int text_field(char* buffer, int bytes, int count) {
  put_be16(reinterpret_cast<unsigned char*>(buffer), bytes + 2);
  put_be16(reinterpret_cast<unsigned char*>(buffer) + 2, count);
  return bytes + 4;
}

}  // namespace

int reqstr(char* buffer, int size, const char* text) {
  int count = 0;
  int bytes = strtoput(buffer + 4, text, size - 4, &count);
  return text_field(buffer, bytes, count);
}

int reqstu(char* buffer, int size, const char16_t* text) {
  int count = 0;
  int bytes = stutoput(buffer + 4, text, size - 4, &count);
  return text_field(buffer, bytes, count);
}

int serverSendType(int slot, int type) {
  unsigned char byte = static_cast<unsigned char>(Secmod * 100 + type);
  log::trace(log::system, "serverSendType typ:%i Secmod:%i", type, static_cast<int>(Secmod));
  return wl_req(slot, &byte, 1);
}

int serverGetPid(int slot, unsigned group, int type) {
  (void)group;
  unsigned char bytes[256];
  int st = rl_req(slot, bytes, 4);
  if (st < 0) return st;
  std::uint32_t pid = get_be32(bytes);
  if (pid == 0 || pid == 0xFFFFFFFFu) {
    unsigned char length = 0;
    if ((st = rl_req(slot, &length, 1)) < 0 || (st = rl_req(slot, bytes, length)) < 0) return st;
    int number = length >= 4 ? static_cast<int>(get_be32(bytes)) : kErrInternal;
    std::string text(reinterpret_cast<char*>(bytes) + std::min<int>(length, 4),
                     length > 4 ? static_cast<std::size_t>(length - 4) : 0);
    log::trace(log::system, "serverGetPid error:%i message:'%s'", number, text);
    if (number <= 0 || number > 0x7FFF) number = kErrInternal;
    return err_vlx(static_cast<short>(number), "%s", text.c_str());
  }
  if (type != 1 && type != 5 && type != 7) {
    if (s_com* c = com_slot(slot)) c->prid = pid;
  }
  return 0;
}

#include "files/vlxfile.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/faults.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"

using namespace vlx;

namespace {

enum class Dir { idle, reading, writing };

struct Channel {
  bool open = false;
  int fd = -1;
  int child = 0;
  unsigned group = 0;
  bool readable = false, writable = false;
  bool unlink = false;
  std::string path;
  char* buf = nullptr;
  std::int64_t begin = 0;  // file offset of buf[0]
  std::size_t pos = 0;     // reading: next byte in buf
  std::size_t len = 0;     // reading: valid bytes; writing: pending bytes
  Dir dir = Dir::idle;
};

std::vector<Channel> Channels(1);
int Openchannels;
int Laststatus;

Channel* get(int channel) {
  if (channel <= 0 || channel >= static_cast<int>(Channels.size()) || !Channels[channel].open) return nullptr;
  return &Channels[channel];
}

int bad_channel(int channel) { return err_vlx(kErrInternal, "file channel %d not open", channel); }

// Records the error number an errno translates to, with the path as detail.
int sys_error(int err, const std::string& path) {
  int e = set_vstat1(err);
  return err_vlx(static_cast<short>(-e), "%s", path.c_str());
}

int flush(Channel& c) {
  if (c.dir != Dir::writing) return 0;
  std::size_t done = 0;
  while (done < c.len) {
    ssize_t n;
    if (fault::hit(fault::write)) {
      n = -1;
      errno = ENOSPC;
    } else {
      n = ::write(c.fd, c.buf + done, c.len - done);
    }
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      // What could not be written is dropped so that a later close ends.
      c.begin += static_cast<std::int64_t>(c.len);
      c.len = 0;
      log::trace(log::fileops, "Write failed (%d)", err);
      return sys_error(err, c.path);
    }
    done += static_cast<std::size_t>(n);
  }
  c.begin += static_cast<std::int64_t>(c.len);
  c.len = 0;
  return 0;
}

// One read() of the channel's file after what the buffer held, which the
// buffer gives up; bytes read, 0 at end.
int read_next(Channel& c, char* out, int length) {
  c.begin += static_cast<std::int64_t>(c.len);
  c.pos = c.len = 0;
  for (;;) {
    ssize_t n;
    if (fault::hit(fault::read)) {
      n = -1;
      errno = EIO;
    } else {
      n = ::read(c.fd, out, static_cast<std::size_t>(length));
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      log::trace(log::fileops, "Read failed (%d)", err);
      return sys_error(err, c.path);
    }
    return static_cast<int>(n);
  }
}

// The channel's buffer, made when a buffered read or write first needs it:
// a channel that only a child writes, or whose reads all go straight into
// the caller's buffer, never has one. 0 or a negated error.
int buffered(Channel& c) {
  if (c.buf != nullptr) return 0;
  c.buf = static_cast<char*>(adg_malloc(c.group, kChannelBuffer));
  return c.buf != nullptr ? 0 : -(get_last_errvlx() != 0 ? get_last_errvlx() : kErrNoMemory);
}

// Reads the next block into the buffer.
int fill(Channel& c) {
  if (int st = buffered(c); st < 0) return st;
  int n = read_next(c, c.buf, static_cast<int>(kChannelBuffer));
  if (n > 0) c.len = static_cast<std::size_t>(n);
  return n;
}

// Reads into the caller's buffer, bypassing the channel's (which is empty).
int read_direct(Channel& c, char* out, int length) {
  int n = read_next(c, out, length);
  if (n > 0) c.begin += n;
  return n;
}

int write_direct(Channel& c, const char* in, int length) {
  c.len = static_cast<std::size_t>(length);
  const char* saved = c.buf;
  c.buf = const_cast<char*>(in);
  int st = flush(c);
  c.buf = const_cast<char*>(saved);
  return st;
}

int start_reading(Channel& c) {
  if (!c.readable) return err_vlx(kErrAccess, "%s", c.path.c_str());
  if (c.dir == Dir::writing) {
    int st = flush(c);
    if (st < 0) return st;
    c.pos = c.len = 0;
  }
  c.dir = Dir::reading;
  return 0;
}

int start_writing(Channel& c) {
  if (!c.writable) return err_vlx(kErrAccess, "%s", c.path.c_str());
  if (c.dir == Dir::reading) {
    // Give back the read-ahead so that the write lands at the logical offset.
    std::int64_t at = c.begin + static_cast<std::int64_t>(c.pos);
    if (c.pos != c.len && ::lseek(c.fd, at, SEEK_SET) < 0) return sys_error(errno, c.path);
    c.begin = at;
    c.pos = c.len = 0;
  }
  c.dir = Dir::writing;
  return 0;
}

int new_channel(unsigned group, int fd, const char* path, bool readable, bool writable) {
  int number = 1;
  while (number < static_cast<int>(Channels.size()) && Channels[number].open) ++number;
  if (number >= kMaxChannels) return err_vlx(kErrNoChannel, "%s", path);
  if (number == static_cast<int>(Channels.size())) Channels.emplace_back();
  Channel& c = Channels[number];
  c = Channel{};
  c.open = true;
  c.fd = fd;
  c.group = group;
  c.readable = readable;
  c.writable = writable;
  c.path = path;
  ++Openchannels;
  return number;
}

int close_fd(int fd) {
  while (::close(fd) < 0) {
    if (errno != EINTR) return -1;
  }
  return 0;
}

}  // namespace

int ini_adf(int count) {
  if (count > 0) Channels.reserve(static_cast<std::size_t>(std::min(count, kMaxChannels)) + 1);
  return 0;
}

int adf_open(unsigned group, const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr || path[0] == '\0') return err_vlx(kErrFileName, "adf_open");
  bool plus = std::strchr(mode, '+') != nullptr;
  int flags;
  bool readable = false, writable = false;
  switch (mode[0]) {
    case 'r': flags = plus ? O_RDWR : O_RDONLY; readable = true; writable = plus; break;
    case 'w': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; writable = true; readable = plus; break;
    case 'a': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; writable = true; readable = plus; break;
    default: return err_vlx(kErrInternal, "adf_open mode %s", mode);
  }
  if (adg_if(group) == 0) return err_vlx(kErrInternal, "adf_open group %u", group);
  int fd;
  if (fault::hit(fault::open)) {
    fd = -1;
    errno = EMFILE;
  } else {
    do fd = ::open(path, flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) {
    int err = errno;
    log::trace(log::fileops, "Unable to open %s (%d)", path, err);
    return sys_error(err, path);
  }
  int number = new_channel(group, fd, path, readable, writable);
  if (number < 0) {
    close_fd(fd);
    return number;
  }
  if (mode[0] == 'a') Channels[number].begin = ::lseek(fd, 0, SEEK_END);
  return number;
}

int adf_attach(unsigned group, int fd, int child, const char* mode, const char* name) {
  if (adg_if(group) == 0) return err_vlx(kErrInternal, "adf_attach group %u", group);
  bool reading = mode != nullptr && mode[0] == 'r';
  int number = new_channel(group, fd, name != nullptr ? name : "", reading, !reading);
  if (number > 0) Channels[number].child = child;
  return number;
}

int adf_uget(int channel, char* buffer, int max, int terminator) {
  Channel* c = get(channel);
  if (c == nullptr) return bad_channel(channel);
  if (max < 1) return err_vlx(kErrInternal, "adf_uget max %d", max);
  int st = start_reading(*c);
  if (st < 0) return st;
  int stored = 0;
  while (stored < max) {
    if (c->pos == c->len) {
      int n = fill(*c);
      if (n < 0) return n;
      if (n == 0) break;
    }
    std::size_t want = std::min(c->len - c->pos, static_cast<std::size_t>(max - stored));
    const char* from = c->buf + c->pos;
    const void* hit = std::memchr(from, terminator, want);
    std::size_t take = hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - from) + 1 : want;
    std::memcpy(buffer + stored, from, take);
    c->pos += take;
    stored += static_cast<int>(take);
    if (hit != nullptr) break;
  }
  buffer[stored] = '\0';
  return stored;
}

int adf_uview(int channel, char* scratch, int max, int terminator, const char** line) {
  Channel* c = get(channel);
  if (c != nullptr && max >= 1 && c->readable && c->dir == Dir::reading && c->pos < c->len) {
    std::size_t want = std::min(c->len - c->pos, static_cast<std::size_t>(max));
    const char* from = c->buf + c->pos;
    const void* hit = std::memchr(from, terminator, want);
    if (hit != nullptr || want == static_cast<std::size_t>(max)) {
      std::size_t take = hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - from) + 1 : want;
      c->pos += take;
      *line = from;
      return static_cast<int>(take);
    }
  }
  *line = scratch;
  return adf_uget(channel, scratch, max, terminator);
}

int adf_read(int channel, void* buffer, int length) {
  Channel* c = get(channel);
  if (c == nullptr) return bad_channel(channel);
  int st = start_reading(*c);
  if (st < 0) return st;
  char* out = static_cast<char*>(buffer);
  int done = 0;
  while (done < length) {
    if (c->pos == c->len && length - done >= static_cast<int>(kChannelBuffer)) {
      // A large read goes straight into the caller's buffer.
      int n = read_direct(*c, out + done, length - done);
      if (n <= 0) return n < 0 ? n : done;
      done += n;
      continue;
    }
    if (c->pos == c->len) {
      int n = fill(*c);
      if (n < 0) return n;
      if (n == 0) break;
    }
    std::size_t take = std::min(c->len - c->pos, static_cast<std::size_t>(length - done));
    std::memcpy(out + done, c->buf + c->pos, take);
    c->pos += take;
    done += static_cast<int>(take);
  }
  return done;
}

int adf_write(int channel, const void* buffer, int length) {
  Channel* c = get(channel);
  if (c == nullptr) return bad_channel(channel);
  int st = start_writing(*c);
  if (st < 0) return st;
  const char* in = static_cast<const char*>(buffer);
  int done = 0;
  if (length >= static_cast<int>(kChannelBuffer)) {
    // A large write goes out directly, after what was gathered before it.
    if ((st = flush(*c)) < 0) return st;
    if ((st = write_direct(*c, in, length)) < 0) return st;
    return length;
  }
  if (length > 0 && (st = buffered(*c)) < 0) return st;
  while (done < length) {
    if (c->len == kChannelBuffer && (st = flush(*c)) < 0) return st;
    std::size_t take = std::min(kChannelBuffer - c->len, static_cast<std::size_t>(length - done));
    std::memcpy(c->buf + c->len, in + done, take);
    c->len += take;
    done += static_cast<int>(take);
  }
  return done;
}

int adf_uput(int channel, const char* buffer, int length, int terminator) {
  int st = adf_write(channel, buffer, length);
  if (st < 0 || terminator < 0) return st;
  char byte = static_cast<char>(terminator);
  int t = adf_write(channel, &byte, 1);
  return t < 0 ? t : st + 1;
}

std::int64_t adf_tell(int channel) {
  Channel* c = get(channel);
  if (c == nullptr) return bad_channel(channel);
  return c->begin + static_cast<std::int64_t>(c->dir == Dir::writing ? c->len : c->pos);
}

std::int64_t adf_seek(int channel, std::int64_t offset, int whence) {
  Channel* c = get(channel);
  if (c == nullptr) return bad_channel(channel);
  int st = flush(*c);
  if (st < 0) return st;
  std::int64_t target;
  switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = adf_tell(channel) + offset; break;
    case SEEK_END: {
      off_t end = ::lseek(c->fd, 0, SEEK_END);
      if (end < 0) return sys_error(errno, c->path);
      target = end + offset;
      break;
    }
    default: return err_vlx(kErrInternal, "adf_seek whence %d", whence);
  }
  if (target < 0) return err_vlx(kErrInternal, "adf_seek offset %lld", static_cast<long long>(target));
  if (c->dir == Dir::reading && target >= c->begin && target <= c->begin + static_cast<std::int64_t>(c->len)) {
    c->pos = static_cast<std::size_t>(target - c->begin);
    return target;
  }
  // Stepping backwards loads the block that ends at the target, so that a
  // byte-by-byte backward scan reads each block once.
  bool backwards = c->dir == Dir::reading && target < c->begin;
  std::int64_t block = backwards ? std::max<std::int64_t>(0, target + 1 - static_cast<std::int64_t>(kChannelBuffer)) : target;
  if (::lseek(c->fd, block, SEEK_SET) < 0) return sys_error(errno, c->path);
  c->begin = block;
  c->pos = c->len = 0;
  if (backwards) {
    int n = fill(*c);
    if (n < 0) return n;
    c->pos = std::min(static_cast<std::size_t>(target - block), c->len);
    if (c->pos < static_cast<std::size_t>(target - block)) {
      // The file is shorter than the target: read on from there.
      if (::lseek(c->fd, target, SEEK_SET) < 0) return sys_error(errno, c->path);
      c->begin = target;
      c->pos = c->len = 0;
    }
  }
  return target;
}

int adf_take(int channel, void* buffer, int length) {
  Channel* c = get(channel);
  if (c == nullptr) return bad_channel(channel);
  int st = start_reading(*c);
  if (st < 0) return st;
  if (c->pos < c->len) {
    int take = static_cast<int>(std::min(c->len - c->pos, static_cast<std::size_t>(length)));
    std::memcpy(buffer, c->buf + c->pos, static_cast<std::size_t>(take));
    c->pos += static_cast<std::size_t>(take);
    return take;
  }
  return read_direct(*c, static_cast<char*>(buffer), length);
}

int adf_rename(const char* from, const char* to) {
  int st = fault::hit(fault::write) ? (errno = ENOSPC, -1) : ::rename(from, to);
  return st == 0 ? 0 : sys_error(errno, to);
}

int adf_ulnk(int channel) {
  Channel* c = get(channel);
  if (c == nullptr) return bad_channel(channel);
  c->unlink = true;
  return 0;
}

int adf_close(int channel) {
  Channel* c = get(channel);
  if (c == nullptr) return bad_channel(channel);
  int result = flush(*c);
  // Deleted while still open, a name leaves the kernel's name cache with
  // its file; deleted after the close, it stays there as the memory of a
  // missing file, one per spool for as long as the machine runs, and every
  // later path lookup on the machine walks longer hash chains.
  if (c->unlink && ::unlink(c->path.c_str()) < 0) {
    int err = errno;
    log::trace(log::fileops, "Delete failed (%d)", err);
    if (result == 0) result = sys_error(err, c->path);
  }
  if (close_fd(c->fd) < 0 && result == 0) result = sys_error(errno, c->path);
  if (c->child > 0) {
    int status = 0;
    while (::waitpid(c->child, &status, 0) < 0 && errno == EINTR) {
    }
    Laststatus = status;
  }
  if (c->buf != nullptr && adg_if(c->group) != 0) adg_memfree(c->group, c->buf);
  *c = Channel{};
  --Openchannels;
  return result;
}

int adf_last_status() { return Laststatus; }

int adf_fd(int channel) {
  Channel* c = get(channel);
  return c == nullptr ? -1 : c->fd;
}

int adf_count() { return Openchannels; }

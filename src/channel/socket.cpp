#include "channel/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/bigend.h"
#include "channel/iocom.h"
#include "diagnostics/log.h"
#include "diagnostics/verbatim.h"
#include "diagnostics/vlxerr.h"

using namespace vlx;

char Vlxsrv[256] = "velmor";

namespace {

struct ErrnoText {
  int sys;
  const char* text;
};

// errno values described in the error itself.
const ErrnoText Described[] = {
    {EIO, "EIO:An I/O error occurred while reading from or writing to the file system"},
    {EBADF, "EBADF:The socket argument is not a valid file descriptor"},
    {ENOTDIR, "ENOTDIR:A component of the path prefix of the pathname in address is not a directory"},
    {ENOTSOCK, "ENOTSOCK:The socket argument does not refer to a socket"},
    {EOPNOTSUPP, "EOPNOTSUPP:The socket is listening and cannot be connected"},
    {EADDRNOTAVAIL, "EADDRNOTAVAIL:The specified address is not available from the local machine"},
    {ENETDOWN, "ENETDOWN:The local network interface used to reach the destination is down"},
    {ENETUNREACH, "ENETUNREACH:No route to the network is present"},
    {ECONNRESET, "ECONNRESET:Remote host reset the connection request"},
    {ENOBUFS, "ENOBUFS:No buffer space is available"},
    {EISCONN, "EISCONN:The specified socket is connection-mode and is already connected"},
    {ETIMEDOUT, "ETIMEDOUT:The attempt to connect timed out before a connection was made"},
    {EALREADY, "EALREADY:A connection request is already in progress for the specified socket"},
};

// errno values whose description goes to the log only.
const ErrnoText Logged[] = {
    {ENOENT, "ENOENT:A component of the pathname does not name an existing file or the pathname is an empty string"},
    {EINTR, "EINTR:The attempt to establish a connection was interrupted by delivery of a signal that was caught; "
            "the connection shall be established asynchronously"},
    {EACCES, "EACCES:Search permission is denied for a component of the path prefix; or write access to the named "
             "socket is denied"},
    {EINVAL, "EINVAL:The address_len argument is not a valid length for the address family; or invalid address "
             "family in the sockaddr structure"},
    {ENAMETOOLONG, "ENAMETOOLONG:A component of a pathname exceeded {NAME_MAX} characters, or an entire pathname "
                   "exceeded {PATH_MAX} characters"},
    {ELOOP, "ELOOP:A loop exists in symbolic links encountered during resolution of the pathname in address"},
    {EPROTOTYPE, "EPROTOTYPE:The specified address has a different type than the socket bound to the specified peer "
                 "address"},
    {EAFNOSUPPORT, "EAFNOSUPPORT:The specified address is not a valid address for the address family of the "
                   "specified socket"},
    {EADDRINUSE, "EADDRINUSE:Attempt to establish a connection that uses addresses that are already in use"},
    {ECONNREFUSED, "ECONNREFUSED:The target address was not listening for connections or refused the connection "
                   "request"},
    {EHOSTUNREACH, "EHOSTUNREACH:The destination host cannot be reached (probably because the host is down or a "
                   "remote router cannot reach it)"},
    {EINPROGRESS, "EINPROGRESS:O_NONBLOCK is set for the file descriptor for the socket and the connection cannot be "
                  "immediately established; the connection shall be established asynchronously"},
};

int close_retrying(int fd) {
  while (::close(fd) < 0)
    if (errno != EINTR) return -1;
  return 0;
}

}  // namespace

int networkError(int sys_errno, const char* format, ...) {
  char text[256] = "";
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  char unknown[64];
  const char* description = nullptr;
  for (const auto& row : Described)
    if (row.sys == sys_errno) description = row.text;
  for (const auto& row : Logged)
    if (row.sys == sys_errno) {
      log::trace(log::system, "%s", row.text);
      description = "";
    }
  if (description == nullptr) {
    std::snprintf(unknown, sizeof unknown, VLX_TEXT_UNKNOWN_NETWORK, sys_errno);
    description = unknown;
  }
  Vlxerrno = sys_errno;
  return err_vlx(kErrNetwork, "%s - %s", description, text);
}

void setasr(const char* name) { std::snprintf(Vlxsrv, sizeof Vlxsrv, "%s", name != nullptr ? name : ""); }

int getasr() {
  if (Vlxsrv[0] == '\0' || Vlxsrv[0] == '0') return 0;
  char* end = nullptr;
  long port = std::strtol(Vlxsrv, &end, 10);
  if (*end == '\0' && port > 0) return static_cast<int>(port);
  servent* service = ::getservbyname(Vlxsrv, "tcp");
  if (service == nullptr) return networkError(ENOENT, "getservbyname(%s)", Vlxsrv);
  return ntohs(static_cast<std::uint16_t>(service->s_port));
}

int ecoutsock(int port, char* address, unsigned* length) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return networkError(errno, "socket");
  auto fail = [fd](const char* what) {
    int e = errno;
    close_retrying(fd);
    return networkError(e, "%s", what);
  };
  int on = 1;
  if (const char* reuse = std::getenv("VLXRUA"); reuse != nullptr && std::atoi(reuse) != 0 &&
                                                 ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0)
    return fail("setsockopt");
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(INADDR_ANY);
  bound.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) < 0) return fail("bind");
  if (::listen(fd, 5) < 0) return fail("listen");
  socklen_t size = sizeof bound;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) < 0) return fail("getsockname");
  if (*length >= 16) {
    std::memcpy(address, &bound, 16);
    *length = 16;
  } else {
    *length = 0;
  }
  if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) < 0) return fail("setsockopt");
  return fd;
}

int attsock(int socket, char* address, unsigned* length) {
  sockaddr_in peer{};
  for (;;) {
    socklen_t size = sizeof peer;
    int fd = ::accept4(socket, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (fd >= 0) {
      if (*length >= 16) std::memcpy(address, &peer, 16);
      *length = 16;
      return fd;
    }
    if (errno != EINTR && errno != ECONNABORTED && errno != ENOTCONN) return networkError(errno, "Accept");
  }
}

int openSocket(const char* host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  char service[16];
  std::snprintf(service, sizeof service, "%d", port);
  if (::getaddrinfo(host, service, &hints, &found) != 0 || found == nullptr) return err_vlx(kErrObject, "'%s'", host);
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int st = fd;
  if (fd < 0) {
    st = networkError(errno, "socket");
  } else {
    int r;
    do r = ::connect(fd, found->ai_addr, found->ai_addrlen);
    while (r < 0 && errno == EINTR);
    if (r < 0) {
      st = networkError(errno, "connect(%s:%d)", host, port);
      close_retrying(fd);
    }
  }
  ::freeaddrinfo(found);
  return st;
}

int closeSocket(int fd) {
  log::trace(log::system, "closeSocket(%lld)", static_cast<long long>(fd));
  return close_retrying(fd);
}

namespace {

int recv_all(int socket, unsigned char* bytes, int count) {
  int done = 0;
  while (done < count) {
    ssize_t n = ::recv(socket, bytes + done, static_cast<std::size_t>(count - done), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return networkError(errno, "recv(%d)", socket);
    if (n == 0) return networkError(ECONNRESET, "recv(%d)", socket);
    done += static_cast<int>(n);
  }
  return 0;
}

}  // namespace

int r_serv(int socket, unsigned* type, int* mode, int* extra) {
  unsigned char s;
  int st = recv_all(socket, &s, 1);
  if (st < 0) return st;
  if (s != 0) {
    log::trace(log::system, "r_serv read service type svc=%i", s);
    if (s < 100) return err_vlx(kErrAuthenticationType, "r_serv(%d)", s);
    *type = s % 100u;
    *mode = s / 100;
    return 0;
  }
  unsigned char three[3];
  if ((st = recv_all(socket, three, 3)) < 0) return st;
  *type = three[0];
  *mode = three[1];
  *extra = three[2];
  log::trace(log::system, "r_serv read service corvalis type svc=%i", three[0]);
  return 0;
}

int r_busers(int socket, char* text) {
  text[0] = '\0';
  unsigned char length;
  int st = recv_all(socket, &length, 1);
  if (st < 0) return st;
  st = recv_all(socket, reinterpret_cast<unsigned char*>(text), length);
  return st < 0 ? st : length;
}

int w_proc(int socket, int pid, int pipe) {
  unsigned char bytes[4];
  put_be32(bytes, static_cast<std::uint32_t>(pid));
  if (pipe != 0) {
    int st = w_pipe(socket, bytes, 4, 0);
    return st < 0 ? st : com_flush_all();
  }
  ssize_t n;
  do n = ::send(socket, bytes, 4, MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return n == 4 ? 0 : networkError(n < 0 ? errno : EIO, "send(%d)", socket);
}

int prtitr(const char* text, int ranges[][2], int max) {
  int count = 0;
  const char* p = text;
  auto bad = [text] { return err_vlx(kErrSyntax, "'%s'", text); };
  while (*p != '\0') {
    if (*p == ';') {
      ++p;
      continue;
    }
    bool bracket = *p == '[';
    if (bracket) ++p;
    long bounds[2] = {-1, -1};
    int part = 0;
    for (; *p != '\0' && *p != ';'; ++p) {
      if (*p >= '0' && *p <= '9') {
        bounds[part] = (bounds[part] < 0 ? 0 : bounds[part]) * 10 + (*p - '0');
        if (bounds[part] > 65535) return bad();
      } else if (*p == ',') {
        if (++part > 1) return bad();
      } else if (*p == ']' && bracket) {
        bracket = false;
      } else {
        return bad();
      }
    }
    if (bracket || bounds[0] < 0) return bad();
    if (count == max) break;
    long high = bounds[1] < bounds[0] ? bounds[0] : bounds[1];
    ranges[count][0] = static_cast<int>(bounds[0]);
    ranges[count][1] = static_cast<int>(high);
    ++count;
  }
  return count;
}

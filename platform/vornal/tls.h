// TLS over a connected TCP socket: the handshake, verified against the
// system's trust store, VORNAL_CA_FILE or a pinned VORNAL_SERVER_SHA256,
// then reads and writes without blocking. One lock orders every call into
// the session, so that the keep-alive thread may write while the caller's
// thread reads; it is never held while waiting for the socket.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "transport.h"

typedef struct ssl_st SSL;

namespace vornal {

class TlsLink {
 public:
  // Completes a handshake with host on the connected non-blocking socket fd
  // before deadline. Returns 0 and fills out, or a vornal_connect code.
  static int open(int fd, const std::string &host, Deadline deadline,
                  std::unique_ptr<TlsLink> &out);
  explicit TlsLink(SSL *ssl) : ssl_(ssl) {}
  ~TlsLink();
  TlsLink(const TlsLink &) = delete;
  TlsLink &operator=(const TlsLink &) = delete;

  // Each returns the byte count, 0 at the end of the stream (read), -1 on
  // error, -2 when the socket has or takes nothing now.
  long read(char *buf, size_t size);
  long write(const char *buf, size_t size);
  // True when decrypted bytes wait in the session: poll() does not see
  // them, so a reader must take them before it waits on the socket.
  bool pending();

  int slice_ms = 100;  // how long one waiting read polls

 private:
  long result(int n);
  std::mutex mu_;
  SSL *ssl_;
};

}  // namespace vornal

// TLS over a connected TCP socket: the handshake, verified against the
// system's trust store, VORNAL_CA_FILE or a pinned VORNAL_SERVER_SHA256,
// then reads and writes. The session works on memory buffers and the
// socket is read and written here, as a plain connection's is: a waiting
// read blocks in recv() for one slice without holding the session's lock,
// so the keep-alive thread may write meanwhile, and a reply costs no more
// system calls than over plain TCP.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "transport.h"

typedef struct ssl_st SSL;
typedef struct bio_st BIO;

namespace vornal {

class TlsLink {
 public:
  // Completes a handshake with host on the connected non-blocking socket fd
  // before deadline. Returns 0 and fills out, or a vornal_connect code.
  static int open(int fd, const std::string &host, Deadline deadline,
                  std::unique_ptr<TlsLink> &out);
  TlsLink(SSL *ssl, int fd);
  ~TlsLink();
  TlsLink(const TlsLink &) = delete;
  TlsLink &operator=(const TlsLink &) = delete;

  // Returns decrypted bytes, reading the socket (with wait, as read_some
  // does) only when the session holds none: the count, 0 at the end of
  // the stream, -1 on error, -2 when nothing is there yet.
  long read(char *buf, size_t size, bool wait);
  // Encrypts up to size bytes once earlier output has gone, and sends what
  // the socket takes. Returns the count taken (0 while earlier output
  // waits), or -1 on error.
  long write(const char *buf, size_t size);
  // True while encrypted output waits for room in the socket.
  bool unsent();
  // True when bytes wait in the session that a read may turn into data:
  // poll() does not see them. A part of a record that a read could not
  // complete does not count, or a reader would spin on it.
  bool pending();

 private:
  int handshake(Deadline deadline, bool checked);
  int send_until(Deadline deadline);
  int receive(Deadline deadline);
  // Lock held: SSL_read with its outcome as read() returns it.
  long decrypt(char *buf, size_t size);
  int flush();  // lock held: sends output, 0 all sent, -2 socket full, -1 error

  std::mutex mu_;
  SSL *ssl_;
  BIO *in_;   // bytes from the socket, owned by ssl_
  BIO *out_;  // bytes for the socket, owned by ssl_
  int fd_;
  std::string unsent_;
  bool starved_ = false;  // the last read wanted more from the socket
};

}  // namespace vornal

// TLS for the daemon's TCP listeners: a TLS 1.3 context made from the
// administrator's key and certificate, sessions driven without blocking by
// the event loop, and the self-signed certificate of --make-cert.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace vornd {

struct SslFree {
  void operator()(SSL *s) const { SSL_free(s); }
};
struct SslCtxFree {
  void operator()(SSL_CTX *c) const { SSL_CTX_free(c); }
};
using SslPtr = std::unique_ptr<SSL, SslFree>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;

// Returns a server context for the PEM files, or null with error set.
SslCtxPtr make_server_context(const std::string &cert, const std::string &key,
                              std::string &error);

// Returns a server session on the connected socket fd, or null.
SslPtr new_session(SSL_CTX *ctx, int fd);

// One step of the handshake. Returns 1 done, 0 when it waits for the
// socket (want_write tells for what), -1 failed (reason set).
int handshake_step(SSL *ssl, bool &want_write, std::string &reason);

// Read and write on a connection, through ssl when it is set: the count,
// 0 at the end of the stream (reads), -1 on error, -2 when the socket
// takes or has nothing now.
long conn_read(int fd, SSL *ssl, char *buf, size_t size);
long conn_write(int fd, SSL *ssl, const char *buf, size_t size);

// Writes a key and a self-signed certificate for this host into dir and
// prints the certificate's SHA-256 fingerprint. Returns the exit status.
int make_cert(const std::string &dir);

}  // namespace vornd

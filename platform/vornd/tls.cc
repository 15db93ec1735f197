#include "vornd/tls.h"

#include <openssl/err.h>
#include <sys/socket.h>

#include <cerrno>

namespace vornd {
namespace {

// Returns the reason of the oldest error queued by OpenSSL, and clears
// the queue so that the next call starts clean.
std::string ssl_reason(const char *fallback) {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  const char *r = e ? ERR_reason_error_string(e) : nullptr;
  return r ? r : fallback;
}

// Maps the outcome n of an SSL read or write to the conn_* return values.
long io_result(SSL *ssl, int n) {
  if (n > 0) return n;
  int err = SSL_get_error(ssl, n);
  int saved = errno;
  ERR_clear_error();
  if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) return -2;
  if (err == SSL_ERROR_ZERO_RETURN) return 0;
  if (err == SSL_ERROR_SYSCALL && (saved == EAGAIN || saved == EINTR))
    return -2;
  return -1;
}

}  // namespace

SslCtxPtr make_server_context(const std::string &cert, const std::string &key,
                              std::string &error) {
  SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
  if (!ctx) {
    error = "TLS: " + ssl_reason("no context");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_3_VERSION);
  // Requests are small: the cheapest suite per record comes first.
  SSL_CTX_set_ciphersuites(ctx.get(),
                           "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:"
                           "TLS_CHACHA20_POLY1305_SHA256");
  SSL_CTX_set_options(ctx.get(), SSL_OP_CIPHER_SERVER_PREFERENCE);
  // A client connects once per session: tickets would only cost bytes.
  SSL_CTX_set_num_tickets(ctx.get(), 0);
  // A client that closes without a TLS goodbye has still closed.
  SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  // Whole records in one read; settle() reads what this leaves buffered.
  SSL_CTX_set_read_ahead(ctx.get(), 1);
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE |
                                  SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), cert.c_str()) != 1) {
    error = cert + ": " + ssl_reason("not a PEM certificate");
    return nullptr;
  }
  if (SSL_CTX_use_PrivateKey_file(ctx.get(), key.c_str(), SSL_FILETYPE_PEM) !=
          1 ||
      SSL_CTX_check_private_key(ctx.get()) != 1) {
    error = key + ": " + ssl_reason("not the PEM key of the certificate");
    return nullptr;
  }
  return ctx;
}

SslPtr new_session(SSL_CTX *ctx, int fd) {
  SslPtr ssl(SSL_new(ctx));
  if (!ssl || SSL_set_fd(ssl.get(), fd) != 1) return nullptr;
  SSL_set_accept_state(ssl.get());
  return ssl;
}

int handshake_step(SSL *ssl, bool &want_write, std::string &reason) {
  ERR_clear_error();
  int n = SSL_do_handshake(ssl);
  if (n == 1) return 1;
  int err = SSL_get_error(ssl, n);
  if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
    want_write = err == SSL_ERROR_WANT_WRITE;
    return 0;
  }
  reason = err == SSL_ERROR_SYSCALL ? "peer gone" : ssl_reason("refused");
  ERR_clear_error();
  return -1;
}

// The error queue is emptied after every failure (io_result), so calls
// need not empty it first, as SSL_get_error wants.
long conn_read(int fd, SSL *ssl, char *buf, size_t size) {
  if (ssl) {
    return io_result(ssl, SSL_read(ssl, buf, static_cast<int>(size)));
  }
  ssize_t n = ::recv(fd, buf, size, 0);
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
    return -2;
  return n;
}

long conn_write(int fd, SSL *ssl, const char *buf, size_t size) {
  if (ssl) {
    int chunk = size > 1 << 30 ? 1 << 30 : static_cast<int>(size);
    return io_result(ssl, SSL_write(ssl, buf, chunk));
  }
  for (;;) {
    ssize_t n = ::send(fd, buf, size, MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno != EINTR)
      return errno == EAGAIN || errno == EWOULDBLOCK ? -2 : -1;
  }
}

}  // namespace vornd

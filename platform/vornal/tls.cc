#include "tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "vornal.h"

namespace vornal {
namespace {

struct CtxFree {
  void operator()(SSL_CTX *c) const { SSL_CTX_free(c); }
};
struct SslFree {
  void operator()(SSL *s) const { SSL_free(s); }
};

// Writes with MSG_NOSIGNAL: OpenSSL's socket writes would raise SIGPIPE
// in the caller's program when the daemon has gone.
int write_nosignal(BIO *b, const char *data, int len) {
  int fd = -1;
  BIO_get_fd(b, &fd);
  BIO_clear_retry_flags(b);
  ssize_t n = ::send(fd, data, static_cast<size_t>(len), MSG_NOSIGNAL);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
    BIO_set_retry_write(b);
  return static_cast<int>(n);
}

// Returns OpenSSL's socket BIO with write_nosignal for its writes.
BIO_METHOD *socket_method() {
  static BIO_METHOD *m = [] {
    const BIO_METHOD *s = BIO_s_socket();
    BIO_METHOD *n = BIO_meth_new(
        BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
        "vornal socket");
    BIO_meth_set_write(n, write_nosignal);
    BIO_meth_set_read(n, BIO_meth_get_read(s));
    BIO_meth_set_puts(n, BIO_meth_get_puts(s));
    BIO_meth_set_ctrl(n, BIO_meth_get_ctrl(s));
    BIO_meth_set_create(n, BIO_meth_get_create(s));
    BIO_meth_set_destroy(n, BIO_meth_get_destroy(s));
    return n;
  }();
  return m;
}

// Reads VORNAL_SERVER_SHA256 into pin (32 bytes), as openssl prints a
// fingerprint, colons and case optional. Returns false when it is set but
// is not 64 hex digits; pin stays empty when it is not set.
bool pinned(std::string &pin) {
  const char *env = getenv("VORNAL_SERVER_SHA256");
  if (!env || !*env) return true;
  std::string hex;
  for (const char *p = env; *p; ++p)
    if (*p != ':') hex += static_cast<char>(tolower(*p));
  if (hex.size() != 64 ||
      hex.find_first_not_of("0123456789abcdef") != std::string::npos)
    return false;
  for (size_t i = 0; i < 64; i += 2)
    pin += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return true;
}

// Returns a client context trusting VORNAL_CA_FILE or the system's store,
// or null when the file cannot be used.
SSL_CTX *client_context() {
  std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) return nullptr;
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_3_VERSION);
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE |
                                  SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // A daemon that closes without a TLS goodbye has still closed.
  SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  const char *ca = getenv("VORNAL_CA_FILE");
  int ok = ca && *ca ? SSL_CTX_load_verify_locations(ctx.get(), ca, nullptr)
                     : SSL_CTX_set_default_verify_paths(ctx.get());
  return ok == 1 ? ctx.release() : nullptr;
}

// Sets what the certificate must name: host as a name or an address.
bool expect_host(SSL *ssl, const std::string &host) {
  unsigned char addr[16];
  if (inet_pton(AF_INET, host.c_str(), addr) == 1 ||
      inet_pton(AF_INET6, host.c_str(), addr) == 1)
    return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
  return SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 &&
         SSL_set1_host(ssl, host.c_str()) == 1;
}

// Returns the vornal_connect code for a failed certificate check.
int verify_code(long result) {
  switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return VORNAL_ERR_TLS_EXPIRED;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return VORNAL_ERR_TLS_NAME;
    default:
      return VORNAL_ERR_TLS_UNTRUSTED;
  }
}

// Returns 0 when the server's certificate has the pinned SHA-256.
int check_pin(SSL *ssl, const std::string &pin) {
  X509 *cert = SSL_get0_peer_certificate(ssl);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  if (!cert || !X509_digest(cert, EVP_sha256(), md, &len) ||
      pin != std::string(reinterpret_cast<char *>(md), len))
    return VORNAL_ERR_TLS_PIN;
  return 0;
}

// Runs the handshake to its end or deadline. Returns 0 or a code; checked
// tells that a failed certificate check is the reason of a failure.
int handshake(SSL *ssl, int fd, Deadline deadline, bool checked) {
  for (;;) {
    ERR_clear_error();
    int n = SSL_connect(ssl);
    if (n == 1) return 0;
    int err = SSL_get_error(ssl, n);
    if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
      long v = SSL_get_verify_result(ssl);
      ERR_clear_error();
      return checked && v != X509_V_OK ? verify_code(v) : VORNAL_ERR_TLS;
    }
    int ev =
        wait_for(fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline);
    if (ev == 0) return VORNAL_ERR_TIMEOUT;
    if (ev < 0) return VORNAL_ERR_OSERR;
  }
}

}  // namespace

int TlsLink::open(int fd, const std::string &host, Deadline deadline,
                  std::unique_ptr<TlsLink> &out) {
  std::string pin;
  std::unique_ptr<SSL_CTX, CtxFree> ctx;
  if (pinned(pin)) ctx.reset(client_context());
  if (!ctx) return VORNAL_ERR_TLS_SETUP;
  std::unique_ptr<SSL, SslFree> ssl(SSL_new(ctx.get()));
  BIO *bio = ssl ? BIO_new(socket_method()) : nullptr;
  if (!bio) return VORNAL_ERR_OSERR;
  BIO_set_fd(bio, fd, BIO_NOCLOSE);
  SSL_set_bio(ssl.get(), bio, bio);
  // A pinned certificate is trusted as it is; otherwise the chain and the
  // name are checked.
  SSL_set_verify(ssl.get(), pin.empty() ? SSL_VERIFY_PEER : SSL_VERIFY_NONE,
                 nullptr);
  if (pin.empty() && !expect_host(ssl.get(), host)) return VORNAL_ERR_TLS_SETUP;
  int err = handshake(ssl.get(), fd, deadline, pin.empty());
  if (err == 0 && !pin.empty()) err = check_pin(ssl.get(), pin);
  if (err != 0) return err;
  out = std::make_unique<TlsLink>(ssl.release());
  return 0;
}

TlsLink::~TlsLink() {
  SSL_free(ssl_);
}

long TlsLink::result(int n) {
  if (n > 0) return n;
  int err = SSL_get_error(ssl_, n);
  int saved = errno;
  ERR_clear_error();
  if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) return -2;
  if (err == SSL_ERROR_ZERO_RETURN) return 0;
  if (err == SSL_ERROR_SYSCALL && (saved == EAGAIN || saved == EINTR))
    return -2;
  return -1;
}

long TlsLink::read(char *buf, size_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  ERR_clear_error();
  return result(SSL_read(ssl_, buf, static_cast<int>(size)));
}

long TlsLink::write(const char *buf, size_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  ERR_clear_error();
  int chunk = size > 1 << 30 ? 1 << 30 : static_cast<int>(size);
  return result(SSL_write(ssl_, buf, chunk));
}

bool TlsLink::pending() {
  std::lock_guard<std::mutex> lock(mu_);
  return SSL_pending(ssl_) > 0;
}

}  // namespace vornal

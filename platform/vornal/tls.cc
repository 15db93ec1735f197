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

// Returns a client context trusting VORNAL_CA_FILE or the system's store
// (when trust comes from them), or null when the file cannot be used.
SSL_CTX *client_context(bool by_ca) {
  std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) return nullptr;
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_3_VERSION);
  // A daemon that closes without a TLS goodbye has still closed.
  SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  const char *ca = getenv("VORNAL_CA_FILE");
  int ok = !by_ca      ? 1
           : ca && *ca ? SSL_CTX_load_verify_locations(ctx.get(), ca, nullptr)
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

// Returns the outcome n of SSL_read as TlsLink::read returns it.
long io_result(SSL *ssl, int n) {
  if (n > 0) return n;
  int err = SSL_get_error(ssl, n);
  ERR_clear_error();
  if (err == SSL_ERROR_WANT_READ) return -2;
  return err == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

// The most one write encrypts: what waits for the socket stays bounded.
constexpr size_t kChunk = 64 * 1024;

}  // namespace

int TlsLink::open(int fd, const std::string &host, Deadline deadline,
                  std::unique_ptr<TlsLink> &out) {
  std::string pin;
  std::unique_ptr<SSL_CTX, CtxFree> ctx;
  if (pinned(pin)) ctx.reset(client_context(pin.empty()));
  if (!ctx) return VORNAL_ERR_TLS_SETUP;
  SSL *ssl = SSL_new(ctx.get());
  if (!ssl) return VORNAL_ERR_OSERR;
  auto link = std::make_unique<TlsLink>(ssl, fd);
  if (!link->in_) return VORNAL_ERR_OSERR;
  // A pinned certificate is trusted as it is; otherwise the chain and the
  // name are checked.
  SSL_set_verify(ssl, pin.empty() ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  if (pin.empty() && !expect_host(ssl, host)) return VORNAL_ERR_TLS_SETUP;
  int err = link->handshake(deadline, pin.empty());
  if (err == 0 && !pin.empty()) err = check_pin(ssl, pin);
  if (err != 0) return err;
  out = std::move(link);
  return 0;
}

TlsLink::TlsLink(SSL *ssl, int fd)
    : ssl_(ssl),
      in_(BIO_new(BIO_s_mem())),
      out_(BIO_new(BIO_s_mem())),
      fd_(fd) {
  if (in_ && out_) {
    SSL_set_bio(ssl_, in_, out_);
    return;
  }
  BIO_free(in_);
  BIO_free(out_);
  in_ = out_ = nullptr;
}

TlsLink::~TlsLink() {
  SSL_free(ssl_);
}

// Runs the handshake to its end or deadline, before any other thread
// knows the link. Returns 0 or a code; checked tells that a failed
// certificate check is the reason of a failure.
int TlsLink::handshake(Deadline deadline, bool checked) {
  for (;;) {
    ERR_clear_error();
    int n = SSL_connect(ssl_);
    int err = n == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, n);
    long verified = SSL_get_verify_result(ssl_);
    ERR_clear_error();
    int sent = send_until(deadline);  // also the alert that says why not
    if (err == SSL_ERROR_NONE) return sent;
    if (err != SSL_ERROR_WANT_READ)
      return checked && verified != X509_V_OK ? verify_code(verified)
                                              : VORNAL_ERR_TLS;
    int code = sent ? sent : receive(deadline);
    if (code != 0) return code;
  }
}

// Sends the handshake's output before deadline. Returns 0 or a code.
int TlsLink::send_until(Deadline deadline) {
  for (;;) {
    int rc = flush();
    if (rc == 0) return 0;
    if (rc == -1) return VORNAL_ERR_TLS;  // the peer went away
    int ev = wait_for(fd_, POLLOUT, deadline);
    if (ev == 0) return VORNAL_ERR_TIMEOUT;
    if (ev < 0) return VORNAL_ERR_OSERR;
  }
}

// Takes what the server sent before deadline. Returns 0 or a code.
int TlsLink::receive(Deadline deadline) {
  int ev = wait_for(fd_, POLLIN, deadline);
  if (ev == 0) return VORNAL_ERR_TIMEOUT;
  if (ev < 0) return VORNAL_ERR_OSERR;
  char raw[16384];
  ssize_t n = ::recv(fd_, raw, sizeof raw, MSG_DONTWAIT);
  if (n > 0) BIO_write(in_, raw, static_cast<int>(n));
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return n > 0 ? 0 : VORNAL_ERR_TLS;  // closed: not a TLS server
}

// The error queue is emptied after every failure, so calls need not
// empty it first, as SSL_get_error wants.
long TlsLink::decrypt(char *buf, size_t size) {
  long n = io_result(ssl_, SSL_read(ssl_, buf, static_cast<int>(size)));
  starved_ = n == -2;
  // A read may answer the server (a key update): that goes out too.
  if (BIO_ctrl_pending(out_) > 0 && flush() == -1) return -1;
  return n;
}

long TlsLink::read(char *buf, size_t size, bool wait) {
  {
    // Straight to the socket when the session holds nothing to decrypt:
    // a read that can only fail costs as much as the decryption itself.
    std::lock_guard<std::mutex> lock(mu_);
    bool held =
        SSL_pending(ssl_) > 0 || (BIO_ctrl_pending(in_) > 0 && !starved_);
    long n = held ? decrypt(buf, size) : -2;
    if (n != -2) return n;
  }
  // Unlocked: the keep-alive thread may write while this one waits.
  char raw[16384 + 512];  // a whole record
  ssize_t r = ::recv(fd_, raw, sizeof raw, wait ? 0 : MSG_DONTWAIT);
  if (r == 0) return 0;
  if (r < 0)
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -2 : -1;
  std::lock_guard<std::mutex> lock(mu_);
  BIO_write(in_, raw, static_cast<int>(r));
  return decrypt(buf, size);
}

long TlsLink::write(const char *buf, size_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!unsent_.empty() && flush() == -1) return -1;
  if (!unsent_.empty() || size == 0) return 0;
  int n = SSL_write(ssl_, buf, static_cast<int>(std::min(size, kChunk)));
  if (n <= 0) {
    ERR_clear_error();
    return -1;
  }
  return flush() == -1 ? -1 : n;
}

int TlsLink::flush() {
  char tmp[16384];
  for (int k; (k = BIO_read(out_, tmp, sizeof tmp)) > 0;)
    unsent_.append(tmp, static_cast<size_t>(k));
  while (!unsent_.empty()) {
    ssize_t n = ::send(fd_, unsent_.data(), unsent_.size(),
                       MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      unsent_.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno != EINTR) {
      return errno == EAGAIN || errno == EWOULDBLOCK ? -2 : -1;
    }
  }
  return 0;
}

bool TlsLink::unsent() {
  std::lock_guard<std::mutex> lock(mu_);
  return !unsent_.empty();
}

bool TlsLink::pending() {
  std::lock_guard<std::mutex> lock(mu_);
  return SSL_pending(ssl_) > 0 || (BIO_ctrl_pending(in_) > 0 && !starved_);
}

}  // namespace vornal

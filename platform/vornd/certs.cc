// vornd --make-cert: a key and a self-signed certificate for this host, for
// administrators who pin its fingerprint rather than run a CA.
#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "vornd/tls.h"

namespace vornd {
namespace {

constexpr long kValidDays = 3650;  // the device's life; renewed by hand

template <typename T, void (*F)(T *)>
struct Free {
  void operator()(T *p) const { F(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Free<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Free<X509, X509_free>>;

// Returns this host's name, as clients will write it.
std::string host_name() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0 || !*name) return "localhost";
  return name;
}

// Adds the extension nid with value to cert (issuer and subject alike).
bool add_extension(X509 *cert, int nid, const std::string &value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  bool ok = ext && X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

// Returns a certificate for host signed by its own key, or null.
CertPtr self_signed(EVP_PKEY *key, const std::string &host) {
  CertPtr cert(X509_new());
  unsigned char serial[16];
  if (!cert || RAND_bytes(serial, sizeof serial) != 1) return nullptr;
  serial[0] &= 0x7f;  // a positive number
  BIGNUM *bn = BN_bin2bn(serial, sizeof serial, nullptr);
  bool ok = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
  BN_free(bn);
  X509_NAME *name = X509_get_subject_name(cert.get());
  unsigned char addr[16];
  bool is_ip = inet_pton(AF_INET, host.c_str(), addr) == 1 ||
               inet_pton(AF_INET6, host.c_str(), addr) == 1;
  ok = ok && X509_set_version(cert.get(), 2) &&
       X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) &&
       X509_time_adj_ex(X509_getm_notAfter(cert.get()), kValidDays, 0,
                        nullptr) &&
       X509_NAME_add_entry_by_txt(
           name, "CN", MBSTRING_UTF8,
           reinterpret_cast<const unsigned char *>(host.c_str()), -1, -1, 0) &&
       X509_set_issuer_name(cert.get(), name) &&
       X509_set_pubkey(cert.get(), key) &&
       add_extension(cert.get(), NID_subject_alt_name,
                     (is_ip ? "IP:" : "DNS:") + host) &&
       X509_sign(cert.get(), key, EVP_sha256()) > 0;
  return ok ? std::move(cert) : nullptr;
}

// Writes a new file at path with mode, by write(f); never over one.
template <typename W>
bool write_new(const std::string &path, mode_t mode, W write) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    fprintf(stderr, "vornd: %s: %s\n", path.c_str(), strerror(errno));
    return false;
  }
  FILE *f = fdopen(fd, "w");
  bool ok = f && write(f) == 1;
  if (f ? fclose(f) != 0 : ::close(fd) != 0) ok = false;
  if (!ok) {
    fprintf(stderr, "vornd: %s: cannot be written\n", path.c_str());
    ::unlink(path.c_str());
  }
  return ok;
}

// Prints the SHA-256 of cert as openssl x509 -fingerprint does.
void print_fingerprint(X509 *cert) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  X509_digest(cert, EVP_sha256(), md, &len);
  printf("sha256 Fingerprint=");
  for (unsigned i = 0; i < len; ++i) printf(i ? ":%02X" : "%02X", md[i]);
  printf("\n");
}

}  // namespace

int make_cert(const std::string &dir) {
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    fprintf(stderr, "vornd: %s: %s\n", dir.c_str(), strerror(errno));
    return 1;
  }
  std::string host = host_name(), key_path = dir + "/vornd.key",
              cert_path = dir + "/vornd.crt";
  KeyPtr key(EVP_EC_gen("P-256"));
  CertPtr cert = key ? self_signed(key.get(), host) : nullptr;
  if (!cert) {
    fprintf(stderr, "vornd: cannot make a key and certificate\n");
    return 1;
  }
  // Only the daemon's user (the one running this) may read the key.
  if (!write_new(key_path, 0600, [&](FILE *f) {
        return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr,
                                    nullptr);
      }))
    return 1;
  if (!write_new(cert_path, 0644,
                 [&](FILE *f) { return PEM_write_X509(f, cert.get()); })) {
    ::unlink(key_path.c_str());
    return 1;
  }
  printf("wrote %s and %s for %s\n", key_path.c_str(), cert_path.c_str(),
         host.c_str());
  print_fingerprint(cert.get());
  return 0;
}

}  // namespace vornd

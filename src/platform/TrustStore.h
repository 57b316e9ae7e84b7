// The certificates a TLS client of this system trusts as roots, put into the certificate
// store of the run-time loaded TLS library (OpenSSL).
#pragma once

#include <string>

namespace zirvo::platform {

// The functions of the loaded library that filling a store may use; any may be null
// when the library lacks it. The store and certificate types are opaque here.
struct TrustStoreFunctions {
  int (*storeSetDefaultPaths)(void* store) = nullptr;  // X509_STORE_set_default_paths
  void* (*d2iX509)(void** out, const unsigned char** in, long length) = nullptr;  // d2i_X509
  int (*storeAddCert)(void* store, void* certificate) = nullptr;  // X509_STORE_add_cert
  void (*x509Free)(void* certificate) = nullptr;                  // X509_free
};

// Fills `store` (an X509_STORE of the loaded library). Linux: the system's store, the
// one the library itself knows (from ca-certificates, owned by root; the library's
// SSL_CERT_FILE and SSL_CERT_DIR variables still apply). Windows: the certificates of
// the machine's ROOT store, where group policy and the IT provider put the roots they
// trust; the library's compiled-in folders are never used there, as any user may be
// able to create them. Empty on success, otherwise the reason in French (a function
// this needs is missing, the store cannot be opened).
std::string LoadTrustedRoots(const TrustStoreFunctions& functions, void* store);

}  // namespace zirvo::platform

#include "platform/TrustStore.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

namespace zirvo::platform {

std::string LoadTrustedRoots(const TrustStoreFunctions& functions, void* store) {
  if (functions.d2iX509 == nullptr) return "fonction d2i_X509 absente de la bibliothèque TLS";
  if (functions.storeAddCert == nullptr) {
    return "fonction X509_STORE_add_cert absente de la bibliothèque TLS";
  }
  if (functions.x509Free == nullptr) return "fonction X509_free absente de la bibliothèque TLS";
  // The machine's store, whatever the account the service runs under: a user's own ROOT
  // store would let that user add a root for the service.
  HCERTSTORE roots = ::CertOpenStore(
      CERT_STORE_PROV_SYSTEM_W, 0, 0,
      CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG,
      L"ROOT");
  if (roots == nullptr) {
    return "le magasin de certificats ROOT de l'ordinateur n'a pas pu être ouvert (erreur " +
           std::to_string(::GetLastError()) + ")";
  }
  int added = 0;
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = ::CertEnumCertificatesInStore(roots, certificate)) != nullptr) {
    if (certificate->dwCertEncodingType != X509_ASN_ENCODING) continue;
    const unsigned char* bytes = certificate->pbCertEncoded;
    void* parsed =
        functions.d2iX509(nullptr, &bytes, static_cast<long>(certificate->cbCertEncoded));
    if (parsed == nullptr) continue;
    // A certificate already in the store is refused and is there all the same.
    if (functions.storeAddCert(store, parsed) == 1) ++added;
    functions.x509Free(parsed);
  }
  ::CertCloseStore(roots, 0);
  if (added == 0) return "le magasin de certificats ROOT de l'ordinateur est vide";
  return {};
}

}  // namespace zirvo::platform

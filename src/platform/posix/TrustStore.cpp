#include "platform/TrustStore.h"

namespace zirvo::platform {

std::string LoadTrustedRoots(const TrustStoreFunctions& functions, void* store) {
  if (functions.storeSetDefaultPaths == nullptr) {
    return "fonction X509_STORE_set_default_paths absente de la bibliothèque TLS";
  }
  // The folder and the file are looked up when a chain is checked, not now: the file
  // of certificates is read here, the hashed folder one certificate at a time later.
  if (functions.storeSetDefaultPaths(store) != 1) {
    return "le magasin de certificats du système n'a pas pu être lu";
  }
  return {};
}

}  // namespace zirvo::platform

#include "service/CommandLine.h"

#include <algorithm>

#include "host/ServiceHost.h"

namespace zirvo::service {

namespace {

constexpr const char* kKnownSwitches[] = {"install", "uninstall", "silent",     "console",
                                          "check",   "scramble",  "permissions"};

}  // namespace

std::string UnknownOption(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument.size() < 2 || (argument[0] != '-' && argument[0] != '/')) continue;
    const bool known =
        std::any_of(std::begin(kKnownSwitches), std::end(kKnownSwitches),
                    [&](const char* word) { return host::FindCmdLineSwitch({argument}, word); });
    if (!known) return argument;
  }
  return {};
}

std::vector<std::string> UsageText() {
  return {
      std::string("ZirvoSrv ") + ZIRVO_VERSION +
          " : service de mise à jour des statuts de livraison des SMS.",
      "Utilisation : ZirvoSrv [option]",
      "  sans option  démarré par le gestionnaire de services (Windows) ou par systemd (Linux)",
      "  -install     inscrit le service (avec -silent : sans message de réussite)",
      "  -uninstall   retire le service (avec -silent : sans message de réussite)",
      "  -console     exécute le service au premier plan ; Ctrl-C l'arrête",
      "  -check       vérifie tout de suite chaque condition d'un cycle, sans rien écrire",
      "  -scramble    brouille une valeur tapée au clavier, pour les clés secrètes",
      ("  -permissions [compte]  Windows : accorde au compte du service (par défaut NT "
       "SERVICE\\ZirvoService) ses droits sur le dossier du programme, sans l'inscrire"),
      "Une option commence par « - » ou « / », en majuscules ou en minuscules.",
  };
}

std::string NotStartedByManagerHint() {
  return "ZirvoSrv est un service : le gestionnaire de services le démarre une fois installé "
         "(ZirvoSrv -install). Pour l'exécuter au premier plan : ZirvoSrv -console ; pour "
         "vérifier ses conditions de marche : ZirvoSrv -check ; liste des options : ZirvoSrv /?";
}

}  // namespace zirvo::service

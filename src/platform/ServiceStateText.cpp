#include "platform/ServiceManager.h"

namespace zirvo::platform {

const char* ServiceStateText(std::uint32_t currentState) {
  switch (currentState) {
    case 1:
      return "Le service est stoppé";
    case 2:
      return "Le service est en cours de démarrage";
    case 3:
      return "Le service est en cours d'arrêt";
    case 4:
      return "Le service est démarré";
    case 5:
      return "Le service est en train d'être relancé après une opération continue";
    case 6:
      return "Le service est en train d'être relancé après une opération pause";
    case 7:
      return "Le service est en pause";
    default:
      return "Etat du service inconnu ou service inexistant !";
  }
}

}  // namespace zirvo::platform

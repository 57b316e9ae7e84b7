// Program entry of ZirvoSrv.
#include <iostream>
#include <string>

#include "config/ScrambleCommand.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-scramble" || argument == "/scramble") {
      return zirvo::config::RunScrambleCommand(std::cin, std::cout, std::cerr);
    }
  }
  std::cerr << "ZirvoSrv : seule la commande -scramble est disponible pour l'instant "
               "(le service lui-même n'est pas encore en place).\n";
  return 2;
}

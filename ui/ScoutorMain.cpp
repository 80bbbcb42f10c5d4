// scoutor: the desktop program.
#include "ui/Startup.h"

int main(int argc, char** argv) {
  return scoutor::RunScoutor(argc, argv);
}

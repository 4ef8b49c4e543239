#include "driver/driver.h"

int RunTalvo(int argc, char** argv) {
  InitAll(argc, argv);
  return 0;
}

#include "driver/driver.h"

int main(int argc, char** argv) {
  return talvo::internal::RunTalvo(argc, argv);
}

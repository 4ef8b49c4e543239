#include <cstdio>
#include <cstdlib>

#include "driver/driver.h"

const char valid_args[] = "WESGTXAPNFLIMK";
const char Help[] = "\nFind compositionally biased segments in protein sequence.\n";

void InitAll(int argc, char**) {
  if (argc < 3) {
    printf("%s\n", Help);
    exit(1);
  }
}

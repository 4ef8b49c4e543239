#include <cstring>

#include "alphabet/alphabet.h"
#include "driver/driver.h"

namespace talvo::internal {

void ResetConfiguration() {
  window = 0;
  max_separation = 4;
  random_seqs = 0;
  estimate_ran = 0;
  estimate_freq = 0;
  min_p_val = 0.05;
  masking_p_val = 0.05;
  use_merge = 1;
  estimate_linkage = 0;
  fasta_output = 0;
  aa_freq = sp_aa_freq;
  strcpy(special_aa, "GPSTDNH");
}

}  // namespace talvo::internal

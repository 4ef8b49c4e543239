#include <cstring>

#include "alphabet/alphabet.h"
#include "driver/driver.h"

int window = 0;
// Per thread: -K derives it from each analysed sequence.
thread_local int max_separation = 4;
int random_seqs = 0;
int estimate_ran = 0;
int estimate_freq = 0;
double min_p_val = 0.05;
double masking_p_val = 0.05;
int use_merge = 1;
int estimate_linkage = 0;
int fasta_output = 0;

// Per thread: each concurrent analysis encodes its own sequence.
thread_local char* binary_seq = nullptr;
thread_local char* random_binary_seq = nullptr;

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

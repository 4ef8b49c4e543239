#include "config/run_config.h"

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

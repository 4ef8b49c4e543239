#include "alphabet/alphabet.h"

namespace talvo::internal {

const char aa[] = "WIYFLVMCAGHPSTNQDEKRX";

// Background compositions in `aa` order. The PDB column sums to 0.999999 and is
// used as it stands.
const double sp_aa_freq[20] = {0.011577, 0.058323, 0.031278, 0.040824, 0.096916, 0.063863, 0.022428,
                               0.015555, 0.07427,  0.063888, 0.022561, 0.049454, 0.075638, 0.055031,
                               0.045539, 0.040844, 0.053209, 0.065786, 0.060709, 0.052307};
const double pdb_aa_freq[20] = {0.013651, 0.055684, 0.034132, 0.039339, 0.089807,
                                0.069929, 0.022963, 0.01412,  0.08165,  0.074128,
                                0.024444, 0.046976, 0.061133, 0.054853, 0.043115,
                                0.037799, 0.058083, 0.067664, 0.059508, 0.051021};

}  // namespace talvo::internal

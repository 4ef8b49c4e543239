#include "detect/detect.h"

// Per thread: each concurrent analysis detects into its own lists.
thread_local FragmentList special;
thread_local FragmentList special_merged;
thread_local FragmentList r_special;

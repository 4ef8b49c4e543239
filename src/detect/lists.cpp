#include "detect/detect.h"

namespace talvo::internal {

// Per thread: each concurrent analysis detects into its own lists.
thread_local FragmentList special;
thread_local FragmentList special_merged;
thread_local FragmentList r_special;

}  // namespace talvo::internal

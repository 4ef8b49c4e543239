#include "detect/detect.h"

FragmentList special;
FragmentList special_merged;
FragmentList r_special;

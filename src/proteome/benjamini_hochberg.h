// Benjamini-Hochberg q-values (talvo::QValues, talvo/proteome.h): a first
// pass counts every p-value, a second looks each one up.
#pragma once
#include "talvo/proteome.h"

namespace talvo::proteome {

using talvo::QValues;

}  // namespace talvo::proteome

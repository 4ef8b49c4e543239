#pragma once
#include <vector>

// Benjamini-Hochberg q-values of p, in the same order: the step-up
// adjustment p * m / rank with the cumulative minimum from the largest p
// down, capped at 1.
std::vector<double> BenjaminiHochberg(const std::vector<double>& p);

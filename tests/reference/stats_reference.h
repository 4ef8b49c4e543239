// Literal significance statistics, written straight from their formulas for
// clarity, not speed: BPR recurses down to its base case, Fb restarts the
// recurrence for every term, the tails call BPR once per term, and Q2, Q3 and
// A1 to A4 recompute every point probability and cumulative sum they use.
// The program's fast paths must agree with these bit for bit wherever
// (1 - p)^n is a normal double. Nothing here is used by the program itself.
#pragma once
#include <vector>

namespace literal {

double factorial(int n);
double n_Choose_k(int k, int n);
double BinomialProb(int k, int n, double p);
// Recursion as deep as k: keep k within a few tens of thousands.
double BPR(int k, int n, double p);
double Fb(int b, int n, double p);
double Binomial_P_LessThan_K(int k, int n, double p);
double Binomial_P_GreaterThan_K(int k, int n, double p);

double Q2(int k, int w, double p);
double Q3(int k, int w, double p);
double A1(int k, int w, double p);
double A2(int k, int w, double p);
double A3(int k, int w, double p);
double A4(int k, int w, double p);
// Gives 0 where q2 is 0 (for e other than 0) and for p = 1, as the bare
// arithmetic does.
double P_scan_ge_K_in_W_N(int k, int w, int N, double p);
// The last steps of P_scan_ge_K_in_W_N: the exponent from N and w, the power
// and the clamp at 0, for given Q2 and Q3 values.
double ScanFromQ2Q3(double q2, double q3, int w, int N);

double NormalDensity(double x);
// Keeps its own running estimate, separate from the program's.
double trapzd(double (*func)(double), double a, double b, int n);
double qsimp(double (*func)(double), double a, double b);
// Write the validity warning to the error stream like the program does.
double ApproxBinomial_P_GreaterThan_K(int k, int n, double p, int& valid);
double ApproxBinomial_P_LessThan_K(int k, int n, double p, int& valid);

}  // namespace literal

// Independent evaluations in extended precision (long double: 64-bit
// significand, exponents down to about 1e-4951), for checking the program
// where (1 - p)^n is below the normal range of doubles.
namespace wide {

// b(i; n) for i = 0..n by the recurrence from (1 - p)^n; needs 0 <= p < 1.
std::vector<long double> Terms(int n, double p);
// The same scan-statistic formula as the program's, for 0 < p < 1, k >= 1;
// 1 where q2 is 0, clamped at 0.
long double ScanPValue(int k, int w, int N, double p);

}  // namespace wide

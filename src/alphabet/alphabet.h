// Residue alphabet, background compositions, the special sub-alphabet, the
// 0/1 encoding and the linkage-distance estimate.
#pragma once

namespace talvo::internal {

// "WIYFLVMCAGHPSTNQDEKRX": the 20 standard residues, then X.
extern const char aa[];
// Built-in background compositions, 20 entries in `aa` order.
extern const double sp_aa_freq[20];
extern const double pdb_aa_freq[20];

// Index among the first 20 letters of `aa`; 20 when absent.
int ConvToInt(char c);
// ConvToInt of every byte value, for loops over long sequences.
const unsigned char* ResidueIndexOfByte();
// Index of the first match among the first n characters of s; -1 when absent.
int FindLetter(char c, int n, const char* s);
// 1 when c is among the first n characters of s, else 0.
int AAExists(char c, const char* s, int n);
// '1' when c is among the first n characters of s, else '0'.
char AA2binary(char c, const char* s, int n);
// Rebuilds dst (21 bytes) from src: upper-cased residues, first occurrence only.
void CopyAA(const char* src, char* dst);
// 0/1 string of the first n characters of seq: '1' where the character is one
// of set's, as AA2binary with strlen(set) gives it. No terminator is written.
void EncodeBinary(const char* seq, int n, const char* set, char* binary);
// Upper-cases the first n characters of s in place.
void Conv2Upper(char* s, int n);
// Composition of seq into out[21]; 0 (and out all 0) when seq holds none of
// the 20 residues, where TALVO says "No valid residues were found".
int ComputeAAfreq(const char* seq, int n, double* out);
// Sum of the table entries of the residues of set, in set order.
double ComputeResidueP(const char* set, const double* table);
// Linkage distance 2/(3p) rounded half to even; at least 1, at most INT_MAX.
int EstimateLinkageDistance(double p);
// Formats value with format into a 32-byte buffer and parses it back.
double round(double value, const char* format);

}  // namespace talvo::internal

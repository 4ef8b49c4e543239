// Merging the tables of a sharded run back into the table that one process
// writes for the same inputs.
#pragma once
#include <string>
#include <vector>

// Reads TSV tables written with --all (the shards of one run), puts their rows
// back in input order, recomputes every q-value over all rows and writes the
// rows that a single run reports: every row with all_segments, else those
// with a p-value below masking_p. Inputs keep the order in which they first
// appear in the tables as listed. Returns the exit status (0, 1 after a
// message on standard error, 141 when the output pipe was closed).
int MergeTables(const std::vector<std::string>& tables, bool all_segments, double masking_p,
                const std::string& output);

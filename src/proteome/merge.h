// Merging the tables of a sharded run back into the table that one process
// writes for the same inputs.
#pragma once
#include <string>
#include <vector>

#include "talvo/talvo.h"

// Reads the TSV tables of every shard of a run made with --shard I/N --all
// (or of several such runs over other inputs), refusing a set that is
// incomplete, repeated, of another version or analysis, or not --all; puts
// their rows back in input order, recomputes every q-value over all rows and
// writes the rows that a single run with these settings reports: every row
// with all_segments, else those with a p-value below settings.mask_p. Inputs
// keep the order in which they first appear in the tables as listed. Returns
// the exit status (0, 1 after a message on standard error, 141 when the
// output pipe was closed).
int MergeTables(const std::vector<std::string>& tables, const talvo::Settings& settings,
                bool all_segments, const std::string& output);

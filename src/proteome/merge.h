// Merging the tables of a sharded run back into the outputs that one process
// writes for the same inputs.
#pragma once
#include <string>
#include <vector>

#include "proteome/options.h"
#include "talvo/talvo.h"

namespace talvo::proteome {

// Reads the TSV tables of every shard of a run made with --shard I/N --all
// (or of several such runs over other inputs), refusing a set that is
// incomplete, repeated, of another version or analysis, or not --all, and
// rows and proteins that no run writes; puts their proteins back in input
// order and hands them to the writer of a single run with these settings and
// options.output, .gff3, .bed, .summary and .masked (q-values recomputed over
// every protein and segment). Inputs keep the order in which they first
// appear in the tables as listed (options.inputs are the tables). With
// --discover (options.classes, each class with its settings) the tables must
// be of that class set. Throws on any failure (errors.h); ends with the count
// of rows merged on standard error.
void MergeTables(const ProteomeOptions& options, const talvo::Settings& settings,
                 const std::vector<talvo::Settings>& class_settings = {});

}  // namespace talvo::proteome

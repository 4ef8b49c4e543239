#include "proteome/merge.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <queue>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "proteome/benjamini_hochberg.h"
#include "proteome/output_files.h"
#include "proteome/pipeline.h"
#include "proteome/segment_row.h"
#include "proteome/shard_table.h"

namespace {

struct MergeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One table being read: its current row and where its rows start.
struct Table {
  std::string path;
  ShardHeader header;
  FILE* file = nullptr;
  char* buffer = nullptr;  // getline's
  size_t capacity = 0;
  std::string line;
  long rows_start = 0;  // offset and line number of the first row
  long rows_start_line = 0;
  long line_number = 0;
  long rows_read = 0;
  std::optional<SegmentRow> row;
  size_t first_rank = 0;  // of the table's first input; the others follow
  std::string ranked_input;
  size_t input_rank = 0;  // of ranked_input, the input of the current row
};

// Every input's place in the merged table.
using InputRanks = std::map<std::string, size_t>;

using RowKey = std::tuple<size_t, long, long>;  // input rank, entry, segment

RowKey KeyOf(const Table& table) {
  return {table.input_rank, table.row->entry, table.row->segment};
}

std::string Where(const Table& table) {
  return table.path + ":" + std::to_string(table.line_number);
}

// Reads one line with its newline; false at the end of the table.
bool ReadLine(Table& table, std::string& line) {
  errno = 0;
  const ssize_t length = getline(&table.buffer, &table.capacity, table.file);
  if (length >= 0) line.assign(table.buffer, static_cast<size_t>(length));
  if (length < 0) {
    if (ferror(table.file))
      throw MergeError("error reading " + table.path + ": " + strerror(errno));
    return false;
  }
  table.line_number++;
  // A shard cut short must not pass for a whole one.
  if (line.back() != '\n') throw MergeError(Where(table) + ": last line is cut short");
  line.pop_back();
  return true;
}

// The rank of the current row's input, which must be one of the table's.
void RankRowInput(Table& table, const InputRanks& ranks) {
  const std::string& input = table.row->input;
  if (input == table.ranked_input) return;
  const auto rank = ranks.find(input);
  if (rank == ranks.end() || rank->second < table.first_rank ||
      rank->second >= table.first_rank + table.header.inputs.size()) {
    throw MergeError(Where(table) + ": a row of " + input + ", which the header does not list");
  }
  table.ranked_input = input;
  table.input_rank = rank->second;
}

// A row that the table's shard cannot hold.
void CheckRow(const Table& table) {
  const SegmentRow& row = *table.row;
  const std::string impossible = ImpossibleValue(row);
  if (!impossible.empty()) throw MergeError(Where(table) + ": impossible values: " + impossible);
  const ShardHeader& header = table.header;
  if ((row.entry - 1) % header.count != header.index) {
    throw MergeError(Where(table) + ": entry " + std::to_string(row.entry) +
                     " does not belong to shard " + std::to_string(header.index) + "/" +
                     std::to_string(header.count));
  }
}

// The table's next row; at its end, the count of its rows must be the count
// its header records, so that a shard cut at a row boundary is refused.
void Advance(Table& table, const InputRanks& ranks) {
  const bool had_row = table.row.has_value();
  const RowKey previous = had_row ? KeyOf(table) : RowKey{};
  const std::string rows = std::to_string(table.header.rows);
  std::string& line = table.line;
  if (!ReadLine(table, line)) {
    if (table.rows_read != table.header.rows) {
      throw MergeError(table.path + ": " + std::to_string(table.rows_read) +
                       " rows where its header records " + rows +
                       ": the shard is incomplete (cut short, or its run failed)");
    }
    table.row.reset();
    return;
  }
  if (++table.rows_read > table.header.rows) {
    throw MergeError(Where(table) + ": more rows than the " + rows + " its header records");
  }
  if (!table.row) table.row.emplace();
  if (!ParseSegmentRow(std::string_view(line), *table.row)) {
    throw MergeError(Where(table) + ": not a row of a talvo-proteome table");
  }
  CheckRow(table);
  RankRowInput(table, ranks);
  if (had_row && !(previous < KeyOf(table))) {
    throw MergeError(Where(table) + ": rows out of input order");
  }
}

// A shard table: its '#' header lines, then the column header.
void OpenTable(Table& table) {
  table.file = fopen(table.path.c_str(), "r");
  if (table.file == nullptr) {
    throw MergeError("cannot open " + table.path + ": " + strerror(errno));
  }
  std::string line;
  bool read = ReadLine(table, line);
  for (; read && line.starts_with("#"); read = ReadLine(table, line)) {
    if (!ReadShardHeaderLine(line, table.header)) {
      throw MergeError(Where(table) + ": not a line of a shard table's header");
    }
  }
  if (!read || line + "\n" != kSegmentRowHeader) {
    throw MergeError(table.path + ": not a talvo-proteome TSV table");
  }
  if (table.line_number == 1 || !IsCompleteShardHeader(table.header)) {
    throw MergeError(table.path +
                     ": not a shard table (the shards of a run are made with --shard I/N --all)");
  }
  if (table.header.rows < 0) {
    throw MergeError(table.path +
                     ": a shard table of an earlier talvo-proteome, which recorded neither its "
                     "row count nor its inputs' fingerprints; run the shards again with this one");
  }
  table.rows_start = ftell(table.file);
  table.rows_start_line = table.line_number;
  if (table.rows_start < 0) throw MergeError(table.path + ": not a regular file");
}

std::string Listed(const std::vector<std::string>& inputs) {
  std::string text;
  for (const std::string& input : inputs) text += (text.empty() ? "" : ", ") + input;
  return text;
}

std::string ShardName(const ShardHeader& header) {
  return "shard " + std::to_string(header.index) + "/" + std::to_string(header.count) + " of " +
         Listed(header.inputs);
}

// Shards by their inputs.
using Runs = std::map<std::vector<std::string>, std::vector<const Table*>>;

// An input belongs to one run, once: tables that hold it list the same
// inputs in the same order, and the rows of an input listed twice could not
// be told apart.
void CheckInputLists(const Runs& runs) {
  std::map<std::string, const Table*> listed_by;
  for (const auto& [inputs, run] : runs) {
    const Table* table = run.front();
    for (const std::string& input : inputs) {
      const auto [other, added] = listed_by.try_emplace(input, table);
      if (added) continue;
      if (other->second == table) throw MergeError(table->path + " lists " + input + " twice");
      throw MergeError("shards of different input lists: " + other->second->path + " has " +
                       Listed(other->second->header.inputs) + ", " + table->path + " has " +
                       Listed(inputs));
    }
  }
}

std::string FingerprintText(const std::string& kind, std::string value) {
  std::replace(value.begin(), value.end(), '\t', ' ');
  return kind + ' ' + value;
}

const Fingerprints& FingerprintsOf(const ShardHeader& header, size_t input) {
  static const Fingerprints kNone;
  return input < header.fingerprints.size() ? header.fingerprints[input] : kNone;
}

// Every table fingerprints each of its inputs, and the tables of one input
// agree on every kind of fingerprint they both took: an input that changed
// between the shard jobs is refused.
void CheckFingerprints(const std::vector<Table>& tables) {
  std::map<std::string, const Table*> first;  // by input
  for (const Table& table : tables) {
    for (size_t input = 0; input < table.header.inputs.size(); input++) {
      const std::string& name = table.header.inputs[input];
      const Fingerprints& mine = FingerprintsOf(table.header, input);
      if (mine.empty()) throw MergeError(table.path + ": no fingerprint of the input " + name);
      const Table& other = *first.try_emplace(name, &table).first->second;
      const Fingerprints& theirs = FingerprintsOf(other.header, input);
      bool compared = false;
      for (const auto& [kind, value] : mine) {
        const auto same_kind = theirs.find(kind);
        if (same_kind == theirs.end()) continue;
        compared = true;
        if (same_kind->second != value) {
          throw MergeError("the input " + name + " changed between the shard jobs: " + other.path +
                           " read " + FingerprintText(kind, same_kind->second) + ", " + table.path +
                           " read " + FingerprintText(kind, value) + "; run its shards again");
        }
      }
      if (!compared) {
        throw MergeError(other.path + " and " + table.path + " fingerprint " + name +
                         " in different ways and cannot be compared");
      }
    }
  }
}

// Inputs rank in the order their tables list them; the inputs of other runs
// follow in the order in which their tables are given.
InputRanks RankInputs(std::vector<Table>& tables) {
  InputRanks ranks;
  for (Table& table : tables) {
    const std::vector<std::string>& inputs = table.header.inputs;
    const auto [first, added] = ranks.try_emplace(inputs.front(), ranks.size());
    table.first_rank = first->second;
    for (size_t i = 1; added && i < inputs.size(); i++) ranks.emplace(inputs[i], ranks.size());
  }
  return ranks;
}

// The tables must be every shard of one run (or of several runs over other
// inputs with the same options), made by this version with --all.
void CheckShards(const std::vector<Table>& tables, const talvo::Settings& settings) {
  const std::string version = ProteomeVersionNumber();
  const std::string options = AnalysisOptionsText(settings);
  const Table& first = tables.front();
  Runs runs;
  for (const Table& table : tables) {
    const ShardHeader& header = table.header;
    if (header.version != version) {
      throw MergeError(table.path + ": written by talvo-proteome " + header.version + "; this is " +
                       version);
    }
    if (!header.all_segments) {
      throw MergeError(table.path + ": " + ShardName(header) +
                       " was run without --all; the merge needs every segment");
    }
    if (header.options != first.header.options || header.seed != first.header.seed) {
      throw MergeError(
          "shards of different analyses: " + first.path + " has '" + first.header.options + "'" +
          (first.header.seed.empty() ? "" : " seed " + first.header.seed) + ", " + table.path +
          " has '" + header.options + "'" + (header.seed.empty() ? "" : " seed " + header.seed));
    }
    std::vector<const Table*>& run = runs[header.inputs];
    for (const Table* other : run) {
      if (other->header.count != header.count) {
        throw MergeError("shards of different splits: " + other->path + " is " +
                         ShardName(other->header) + ", " + table.path + " is " + ShardName(header));
      }
      if (other->header.index == header.index) {
        throw MergeError(other->path + " and " + table.path + " are both " + ShardName(header));
      }
    }
    run.push_back(&table);
  }
  CheckInputLists(runs);
  if (first.header.options != options) {
    throw MergeError("the shards were run with '" + first.header.options +
                     "' but --merge was given '" + options +
                     "': give --merge the TALVO options of the shards");
  }
  for (const auto& [inputs, run] : runs) {
    if (static_cast<long>(run.size()) == run.front()->header.count) continue;
    std::vector<bool> present(run.front()->header.count);
    for (const Table* table : run) present[table->header.index] = true;
    ShardHeader missing = run.front()->header;
    missing.index = std::find(present.begin(), present.end(), false) - present.begin();
    throw MergeError(ShardName(missing) + " is missing (" + std::to_string(run.size()) + " of " +
                     std::to_string(missing.count) + " shards given)");
  }
  CheckFingerprints(tables);
}

// Visits every row of every table in input order: a k-way merge on
// (input, entry, segment). Rows are read once more on each call.
void VisitInOrder(std::vector<Table>& tables, const InputRanks& ranks,
                  const std::function<void(SegmentRow&)>& visit) {
  for (Table& table : tables) {
    if (fseek(table.file, table.rows_start, SEEK_SET) != 0) {
      throw MergeError("cannot reread " + table.path + ": " + strerror(errno));
    }
    table.line_number = table.rows_start_line;
    table.rows_read = 0;
    table.ranked_input.clear();
    table.row.reset();
    Advance(table, ranks);
  }
  const auto later = [&tables](size_t a, size_t b) {
    return std::pair(KeyOf(tables[a]), a) > std::pair(KeyOf(tables[b]), b);
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> heads(later);
  for (size_t i = 0; i < tables.size(); i++) {
    if (tables[i].row) heads.push(i);
  }
  std::optional<RowKey> last;
  while (!heads.empty()) {
    const size_t index = heads.top();
    heads.pop();
    Table& table = tables[index];
    if (last && *last == KeyOf(table)) {
      throw MergeError(Where(table) + ": the same segment is in two tables");
    }
    last = KeyOf(table);
    visit(*table.row);
    Advance(table, ranks);
    if (table.row) heads.push(index);
  }
}

void CloseTables(std::vector<Table>& tables) {
  for (Table& table : tables) {
    if (table.file != nullptr) fclose(table.file);
    table.file = nullptr;
    free(table.buffer);
    table.buffer = nullptr;
  }
}

// Writes the reported rows with their new q-values; false on a write error.
bool WriteMerged(std::vector<Table>& tables, const InputRanks& ranks, const QValues& q,
                 bool all_segments, double masking_p, FILE* out) {
  bool ok = fputs(kSegmentRowHeader, out) >= 0;
  VisitInOrder(tables, ranks, [&](SegmentRow& row) {
    if (!ok || (!all_segments && !(row.p_value < masking_p))) return;
    row.q_value = q.Of(row.p_value);
    const std::string text = FormatSegmentRow(row);
    ok = fwrite(text.data(), 1, text.size(), out) == text.size();
  });
  return ok && fflush(out) == 0 && ferror(out) == 0;
}

}  // namespace

int MergeTables(const std::vector<std::string>& tables_in, const talvo::Settings& settings,
                bool all_segments, const std::string& output) {
  std::vector<Table> tables(tables_in.size());
  OutputFile named;  // the merged table takes its name only once it is whole
  try {
    for (size_t i = 0; i < tables.size(); i++) {
      tables[i].path = tables_in[i];
      OpenTable(tables[i]);
    }
    CheckShards(tables, settings);
    const InputRanks ranks = RankInputs(tables);
    QValues q;
    VisitInOrder(tables, ranks, [&q](SegmentRow& row) { q.Count(row.p_value); });
    q.Finish();

    const std::string out_name = output.empty() ? "standard output" : output;
    if (!output.empty() && !named.Open(output)) throw MergeError(named.error());
    FILE* out = output.empty() ? stdout : named.file();
    const bool written = WriteMerged(tables, ranks, q, all_segments, settings.mask_p, out);
    const int saved = errno;
    const bool closed = out == stdout || named.Close();
    if (!written || !closed) {
      if (saved == EPIPE) {
        CloseTables(tables);
        return kPipeStatus;
      }
      throw MergeError("error writing " + out_name + ": " + strerror(written ? errno : saved));
    }
    std::string error;
    if (!CommitOutputs({&named}, error)) throw MergeError(error);
    CloseTables(tables);
    fprintf(stderr, "%llu rows merged from %zu tables\n",
            static_cast<unsigned long long>(q.total()), tables.size());
    return 0;
  } catch (const MergeError& error) {
    CloseTables(tables);
    fprintf(stderr, "talvo-proteome: %s\n", error.what());
    return 1;
  }
}

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
  long rows_start = 0;
  long line_number = 0;
  std::optional<SegmentRow> row;
  size_t input_rank = 0;
};

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

// Inputs are ranked in the order in which they are first met.
class InputRanks {
 public:
  size_t RankOf(const std::string& input) {
    return ranks_.try_emplace(input, ranks_.size()).first->second;
  }

 private:
  std::map<std::string, size_t> ranks_;
};

void Advance(Table& table, InputRanks& ranks) {
  const bool had_row = table.row.has_value();
  const RowKey previous = had_row ? KeyOf(table) : RowKey{};
  std::string& line = table.line;
  if (!ReadLine(table, line)) {
    table.row.reset();
    return;
  }
  if (!table.row) table.row.emplace();
  if (!ParseSegmentRow(std::string_view(line), *table.row)) {
    throw MergeError(Where(table) + ": not a row of a talvo-proteome table");
  }
  table.input_rank = ranks.RankOf(table.row->input);
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
  table.rows_start = ftell(table.file);
  if (table.rows_start < 0) throw MergeError(table.path + ": not a regular file");
}

std::string ShardName(const ShardHeader& header) {
  std::string inputs;
  for (const std::string& input : header.inputs) inputs += (inputs.empty() ? "" : ", ") + input;
  return "shard " + std::to_string(header.index) + "/" + std::to_string(header.count) + " of " +
         inputs;
}

// The tables must be every shard of one run (or of several runs over other
// inputs with the same options), made by this version with --all.
void CheckShards(const std::vector<Table>& tables, const talvo::Settings& settings) {
  const std::string version = ProteomeVersionNumber();
  const std::string options = AnalysisOptionsText(settings);
  const Table& first = tables.front();
  std::map<std::vector<std::string>, std::vector<const Table*>> runs;  // by inputs
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
}

// Visits every row of every table in input order: a k-way merge on
// (input, entry, segment). Rows are read once more on each call.
void VisitInOrder(std::vector<Table>& tables, const std::function<void(SegmentRow&)>& visit) {
  InputRanks ranks;
  for (Table& table : tables) {
    if (fseek(table.file, table.rows_start, SEEK_SET) != 0) {
      throw MergeError("cannot reread " + table.path + ": " + strerror(errno));
    }
    table.line_number = 1;
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
bool WriteMerged(std::vector<Table>& tables, const QValues& q, bool all_segments, double masking_p,
                 FILE* out) {
  bool ok = fputs(kSegmentRowHeader, out) >= 0;
  VisitInOrder(tables, [&](SegmentRow& row) {
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
    QValues q;
    VisitInOrder(tables, [&q](SegmentRow& row) { q.Count(row.p_value); });
    q.Finish();

    const std::string out_name = output.empty() ? "standard output" : output;
    if (!output.empty() && !named.Open(output)) throw MergeError(named.error());
    FILE* out = output.empty() ? stdout : named.file();
    const bool written = WriteMerged(tables, q, all_segments, settings.mask_p, out);
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

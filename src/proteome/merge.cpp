#include "proteome/merge.h"

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
#include "proteome/pipeline.h"
#include "proteome/segment_row.h"

namespace {

struct MergeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One table being read: its current row and where its rows start.
struct Table {
  std::string path;
  FILE* file = nullptr;
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
  char* buffer = nullptr;
  size_t capacity = 0;
  errno = 0;
  const ssize_t length = getline(&buffer, &capacity, table.file);
  if (length >= 0) line.assign(buffer, static_cast<size_t>(length));
  free(buffer);
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
  std::string line;
  if (!ReadLine(table, line)) {
    table.row.reset();
    return;
  }
  table.row = ParseSegmentRow(line);
  if (!table.row) throw MergeError(Where(table) + ": not a row of a talvo-proteome table");
  table.input_rank = ranks.RankOf(table.row->input);
  if (had_row && !(previous < KeyOf(table))) {
    throw MergeError(Where(table) + ": rows out of input order");
  }
}

void OpenTable(Table& table) {
  table.file = fopen(table.path.c_str(), "r");
  if (table.file == nullptr) {
    throw MergeError("cannot open " + table.path + ": " + strerror(errno));
  }
  std::string header;
  if (!ReadLine(table, header) || header + "\n" != kSegmentRowHeader) {
    throw MergeError(table.path + ": not a talvo-proteome TSV table");
  }
  table.rows_start = ftell(table.file);
  if (table.rows_start < 0) throw MergeError(table.path + ": not a regular file");
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
  }
}

// Writes the reported rows with their new q-values; false on a write error.
bool WriteMerged(std::vector<Table>& tables, const std::vector<double>& q, bool all_segments,
                 double masking_p, FILE* out) {
  bool ok = fputs(kSegmentRowHeader, out) >= 0;
  size_t index = 0;
  VisitInOrder(tables, [&](SegmentRow& row) {
    const double q_value = q[index++];
    if (!ok || (!all_segments && !(row.p_value < masking_p))) return;
    row.q_value = q_value;
    const std::string text = FormatSegmentRow(row);
    ok = fwrite(text.data(), 1, text.size(), out) == text.size();
  });
  return ok && fflush(out) == 0 && ferror(out) == 0;
}

}  // namespace

int MergeTables(const std::vector<std::string>& tables_in, bool all_segments, double masking_p,
                const std::string& output) {
  std::vector<Table> tables(tables_in.size());
  FILE* out = nullptr;
  try {
    for (size_t i = 0; i < tables.size(); i++) {
      tables[i].path = tables_in[i];
      OpenTable(tables[i]);
    }
    std::vector<double> p;
    VisitInOrder(tables, [&p](SegmentRow& row) { p.push_back(row.p_value); });
    const std::vector<double> q = BenjaminiHochberg(p);

    const std::string out_name = output.empty() ? "standard output" : output;
    out = output.empty() ? stdout : fopen(output.c_str(), "w");
    if (out == nullptr) throw MergeError("cannot open " + output + ": " + strerror(errno));
    const bool written = WriteMerged(tables, q, all_segments, masking_p, out);
    const int saved = errno;
    const bool closed = out == stdout || fclose(out) == 0;
    out = nullptr;
    if (!written || !closed) {
      if (saved == EPIPE) {
        CloseTables(tables);
        return kPipeStatus;
      }
      throw MergeError("error writing " + out_name + ": " + strerror(written ? errno : saved));
    }
    CloseTables(tables);
    fprintf(stderr, "%zu rows merged from %zu tables\n", p.size(), tables.size());
    return 0;
  } catch (const MergeError& error) {
    if (out != nullptr && out != stdout) fclose(out);
    CloseTables(tables);
    fprintf(stderr, "talvo-proteome: %s\n", error.what());
    return 1;
  }
}

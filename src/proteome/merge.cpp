#include "proteome/merge.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <queue>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "proteome/errors.h"
#include "proteome/fasta_index.h"
#include "proteome/formats.h"
#include "proteome/ordered_pipeline.h"
#include "proteome/pipeline.h"
#include "proteome/proteome_writer.h"
#include "proteome/segment_row.h"
#include "proteome/shard_table.h"

namespace talvo::proteome {
namespace {

// One table being read: its header and the protein it is at.
struct Table {
  std::string path;
  ShardHeader header;
  FILE* file = nullptr;
  char* buffer = nullptr;  // getline's
  size_t capacity = 0;
  std::string line;
  bool line_pending = false;  // line holds the next protein's line, read ahead
  long line_number = 0;
  long rows_read = 0;
  long proteins_read = 0;
  size_t first_rank = 0;  // of the table's first input; the others follow
  // By input: the entries of an indexed shard's part; none for one read whole.
  std::vector<std::optional<PartFields>> parts;
  // The current protein, with its segments; none at the end of the table.
  bool at_protein = false;
  std::string input;
  size_t input_rank = 0;  // of input
  ProteinEntry entry;
  std::vector<talvo::Result> results;  // one, or one per class with --discover
  size_t row_class = 0;                // of the protein's last row
  SegmentRow row;

  Table() = default;
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  ~Table() {
    if (file != nullptr) fclose(file);
    free(buffer);
  }
};

// Every input's place in the merged outputs.
using InputRanks = std::map<std::string, size_t>;

using ProteinKey = std::pair<size_t, long>;  // input rank, entry

ProteinKey KeyOf(const Table& table) {
  return {table.input_rank, table.entry.number};
}

std::string Where(const Table& table) {
  return table.path + ":" + std::to_string(table.line_number);
}

[[noreturn]] void Refuse(const Table& table, const std::string& what) {
  throw talvo::Error(Where(table) + ": " + what);
}

// Reads one line with its newline; false at the end of the table.
bool ReadLine(Table& table, std::string& line) {
  errno = 0;
  const ssize_t length = getline(&table.buffer, &table.capacity, table.file);
  if (length < 0) {
    if (ferror(table.file)) ThrowSystemError("error reading " + table.path);
    return false;
  }
  line.assign(table.buffer, static_cast<size_t>(length));
  table.line_number++;
  // A shard cut short must not pass for a whole one.
  if (line.back() != '\n') Refuse(table, "last line is cut short");
  line.pop_back();
  return true;
}

// The protein line just read, which must be of one of the table's inputs,
// of its shard, and after the table's previous protein.
void TakeProtein(Table& table, const InputRanks& ranks) {
  const bool had_protein = table.at_protein;
  const ProteinKey previous = had_protein ? KeyOf(table) : ProteinKey{};
  try {
    ReadProteinLine(table.line, table.input, table.entry, table.results);
  } catch (const talvo::Error& e) {
    Refuse(table, e.what());
  }
  const auto rank = ranks.find(table.input);
  if (rank == ranks.end() || rank->second < table.first_rank ||
      rank->second >= table.first_rank + table.header.inputs.size()) {
    Refuse(table, "a protein of " + table.input + ", which the header does not list");
  }
  const ShardHeader& header = table.header;
  const std::optional<PartFields>& part = table.parts[rank->second - table.first_rank];
  const long number = table.entry.number;
  if (part ? number < part->first_entry || number >= part->first_entry + part->entries
           : (number - 1) % header.count != header.index) {
    Refuse(table, "entry " + std::to_string(number) + " does not belong to shard " +
                      std::to_string(header.index) + "/" + std::to_string(header.count));
  }
  table.input_rank = rank->second;
  table.at_protein = true;
  table.row_class = 0;
  if (had_protein && !(previous < KeyOf(table))) Refuse(table, "proteins out of input order");
  if (++table.proteins_read > header.proteins) {
    Refuse(table,
           "more proteins than the " + std::to_string(header.proteins) + " its header records");
  }
}

// The index of a row's class in the run's class set (0 without --discover).
size_t ClassOf(const Table& table, const std::vector<talvo::ResidueClass>& classes) {
  if (classes.empty()) return 0;
  for (size_t c = 0; c < classes.size(); c++) {
    if (classes[c].name == table.row.class_name) return c;
  }
  Refuse(table, "a row of class '" + table.row.class_name + "', which the header does not list");
}

// A segment row of the current protein: the next of its segments (of its
// class, whose rows follow the class set's order), with the protein's ID,
// length and residues.
void TakeRow(Table& table, const std::vector<talvo::ResidueClass>& classes) {
  SegmentRow& row = table.row;
  try {
    ReadSegmentRow(table.line, row, !classes.empty());
    CheckSegmentRow(row);
  } catch (const talvo::Error& e) {
    Refuse(table, e.what());
  }
  if (++table.rows_read > table.header.rows) {
    Refuse(table,
           "more rows than the " + std::to_string(table.header.rows) + " its header records");
  }
  const size_t c = ClassOf(table, classes);
  if (c < table.row_class) Refuse(table, "rows of the classes out of the class set's order");
  table.row_class = c;
  const ProteinEntry& entry = table.entry;
  std::vector<talvo::Segment>& segments = table.results[c].segments;
  if (row.input != table.input || row.entry != entry.number) {
    Refuse(table, "a row of entry " + std::to_string(row.entry) + " of " + row.input +
                      " that does not follow its protein line");
  }
  if (row.segment != static_cast<long>(segments.size()) + 1) {
    Refuse(table, "segment " + std::to_string(row.segment) + " where segment " +
                      std::to_string(segments.size() + 1) + " comes next");
  }
  if (row.id != ProteinId(entry.header, entry.number) || row.length != table.results[c].length ||
      entry.residues.compare(row.start - 1, row.seg_length, row.residues) != 0) {
    Refuse(table, "a row whose ID, length or residues are not its protein's");
  }
  talvo::Segment& segment = segments.emplace_back();
  segment.start = static_cast<int>(row.start);
  segment.end = static_cast<int>(row.end);
  segment.length = static_cast<int>(row.seg_length);
  segment.special = static_cast<int>(row.special);
  segment.p_value = row.p_value;
  segment.residues = std::move(row.residues);
}

// The table's next protein with its segments; at its end, the counts of its
// rows and proteins must be those its header records, so that a shard cut
// at a line boundary is refused.
void Advance(Table& table, const InputRanks& ranks,
             const std::vector<talvo::ResidueClass>& classes) {
  if (!table.line_pending && !ReadLine(table, table.line)) {
    if (table.rows_read != table.header.rows || table.proteins_read != table.header.proteins) {
      throw talvo::Error(table.path + ": " + std::to_string(table.rows_read) + " rows and " +
                         std::to_string(table.proteins_read) +
                         " proteins where its header records " + std::to_string(table.header.rows) +
                         " and " + std::to_string(table.header.proteins) +
                         ": the shard is incomplete (cut short, or its run failed)");
    }
    table.at_protein = false;
    return;
  }
  if (!table.line.starts_with("#")) Refuse(table, "a row before its protein line");
  TakeProtein(table, ranks);
  table.line_pending = false;
  while (ReadLine(table, table.line)) {
    if (table.line.starts_with("#")) {
      table.line_pending = true;
      return;
    }
    TakeRow(table, classes);
  }
}

// A shard table: its '#' header lines, then the column header (with a class
// column for --discover).
void OpenTable(Table& table, size_t class_count) {
  table.results.resize(std::max<size_t>(class_count, 1));
  table.file = fopen(table.path.c_str(), "r");
  if (table.file == nullptr) ThrowSystemError("cannot open " + table.path);
  std::string line;
  bool read = ReadLine(table, line);
  for (; read && line.starts_with("#"); read = ReadLine(table, line)) {
    try {
      ReadShardHeaderLine(line, table.header);
    } catch (const talvo::Error& e) {
      Refuse(table, e.what());
    }
  }
  if (!read || (line + "\n" != kSegmentRowHeader && line + "\n" != SegmentRowHeader(true))) {
    throw talvo::Error(table.path + ": not a talvo-proteome TSV table");
  }
  if (table.line_number == 1 || !IsCompleteShardHeader(table.header)) {
    throw talvo::Error(table.path +
                       ": not a shard table (the shards of a run are made with --shard I/N --all)");
  }
  if ((line + "\n" == kSegmentRowHeader) != table.header.classes.empty()) {
    throw talvo::Error(table.path + ": a class column without the class set, or the other way");
  }
  if (table.header.rows < 0 || table.header.proteins < 0) {
    throw talvo::Error(table.path +
                       ": a shard table of an earlier talvo-proteome, without the counts, "
                       "fingerprints and protein lines that the merge needs; run the shards again "
                       "with this one");
  }
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
      if (other->second == table) throw talvo::Error(table->path + " lists " + input + " twice");
      throw talvo::Error("shards of different input lists: " + other->second->path + " has " +
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
      if (mine.empty()) throw talvo::Error(table.path + ": no fingerprint of the input " + name);
      const Table& other = *first.try_emplace(name, &table).first->second;
      const Fingerprints& theirs = FingerprintsOf(other.header, input);
      bool compared = false;
      for (const auto& [kind, value] : mine) {
        const auto same_kind = theirs.find(kind);
        if (same_kind == theirs.end() || kind == kPartFingerprint) continue;
        compared = true;
        if (same_kind->second != value) {
          throw talvo::Error("the input " + name +
                             " changed between the shard jobs: " + other.path + " read " +
                             FingerprintText(kind, same_kind->second) + ", " + table.path +
                             " read " + FingerprintText(kind, value) + "; run its shards again");
        }
      }
      if (!compared) {
        throw talvo::Error(other.path + " and " + table.path + " fingerprint " + name +
                           " in different ways and cannot be compared");
      }
    }
  }
}

// The parts that indexed shards read of an input follow one another, from
// its first entry on; all of its shards used the index, or none.
void CheckParts(std::vector<Table>& tables) {
  std::map<std::string, std::map<long, const PartFields*>> parts;  // by input, by shard
  std::map<std::string, const Table*> whole;                       // a table that read it whole
  for (Table& table : tables) {
    table.parts.resize(table.header.inputs.size());
    for (size_t input = 0; input < table.parts.size(); input++) {
      const std::string& name = table.header.inputs[input];
      const Fingerprints& mine = FingerprintsOf(table.header, input);
      const auto part = mine.find(kPartFingerprint);
      if (part == mine.end()) {
        whole.emplace(name, &table);
        continue;
      }
      table.parts[input].emplace();
      if (!ReadPartFingerprint(part->second, *table.parts[input])) {
        throw talvo::Error(table.path + ": not a fingerprint of a part: " + part->second);
      }
      parts[name][table.header.index] = &*table.parts[input];
    }
  }
  for (const auto& [name, by_shard] : parts) {
    if (whole.count(name) != 0) {
      throw talvo::Error("shards of " + name + " read with and without its index: " +
                         whole[name]->path + " read all of it");
    }
    long next_entry = 1;
    unsigned long long next_byte = 0;
    for (const auto& [shard, part] : by_shard) {
      if (part->first_entry != next_entry || (part->entries > 0 && part->begin != next_byte)) {
        throw talvo::Error("the parts of " + name +
                           " that its shards read do not follow one "
                           "another at shard " +
                           std::to_string(shard) + " (different indexes?)");
      }
      next_entry += part->entries;
      if (part->entries > 0) next_byte = part->begin + part->bytes;
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
void CheckShards(std::vector<Table>& tables, const talvo::Settings& settings,
                 const std::vector<std::string>& classes) {
  const std::string version = talvo::Version();
  const std::string options = AnalysisOptionsText(settings);
  const Table& first = tables.front();
  Runs runs;
  for (const Table& table : tables) {
    const ShardHeader& header = table.header;
    if (header.version != version) {
      throw talvo::Error(table.path + ": written by talvo-proteome " + header.version +
                         "; this is " + version);
    }
    if (!header.all_segments) {
      throw talvo::Error(table.path + ": " + ShardName(header) +
                         " was run without --all; the merge needs every segment");
    }
    if (header.options != first.header.options || header.seed != first.header.seed ||
        header.classes != first.header.classes) {
      throw talvo::Error(
          "shards of different analyses: " + first.path + " has '" + first.header.options + "'" +
          (first.header.seed.empty() ? "" : " seed " + first.header.seed) + ", " + table.path +
          " has '" + header.options + "'" + (header.seed.empty() ? "" : " seed " + header.seed));
    }
    std::vector<const Table*>& run = runs[header.inputs];
    for (const Table* other : run) {
      if (other->header.count != header.count) {
        throw talvo::Error("shards of different splits: " + other->path + " is " +
                           ShardName(other->header) + ", " + table.path + " is " +
                           ShardName(header));
      }
      if (other->header.index == header.index) {
        throw talvo::Error(other->path + " and " + table.path + " are both " + ShardName(header));
      }
    }
    run.push_back(&table);
  }
  CheckInputLists(runs);
  if (first.header.classes != classes) {
    throw talvo::Error(first.header.classes.empty() ? "the shards were run without --discover"
                       : classes.empty()
                           ? "the shards were run with --discover: give --merge --discover, "
                             "and their --classes"
                           : "the shards were run with other classes (or linkage) than "
                             "--merge was given: give --merge the shards' --classes and "
                             "TALVO options");
  }
  if (first.header.options != options) {
    throw talvo::Error("the shards were run with '" + first.header.options +
                       "' but --merge was given '" + options +
                       "': give --merge the TALVO options of the shards");
  }
  for (const auto& [inputs, run] : runs) {
    if (static_cast<long>(run.size()) == run.front()->header.count) continue;
    std::vector<bool> present(run.front()->header.count);
    for (const Table* table : run) present[table->header.index] = true;
    ShardHeader missing = run.front()->header;
    missing.index = std::find(present.begin(), present.end(), false) - present.begin();
    throw talvo::Error(ShardName(missing) + " is missing (" + std::to_string(run.size()) + " of " +
                       std::to_string(missing.count) + " shards given)");
  }
  CheckParts(tables);
  CheckFingerprints(tables);
}

// Hands every protein of every table to the writer in input order: a k-way
// merge on (input, entry), every entry of every input once.
// With a mask, each protein is analysed for it as a run analyses it: the
// tables hold only their own segments.
void WriteInOrder(std::vector<Table>& tables, const ProteomeOptions& run, const InputRanks& ranks,
                  const talvo::Discovery* mask, double mask_below, ProteomeWriter& writer) {
  talvo::Workspace workspace;
  std::vector<talvo::Result> mask_results;
  internal::DiscoveryReport mask_report;
  const std::vector<std::string>& inputs = run.inputs;
  for (Table& table : tables) Advance(table, ranks, run.classes);
  const auto later = [&tables](size_t a, size_t b) {
    return std::pair(KeyOf(tables[a]), a) > std::pair(KeyOf(tables[b]), b);
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> heads(later);
  for (size_t i = 0; i < tables.size(); i++) {
    if (tables[i].at_protein) heads.push(i);
  }
  std::vector<long> next_entry(inputs.size(), 1);  // by rank
  while (!heads.empty()) {
    const size_t index = heads.top();
    heads.pop();
    Table& table = tables[index];
    long& next = next_entry[table.input_rank];
    if (table.entry.number < next) Refuse(table, "the same protein is in two tables");
    if (table.entry.number > next) {
      Refuse(table, "entry " + std::to_string(next) + " of " + table.input +
                        " is in no table where it belongs (a shard lost it, or holds it out of "
                        "order)");
    }
    next++;
    writer.Add(table.input_rank, table.entry, table.results);
    if (mask != nullptr) {
      AnalyseMask(*mask, mask_below, table.entry, workspace, mask_results, mask_report);
      writer.AddMask(table.entry, mask_results, mask_report.tally);
    }
    Advance(table, ranks, run.classes);
    if (table.at_protein) heads.push(index);
  }
  for (size_t rank = 0; rank < inputs.size(); rank++) {
    if (next_entry[rank] == 1) throw talvo::Error("no table holds a protein of " + inputs[rank]);
  }
}

bool ParseSeed(const std::string& text, uint64_t& seed) {
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, seed);
  return error == std::errc() && end == last;
}

}  // namespace

void MergeTables(const ProteomeOptions& options, const talvo::Settings& settings,
                 const std::vector<talvo::Settings>& class_settings) {
  std::vector<Table> tables(options.inputs.size());
  for (size_t i = 0; i < tables.size(); i++) {
    tables[i].path = options.inputs[i];
    OpenTable(tables[i], options.classes.size());
  }
  std::vector<std::string> classes;
  for (size_t c = 0; c < options.classes.size(); c++) {
    classes.push_back(ClassText(options.classes[c], class_settings.at(c)));
  }
  CheckShards(tables, settings, classes);
  const InputRanks ranks = RankInputs(tables);
  ProteomeOptions run = options;
  run.inputs.resize(ranks.size());
  for (const auto& [input, rank] : ranks) run.inputs[rank] = input;
  // The mask's random sequences take the shards' seed, as the shards' did.
  talvo::Settings mask_settings = settings;
  const std::string& seed = tables.front().header.seed;
  if (!seed.empty() && !ParseSeed(seed, mask_settings.seed)) {
    throw talvo::Error(tables.front().path + ": the seed '" + seed + "' is not a number");
  }
  const std::optional<talvo::Discovery> mask =
      options.classes.empty() ? std::nullopt : MaskDiscovery(run, mask_settings, class_settings);
  ProteomeWriter writer(run, settings, mask.has_value());
  writer.SetClassSettings(class_settings);
  WriteInOrder(tables, run, ranks, mask ? &*mask : nullptr, settings.mask_p, writer);
  writer.Finish();
  long rows = 0;
  for (const Table& table : tables) rows += table.rows_read;
  fprintf(stderr, "%ld rows merged from %zu tables\n", rows, tables.size());
}

}  // namespace talvo::proteome

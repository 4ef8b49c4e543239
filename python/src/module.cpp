// The compiled part of the Python package: talvo::Analyser, talvo::Discovery
// and the ordered proteome pipeline, with the interpreter lock released
// while C++ works.
// The package's Python layer (talvo/__init__.py) gives the documented API.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "api/internal.h"
#include "fasta/residues.h"
#include "proteome/formats.h"
#include "proteome/ordered_pipeline.h"
#include "proteome/pipeline.h"
#include "proteome/segment_row.h"
#include "proteome/table_columns.h"
#include "talvo/proteome.h"
#include "talvo/talvo.h"

namespace py = pybind11;

namespace {

using namespace talvo::proteome;

// Segment and Overall are named tuples of talvo._records, made here from
// the C++ records; the module keeps the classes as attributes.
py::handle segment_class;
py::handle overall_class;

py::tuple SegmentFields(const talvo::Segment& s) {
  return py::make_tuple(s.start, s.end, s.length, s.special, s.p_value, s.residues);
}

py::tuple OverallFields(const talvo::Overall& o) {
  return py::make_tuple(o.special, o.expected, std::string(1, o.direction), o.exact_tail);
}

// One protein's result with what its methods need: the residues analysed
// and the settings that shaped it.
struct PyResult {
  talvo::Result result;
  std::string residues;
  double mask_p = 0.05;
  uint64_t seed = 0;
  long entry_number = 1;
  py::object segments;  // the Python tuple, made on first use
};

// An input that cannot be read; OSError in Python.
struct InputError {
  std::string text;
};

// The reader's warnings about an input (it looks like nucleotides, ...),
// gathered on its thread until Python can take them.
class Warnings {
 public:
  std::function<void(const std::string&)> Collector() {
    return [this](const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      texts_.push_back(text);
    };
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(texts_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> texts_;
};

PyResult Analyse(const talvo::Settings& settings, std::string_view text, long entry_number) {
  PyResult out;
  std::string kept;
  out.residues.assign(talvo::KeptResidues(text, kept));
  out.mask_p = settings.mask_p;
  out.seed = settings.seed;
  out.entry_number = entry_number;
  {
    py::gil_scoped_release release;
    const talvo::Analyser analyser(settings);
    out.result = analyser.Analyse(out.residues, entry_number);
  }
  if (out.result.skip == talvo::Skip::kShorterThanWindow) {
    throw talvo::Error("window=" + std::to_string(settings.window) +
                       " is longer than the sequence (" + std::to_string(out.result.length) +
                       " residues)");
  }
  if (out.result.skip != talvo::Skip::kNone) {
    throw talvo::Error(std::string("cannot analyse the sequence: ") +
                       talvo::SkipText(out.result.skip));
  }
  return out;
}

// A discovery's class set as (name, letters) pairs, and back.
using ClassPairs = std::vector<std::pair<std::string, std::string>>;

ClassPairs PairsOf(const std::vector<talvo::ResidueClass>& classes) {
  ClassPairs pairs;
  for (const talvo::ResidueClass& c : classes) pairs.emplace_back(c.name, c.letters);
  return pairs;
}

// classes: the built-in set when None. Each class gets its own linkage
// distance unless per_class_linkage is false (linkage or estimate_linkage given).
talvo::Discovery MakeDiscovery(const talvo::Settings& settings,
                               const std::optional<ClassPairs>& classes, bool per_class_linkage) {
  std::vector<talvo::ResidueClass> set = talvo::BuiltInClasses();
  if (classes) {
    set.clear();
    for (const auto& [name, letters] : *classes) set.push_back({name, letters});
  }
  return talvo::Discovery(
      settings, std::move(set),
      per_class_linkage ? talvo::ClassLinkage::kPerClass : talvo::ClassLinkage::kFromSettings);
}

// Every class's result for one protein, in the order of the class set.
std::vector<PyResult> Discover(const talvo::Discovery& discovery, std::string_view text,
                               long entry_number) {
  std::string kept;
  const std::string residues(talvo::KeptResidues(text, kept));
  std::vector<talvo::Result> results;
  {
    py::gil_scoped_release release;
    results = discovery.Analyse(residues, entry_number);
  }
  const talvo::Skip skip = results.front().skip;
  if (skip == talvo::Skip::kShorterThanWindow) {
    throw talvo::Error("window=" + std::to_string(discovery.settings().window) +
                       " is longer than the sequence (" + std::to_string(results.front().length) +
                       " residues)");
  }
  if (skip != talvo::Skip::kNone) {
    throw talvo::Error(std::string("cannot analyse the sequence: ") + talvo::SkipText(skip));
  }
  std::vector<PyResult> out(results.size());
  for (size_t c = 0; c < results.size(); c++) {
    out[c].result = std::move(results[c]);
    out[c].residues = residues;
    out[c].mask_p = discovery.settings().mask_p;
    out[c].seed = discovery.settings().seed;
    out[c].entry_number = entry_number;
  }
  return out;
}

// The discovery that finds the segments of discovery's mask at linkage
// distance mask_linkage; none when its classes are found at that distance.
std::optional<talvo::Discovery> MaskOf(const talvo::Discovery& discovery, int mask_linkage) {
  ProteomeOptions options;
  options.masked = "-";  // asked for
  options.mask_linkage = mask_linkage;
  options.classes = discovery.classes();
  std::vector<talvo::Settings> class_settings;
  for (size_t c = 0; c < discovery.classes().size(); c++) {
    class_settings.push_back(discovery.class_settings(c));
  }
  return MaskDiscovery(options, discovery.settings(), class_settings);
}

// A discovery's mask of one protein, as talvo-proteome --discover --masked
// writes it for a file of that protein alone: the (start, end) of the
// classes' segments at linkage distance mask_linkage whose q-value, over
// every one of those segments, is below mask_p.
std::vector<std::pair<int, int>> MaskSpans(const talvo::Discovery& discovery, std::string_view text,
                                           long entry_number, int mask_linkage) {
  if (mask_linkage < 0) throw talvo::Error("the mask's linkage distance must be at least 0");
  std::string kept;
  const std::string residues(talvo::KeptResidues(text, kept));
  py::gil_scoped_release release;
  const std::optional<talvo::Discovery> mask = MaskOf(discovery, mask_linkage);
  const std::vector<talvo::Result> results =
      (mask ? *mask : discovery).Analyse(residues, entry_number);
  std::vector<double> p_values;
  for (const talvo::Result& r : results) {
    for (const talvo::Segment& s : r.segments) p_values.push_back(s.p_value);
  }
  const std::vector<double> q_values = talvo::QValuesOf(p_values);
  std::vector<std::pair<int, int>> spans;
  size_t i = 0;
  for (const talvo::Result& r : results) {
    for (const talvo::Segment& s : r.segments) {
      if (q_values[i++] < discovery.settings().mask_p) spans.emplace_back(s.start, s.end);
    }
  }
  return spans;
}

// The ID talvo-proteome writes for the entry.
std::string EntryId(const ProteinEntry& entry) {
  return ProteinId(entry.header, entry.number);
}

PyResult FromEntry(AnalysedEntry& entry, const talvo::Settings& settings) {
  PyResult out;
  out.result = std::move(entry.result);
  out.residues = std::move(entry.entry.residues);
  out.mask_p = settings.mask_p;
  out.seed = settings.seed;
  out.entry_number = entry.entry.number;
  return out;
}

constexpr auto kPoll = std::chrono::milliseconds(100);

// Ends a pipeline without the interpreter lock: its reader may be waiting
// for a Python thread that feeds it an input.
void EndPipeline(std::unique_ptr<OrderedPipeline>& pipeline) {
  py::gil_scoped_release release;
  pipeline.reset();
}

// The next batch of the pipeline into batch; false at the end. Waits
// without the interpreter lock, checking for Ctrl-C (any pending signal)
// now and then, and calling tick() with the lock; what either raises ends
// the wait. An input's error is thrown as InputError.
bool PullBatch(OrderedPipeline& pipeline, std::vector<AnalysedEntry>& batch,
               const std::function<void(std::vector<AnalysedEntry>&)>& take,
               const std::function<void()>& tick) {
  for (;;) {
    OrderedPipeline::Pulled pulled;
    try {
      py::gil_scoped_release release;
      pulled = pipeline.Next(batch, kPoll);
      if (pulled == OrderedPipeline::Pulled::kBatch && take) take(batch);
    } catch (const talvo::Error& e) {
      throw InputError{e.what()};
    }
    if (pulled != OrderedPipeline::Pulled::kWaiting)
      return pulled == OrderedPipeline::Pulled::kBatch;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    if (tick) tick();
  }
}

// analyse_file's entries, pulled from the ordered pipeline one batch at a
// time and handed to Python one entry at a time.
class EntryIterator {
 public:
  // warn(text) is called, on the consuming thread, with each of the
  // reader's warnings before the entries that follow it.
  EntryIterator(const std::string& path, const talvo::Settings& settings, int threads,
                py::object warn)
      : settings_(settings), warn_(std::move(warn)) {
    OrderedInputs inputs;
    inputs.paths = {path};
    inputs.warn = warnings_.Collector();
    pipeline_ = std::make_unique<OrderedPipeline>(inputs, talvo::Analyser(settings), threads);
  }
  ~EntryIterator() { Close(); }
  EntryIterator(const EntryIterator&) = delete;
  EntryIterator& operator=(const EntryIterator&) = delete;

  py::tuple Next() {
    std::string error;
    bool more = next_ < current_.size();
    if (!more && pipeline_) {
      try {
        while ((more = PullBatch(*pipeline_, current_, nullptr, nullptr)) && current_.empty()) {
        }
      } catch (const InputError& e) {
        error = e.text;
      }
      next_ = 0;
    }
    for (const std::string& text : warnings_.Take()) warn_(text);
    if (!more) {
      Close();
      if (!error.empty()) throw InputError{error};
      throw py::stop_iteration();
    }
    AnalysedEntry& entry = current_[next_++];
    const long number = entry.entry.number;
    const std::string id = EntryId(entry.entry);
    return py::make_tuple(number, py::str(id), FromEntry(entry, settings_));
  }

  // Stops the pipeline and waits for its threads; the entries not yet taken
  // are dropped and iteration ends.
  void Close() {
    if (pipeline_) EndPipeline(pipeline_);
    current_.clear();
    next_ = 0;
  }

 private:
  talvo::Settings settings_;
  py::object warn_;
  Warnings warnings_;
  std::unique_ptr<OrderedPipeline> pipeline_;
  std::vector<AnalysedEntry> current_;
  size_t next_ = 0;
};

// What the tables are made of, asked for by proteome_table and
// summary_table.
struct TableRequest {
  std::vector<std::string> paths;  // opened by the reader
  std::vector<std::string> names;  // in the input column
  int threads = 1;
  bool all_segments = false;
  bool segments = true;
  bool summary = false;
  bool description = false;
  // A Discovery: every class of its set; None: the settings' analysis.
  py::object discovery = py::none();
};

const talvo::Discovery* DiscoveryOf(const TableRequest& request) {
  return request.discovery.is_none() ? nullptr : request.discovery.cast<const talvo::Discovery*>();
}

// What the pipeline does with each entry: a discovery keeps only the
// segments a table reports (all of them with all_segments) and counts the rest.
Analysis AnalysisOf(const TableRequest& request, const talvo::Settings& settings, double below) {
  if (const talvo::Discovery* discovery = DiscoveryOf(request)) {
    return Analysis::Owning(*discovery, below);
  }
  return Analysis::Owning(talvo::Analyser(settings));
}

// Python text of bytes as the table holds them: UTF-8, other bytes kept
// as surrogates (as pandas reads a table with errors="surrogateescape").
PyObject* Text(std::string_view bytes) {
  PyObject* text =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
  if (text == nullptr) throw py::error_already_set();
  return text;
}

// An object array whose element i is objects[index(i)], each a new reference.
py::array ObjectColumn(size_t size, const std::vector<py::object>& objects,
                       const std::function<size_t(size_t)>& index) {
  const std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(size)};
  py::array column(py::dtype("object"), shape);
  auto** cells = static_cast<PyObject**>(column.mutable_data());
  for (size_t i = 0; i < size; i++) {
    PyObject* object = objects[index(i)].ptr();
    Py_INCREF(object);
    Py_XSETREF(cells[i], object);
  }
  return column;
}

std::vector<py::object> Texts(const TextColumn& column) {
  std::vector<py::object> texts;
  texts.reserve(column.size());
  for (size_t i = 0; i < column.size(); i++)
    texts.push_back(py::reinterpret_steal<py::object>(Text(column[i])));
  return texts;
}

template <class Number>
py::array NumberColumn(const std::vector<Number>& values) {
  return py::array_t<Number>(static_cast<py::ssize_t>(values.size()), values.data());
}

// The columns every row takes from its protein; row_protein(i) is the
// protein of row i.
void AddProteinColumns(py::dict& table, const ProteinColumns& proteins, size_t rows,
                       const std::vector<py::object>& input_names,
                       const std::function<size_t(size_t)>& row_protein,
                       const std::vector<uint32_t>& class_index,
                       const talvo::Discovery* discovery) {
  std::vector<int64_t> entry(rows), length(rows);
  for (size_t i = 0; i < rows; i++) {
    entry[i] = proteins.entry[row_protein(i)];
    length[i] = proteins.length[row_protein(i)];
  }
  table["input"] =
      ObjectColumn(rows, input_names, [&](size_t i) { return proteins.input[row_protein(i)]; });
  table["entry"] = NumberColumn(entry);
  table["id"] = ObjectColumn(rows, Texts(proteins.id), row_protein);
  if (discovery != nullptr) {
    std::vector<py::object> names;
    for (const talvo::ResidueClass& c : discovery->classes()) names.push_back(py::str(c.name));
    table["class"] = ObjectColumn(rows, names, [&](size_t i) { return class_index[i]; });
  }
  table["length"] = NumberColumn(length);
}

// The last column, when asked for.
void AddDescription(py::dict& table, const ProteinColumns& proteins, size_t rows,
                    const std::function<size_t(size_t)>& row_protein, bool wanted) {
  if (wanted) table["description"] = ObjectColumn(rows, Texts(proteins.description), row_protein);
}

// talvo-proteome's segment table as columns, in its order.
py::dict SegmentTable(const SegmentColumns& rows, const std::vector<py::object>& input_names,
                      const talvo::Discovery* discovery) {
  py::dict table;
  const size_t size = rows.segment.size();
  const auto protein = [&](size_t i) -> size_t { return rows.protein[i]; };
  AddProteinColumns(table, rows.proteins, size, input_names, protein, rows.class_index, discovery);
  table["segment"] = NumberColumn(rows.segment);
  table["start"] = NumberColumn(rows.start);
  table["end"] = NumberColumn(rows.end);
  table["seg_length"] = NumberColumn(rows.seg_length);
  table["special"] = NumberColumn(rows.special);
  table["p_value"] = NumberColumn(rows.p_value);
  table["q_value"] = NumberColumn(rows.q_value);
  std::vector<py::object> residues = Texts(rows.residues);
  table["residues"] = ObjectColumn(size, residues, [](size_t i) { return i; });
  AddDescription(table, rows.proteins, size, protein, rows.description());
  return table;
}

// The summary as columns: a skipped protein's numbers are NaN, and with
// any of them, the columns of counts are floating point, as when the table
// is read from its text.
py::dict SummaryTable(const SummaryColumns& rows, const std::vector<py::object>& input_names,
                      const talvo::Discovery* discovery) {
  py::dict table;
  const size_t size = rows.skip.size();
  const auto protein = [&](size_t i) -> size_t { return rows.protein[i]; };
  AddProteinColumns(table, rows.proteins, size, input_names, protein, rows.class_index, discovery);
  bool any_skipped = false;
  std::vector<double> special(size), expected(size), exact_tail(size), q_value(size);
  std::vector<py::object> words;  // "", "+", "-", then the reasons
  for (const char* word : {"", "+", "-"}) words.push_back(py::str(word));
  for (int skip = 0; skip < 5; skip++) {
    words.push_back(py::str(talvo::SkipText(static_cast<talvo::Skip>(skip))));
  }
  std::vector<size_t> direction(size), skipped(size);
  for (size_t i = 0; i < size; i++) {
    const bool analysed = rows.skip[i] == talvo::Skip::kNone;
    any_skipped = any_skipped || !analysed;
    const double none = std::numeric_limits<double>::quiet_NaN();
    special[i] = analysed ? static_cast<double>(rows.special[i]) : none;
    expected[i] = analysed ? rows.expected[i] : none;
    exact_tail[i] = analysed ? rows.exact_tail[i] : none;
    q_value[i] = analysed ? rows.q_value[i] : none;
    direction[i] = !analysed ? 0 : rows.direction[i] == '+' ? 1 : 2;
    skipped[i] = analysed ? 0 : 3 + static_cast<size_t>(rows.skip[i]);
  }
  if (any_skipped) {
    table["special"] = NumberColumn(special);
    table["expected"] = NumberColumn(expected);
  } else {
    table["special"] = NumberColumn(rows.special);
    table["expected"] =
        NumberColumn(std::vector<int64_t>(rows.expected.begin(), rows.expected.end()));
  }
  table["direction"] = ObjectColumn(size, words, [&](size_t i) { return direction[i]; });
  table["exact_tail"] = NumberColumn(exact_tail);
  table["q_value"] = NumberColumn(q_value);
  table["skipped"] = ObjectColumn(size, words, [&](size_t i) { return skipped[i]; });
  AddDescription(table, rows.proteins, size, protein, rows.description());
  return table;
}

// What a run of the inputs gives beside its outputs.
struct RunCounts {
  long entries = 0;
  long analysed = 0;
  std::vector<std::tuple<std::string, long, std::string, std::string>> skipped;
};

const talvo::Result& FirstResult(const AnalysedEntry& item) {
  return item.discovery_report ? item.classes.front() : item.result;
}

// Every entry of the request's inputs through `analysis`, each handed to
// add (without the interpreter lock) in input order; progress(entries) is
// called now and then, and at the end.
void RunInputs(const TableRequest& request, const Analysis& analysis, Warnings& warnings,
               const py::object& progress, RunCounts& counts,
               const std::function<void(const AnalysedEntry&)>& add) {
  OrderedInputs inputs;
  inputs.paths = request.paths;
  inputs.warn = warnings.Collector();
  const auto take = [&](std::vector<AnalysedEntry>& batch) {
    for (const AnalysedEntry& item : batch) {
      const talvo::Skip skip = FirstResult(item).skip;
      if (skip == talvo::Skip::kNone) {
        counts.analysed++;
      } else {
        counts.skipped.emplace_back(request.names[item.input], item.entry.number,
                                    EntryId(item.entry), talvo::SkipText(skip));
      }
      add(item);
    }
    counts.entries += static_cast<long>(batch.size());
  };
  auto last_tick = std::chrono::steady_clock::now();
  const auto tick = [&] {
    const auto now = std::chrono::steady_clock::now();
    if (progress.is_none() || now - last_tick < kPoll) return;
    last_tick = now;
    progress(counts.entries);
  };
  auto pipeline = std::make_unique<OrderedPipeline>(inputs, analysis, request.threads);
  try {
    std::vector<AnalysedEntry> batch;
    while (PullBatch(*pipeline, batch, take, tick)) tick();
  } catch (...) {
    EndPipeline(pipeline);
    throw;
  }
  EndPipeline(pipeline);
  if (!progress.is_none()) progress(counts.entries);
}

// talvo-proteome's tables of the inputs as columns, built from the
// analysed entries as they come.
py::tuple ProteomeTables(const TableRequest& request, const talvo::Settings& settings,
                         const py::object& progress) {
  Warnings warnings;
  RunCounts counts;
  SegmentColumns segments(Reporting{request.all_segments, settings.mask_p}, request.description);
  SummaryColumns summary(request.description);
  const double below = !request.segments ? 0.0 : request.all_segments ? 2.0 : settings.mask_p;
  RunInputs(request, AnalysisOf(request, settings, below), warnings, progress, counts,
            [&](const AnalysedEntry& item) {
              if (request.segments) segments.Add(item);
              if (request.summary) summary.Add(item);
            });
  std::vector<py::object> names;
  for (const std::string& name : request.names) {
    names.push_back(py::reinterpret_steal<py::object>(Text(EscapeField(name))));
  }
  py::object segment_table = py::none(), summary_table = py::none();
  if (request.segments) {
    segments.Finish();
    segment_table = SegmentTable(segments, names, DiscoveryOf(request));
  }
  if (request.summary) {
    summary.Finish();
    summary_table = SummaryTable(summary, names, DiscoveryOf(request));
  }
  return py::make_tuple(segment_table, summary_table, counts.analysed, counts.skipped,
                        warnings.Take());
}

// talvo-proteome's masked FASTA of the inputs (with --discover for a
// request's discovery), written to path, which appears only when the run
// succeeded.
py::tuple WriteMasked(const TableRequest& request, const talvo::Settings& settings,
                      const std::string& path, int mask_linkage, const py::object& progress) {
  talvo::OutputFiles files;
  files.masked = path;
  files.mask_linkage = mask_linkage;
  const talvo::Discovery* discovery = DiscoveryOf(request);
  std::unique_ptr<talvo::ProteomeOutputs> outputs;
  try {
    outputs = discovery != nullptr
                  ? std::make_unique<talvo::ProteomeOutputs>(files, request.paths, *discovery)
                  : std::make_unique<talvo::ProteomeOutputs>(files, request.paths, settings);
  } catch (const talvo::Error& e) {
    throw talvo::Error(std::string("path: ") + e.what());
  }
  Warnings warnings;
  RunCounts counts;
  // A discovery's mask is its own analysis at the mask's linkage distance,
  // unless the classes are found at that distance: then the reported
  // segments are masked by their q-values.
  std::optional<Analysis> analysis;
  if (discovery == nullptr) {
    analysis = Analysis::Owning(talvo::Analyser(settings));
  } else if (const std::optional<talvo::Discovery> mask = MaskOf(*discovery, mask_linkage)) {
    analysis = Analysis::Owning(*discovery, 0.0, &*mask, settings.mask_p);
  } else {
    analysis = Analysis::Owning(*discovery, settings.mask_p);
  }
  RunInputs(request, *analysis, warnings, progress, counts,
            [&](const AnalysedEntry& item) { outputs->Add(item); });
  outputs->Finish();
  return py::make_tuple(counts.analysed, counts.skipped, warnings.Take());
}

py::object OverallOf(const PyResult& r) {
  if (r.result.skip != talvo::Skip::kNone) return py::none();
  return overall_class(*OverallFields(r.result.overall));
}

py::tuple SegmentsOf(PyResult& r) {
  if (!r.segments) {
    py::tuple segments(r.result.segments.size());
    for (size_t i = 0; i < r.result.segments.size(); i++) {
      segments[i] = segment_class(*SegmentFields(r.result.segments[i]));
    }
    r.segments = std::move(segments);
  }
  return r.segments;
}

// A result pickles as its fields; the segments and the overall test as
// plain tuples.
py::tuple ResultState(const PyResult& r) {
  py::object overall = py::none();
  if (r.result.skip == talvo::Skip::kNone) overall = OverallFields(r.result.overall);
  py::list segments;
  for (const talvo::Segment& segment : r.result.segments) segments.append(SegmentFields(segment));
  return py::make_tuple(static_cast<int>(r.result.skip), r.result.length,
                        r.result.special_probability, r.result.linkage, segments, overall,
                        r.residues, r.mask_p, r.seed, r.entry_number);
}

PyResult ResultFromState(const py::tuple& state) {
  if (state.size() != 10) throw std::runtime_error("not the state of a talvo.Result");
  PyResult r;
  r.result.skip = static_cast<talvo::Skip>(state[0].cast<int>());
  r.result.length = state[1].cast<int>();
  r.result.special_probability = state[2].cast<double>();
  r.result.linkage = state[3].cast<int>();
  for (py::handle item : state[4]) {
    const auto [start, end, length, special, p_value, residues] =
        item.cast<std::tuple<int, int, int, int, double, std::string>>();
    r.result.segments.push_back({start, end, length, special, p_value, residues});
  }
  if (!state[5].is_none()) {
    const auto [special, expected, direction, tail] =
        state[5].cast<std::tuple<int, double, std::string, double>>();
    r.result.overall = {special, expected, direction.at(0), tail};
  }
  r.residues = state[6].cast<std::string>();
  r.mask_p = state[7].cast<double>();
  r.seed = state[8].cast<uint64_t>();
  r.entry_number = state[9].cast<long>();
  return r;
}

py::object SkipOf(const PyResult& r) {
  if (r.result.skip == talvo::Skip::kNone) return py::none();
  return py::str(talvo::SkipText(r.result.skip));
}

void BindResults(py::module_& m) {
  const py::module_ records = py::module_::import("talvo._records");
  m.attr("Segment") = records.attr("Segment");
  m.attr("Overall") = records.attr("Overall");
  segment_class = m.attr("Segment");
  overall_class = m.attr("Overall");
  py::class_<PyResult>(m, "Result", "One protein's analysis.")
      .def_property_readonly("length", [](const PyResult& r) { return r.result.length; })
      .def_property_readonly("segments", &SegmentsOf,
                             "The segments, in sequence order (every one, whatever its p-value).")
      .def_property_readonly("overall", &OverallOf, "None when the entry was skipped.")
      .def_property_readonly("skip", &SkipOf, "Why the entry was skipped, or None.")
      .def_property_readonly(
          "sequence", [](const PyResult& r) { return r.residues; },
          "The residues analysed: upper case, positions as in segments.")
      .def_property_readonly("special_probability",
                             [](const PyResult& r) { return r.result.special_probability; })
      .def_property_readonly("linkage", [](const PyResult& r) { return r.result.linkage; })
      .def_readonly("seed", &PyResult::seed, "The run seed of the random sequences.")
      .def_readonly("mask_p", &PyResult::mask_p, "The threshold of masked().")
      .def_readonly("entry_number", &PyResult::entry_number)
      .def(
          "masked",
          [](const PyResult& r, bool lower) {
            return talvo::Masked(r.residues, r.result, r.mask_p, lower);
          },
          py::arg("lower") = false,
          "The sequence with every segment below mask_p as X, or in lower case.")
      .def("__repr__",
           [](const PyResult& r) {
             std::string text = "Result(length=" + std::to_string(r.result.length);
             if (r.result.skip != talvo::Skip::kNone) {
               return text + ", skip='" + talvo::SkipText(r.result.skip) + "')";
             }
             return text + ", segments=" + std::to_string(r.result.segments.size()) + ")";
           })
      .def(py::pickle(&ResultState, &ResultFromState));
}

}  // namespace

PYBIND11_MODULE(_talvo, m) {
  m.doc() = "TALVO's analysis in C++; use the talvo package.";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const talvo::Error& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const InputError& e) {
      PyErr_SetString(PyExc_OSError, e.text.c_str());
    }
  });
  BindResults(m);
  py::class_<talvo::Settings>(m, "Settings")
      .def_readonly("seed", &talvo::Settings::seed)
      .def_readonly("mask_p", &talvo::Settings::mask_p);
  // The options as talvo-proteome's command line words ("-A:R", "--seed", "7").
  m.def("settings", &talvo::ProteomeSettings, py::arg("words"));
  // str or bytes alike.
  m.def("analyse", &Analyse, py::arg("settings"), py::arg("sequence"), py::arg("entry_number"));
  py::class_<EntryIterator>(m, "EntryIterator")
      .def(py::init<const std::string&, const talvo::Settings&, int, py::object>())
      .def("__iter__", [](EntryIterator& it) -> EntryIterator& { return it; })
      .def("__next__", &EntryIterator::Next)
      .def("close", &EntryIterator::Close)
      .def("__enter__", [](EntryIterator& it) -> EntryIterator& { return it; })
      .def("__exit__", [](EntryIterator& it, const py::args&) { it.Close(); });
  py::class_<TableRequest>(m, "TableRequest")
      .def(py::init<>())
      .def_readwrite("paths", &TableRequest::paths)
      .def_readwrite("names", &TableRequest::names)
      .def_readwrite("threads", &TableRequest::threads)
      .def_readwrite("all_segments", &TableRequest::all_segments)
      .def_readwrite("segments", &TableRequest::segments)
      .def_readwrite("summary", &TableRequest::summary)
      .def_readwrite("description", &TableRequest::description)
      .def_readwrite("discovery", &TableRequest::discovery);
  m.def("proteome_tables", &ProteomeTables, py::arg("request"), py::arg("settings"),
        py::arg("progress"));
  m.def("write_masked", &WriteMasked, py::arg("request"), py::arg("settings"), py::arg("path"),
        py::arg("mask_linkage"), py::arg("progress"));
  py::class_<talvo::Discovery>(m, "Discovery")
      .def(py::init(&MakeDiscovery), py::arg("settings"), py::arg("classes"),
           py::arg("per_class_linkage"))
      .def_property_readonly("classes",
                             [](const talvo::Discovery& d) { return PairsOf(d.classes()); })
      .def("linkage",
           [](const talvo::Discovery& d, size_t c) {
             const talvo::Settings& s = d.class_settings(c);
             return s.estimate_linkage ? py::object(py::str("estimated"))
                                       : py::object(py::int_(s.linkage));
           })
      .def("probability", &talvo::Discovery::class_probability);
  m.def("mask_spans", &MaskSpans, py::arg("discovery"), py::arg("sequence"),
        py::arg("entry_number"), py::arg("mask_linkage"));
  m.def("q_values", &talvo::QValuesOf, py::arg("p_values"));
  m.def("discover", &Discover, py::arg("discovery"), py::arg("sequence"), py::arg("entry_number"));
  // A class file's text as (name, letters) pairs; source names it in errors.
  m.def(
      "read_classes",
      [](std::string_view text, const std::string& source) {
        return PairsOf(talvo::ReadClasses(text, source));
      },
      py::arg("text"), py::arg("source"));
  // What is wrong with a class's name or letters; "" when nothing is.
  m.def(
      "class_problem",
      [](const std::string& name, const std::string& letters) {
        std::string problem = talvo::internal::ClassNameProblem(name);
        return problem.empty() ? talvo::internal::ClassLettersProblem(letters) : problem;
      },
      py::arg("name"), py::arg("letters"));
  m.def("scan_pvalue", &talvo::ScanPValue, py::arg("k"), py::arg("w"), py::arg("n"), py::arg("p"),
        py::arg("fractional") = false);
  m.def("binomial_tail", &talvo::BinomialUpperTail, py::arg("k"), py::arg("n"), py::arg("p"));
  m.attr("__version__") = talvo::Version();
}

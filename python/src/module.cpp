// The compiled part of the Python package: talvo::Analyser and the ordered
// proteome pipeline, with the interpreter lock released while C++ works.
// The package's Python layer (talvo/__init__.py) gives the documented API.
#include <fcntl.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fasta/residues.h"
#include "proteome/formats.h"
#include "proteome/ordered_pipeline.h"
#include "proteome/proteome_writer.h"
#include "proteome/shortest_double.h"
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

talvo::Background ParseBackground(const std::string& name) {
  if (name == "sprot") return talvo::Background::kSprot;
  if (name == "pdb") return talvo::Background::kPdb;
  if (name == "input") return talvo::Background::kInput;
  throw talvo::Error("unknown background '" + name + "': sprot, pdb or input");
}

// The settings of the Python options; throws talvo::Error as the tools do.
talvo::Settings MakeSettings(const std::string& alphabet, const std::string& background, int window,
                             int linkage, bool estimate_linkage, int shuffles, int generated,
                             uint64_t seed, double min_p, double mask_p, bool fractional_windows,
                             bool exact_null) {
  talvo::Settings settings;
  settings.alphabet = alphabet;
  settings.background = ParseBackground(background);
  settings.window = window;
  settings.linkage = linkage;
  settings.estimate_linkage = estimate_linkage;
  if (shuffles < 0 || generated < 0) {
    throw talvo::Error("the number of random sequences must be at least 1");
  }
  if (shuffles > 0 && generated > 0) {
    throw talvo::Error("shuffled and generated sequences exclude each other");
  }
  if (shuffles > 0) {
    settings.random_null = talvo::RandomNull::kShuffled;
    settings.random_count = shuffles;
  } else if (generated > 0) {
    settings.random_null = talvo::RandomNull::kGenerated;
    settings.random_count = generated;
  }
  settings.exact_null = exact_null;
  settings.seed = seed;
  settings.min_p = min_p;
  settings.mask_p = mask_p;
  settings.fractional_windows = fractional_windows;
  talvo::Validate(settings);
  return settings;
}

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

// Runs the ordered pipeline on a thread of its own and hands its batches to
// Python one entry at a time. The queue is bounded, so a slow consumer
// holds the pipeline back instead of filling memory.
class EntryIterator {
 public:
  // warn(text) is called, on the consuming thread, with each of the
  // reader's warnings before the entries that follow it.
  EntryIterator(const std::string& path, const talvo::Settings& settings, int threads,
                py::object warn)
      : analyser_(settings), warn_(std::move(warn)) {
    inputs_.paths = {path};
    inputs_.warn = warnings_.Collector();
    thread_ = std::thread([this, threads] { Produce(threads); });
  }
  ~EntryIterator() { Close(); }
  EntryIterator(const EntryIterator&) = delete;
  EntryIterator& operator=(const EntryIterator&) = delete;

  py::tuple Next() {
    const bool more = next_ < current_.size() || TakeBatch();
    for (const std::string& text : warnings_.Take()) warn_(text);
    if (!more) {
      if (!error_.empty()) {
        const std::string error = std::move(error_);
        error_.clear();
        throw InputError{error};
      }
      throw py::stop_iteration();
    }
    AnalysedEntry& entry = current_[next_++];
    const long number = entry.entry.number;
    const std::string id = EntryId(entry.entry);
    return py::make_tuple(number, py::str(id), FromEntry(entry, analyser_.settings()));
  }

  // Stops the pipeline and waits for its thread; the entries not yet taken
  // are dropped and iteration ends.
  void Close() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      cancel_.store(true);
    }
    changed_.notify_all();
    {
      py::gil_scoped_release release;
      thread_.join();
    }
    queue_.clear();
    current_.clear();
    next_ = 0;
    pending_error_.clear();
  }

 private:
  static constexpr size_t kQueuedBatches = 4;

  void Produce(int threads) {
    const BatchSink sink = [this](std::vector<AnalysedEntry>& batch) {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || queue_.size() < kQueuedBatches; });
      if (stop_) return false;
      queue_.push_back(std::move(batch));
      changed_.notify_all();
      return true;
    };
    std::string error;
    try {
      RunOrdered(inputs_, analyser_, threads, PipelineTuning{}, sink, &cancel_);
    } catch (const std::exception& e) {
      error = e.what();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stop_) pending_error_ = error;
    finished_ = true;
    changed_.notify_all();
  }

  // The next batch into current_; false at the end. Waits without the
  // interpreter lock, checking for Ctrl-C now and then.
  bool TakeBatch() {
    for (;;) {
      {
        py::gil_scoped_release release;
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(100),
                          [&] { return !queue_.empty() || finished_; });
        if (!queue_.empty()) {
          current_ = std::move(queue_.front());
          queue_.pop_front();
          next_ = 0;
          changed_.notify_all();
          if (!current_.empty()) return true;
          continue;
        }
        if (finished_) {
          error_ = std::move(pending_error_);
          pending_error_.clear();
          return false;
        }
      }
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
  }

  talvo::Analyser analyser_;
  py::object warn_;
  Warnings warnings_;
  OrderedInputs inputs_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<AnalysedEntry>> queue_;
  bool stop_ = false;
  bool finished_ = false;
  std::string pending_error_;
  std::string error_;
  std::vector<AnalysedEntry> current_;
  size_t next_ = 0;
  std::atomic<bool> cancel_{false};
  std::thread thread_;
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
};

// What comes back: the tables and what came beside them.
struct TableRun {
  std::string segments;
  std::string summary;
  long analysed = 0;
  std::vector<std::tuple<std::string, long, std::string, std::string>> skipped;
  std::vector<std::string> warnings;
};

// Entries handed on so far, for the progress bar.
using EntryCount = std::atomic<long>;

// Everything written to a pipe, gathered in memory by a thread of its own:
// the table never touches the disk, so no interruption, not even SIGKILL,
// can leave a file behind.
class PipeCapture {
 public:
  PipeCapture() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      throw InputError{std::string("cannot create a pipe: ") + strerror(errno)};
    }
    read_end_ = ends[0];
    write_end_ = ends[1];
    reader_ = std::thread([this] { Drain(); });
  }
  ~PipeCapture() {
    Finish();
    close(read_end_);
  }
  PipeCapture(const PipeCapture&) = delete;
  PipeCapture& operator=(const PipeCapture&) = delete;

  // A name that opens the pipe for writing.
  std::string path() const { return "/dev/fd/" + std::to_string(write_end_); }
  // What was written, once every writer has closed its end.
  std::string& Finish() {
    if (write_end_ >= 0) close(write_end_);
    write_end_ = -1;
    if (reader_.joinable()) reader_.join();
    return text_;
  }

 private:
  void Drain() {
    char buffer[1 << 16];
    for (;;) {
      const ssize_t n = read(read_end_, buffer, sizeof buffer);
      if (n > 0) {
        text_.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        return;
      }
    }
  }

  int read_end_ = -1;
  int write_end_ = -1;
  std::string text_;
  std::thread reader_;
};

// talvo-proteome's tables for the inputs, written by talvo-proteome's own
// writer into memory.
TableRun WriteProteomeTables(const TableRequest& request, const talvo::Settings& settings,
                             const std::atomic<bool>& cancel, EntryCount& entries) {
  PipeCapture segments, summary;
  ProteomeOptions options;
  options.inputs = request.names;
  options.threads = request.threads;
  options.all_segments = request.all_segments;
  options.description = request.description;
  // Rows nobody asked for go where they cost least: BED keeps no spool.
  options.output = request.segments ? segments.path() : "/dev/null";
  if (!request.segments) options.format = OutputFormat::kBed;
  if (request.summary) options.summary = summary.path();
  const talvo::Analyser analyser(settings);
  TableRun run;
  Warnings warnings;
  OrderedInputs inputs;
  inputs.paths = request.paths;
  inputs.warn = warnings.Collector();
  try {
    // Closes its ends of the pipes when it goes, so that the captures end.
    ProteomeWriter writer(options, analyser.settings());
    const BatchSink sink = [&](std::vector<AnalysedEntry>& batch) {
      for (const AnalysedEntry& item : batch) {
        if (item.result.skip == talvo::Skip::kNone) {
          run.analysed++;
        } else {
          run.skipped.emplace_back(request.names[item.input], item.entry.number,
                                   EntryId(item.entry), talvo::SkipText(item.result.skip));
        }
        writer.Add(item.input, item.entry, item.result);
      }
      entries += static_cast<long>(batch.size());
      writer.EndBatch();
      return true;
    };
    RunOrdered(inputs, analyser, request.threads, PipelineTuning{}, sink, &cancel);
    if (!cancel.load()) writer.Finish();
  } catch (const talvo::Error& e) {
    throw InputError{e.what()};
  }
  run.segments = std::move(segments.Finish());
  run.summary = std::move(summary.Finish());
  run.warnings = warnings.Take();
  return run;
}

// Runs work on a thread of its own while the caller waits without the
// interpreter lock, so that Ctrl-C (any pending signal) cancels it.
// tick() is called every 100 ms, with the lock; what it raises cancels the
// work too.
template <class Result, class Work>
Result RunInterruptibly(Work work, const std::function<void()>& tick) {
  std::atomic<bool> cancel{false};
  std::future<Result> done = std::async(std::launch::async, [&] { return work(cancel); });
  for (;;) {
    {
      py::gil_scoped_release release;
      if (done.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready) break;
    }
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      tick();
    } catch (...) {
      cancel.store(true);
      {
        py::gil_scoped_release release;
        done.wait();
      }
      throw;
    }
  }
  return done.get();
}

// progress(entries) is called now and then while the tables are made, and
// at their end.
py::tuple ProteomeTables(const TableRequest& request, const talvo::Settings& settings,
                         const py::object& progress) {
  EntryCount entries{0};
  const auto tick = [&] {
    if (!progress.is_none()) progress(entries.load());
  };
  const TableRun run = RunInterruptibly<TableRun>(
      [&](const std::atomic<bool>& cancel) {
        return WriteProteomeTables(request, settings, cancel, entries);
      },
      tick);
  tick();
  const auto table = [](bool wanted, const std::string& text) -> py::object {
    if (!wanted) return py::none();
    return py::bytes(text);
  };
  return py::make_tuple(table(request.segments, run.segments), table(request.summary, run.summary),
                        run.analysed, run.skipped, run.warnings);
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
  py::class_<talvo::Settings>(m, "Settings");
  m.def("make_settings", &MakeSettings, py::arg("alphabet"), py::arg("background"),
        py::arg("window"), py::arg("linkage"), py::arg("estimate_linkage"), py::arg("shuffles"),
        py::arg("generated"), py::arg("seed"), py::arg("min_p"), py::arg("mask_p"),
        py::arg("fractional_windows"), py::arg("exact_null"));
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
      .def_readwrite("description", &TableRequest::description);
  m.def("proteome_tables", &ProteomeTables, py::arg("request"), py::arg("settings"),
        py::arg("progress"));
  m.def("scan_pvalue", &talvo::ScanPValue, py::arg("k"), py::arg("w"), py::arg("n"), py::arg("p"),
        py::arg("fractional") = false);
  m.def("binomial_tail", &talvo::BinomialUpperTail, py::arg("k"), py::arg("n"), py::arg("p"));
  m.attr("__version__") = talvo::Version();
}

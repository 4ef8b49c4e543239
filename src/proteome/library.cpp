// The proteome path as the library publishes it (talvo/proteome.h): thin
// layers over the reader, the ordered pipeline and talvo-proteome's writer,
// with every failure a talvo::Error and nothing printed.
#include <utility>

#include "proteome/fasta_stream.h"
#include "proteome/options.h"
#include "proteome/ordered_pipeline.h"
#include "proteome/output_files.h"
#include "proteome/pipeline.h"
#include "proteome/proteome_writer.h"
#include "talvo/proteome.h"

namespace talvo {

FastaReader::FastaReader(const std::string& path)
    : stream_(std::make_unique<proteome::FastaStream>()) {
  if (!stream_->Open(path)) throw Error(stream_->error());
}

FastaReader::~FastaReader() = default;

bool FastaReader::Next(ProteinEntry& entry) {
  if (stream_->Next(entry)) return true;
  if (!stream_->error().empty() || !stream_->Close()) throw Error(stream_->error());
  return false;
}

std::vector<std::string> FastaReader::TakeWarnings() {
  return stream_->TakeWarnings();
}

void AnalyseProteome(const ProteomeInputs& inputs, const Analyser& analyser, int threads,
                     const std::function<bool(std::vector<AnalysedEntry>& batch)>& sink) {
  if (threads < 1) throw Error("the analysis needs at least one thread");
  proteome::RunOrdered(proteome::OrderedInputs{inputs}, analyser, threads,
                       proteome::PipelineTuning{}, sink);
}

void AnalyseProteome(const ProteomeInputs& inputs, const Discovery& discovery, int threads,
                     const std::function<bool(std::vector<AnalysedEntry>& batch)>& sink) {
  if (threads < 1) throw Error("the analysis needs at least one thread");
  proteome::RunOrdered(proteome::OrderedInputs{inputs}, proteome::Analysis(discovery, 2.0), threads,
                       proteome::PipelineTuning{}, sink);
}

ProteomeBatches::ProteomeBatches(ProteomeInputs inputs, const Analyser& analyser, int threads)
    : pipeline_(std::make_unique<proteome::OrderedPipeline>(proteome::OrderedInputs{inputs},
                                                            analyser, threads)) {}

ProteomeBatches::ProteomeBatches(ProteomeInputs inputs, const Discovery& discovery, int threads)
    : pipeline_(std::make_unique<proteome::OrderedPipeline>(
          proteome::OrderedInputs{inputs}, proteome::Analysis::Owning(discovery, 2.0), threads)) {}

ProteomeBatches::~ProteomeBatches() = default;

bool ProteomeBatches::Next(std::vector<AnalysedEntry>& batch) {
  Pulled pulled;
  while ((pulled = Next(batch, std::chrono::hours(1))) == Pulled::kWaiting) {
  }
  return pulled == Pulled::kBatch;
}

ProteomeBatches::Pulled ProteomeBatches::Next(std::vector<AnalysedEntry>& batch,
                                              std::chrono::milliseconds wait) {
  return pipeline_->Next(batch, wait);
}

void ProteomeBatches::Cancel() {
  pipeline_->Cancel();
}

namespace {

// Only the writer's --output (the segment table, else the GFF3 output, else
// the BED output) can go to standard output; another "-" would be lost.
void CheckStandardOutputTakesOne(const OutputFiles& files) {
  const std::string* output = !files.tsv.empty()    ? &files.tsv
                              : !files.gff3.empty() ? &files.gff3
                                                    : &files.bed;
  for (const auto& [role, path] : {std::pair{"the GFF3 output", &files.gff3},
                                   {"the BED output", &files.bed},
                                   {"the summary", &files.summary},
                                   {"the masked FASTA", &files.masked}}) {
    if (*path == "-" && path != output) {
      throw Error(std::string(role) + " cannot go to standard output (-): only the first of " +
                  "the segment table, the GFF3 and the BED output can");
    }
  }
}

// The writer's options for the files asked for: the segment table is
// talvo-proteome's --output; without one, GFF3 or BED takes its place, and
// without any, rows that cost nothing go nowhere.
proteome::ProteomeOptions WriterOptions(const OutputFiles& files,
                                        std::vector<std::string> input_names) {
  CheckStandardOutputTakesOne(files);
  const auto file = [](const std::string& name) { return name == "-" ? std::string() : name; };
  proteome::ProteomeOptions options;
  options.inputs = std::move(input_names);
  options.all_segments = files.all_segments;
  options.description = files.description;
  options.summary = file(files.summary);
  options.masked = file(files.masked);
  options.gff3 = file(files.gff3);
  options.bed = file(files.bed);
  if (!files.tsv.empty()) {
    options.output = file(files.tsv);
  } else if (!files.gff3.empty()) {
    options.format = proteome::OutputFormat::kGff3;
    options.output = std::exchange(options.gff3, "");
  } else {
    options.format = proteome::OutputFormat::kBed;
    options.output = files.bed.empty() ? "/dev/null" : file(std::exchange(options.bed, ""));
  }
  return options;
}

void CheckOutputFiles(const proteome::ProteomeOptions& options) {
  std::vector<proteome::RunFile> outputs = {{"the segment table", options.output}};
  for (const auto& [role, path] : {std::pair{"the GFF3 output", &options.gff3},
                                   {"the BED output", &options.bed},
                                   {"the summary", &options.summary},
                                   {"the masked FASTA", &options.masked}}) {
    if (!path->empty()) outputs.push_back({role, *path});
  }
  std::vector<proteome::RunFile> inputs;
  for (const std::string& input : options.inputs) inputs.push_back({"an input", input});
  proteome::CheckSameFiles(outputs, inputs);
}

}  // namespace

ProteomeOutputs::ProteomeOutputs(const OutputFiles& files, std::vector<std::string> input_names,
                                 const Settings& settings)
    : options_(std::make_unique<proteome::ProteomeOptions>(
          WriterOptions(files, std::move(input_names)))),
      settings_(settings) {
  Validate(settings_);
  Open({});
}

ProteomeOutputs::ProteomeOutputs(const OutputFiles& files, std::vector<std::string> input_names,
                                 const Discovery& discovery)
    : options_(std::make_unique<proteome::ProteomeOptions>(
          WriterOptions(files, std::move(input_names)))),
      settings_(discovery.settings()) {
  if (files.mask_linkage < 0) throw Error("the mask's linkage distance must be at least 0");
  options_->classes = discovery.classes();
  options_->mask_linkage = files.mask_linkage;
  std::vector<Settings> class_settings;
  for (size_t c = 0; c < discovery.classes().size(); c++) {
    class_settings.push_back(discovery.class_settings(c));
  }
  if (auto mask = proteome::MaskDiscovery(*options_, settings_, class_settings)) {
    mask_ = std::make_unique<Discovery>(std::move(*mask));
  }
  Open(class_settings);
}

void ProteomeOutputs::Open(const std::vector<Settings>& class_settings) {
  CheckOutputFiles(*options_);
  writer_ = std::make_unique<proteome::ProteomeWriter>(*options_, settings_, mask_ != nullptr);
  if (!class_settings.empty()) writer_->SetClassSettings(class_settings);
}

ProteomeOutputs::~ProteomeOutputs() = default;

void ProteomeOutputs::Add(const AnalysedEntry& entry) {
  if (finished_) throw Error("an entry added after Finish");
  if (entry.input >= options_->inputs.size()) throw Error("an entry of an input without a name");
  const size_t classes = options_->classes.size();
  if (classes != 0 && entry.classes.size() != classes) {
    throw Error("an entry without a result for every class of the discovery");
  }
  const Result& first = classes != 0 ? entry.classes.front() : entry.result;
  if (classes != 0) {
    const internal::DiscoveryReport* report = entry.discovery_report.get();
    writer_->Add(entry.input, entry.entry, entry.classes, report);
    if (mask_ && report != nullptr && !report->mask_results.empty()) {
      writer_->AddMask(entry.entry, report->mask_results, report->mask_tally);
    } else if (mask_) {  // an entry analysed without the mask
      Workspace workspace;
      std::vector<Result> results;
      internal::DiscoveryReport own;
      proteome::AnalyseMask(*mask_, settings_.mask_p, entry.entry, workspace, results, own);
      writer_->AddMask(entry.entry, results, own.tally);
    }
  } else {
    writer_->Add(entry.input, entry.entry, entry.result);
  }
  if (first.skip == Skip::kNone) {
    analysed_++;
  } else {
    skipped_[static_cast<size_t>(first.skip)]++;
  }
}

void ProteomeOutputs::Finish() {
  if (finished_) throw Error("the outputs were finished already");
  finished_ = true;
  writer_->Finish();
}

}  // namespace talvo

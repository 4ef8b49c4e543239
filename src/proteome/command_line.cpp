#include "proteome/command_line.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "proteome/errors.h"
#include "proteome/input_check.h"
#include "proteome/merge.h"
#include "proteome/options.h"
#include "proteome/ordered_pipeline.h"
#include "proteome/output_files.h"
#include "proteome/pipeline.h"
#include "proteome/shard_table.h"
#include "proteome/shortest_double.h"
#include "talvo/talvo.h"

namespace talvo::proteome {

const char kProteomeHelp[] =
    "Usage: talvo-proteome [OPTION]... [TALVO OPTION]... FILE...\n"
    "Find compositionally biased segments in every protein of FASTA files (plain or\n"
    "gzip-compressed; - reads standard input), as TALVO finds them in one protein.\n"
    "\n"
    "TALVO options, in TALVO's syntax: -W:# -E:# -S:# -G:# -T -X -I -F -L -N -K\n"
    "  -A:string -P:# -M:#  (see TALVO's help; -F/-L choose the mask of --masked),\n"
    "  read strictly: a flag stands alone, a value follows a colon and is a whole\n"
    "  number in range (-W:0 or 2 up, -E:0 up, -S:1 up, -G:1 up), a threshold from\n"
    "  0 to 1 (-P, -M), or residue letters (-A)\n"
    "\n"
    "  --threads N      analysis threads (default: every core)\n"
    "  --output FILE    segments to FILE instead of standard output\n"
    "  --format F       of --output: tsv (default), gff3 or bed\n"
    "  --gff3 FILE      the segments also as GFF3 to FILE\n"
    "  --bed FILE       the segments also as BED to FILE\n"
    "  --summary FILE   one row per protein: its overall exact test and q-value, or\n"
    "                   why it was skipped\n"
    "  --masked FILE    masked FASTA of every entry (X, or lower case with -L)\n"
    "  --all            every segment, not only those with p below -M (0.05)\n"
    "  --description    a last column with each header's text after the ID (OS=,\n"
    "                   GN= ...) in the TSV table and the summary; not with --shard\n"
    "  --fractional-windows  scan p-values over N/w windows instead of N/w rounded\n"
    "                   up: closer to the true probability, not always above it\n"
    "  --exact-null     with -S or -G: each segment's exact probability that the\n"
    "                   longest segment of a random sequence of the protein's length\n"
    "                   is at least as long (-G: every position special with the\n"
    "                   background's P; -S: every arrangement of the protein's special\n"
    "                   residues equally likely); the count after -S:/-G: plays no part\n"
    "  --seed N         seed of the random sequences of -S/-G (default: from the clock)\n"
    "  --discover       which residues are biased: every protein for every class of\n"
    "                   a class set, each class as -A:<its letters> finds it (with\n"
    "                   its own linkage distance unless -E or -K gives one); a class\n"
    "                   column after the ID, q-values over every row of every class,\n"
    "                   --summary a row per protein and class, --masked the union of\n"
    "                   every class's segments at linkage distance 8 (--mask-linkage)\n"
    "                   whose q-value over all of them is below -M; not with -A\n"
    "  --mask-linkage N  linkage distance of the segments that --discover --masked\n"
    "                   masks (default 8, whatever -E or -K gives the tables)\n"
    "  --classes FILE   discovery's class set: a class per line, NAME<TAB>LETTERS\n"
    "                   (# starts a comment); default: the 20 residues and QN, RG,\n"
    "                   SR, basic, acidic, charged, ST, PEST, polar and GPSTDNH\n"
    "  --list-classes   print the class set with each class's letters, P and linkage\n"
    "                   distance (for the TALVO options given), and exit\n"
    "  --shard I/N      only entries whose (number - 1) mod N is I; with the index of\n"
    "                   samtools faidx beside an input (FILE.fai, FILE.gzi for bgzip),\n"
    "                   a contiguous I-th N-th of its entries, read alone\n"
    "  --merge          read the TSV tables of every shard of a run made with --all\n"
    "                   (FILE... are the tables) and write any of the outputs above\n"
    "                   as one run writes them (q-values over every protein and\n"
    "                   segment; rows below -M unless --all; masks by -M, -F/-L);\n"
    "                   give it the shards' TALVO options. It refuses shards that\n"
    "                   do not make one run: missing, repeated, cut short (row and\n"
    "                   protein counts), of another version, analysis or seed, an\n"
    "                   input changed between shards (fingerprints), impossible\n"
    "                   values, rows or proteins out of input order\n"
    "  --verbose        a line for every skipped entry (by default only their counts)\n"
    "  --progress       progress line on standard error (default when it is a terminal)\n"
    "  --no-progress    no progress line\n"
    "  --version        print the version and exit\n"
    "  --help           print this help and exit\n";

namespace {

struct ParsedCommand {
  ProteomeOptions options;
  std::vector<std::string> talvo_options;
  std::optional<uint64_t> seed;
  std::optional<bool> progress;
  bool fractional_windows = false;
  bool exact_null = false;
  bool help = false;
  bool version = false;
  bool merge = false;
  bool discover = false;
  bool list_classes = false;
  std::string classes_file;
  bool mask_linkage = false;  // --mask-linkage given
};

template <class Number>
bool ParseWhole(const std::string& text, Number& value) {
  const char* last = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), last, value);
  return ec == std::errc() && ptr == last && !text.empty();
}

bool ParseFormat(const std::string& text, OutputFormat& format) {
  if (text == "tsv") {
    format = OutputFormat::kTsv;
  } else if (text == "gff3") {
    format = OutputFormat::kGff3;
  } else if (text == "bed") {
    format = OutputFormat::kBed;
  } else {
    return false;
  }
  return true;
}

[[noreturn]] void Refuse(const std::string& message) {
  throw UsageError(message);
}

// The file of an output option.
std::string* OutputOf(const std::string& name, ProteomeOptions& options) {
  if (name == "output") return &options.output;
  if (name == "gff3") return &options.gff3;
  if (name == "bed") return &options.bed;
  if (name == "summary") return &options.summary;
  if (name == "masked") return &options.masked;
  return nullptr;
}

void ApplyValue(const std::string& name, const std::string& value, ParsedCommand& command) {
  ProteomeOptions& options = command.options;
  const std::string bad = "invalid value '" + value + "' for --" + name;
  if (std::string* file = OutputOf(name, options)) {
    if (value.empty()) Refuse("empty file name for --" + name);
    *file = value;
  } else if (name == "threads") {
    if (!ParseWhole(value, options.threads) || options.threads < 1 || options.threads > 1024) {
      Refuse(bad + " (a whole number from 1 to 1024)");
    }
  } else if (name == "format") {
    if (!ParseFormat(value, options.format)) Refuse(bad + " (tsv, gff3 or bed)");
  } else if (name == "seed") {
    uint64_t seed = 0;
    if (!ParseWhole(value, seed)) Refuse(bad + " (a whole number from 0 to 2^64-1)");
    command.seed = seed;
  } else if (name == "shard") {
    if (!ReadShard(value, options.shard_index, options.shard_count)) {
      Refuse(bad + " (I/N with N at least 1 and I from 0 to N-1)");
    }
    options.sharded = true;
  } else if (name == "mask-linkage") {
    if (!ParseWhole(value, options.mask_linkage) || options.mask_linkage < 0) {
      Refuse(bad + " (a whole number of at least 0)");
    }
    command.mask_linkage = true;
  } else if (name == "classes") {
    if (value.empty()) Refuse("empty file name for --classes");
    command.classes_file = value;
  }
}

void ApplyFlag(const std::string& name, ParsedCommand& command) {
  if (name == "all") {
    command.options.all_segments = true;
  } else if (name == "fractional-windows") {
    command.fractional_windows = true;
  } else if (name == "exact-null") {
    command.exact_null = true;
  } else if (name == "progress") {
    command.progress = true;
  } else if (name == "no-progress") {
    command.progress = false;
  } else if (name == "description") {
    command.options.description = true;
  } else if (name == "verbose") {
    command.options.verbose = true;
  } else if (name == "merge") {
    command.merge = true;
  } else if (name == "discover") {
    command.discover = true;
  } else if (name == "list-classes") {
    command.list_classes = true;
  } else if (name == "help") {
    command.help = true;
  } else if (name == "version") {
    command.version = true;
  } else {
    Refuse("unrecognized option '--" + name + "'");
  }
}

bool TakesValue(const std::string& name) {
  for (const char* option : {"threads", "format", "output", "gff3", "bed", "summary", "masked",
                             "seed", "shard", "classes", "mask-linkage"}) {
    if (name == option) return true;
  }
  return false;
}

void ParseLongOption(const std::string& arg, int& i, int argc, char** argv,
                     ParsedCommand& command) {
  const size_t equals = arg.find('=');
  const std::string name =
      arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
  if (!TakesValue(name)) {
    if (equals != std::string::npos) Refuse("option '--" + name + "' takes no value");
    return ApplyFlag(name, command);
  }
  if (equals != std::string::npos) return ApplyValue(name, arg.substr(equals + 1), command);
  if (i + 1 >= argc) Refuse("option '--" + name + "' needs a value");
  ApplyValue(name, argv[++i], command);
}

void ParseArguments(int argc, char** argv, ParsedCommand& command) {
  bool only_files = false;
  for (int i = 1; i < argc; i++) {
    const std::string arg = argv[i];
    if (only_files || arg == "-" || arg.empty() || arg[0] != '-') {
      command.options.inputs.push_back(arg);
    } else if (arg == "--") {
      only_files = true;
    } else if (arg.compare(0, 2, "--") == 0) {
      ParseLongOption(arg, i, argc, argv, command);
    } else {
      command.talvo_options.push_back(arg);
    }
  }
}

// The analysis options, in TALVO's syntax, with the proteome tool's own.
talvo::Settings ReadSettings(const ParsedCommand& command) {
  try {
    talvo::Settings settings = talvo::SettingsFromOptions(command.talvo_options);
    settings.fractional_windows = command.fractional_windows;
    settings.exact_null = command.exact_null;
    talvo::Validate(settings);
    return settings;
  } catch (const talvo::Error& e) {
    Refuse(e.what());
  }
}

uint64_t ClockSeed() {
  return static_cast<uint64_t>(time(nullptr)) * 1000003u ^ static_cast<uint64_t>(getpid());
}

// Before anything is read or created: no output may be an input or another
// output, standard output must take the rows when they go there, and (unless
// the inputs are tables, which the merge reads as it writes) every input must
// look like text that can be read.
void CheckFiles(const ProteomeOptions& options, const char* input_role, bool look_into_inputs) {
  std::vector<RunFile> outputs = {{"--output", options.output}};  // "": standard output
  for (const auto& [role, file] : {std::pair{"--gff3", &options.gff3},
                                   {"--bed", &options.bed},
                                   {"--summary", &options.summary},
                                   {"--masked", &options.masked}}) {
    if (!file->empty()) outputs.push_back({role, *file});
  }
  std::vector<RunFile> inputs;
  for (const std::string& input : options.inputs) inputs.push_back({input_role, input});
  if (options.output.empty()) CheckStandardOutput();
  CheckSameFiles(outputs, inputs);
  if (std::count(options.inputs.begin(), options.inputs.end(), "-") > 1) {
    throw talvo::Error("standard input (-) is given more than once: it can be read only once");
  }
  for (size_t i = 0; look_into_inputs && i < options.inputs.size(); i++) {
    CheckInput(options.inputs[i]);
  }
}

// The description column is for tables that are read as they are: shard
// tables are read by the merge, which has the headers from their protein
// lines; GFF3 and BED have no such column.
void CheckDescription(const ProteomeOptions& options) {
  if (!options.description) return;
  if (options.sharded) Refuse("--description is not for --shard (give it to --merge)");
  if (options.format != OutputFormat::kTsv && options.summary.empty()) {
    Refuse("--description adds a column to the TSV table and the summary, not to " +
           std::string(options.format == OutputFormat::kGff3 ? "gff3" : "bed"));
  }
}

// The letter of a TALVO option ("-E:6" gives 'E').
char OptionLetter(const std::string& arg) {
  return arg.size() >= 2 ? static_cast<char>(toupper(static_cast<unsigned char>(arg[1]))) : '\0';
}

bool GivesOption(const ParsedCommand& command, char letter) {
  return std::any_of(command.talvo_options.begin(), command.talvo_options.end(),
                     [letter](const std::string& arg) { return OptionLetter(arg) == letter; });
}

std::string ReadWholeFile(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) ThrowSystemError("cannot open " + path);
  std::string text;
  char buffer[1 << 14];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  const bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) ThrowSystemError("error reading " + path);
  return text;
}

// Discovery's class set and how each class gets its linkage distance: its
// own, unless -E or -K gives every class one.
struct ClassSet {
  std::vector<talvo::ResidueClass> classes;
  talvo::ClassLinkage linkage;
  talvo::Discovery For(const talvo::Settings& settings) const {
    return talvo::Discovery(settings, classes, linkage);
  }
};

ClassSet ReadClassSet(const ParsedCommand& command) {
  if (GivesOption(command, 'A')) {
    Refuse(
        "-A chooses one sub-alphabet; --discover analyses every class of a class set "
        "(--classes FILE gives the set)");
  }
  std::vector<talvo::ResidueClass> classes = talvo::BuiltInClasses();
  if (!command.classes_file.empty()) {
    classes = talvo::ReadClasses(ReadWholeFile(command.classes_file), command.classes_file);
  }
  const bool one_linkage = GivesOption(command, 'E') || GivesOption(command, 'K');
  return ClassSet{std::move(classes), one_linkage ? talvo::ClassLinkage::kFromSettings
                                                  : talvo::ClassLinkage::kPerClass};
}

std::vector<talvo::Settings> ClassSettings(const talvo::Discovery& discovery) {
  std::vector<talvo::Settings> settings;
  for (size_t c = 0; c < discovery.classes().size(); c++) {
    settings.push_back(discovery.class_settings(c));
  }
  return settings;
}

// The class set: name, letters, P (under the built-in background the
// per-class linkage comes from) and the linkage distance.
void ListClasses(const talvo::Discovery& discovery) {
  std::string text = "class\tletters\tP\tlinkage\n";
  for (size_t c = 0; c < discovery.classes().size(); c++) {
    const talvo::Settings& settings = discovery.class_settings(c);
    const talvo::ResidueClass& added = discovery.classes()[c];
    text += added.name + '\t' + added.letters + '\t' +
            ShortestDouble(discovery.class_probability(c)) + '\t' +
            (settings.estimate_linkage ? "estimated" : std::to_string(settings.linkage)) + '\n';
  }
  if (fputs(text.c_str(), stdout) == EOF || fflush(stdout) != 0) ThrowWriteError("standard output");
}

// What discovery's p-values are not calibrated for, said before the run.
void WarnUncalibrated(const talvo::Settings& settings) {
  const auto warn = [](const char* text) {
    fprintf(stderr, "talvo-proteome: warning: %s\n", text);
  };
  if (settings.random_null != talvo::RandomNull::kNone && !settings.exact_null) {
    warn(
        "-S:n and -G:n without --exact-null are not calibrated for --discover: a segment "
        "longer than every random sequence's gets p = 0, so expect false discoveries "
        "(--exact-null gives the exact probabilities; docs/discovery.md)");
  }
  if (settings.window >= 2) {
    warn(
        "window mode (-W) is not calibrated for --discover: expect false discoveries in most "
        "runs (docs/discovery.md)");
  }
}

// The tables of a sharded run back into the outputs of one run.
void Merge(ProteomeOptions& options, const talvo::Settings& settings,
           const std::optional<ClassSet>& class_set) {
  if (options.sharded)
    Refuse("--merge writes the outputs of the whole run: --shard belongs to the shard runs");
  if (options.inputs.empty()) Refuse("--merge needs the tables to merge");
  CheckFiles(options, "the table", false);
  if (!class_set) return MergeTables(options, settings);
  const talvo::Discovery discovery = class_set->For(settings);
  options.classes = discovery.classes();
  MergeTables(options, settings, ClassSettings(discovery));
}

void Run(int argc, char** argv, const PipelineTuning& tuning) {
  ParsedCommand command;
  command.options.threads = 0;  // every core unless --threads says otherwise
  ParseArguments(argc, argv, command);
  if (command.help) {
    fputs(kProteomeHelp, stdout);
    return;
  }
  if (command.version) {
    printf("talvo-proteome %s\n", talvo::Version());
    return;
  }
  talvo::Settings settings = ReadSettings(command);
  ProteomeOptions& options = command.options;
  if (!command.classes_file.empty() && !command.discover && !command.list_classes) {
    Refuse("--classes gives the class set of --discover");
  }
  std::optional<ClassSet> class_set;
  if (command.discover || command.list_classes) class_set = ReadClassSet(command);
  if (command.list_classes) return ListClasses(class_set->For(settings));
  if (command.mask_linkage && !command.discover) {
    Refuse("--mask-linkage sets the mask of --discover --masked");
  }
  CheckDescription(options);
  if (command.merge) return Merge(options, settings, class_set);
  if (options.inputs.empty()) Refuse("no input files (- reads standard input)");
  CheckFiles(options, "the input", true);

  if (settings.random_null != talvo::RandomNull::kNone && !settings.exact_null) {
    settings.seed = command.seed.value_or(ClockSeed());
    // Printed so that a run seeded from the clock can be repeated.
    if (!command.seed) {
      fprintf(stderr, "talvo-proteome: --seed %llu\n",
              static_cast<unsigned long long>(settings.seed));
    }
  }
  if (options.threads == 0) {
    options.threads = AvailableCores();
  }
  options.progress = command.progress.value_or(isatty(2) == 1);
  // Only the summary and a shard's table (for the merge's summary) report
  // the whole-protein test.
  settings.overall_test = !options.summary.empty() || options.sharded;
  settings.segment_residues = false;  // the rows take them from the entry
  if (!class_set) return RunPipeline(options, talvo::Analyser(settings), tuning);
  WarnUncalibrated(settings);
  const talvo::Discovery discovery = class_set->For(settings);
  options.classes = discovery.classes();
  const std::optional<talvo::Discovery> mask =
      MaskDiscovery(options, settings, ClassSettings(discovery));
  RunPipeline(options, discovery, mask ? &*mask : nullptr, tuning);
}

// The analysis options among arguments: TALVO's, and the long ones that
// shape the analysis; anything else is refused.
ParsedCommand AnalysisOptions(const std::vector<std::string>& arguments) {
  ParsedCommand command;
  for (size_t i = 0; i < arguments.size(); i++) {
    const std::string& arg = arguments[i];
    if (arg.compare(0, 2, "--") != 0) {
      command.talvo_options.push_back(arg);  // SettingsFromOptions refuses what is no option
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
    if (name != "seed" && name != "fractional-windows" && name != "exact-null") {
      Refuse("not an analysis option: '" + arg + "'");
    }
    if (name != "seed") {
      if (equals != std::string::npos) Refuse("option '--" + name + "' takes no value");
      ApplyFlag(name, command);
    } else if (equals != std::string::npos) {
      ApplyValue(name, arg.substr(equals + 1), command);
    } else {
      if (i + 1 >= arguments.size()) Refuse("option '--seed' needs a value");
      ApplyValue(name, arguments[++i], command);
    }
  }
  return command;
}

}  // namespace

int ProteomeMain(int argc, char** argv, const PipelineTuning& tuning) {
  try {
    Run(argc, argv, tuning);
    return 0;
  } catch (const UsageError& e) {
    fprintf(stderr, "talvo-proteome: %s\nTry 'talvo-proteome --help' for more information.\n",
            e.what());
  } catch (const BrokenPipe&) {
    return kPipeStatus;
  } catch (const std::exception& e) {  // talvo::Error, and what the system throws
    fprintf(stderr, "talvo-proteome: %s\n", e.what());
  }
  return 1;
}

}  // namespace talvo::proteome

namespace talvo {

talvo::Settings ProteomeSettings(const std::vector<std::string>& arguments) {
  const proteome::ParsedCommand command = proteome::AnalysisOptions(arguments);
  talvo::Settings settings = proteome::ReadSettings(command);
  settings.seed = command.seed.value_or(0);
  return settings;
}

}  // namespace talvo

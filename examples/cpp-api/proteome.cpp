// Analyses every protein of FASTA files (plain or gzip) on two threads, in
// input order, and writes talvo-proteome's outputs for every segment (as
// --all): PREFIX.tsv, PREFIX.gff3, PREFIX.bed and PREFIX.summary.tsv. Then
// prints the segments with a q-value of at most 0.05, most significant
// first: protein ID, start, end and q-value.
//
//   proteome_outputs [TALVO OPTION]... PREFIX FASTA...    (-A:R, -W:20, --seed 7 ...)
#include <talvo/proteome.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

struct Hit {
  std::string id;
  talvo::Segment segment;
  double q_value = 1.0;
};

int main(int argc, char** argv) {
  int first = 1;  // the options are the arguments before the prefix
  while (first < argc && argv[first][0] == '-') first++;
  if (argc - first < 2) {
    fprintf(stderr, "usage: proteome_outputs [TALVO OPTION]... PREFIX FASTA...\n");
    return 2;
  }
  const std::string prefix = argv[first];
  talvo::ProteomeInputs inputs;
  inputs.paths.assign(argv + first + 1, argv + argc);
  inputs.warn = [](const std::string& text) { fprintf(stderr, "warning: %s\n", text.c_str()); };
  try {
    // The options as talvo-proteome reads them.
    const talvo::Analyser analyser(talvo::ProteomeSettings({argv + 1, argv + first}));
    talvo::OutputFiles files;
    files.tsv = prefix + ".tsv";
    files.gff3 = prefix + ".gff3";
    files.bed = prefix + ".bed";
    files.summary = prefix + ".summary.tsv";
    files.all_segments = true;
    talvo::ProteomeOutputs outputs(files, inputs.paths, analyser.settings());

    std::vector<Hit> hits;
    talvo::QValues q_values;  // over every segment of the run
    talvo::ProteomeBatches batches(inputs, analyser, 2);
    for (std::vector<talvo::AnalysedEntry> batch; batches.Next(batch);) {
      for (const talvo::AnalysedEntry& item : batch) {
        outputs.Add(item);
        for (const talvo::Segment& segment : item.result.segments) {
          q_values.Count(segment.p_value);
          // q is never below p: only these can reach 0.05.
          if (segment.p_value <= 0.05) {
            hits.push_back({talvo::ProteinId(item.entry.header, item.entry.number), segment});
          }
        }
      }
    }
    outputs.Finish();
    q_values.Finish();
    for (Hit& hit : hits) hit.q_value = q_values.Of(hit.segment.p_value);
    std::stable_sort(hits.begin(), hits.end(),
                     [](const Hit& a, const Hit& b) { return a.q_value < b.q_value; });
    for (const Hit& hit : hits) {
      if (hit.q_value > 0.05) break;
      printf("%s\t%d\t%d\t%.17g\n", hit.id.c_str(), hit.segment.start, hit.segment.end,
             hit.q_value);
    }
  } catch (const talvo::Error& e) {
    fprintf(stderr, "proteome_outputs: %s\n", e.what());
    return 1;
  }
  return 0;
}

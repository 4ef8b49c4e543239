// The discovery engine against the single analysis, in memory: the proteins
// of a FASTA file (Debian's mmseqs2-examples DB.fasta.gz by default: 20,000
// real UniProt proteins) analysed on 2 threads, each thread taking every
// other protein with its own workspace, alternating the analyses round by
// round. CPU seconds (user + system of the process) are what to compare on a
// shared machine; every ratio is against the default single analysis
// measured in the same run.
//
//   build/bench/discovery_engine [FASTA] [rounds] [only runs whose label holds this]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "proteome/fasta_stream.h"
#include "talvo/talvo.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs analyse(protein index, workspace) on two threads; returns a checksum
// of the segment counts so that nothing is optimised away.
long OnTwoThreads(size_t proteins, const std::function<long(size_t, talvo::Workspace&)>& analyse) {
  long sums[2] = {0, 0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; t++) {
    threads.emplace_back([&, t] {
      talvo::Workspace workspace;
      for (size_t i = t; i < proteins; i += 2) sums[t] += analyse(i, workspace);
    });
  }
  for (std::thread& thread : threads) thread.join();
  return sums[0] + sums[1];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "/usr/share/doc/mmseqs2/example-data/DB.fasta.gz";
  const int rounds = argc > 2 ? std::stoi(argv[2]) : 3;
  const std::string only = argc > 3 ? argv[3] : "";
  std::vector<std::string> proteins;
  talvo::proteome::FastaStream stream;
  talvo::proteome::ProteinEntry entry;
  if (!stream.Open(path)) return fprintf(stderr, "%s\n", stream.error().c_str()), 1;
  while (stream.Next(entry)) proteins.push_back(entry.residues);
  if (!stream.Close()) return fprintf(stderr, "%s\n", stream.error().c_str()), 1;

  talvo::Settings exact;
  exact.random_null = talvo::RandomNull::kGenerated;
  exact.random_count = 1;
  exact.exact_null = true;
  const talvo::Analyser single{talvo::Settings{}};
  const talvo::Discovery discovery(talvo::Settings{}, talvo::BuiltInClasses());
  const talvo::Discovery discovery_exact(exact, talvo::BuiltInClasses());

  const auto single_run = [&](size_t i, talvo::Workspace& workspace) {
    return static_cast<long>(single.Analyse(proteins[i], i + 1, workspace).segments.size());
  };
  const auto discover = [&](const talvo::Discovery& d) {
    return [&](size_t i, talvo::Workspace& workspace) {
      thread_local std::vector<talvo::Result> results;
      d.Analyse(proteins[i], static_cast<long>(i + 1), workspace, results);
      long segments = 0;
      for (const talvo::Result& result : results) segments += result.segments.size();
      return segments;
    };
  };
  const std::vector<std::pair<std::string, std::function<long(size_t, talvo::Workspace&)>>> runs = {
      {"default single analysis", single_run},
      {"discovery (built-in set)", discover(discovery)},
      {"discovery -G:1 --exact-null", discover(discovery_exact)},
  };
  std::map<std::string, std::pair<double, double>> total;  // cpu, wall
  std::map<std::string, long> checksum;
  for (int round = 0; round < rounds; round++) {
    for (const auto& [label, run] : runs) {
      if (label.find(only) == std::string::npos && label != runs[0].first) continue;
      const double cpu = CpuSeconds();
      const auto wall = std::chrono::steady_clock::now();
      checksum[label] = OnTwoThreads(proteins.size(), run);
      total[label].first += CpuSeconds() - cpu;
      total[label].second +=
          std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    }
  }
  printf("%zu proteins of %s, 2 threads, %d rounds\n", proteins.size(), path.c_str(), rounds);
  const double base = total[runs[0].first].first;
  for (const auto& [label, run] : runs) {
    if (!total.count(label)) continue;
    const auto [cpu, wall] = total[label];
    printf("%-30s %7.3f s CPU %7.3f s wall per round  %5.1fx CPU  (%ld segments)\n", label.c_str(),
           cpu / rounds, wall / rounds, cpu / base, checksum[label]);
  }
  return 0;
}

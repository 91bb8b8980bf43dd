// The benchmark program: every operation next to the bare limit it is
// compared with, registered family by family so that each large track is
// built once and released before the next.
#include "fixtures.h"

int main(int argc, char **argv) {
  register_lookup();
  register_text();
  register_track();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// What tracing costs a routine while no session has enabled it (one flag
// test per statement), and what an enabled statement costs with an
// in-process sink.
#include <benchmark/benchmark.h>

#include "Tessaline/Trace.h"
#include "platform/trace/TraceProvider.h"

namespace {

void TracedStep(int i) {
  TL_TRACE_SCOPE("Routine");
  TL_TRACE_INFO("value %d", i);
  TL_TRACE_STEP(S_OK, "Routine", "Step");
}

void BM_StatementsWhileDisabled(benchmark::State& state) {
  tessaline::DisableTraceProvider();
  int i = 0;
  for (auto _ : state) TracedStep(i++);
  state.SetItemsProcessed(state.iterations() * 4);  // entry, exit, info, step
}
BENCHMARK(BM_StatementsWhileDisabled);

void BM_StatementsToSink(benchmark::State& state) {
  size_t bytes = 0;
  tessaline::SetTraceSink([&bytes](uint32_t, std::string_view text) { bytes += text.size(); });
  tessaline::EnableTraceProvider(tessaline::kEnvironmentTraceSession, 0xf, 5);
  int i = 0;
  for (auto _ : state) TracedStep(i++);
  tessaline::DisableTraceProvider();
  tessaline::SetTraceSink(nullptr);
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(BM_StatementsToSink);

}  // namespace

BENCHMARK_MAIN();

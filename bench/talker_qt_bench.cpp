// Cost of one talker send on a private session bus: with the main
// application absent (what most runs pay for every progress report), with it
// present, and with its window there but its service gone.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "app/dbus_talker.h"
#include "app/talker_listener.h"
#include "rules/talker_sender.h"
#include "tests/app/talker_test_bus.h"

namespace quillon {
namespace {

using test::ListenerThread;
using test::TemporaryPath;

void SendEachIteration(benchmark::State& state, DBusTalker& talker) {
  for (auto _ : state) talker.SendTalkerCommand(StatDLCommand(55));
}

void BM_SendMainApplicationAbsent(benchmark::State& state) {
  DBusTalker talker;
  SendEachIteration(state, talker);
  if (talker.LastOutcome() != TalkerOutcome::kNoMainApplication) {
    state.SkipWithError("a main application answered");
  }
}
BENCHMARK(BM_SendMainApplicationAbsent);

void BM_SendMainApplicationPresent(benchmark::State& state) {
  ListenerThread listener(TalkerListenerOptions{});
  if (!listener.Started()) {
    state.SkipWithError(listener.Error().c_str());
    return;
  }
  DBusTalker talker;
  SendEachIteration(state, talker);
  if (talker.LastOutcome() != TalkerOutcome::kPoked) {
    state.SkipWithError("not poked to TalkerCalls");
  }
}
BENCHMARK(BM_SendMainApplicationPresent);

void BM_StartPairMainApplicationPresent(benchmark::State& state) {
  ListenerThread listener(TalkerListenerOptions{});
  if (!listener.Started()) {
    state.SkipWithError(listener.Error().c_str());
    return;
  }
  DBusTalker talker;
  for (auto _ : state) talker.SendStartPair(true, "anna@example.is");
}
BENCHMARK(BM_StartPairMainApplicationPresent);

void BM_SendServiceAbsentNoProgram(benchmark::State& state) {
  TalkerListenerOptions presence_only;
  presence_only.own_service = false;
  ListenerThread listener(presence_only);
  TemporaryPath path(TemporaryPath::Mode::kOnly);
  DBusTalker talker;
  SendEachIteration(state, talker);
  if (talker.LastOutcome() != TalkerOutcome::kServiceNotAnswering) {
    state.SkipWithError("the service answered");
  }
}
BENCHMARK(BM_SendServiceAbsentNoProgram);

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  quillon::test::PrivateSessionBus bus;
  if (!bus.Started()) {
    std::fprintf(stderr, "cannot start a private dbus-daemon\n");
    return 1;
  }
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

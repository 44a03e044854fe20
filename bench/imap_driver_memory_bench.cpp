// What the retrieval driver's FetchAll costs in memory: every fetched message
// stays in the selected mailbox until the driver clears it. Runs against the
// server named by QUILLON_BENCH_IMAP_SERVER (HOST:PORT), QUILLON_BENCH_IMAP_USER
// and QUILLON_BENCH_IMAP_PASSWORD; bench/imap_fetch_compare.py starts a
// Dovecot with the mailbox and runs this program against it.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "net/imap_client.h"
#include "net/mailboxes.h"

namespace quillon {
namespace {

const char kDriverItems[] = "(FLAGS INTERNALDATE RFC822 ENVELOPE)";

double Megabytes(double bytes) { return bytes / (1024.0 * 1024.0); }

// A "VmRSS:"-style field of /proc/self/status, in bytes.
double ProcessStatusBytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string name;
  double kibibytes = 0;
  while (status >> name) {
    if (name == field + ":" && status >> kibibytes) return kibibytes * 1024.0;
    status.ignore(1 << 16, '\n');
  }
  return 0;
}

// Bytes the program has allocated: small blocks plus the large ones that
// malloc maps on their own.
double MallocInUse() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd);
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

// The driver's sequence in keep mode; records what the fetched messages
// hold before and after the mailbox is cleared.
void RunDriverFetch(benchmark::State& state, const std::string& server, double in_use_before) {
  TMailboxList mailboxes;
  TImap4Client client;
  client.SetServer(server);
  client.SetAllMailboxes(&mailboxes);
  client.SetUserName(Environment("QUILLON_BENCH_IMAP_USER"));
  client.SetPassword(Environment("QUILLON_BENCH_IMAP_PASSWORD"));
  client.SetOpenAsReadOnly(false);
  // The driver's sequence, keeping the messages on the server.
  client.Connect();
  client.Capability();
  client.Lsub("", "%");
  client.List("", "%");
  client.SetMailBox("INBOX");
  client.CurrentMailbox().Clear();
  client.FetchAll(true, kDriverItems);
  TMailBox& inbox = client.CurrentMailbox();
  state.counters["messages"] = inbox.Count();
  state.counters["held_MB"] = Megabytes(MallocInUse() - in_use_before);
  state.counters["rss_MB"] = Megabytes(ProcessStatusBytes("VmRSS"));
  inbox.Clear();
  state.counters["after_clear_MB"] = Megabytes(MallocInUse() - in_use_before);
  client.Disconnect();
}

void BM_DriverFetchAllHeld(benchmark::State& state) {
  const std::string server = Environment("QUILLON_BENCH_IMAP_SERVER");
  if (server.empty()) {
    state.SkipWithError("QUILLON_BENCH_IMAP_SERVER, _USER and _PASSWORD name the mailbox");
    return;
  }
  for (auto _ : state) {
    const double in_use_before = MallocInUse();
    RunDriverFetch(state, server, in_use_before);
    // What stays allocated once the client and the mailbox list are gone.
    state.counters["after_destroy_MB"] = Megabytes(MallocInUse() - in_use_before);
  }
  state.counters["peak_MB"] = Megabytes(ProcessStatusBytes("VmHWM"));
}
BENCHMARK(BM_DriverFetchAllHeld)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quillon

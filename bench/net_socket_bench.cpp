// The socket component over loopback: data-block throughput (ReceiveData),
// reply-line throughput (ReadLine), and the processor time a client spends
// waiting on a silent server (it must block in the pump, not spin).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "net/net_errors.h"
#include "net/socket.h"

namespace {

using quillon::TagSocket;

// Answers every line it reads with `reply`; silent when `reply` is empty.
class ReplyServer {
 public:
  explicit ReplyServer(std::string reply) : reply_(std::move(reply)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ReplyServer() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
    if (client_ >= 0) ::close(client_);
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  void Serve() {
    client_ = ::accept(listener_, nullptr, nullptr);
    if (client_ < 0) return;
    const int on = 1;
    ::setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    char buffer[4096];
    while (!stop_) {
      const ssize_t got = ::recv(client_, buffer, sizeof(buffer), 0);
      if (got <= 0) return;
      if (reply_.empty()) continue;
      for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] == '\n' && !SendAll(reply_)) return;
      }
    }
  }
  bool SendAll(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t sent = ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }

  std::string reply_;
  int listener_ = -1;
  std::atomic<int> client_{-1};
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void Connect(TagSocket& socket, const std::string& server) {
  socket.SetServer(server);
  socket.ResetState();
  socket.Open();
  socket.ConnectSocket();
}

std::string DataBlock(std::size_t size) {
  std::string block;
  const std::string line = std::string(76, 'm') + "\r\n";
  while (block.size() + line.size() < size) block += line;
  return block + ".\r\n";
}

void BM_ReceiveData(benchmark::State& state) {
  const std::string block = DataBlock(static_cast<std::size_t>(state.range(0)));
  ReplyServer server(block);
  TagSocket socket;
  Connect(socket, server.Address());
  for (auto _ : state) {
    quillon::TMemoryStream stream;
    socket.SendLine("RETR");
    socket.ReceiveData(stream, static_cast<std::int64_t>(block.size()));
    benchmark::DoNotOptimize(stream.Size());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
  socket.Close();
}
BENCHMARK(BM_ReceiveData)->Arg(4 * 1024)->Arg(100 * 1024)->Arg(5 * 1024 * 1024);

void BM_ReadLine(benchmark::State& state) {
  ReplyServer server("+OK 12 4096\r\n");
  TagSocket socket;
  Connect(socket, server.Address());
  for (auto _ : state) {
    socket.SendLine("LIST 12");
    benchmark::DoNotOptimize(socket.ReadLine());
  }
  state.SetItemsProcessed(state.iterations());
  socket.Close();
}
BENCHMARK(BM_ReadLine);

double ProcessorSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A ReadLine that waits out a 10-second time-out on a silent server. The
// counter cpu_percent is the share of one core used while waiting.
void BM_IdleWaitOnSilentServer(benchmark::State& state) {
  ReplyServer server("");
  for (auto _ : state) {
    TagSocket socket;
    socket.SetTimeOut(static_cast<int>(state.range(0)));
    Connect(socket, server.Address());
    const auto wall_start = std::chrono::steady_clock::now();
    const double cpu_start = ProcessorSeconds();
    try {
      socket.ReadLine();
    } catch (const quillon::ETimedOutError&) {
    }
    const double cpu = ProcessorSeconds() - cpu_start;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    state.counters["cpu_percent"] = 100.0 * cpu / wall;
    state.counters["wait_seconds"] = wall;
  }
}
BENCHMARK(BM_IdleWaitOnSilentServer)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

// bench/latency_proxy.py as a test fixture: a loopback proxy in front of a
// server that holds every byte back for a while in each direction, so a
// client meets replies split and joined as on a distant link.
//
//   LatencyProxy proxy(dovecot.Pop3Address(), 10);
//   pop.SetServer(proxy.Address());  ...
//
// Tests call LatencyProxy::Available() first and skip when python3 is
// missing.
#pragma once

#include <sys/types.h>

#include <string>

namespace quillon::test {

class LatencyProxy {
 public:
  // Starts the proxy on a free loopback port in front of `target_address`
  // ("HOST:PORT") and waits until it accepts connections. Throws
  // std::runtime_error when it does not come up.
  LatencyProxy(const std::string& target_address, int delay_ms);
  ~LatencyProxy();
  LatencyProxy(const LatencyProxy&) = delete;
  LatencyProxy& operator=(const LatencyProxy&) = delete;

  static bool Available();

  int Port() const { return port_; }
  std::string Address() const;  // "127.0.0.1:PORT"

 private:
  void Stop();

  pid_t child_ = -1;
  int port_ = 0;
};

}  // namespace quillon::test

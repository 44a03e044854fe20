// A host-name lookup that never blocks the pump: getaddrinfo runs on a
// worker thread and its answer comes back through a pipe watched by the
// pump, so the completion runs on the pump's thread like any other event.
// Destroying the lookup abandons it; the worker then finishes on its own
// and its answer is dropped.
#pragma once

#include <sys/socket.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/message_pump.h"

namespace quillon {

struct HostLookupResult {
  int error = 0;  // Winsock code (11001 ...), 0 on success
  sockaddr_storage address{};
  socklen_t length = 0;
};

class HostLookup {
 public:
  using Completion = std::function<void(const HostLookupResult& result)>;

  // Throws std::system_error when the lookup cannot be started.
  HostLookup(MessagePump& pump, const std::string& host, Completion done);
  ~HostLookup();
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  // Resolves on the calling thread; what the worker runs. Prefers an IPv4
  // address when the name has both kinds. Names under ".invalid" never
  // resolve (RFC 6761) and are answered without asking any server.
  static HostLookupResult Resolve(const std::string& host);

  // A numeric IPv4 address (in any form inet_aton takes) or IPv6 address;
  // false when `host` is not one.
  static bool ParseNumeric(const std::string& host, sockaddr_storage& address,
                           socklen_t& length);

 private:
  struct Shared;
  void OnAnswer();

  MessagePump& pump_;
  std::shared_ptr<Shared> shared_;
  MessagePump::WatchId watch_ = 0;
  Completion done_;
};

}  // namespace quillon

// The encryption options that the mail commands of quillon-tool share:
// --security none|starttls|tls, --ca-file PATH, --verbose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/socket.h"
#include "tools/command_registry.h"

namespace quillon::tool {

struct TlsOptions {
  std::optional<TSecurity> security;  // nothing: the port decides
  std::string ca_file;
  bool verbose = false;
};

// Takes the option at arguments[index] (and its value) when it is one of
// the three; `index` is then on its last word. False for any other word.
bool TakeTlsOption(const Arguments& arguments, std::size_t& index, TlsOptions& options);

// Sets the client's encryption: --security, else TLS when the server's
// port (or `default_port`) is `tls_port`, else none.
void ApplyTlsOptions(const TlsOptions& options, TagSocket& client, std::uint16_t default_port,
                     std::uint16_t tls_port);

// With --verbose, what protects the connection, on standard error.
void ReportTls(const TlsOptions& options, const TagSocket& client);

}  // namespace quillon::tool

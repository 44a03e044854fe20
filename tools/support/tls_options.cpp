#include "tools/support/tls_options.h"

#include <iostream>

namespace quillon::tool {

bool TakeTlsOption(const Arguments& arguments, std::size_t& index, TlsOptions& options) {
  const std::string& word = arguments[index];
  if (word == "--verbose") {
    options.verbose = true;
    return true;
  }
  if (word != "--security" && word != "--ca-file") return false;
  if (index + 1 >= arguments.size()) throw UsageError{word + " needs a value"};
  const std::string& value = arguments[++index];
  if (word == "--ca-file") {
    options.ca_file = value;
    return true;
  }
  options.security = ParseSecurity(value);
  if (!options.security) throw UsageError{"--security takes none, starttls or tls"};
  return true;
}

void ApplyTlsOptions(const TlsOptions& options, TagSocket& client, std::uint16_t default_port,
                     std::uint16_t tls_port) {
  TSecurity security = TSecurity::kNone;
  if (options.security) {
    security = *options.security;
  } else {
    const int port = TagSocket::PortPart(client.Server());
    if ((port != 0 ? port : default_port) == tls_port) security = TSecurity::kTls;
  }
  client.SetSecurity(security);
  client.SetCAFile(options.ca_file);
}

void ReportTls(const TlsOptions& options, const TagSocket& client) {
  if (!options.verbose) return;
  const std::string host = TagSocket::HostPart(client.Server());
  if (client.TlsActive()) {
    std::cerr << "connected to " << host << " with " << client.TlsProtocol() << ", cipher "
              << client.TlsCipher() << "\n";
  } else {
    std::cerr << "connected to " << host << " without encryption\n";
  }
}

}  // namespace quillon::tool

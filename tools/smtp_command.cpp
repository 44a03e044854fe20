// quillon-tool smtp: send a message described in JSON (the shape that
// "mime decode" prints and "mime encode" reads) with the program's own
// SMTP client.
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "mail/message.h"
#include "net/smtp_client.h"
#include "platform/code_pages.h"
#include "platform/text.h"
#include "tools/command_registry.h"
#include "tools/support/tls_options.h"
#include "tools/support/message_json.h"

namespace quillon::tool {
namespace {

using json = nlohmann::ordered_json;

struct SmtpOptions {
  std::string server;
  int timeout = 60;
  bool trace = false;
  bool skip_rejected = false;
  TlsOptions tls;
  std::vector<std::string> words;
};

SmtpOptions ParseOptions(const Arguments& arguments) {
  SmtpOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    const bool has_value = i + 1 < arguments.size();
    if (TakeTlsOption(arguments, i, options.tls)) continue;
    if (word == "--server" && has_value) {
      options.server = arguments[++i];
    } else if (word == "--timeout" && has_value) {
      if (!TryStrToInt(arguments[++i], options.timeout) || options.timeout < 1) {
        throw UsageError{"--timeout takes a number of seconds"};
      }
    } else if (word == "--trace") {
      options.trace = true;
    } else if (word == "--skip-rejected") {
      options.skip_rejected = true;
    } else if (word.starts_with("--")) {
      throw UsageError{"unknown option or missing value: " + word};
    } else {
      options.words.push_back(word);
    }
  }
  if (options.server.empty()) throw UsageError{"--server is required"};
  if (options.words.size() != 2 || options.words[0] != "send") {
    throw UsageError{"expected: send FILE.json"};
  }
  return options;
}

int SmtpCommand(const Arguments& arguments) {
  const SmtpOptions options = ParseOptions(arguments);
  std::ifstream in(options.words[1], std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + options.words[1]);
  TmsMessage message;
  ReadMessage(json::parse(in), message);

  TmsSMTP smtp;
  smtp.SetServer(options.server);
  smtp.SetTimeOut(options.timeout);
  smtp.SetMailMessage(&message);
  ApplyTlsOptions(options.tls, smtp, smtp.DefaultPort(), kSmtpsPort);
  if (options.trace) {
    smtp.OnTrace = [](const std::string& line) { std::cerr << line << "\n"; };
  }
  json rejected = json::array();
  smtp.OnAddressRejected = [&](TagSocket&, const std::string& address,
                               const std::string& reply, bool& proceed) {
    rejected.push_back(json{{"address", Latin1ToUtf8(address)},
                            {"reply", Latin1ToUtf8(reply)}});
    proceed = options.skip_rejected;
  };
  smtp.Connect();
  ReportTls(options.tls, smtp);
  try {
    smtp.Send();
  } catch (...) {
    smtp.Close();
    throw;
  }
  const std::string accepted = smtp.LastReply();
  smtp.Disconnect();
  std::cout << json{{"sent", true}, {"reply", Latin1ToUtf8(accepted)}, {"rejected", rejected}}
                   .dump(2)
            << "\n";
  return 0;
}

const CommandRegistration registration(
    "smtp",
    "  smtp --server HOST[:PORT] [--timeout S] [--trace] [--skip-rejected]\n"
    "       [--security S] [--ca-file PATH] [--verbose]\n"
    "       send FILE.json        send the message described in FILE.json\n"
    "                             (the JSON of \"mime decode\" / \"mime encode\");\n"
    "                             --skip-rejected goes on past refused recipients\n"
    "    --security none|starttls|tls  encryption (default: tls on port 465,\n"
    "                             else none); --ca-file PATH: trust only the CAs\n"
    "                             in PATH; --verbose: print protocol and cipher\n",
    SmtpCommand);

}  // namespace
}  // namespace quillon::tool

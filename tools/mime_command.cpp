// quillon-tool mime: decode a raw message into JSON, encode a message from
// JSON, save a message's attachments. 8-bit texts travel as Latin-1 code
// points, so every byte survives the trip through JSON.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "mail/message.h"
#include "platform/code_pages.h"
#include "tools/command_registry.h"
#include "tools/support/message_json.h"

namespace quillon::tool {
namespace {

using json = nlohmann::ordered_json;

void LoadMessage(const std::string& path, TmsMessage& message) {
  // The decoder takes its own copy: read the file straight into it.
  TFileStream raw(path, TFileStream::Mode::kOpenRead);
  message.Clear();
  message.LoadFromStream(raw);
}

int PrintError(const std::exception& error) {
  std::cout << json{{"error", Latin1ToUtf8(error.what())}}.dump(2) << "\n";
  return 1;
}

int Decode(const Arguments& arguments) {
  if (arguments.size() != 2) throw UsageError{"decode takes one FILE"};
  TmsMessage message;
  try {
    LoadMessage(arguments[1], message);
  } catch (const std::exception& error) {
    return PrintError(error);
  }
  std::cout << MessageJson(message).dump(2) << "\n";
  return 0;
}

int Encode(const Arguments& arguments) {
  if (arguments.size() != 2) throw UsageError{"encode takes one FILE.json"};
  std::ifstream in(arguments[1], std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + arguments[1]);
  TmsMessage message;
  ReadMessage(json::parse(in), message);
  TMemoryStream out;
  message.SaveToStream(out);
  std::fwrite(out.Data().data(), 1, out.Data().size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int SaveAttachments(const Arguments& arguments) {
  if (arguments.size() != 3) throw UsageError{"save-attachments takes FILE and DIR"};
  TmsMessage message;
  try {
    LoadMessage(arguments[1], message);
    json paths = json::array();
    for (int i = 0; i < message.Attachments().Count(); ++i) {
      paths.push_back(Latin1ToUtf8(message.SaveAttachment(i, arguments[2])));
    }
    std::cout << paths.dump(2) << "\n";
  } catch (const std::exception& error) {
    return PrintError(error);
  }
  return 0;
}

int MimeCommand(const Arguments& arguments) {
  if (arguments.empty()) throw UsageError{"missing subcommand"};
  if (arguments[0] == "decode") return Decode(arguments);
  if (arguments[0] == "encode") return Encode(arguments);
  if (arguments[0] == "save-attachments") return SaveAttachments(arguments);
  throw UsageError{"unknown subcommand \"" + arguments[0] + "\""};
}

const CommandRegistration kMimeRegistration(
    "mime",
    "  mime decode FILE                 decode a raw message, print it as JSON\n"
    "  mime encode FILE.json            build a message from JSON, print it encoded\n"
    "  mime save-attachments FILE DIR   decode a raw message, save its attachments\n",
    MimeCommand);

}  // namespace
}  // namespace quillon::tool

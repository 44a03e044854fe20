// quillon-tool smtp: send a message described in JSON (the shape that
// "mime decode" prints and "mime encode" reads) with the program's own
// SMTP client.
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "mail/attachment.h"
#include "mail/base64.h"
#include "mail/message.h"
#include "net/smtp_client.h"
#include "platform/code_pages.h"
#include "platform/text.h"
#include "tools/command_registry.h"

namespace quillon::tool {
namespace {

using json = nlohmann::ordered_json;

std::string TextOf(const json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || found->is_null()) return {};
  return Utf8ToLatin1(found->get<std::string>());
}

void ReadAddressList(const json& object, const char* key, TmsAddressList& list) {
  auto found = object.find(key);
  if (found == object.end()) return;
  for (const json& item : *found) list.AddAddress(TextOf(item, "address"), TextOf(item, "name"));
}

TStringList ReadLines(const json& object, const char* key) {
  TStringList lines;
  auto found = object.find(key);
  if (found == object.end()) return lines;
  for (const json& line : *found) lines.push_back(Utf8ToLatin1(line.get<std::string>()));
  return lines;
}

TAttEncoding ReadTransferEncoding(const std::string& name) {
  if (name == "base64") return TAttEncoding::aeBase64;
  if (name == "quoted-printable") return TAttEncoding::aeQuotedPrintable;
  if (name == "7bit") return TAttEncoding::aeSevenBit;
  throw std::runtime_error("unknown transfer_encoding \"" + name + "\"");
}

std::unique_ptr<TmsAttItem> ReadAttachment(const json& value) {
  auto item = std::make_unique<TmsAttItem>();
  const std::string path = TextOf(value, "path");
  if (!path.empty()) {
    item->SetFileName(path);
    item->Data().LoadFromFile(path);
  } else {
    std::string compact;
    for (char c : TextOf(value, "data_base64")) {
      if (c != '\r' && c != '\n' && c != ' ' && c != '\t') compact.push_back(c);
    }
    item->Data().Write(Base64DecodeLine(compact));
  }
  if (const std::string name = TextOf(value, "file_name"); !name.empty()) item->SetFileName(name);
  if (const std::string type = TextOf(value, "content_type"); !type.empty()) {
    item->SetContentType(type);
  }
  if (const std::string encoding = TextOf(value, "transfer_encoding"); !encoding.empty()) {
    item->SetTransferEncoding(ReadTransferEncoding(encoding));
  }
  item->Data().SetPosition(0);
  return item;
}

void ReadMessage(const json& object, TmsMessage& message) {
  if (auto sender = object.find("sender"); sender != object.end()) {
    message.Sender().SetName(TextOf(*sender, "name"));
    message.Sender().SetAddress(TextOf(*sender, "address"));
  }
  ReadAddressList(object, "recipients", message.Recipients());
  ReadAddressList(object, "cc", message.CC());
  ReadAddressList(object, "bcc", message.BCC());
  message.SetSubject(TextOf(object, "subject"));
  const std::string priority = TextOf(object, "priority");
  message.SetPriority(priority == "high"  ? TPriority::ptHigh
                      : priority == "low" ? TPriority::ptLow
                                          : TPriority::ptNormal);
  message.SetReturnReceipt(object.value("return_receipt", false));
  message.SetEncoding(TextOf(object, "encoding") == "uu" ? TMsgEncoding::meUU
                                                         : TMsgEncoding::meMIME);
  message.SetCharSet(TextOf(object, "charset") == "iso-8859-1" ? TCharSet::csISO8859
                                                               : TCharSet::csUSASCII);
  message.SetHeaders(ReadLines(object, "headers"));
  message.SetBody(ReadLines(object, "body"));
  if (auto attachments = object.find("attachments"); attachments != object.end()) {
    for (const json& item : *attachments) message.Attachments().Add(ReadAttachment(item));
  }
  if (const std::string type = TextOf(object, "content_type"); !type.empty()) {
    message.SetContentType(type);
  }
}

struct SmtpOptions {
  std::string server;
  int timeout = 60;
  bool trace = false;
  bool skip_rejected = false;
  std::vector<std::string> words;
};

SmtpOptions ParseOptions(const Arguments& arguments) {
  SmtpOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    const bool has_value = i + 1 < arguments.size();
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
    "       send FILE.json        send the message described in FILE.json\n"
    "                             (the JSON of \"mime decode\" / \"mime encode\");\n"
    "                             --skip-rejected goes on past refused recipients\n",
    SmtpCommand);

}  // namespace
}  // namespace quillon::tool

// quillon-tool pop3: talk to a POP3 server with the program's own client.
// Message numbers on the command line are the server's (from 1).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "net/dot_stuffing.h"
#include "net/pop3_client.h"
#include "platform/code_pages.h"
#include "platform/text.h"
#include "tools/command_registry.h"
#include "tools/support/tls_options.h"

namespace quillon::tool {
namespace {

using json = nlohmann::ordered_json;

constexpr char kDefaultPasswordVariable[] = "QUILLON_PASSWORD";

struct Pop3Options {
  std::string server;
  std::string user;
  std::optional<std::string> password;
  std::string password_variable = kDefaultPasswordVariable;
  int timeout = 60;
  bool trace = false;
  bool delete_after_fetch = false;
  bool pipelining = true;
  std::string output;
  TlsOptions tls;
  std::vector<std::string> words;  // the subcommand and its operands
};

std::string NextValue(const Arguments& arguments, std::size_t& index) {
  if (index + 1 >= arguments.size()) {
    throw UsageError{arguments[index] + " needs a value"};
  }
  return arguments[++index];
}

Pop3Options ParseOptions(const Arguments& arguments) {
  Pop3Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (TakeTlsOption(arguments, i, options.tls)) continue;
    if (word == "--server") {
      options.server = NextValue(arguments, i);
    } else if (word == "--user") {
      options.user = NextValue(arguments, i);
    } else if (word == "--password") {
      options.password = NextValue(arguments, i);
    } else if (word == "--password-env") {
      options.password_variable = NextValue(arguments, i);
    } else if (word == "--timeout") {
      if (!TryStrToInt(NextValue(arguments, i), options.timeout) || options.timeout < 1) {
        throw UsageError{"--timeout takes a number of seconds"};
      }
    } else if (word == "--output") {
      options.output = NextValue(arguments, i);
    } else if (word == "--trace") {
      options.trace = true;
    } else if (word == "--delete") {
      options.delete_after_fetch = true;
    } else if (word == "--no-pipelining") {
      options.pipelining = false;
    } else if (word.starts_with("--")) {
      throw UsageError{"unknown option " + word};
    } else {
      options.words.push_back(word);
    }
  }
  if (options.server.empty()) throw UsageError{"--server is required"};
  if (options.user.empty()) throw UsageError{"--user is required"};
  if (options.words.empty()) throw UsageError{"missing subcommand"};
  return options;
}

std::string PasswordOf(const Pop3Options& options) {
  if (options.password) return *options.password;
  const char* value = std::getenv(options.password_variable.c_str());
  if (value == nullptr) {
    throw UsageError{"no --password and $" + options.password_variable + " is not set"};
  }
  return value;
}

// The server's message number operand, checked against STAT.
int MessageIndex(const Pop3Options& options, const TmsRemotePOP& pop) {
  if (options.words.size() != 2) {
    throw UsageError{options.words[0] + " takes one message number"};
  }
  int number = 0;
  if (!TryStrToInt(options.words[1], number) || number < 1) {
    throw UsageError{"bad message number \"" + options.words[1] + "\""};
  }
  if (number > pop.MessageCount()) {
    throw std::runtime_error("no message " + options.words[1] + " (the mailbox holds " +
                             std::to_string(pop.MessageCount()) + ")");
  }
  return number - 1;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  if (path.empty() || path == "-") {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    if (std::fflush(stdout) != 0) throw std::runtime_error("cannot write to stdout");
    return;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

json StatJson(const TmsRemotePOP& pop) {
  return json{{"messages", pop.MessageCount()}, {"octets", pop.TotalSize()}};
}

json TopJson(TmsRemotePOP& pop, int index) {
  TmsRemoteInfoItem item;
  pop.GetInfo(index, item);
  json headers = json::array();
  for (const std::string& line : item.Headers()) headers.push_back(Latin1ToUtf8(line));
  return json{{"message", index + 1}, {"size", item.Size()}, {"headers", headers}};
}

// Downloads message `index` as the message text (transparency dots and
// the end line removed).
std::string Download(TmsRemotePOP& pop, int index) {
  std::string text;
  pop.OnUserMessageSave = [&](TagSocket&, int, TMemoryStream& contents) {
    text = UnstuffDataBlock(contents.Data());
  };
  pop.Retrieve(index);
  return text;
}

json FetchAll(TmsRemotePOP& pop, const Pop3Options& options) {
  if (options.words.size() != 2) throw UsageError{"fetch-all takes one DIR"};
  const std::filesystem::path directory = options.words[1];
  std::filesystem::create_directories(directory);
  std::int64_t bytes = 0;
  int deleted = 0;
  const int count = pop.MessageCount();
  std::vector<int> every_message;
  for (int index = 0; index < count; ++index) every_message.push_back(index);
  pop.PlanCalls(every_message, Pop3Calls::kRetrieve);
  for (int index = 0; index < count; ++index) {
    const std::string text = Download(pop, index);
    WriteBytes((directory / (std::to_string(index + 1) + ".eml")).string(), text);
    bytes += static_cast<std::int64_t>(text.size());
    // Deleted only once its file is written.
    if (options.delete_after_fetch) {
      pop.Delete(index);
      ++deleted;
    }
  }
  return json{{"fetched", count}, {"deleted", deleted}, {"bytes", bytes}};
}

// Runs one subcommand on a logged-in client; the JSON to print, if any.
std::optional<json> RunSubcommand(TmsRemotePOP& pop, const Pop3Options& options) {
  const std::string& name = options.words[0];
  if (name == "stat") return StatJson(pop);
  if (name == "list") {
    const int index = MessageIndex(options, pop);
    TmsRemoteInfoItem item;
    pop.GetInfo(index, item);
    return json{{"message", index + 1}, {"size", item.Size()}};
  }
  if (name == "top") return TopJson(pop, MessageIndex(options, pop));
  if (name == "retr") {
    WriteBytes(options.output, Download(pop, MessageIndex(options, pop)));
    return std::nullopt;
  }
  if (name == "dele") {
    const int index = MessageIndex(options, pop);
    pop.Delete(index);
    return json{{"deleted", index + 1}, {"reply", Latin1ToUtf8(pop.LastReply())}};
  }
  if (name == "fetch-all") return FetchAll(pop, options);
  throw UsageError{"unknown subcommand \"" + name + "\""};
}

int Pop3Command(const Arguments& arguments) {
  const Pop3Options options = ParseOptions(arguments);
  TmsRemotePOP pop;
  pop.SetServer(options.server);
  pop.SetUserName(options.user);
  pop.SetPassword(PasswordOf(options));
  pop.SetTimeOut(options.timeout);
  ApplyTlsOptions(options.tls, pop, pop.DefaultPort(), kPop3sPort);
  pop.SetPipeliningAllowed(options.pipelining);
  if (options.trace) {
    pop.OnTrace = [](const std::string& line) { std::cerr << line << "\n"; };
  }
  pop.Connect();
  ReportTls(options.tls, pop);
  std::optional<json> result;
  try {
    result = RunSubcommand(pop, options);
  } catch (...) {
    // Without QUIT the server keeps every message as it was.
    pop.Close();
    throw;
  }
  pop.Disconnect();
  if (result) std::cout << result->dump(2) << "\n";
  return 0;
}

const CommandRegistration registration(
    "pop3",
    "  pop3 --server HOST[:PORT] --user U [--password P | --password-env VAR]\n"
    "       [--timeout S] [--trace] [--security S] [--ca-file PATH] [--verbose]\n"
    "       [--no-pipelining] COMMAND\n"
    "    stat                     message count and size of the mailbox\n"
    "    list N                   size of message N\n"
    "    top N                    size and header lines of message N\n"
    "    retr N [--output FILE]   message N's bytes as stored on the server\n"
    "                             (stdout or FILE)\n"
    "    dele N                   delete message N (at QUIT)\n"
    "    fetch-all DIR [--delete] every message into DIR/N.eml, one session;\n"
    "                             with --delete each is deleted once saved\n"
    "    The password comes from --password, else from the environment\n"
    "    variable named by --password-env (default QUILLON_PASSWORD).\n"
    "    --security none|starttls|tls  encryption (default: tls on port 995,\n"
    "                             else none); --ca-file PATH: trust only the CAs\n"
    "                             in PATH; --verbose: print protocol and cipher\n"
    "    fetch-all sends commands ahead when the server offers PIPELINING;\n"
    "    --no-pipelining keeps to one command at a time.\n",
    Pop3Command);

}  // namespace
}  // namespace quillon::tool

// quillon-tool imap: talk to an IMAP4 server with the program's own client.
// Output is JSON; 8-bit texts travel as Latin-1 code points.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "mail/message.h"
#include "net/imap_client.h"
#include "platform/code_pages.h"
#include "platform/text.h"
#include "tools/command_registry.h"
#include "tools/support/tls_options.h"
#include "tools/support/message_json.h"

namespace quillon::tool {
namespace {

using json = nlohmann::ordered_json;

const char kDriverItems[] = "(FLAGS INTERNALDATE RFC822 ENVELOPE)";

struct ImapOptions {
  std::string server;
  std::string user;
  std::string password;
  int timeout = 60;
  bool trace = false;
  TlsOptions tls;
  Arguments rest;  // the subcommand and its arguments
};

ImapOptions ParseOptions(const Arguments& arguments) {
  ImapOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool has_value = i + 1 < arguments.size();
    if (TakeTlsOption(arguments, i, options.tls)) continue;
    if (argument == "--server" && has_value) {
      options.server = arguments[++i];
    } else if (argument == "--user" && has_value) {
      options.user = arguments[++i];
    } else if (argument == "--password" && has_value) {
      options.password = arguments[++i];
    } else if (argument == "--password-env" && has_value) {
      // Keeps the password off the command line (and out of ps).
      const char* value = std::getenv(arguments[++i].c_str());
      if (value == nullptr) throw UsageError{"no environment variable " + arguments[i]};
      options.password = value;
    } else if (argument == "--timeout" && has_value) {
      if (!TryStrToInt(arguments[++i], options.timeout) || options.timeout < 1) {
        throw UsageError{"--timeout takes a number of seconds"};
      }
    } else if (argument == "--trace") {
      options.trace = true;
    } else {
      options.rest.push_back(argument);
    }
  }
  if (options.server.empty()) throw UsageError{"--server is required"};
  if (options.rest.empty()) throw UsageError{"missing subcommand"};
  return options;
}

// ---- the session ----

void Configure(TImap4Client& client, TMailboxList& mailboxes, const ImapOptions& options) {
  client.SetServer(options.server);
  client.SetAllMailboxes(&mailboxes);
  client.SetUserName(options.user);
  client.SetPassword(options.password);
  client.SetTimeOut(options.timeout);
  client.SetOpenAsReadOnly(false);
  ApplyTlsOptions(options.tls, client, client.DefaultPort(), kImapsPort);
  if (options.trace) {
    client.OnTrace = [](const std::string& line) { std::cerr << line << "\n"; };
  }
}

// The driver's start: log in, capabilities, subscribed and listed mailboxes.
void Start(TImap4Client& client, const TlsOptions& tls) {
  client.Connect();
  ReportTls(tls, client);
  client.Capability();
  client.Lsub("", "%");
  client.List("", "%");
}

json MailboxesJson(const TMailboxList& mailboxes) {
  json items = json::array();
  for (int i = 0; i < mailboxes.Count(); ++i) {
    const TMailBox& mailbox = mailboxes.Items(i);
    items.push_back(json{{"name", Latin1ToUtf8(mailbox.Name())},
                         {"delimiter", Latin1ToUtf8(mailbox.Delimiter())},
                         {"flags", Latin1ToUtf8(mailbox.Flags())},
                         {"subscribed", mailbox.Subscribed()}});
  }
  return items;
}

json SelectedJson(TImap4Client& client) {
  TMailBox& mailbox = client.CurrentMailbox();
  return json{{"mailbox", Latin1ToUtf8(client.MailBox())},
              {"exists", client.ExistsCount()},
              {"recent", client.RecentCount()},
              {"flags", Latin1ToUtf8(client.FlagList())},
              {"uidvalidity", mailbox.UIDValidity()},
              {"first_unseen", mailbox.FirstUnseen()}};
}

// `text` with every line after the first indented by `indent` blanks.
std::string Indented(const std::string& text, int indent) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\n') out.append(static_cast<std::size_t>(indent), ' ');
  }
  return out;
}

// fetch-all prints each message as soon as it is saved, so neither the
// messages nor their descriptions pile up in memory; the document is closed
// with the selected mailbox's state, or with the error that ended the run.
int FetchAll(TImap4Client& client, const std::string& mailbox_name, const std::string& directory,
             bool expunge, const TlsOptions& tls) {
  std::cout << "{\n  \"messages\": [";
  bool first = true;
  client.OnRetrieved = [&](TagSocket&, int number) {
    TMailBox& mailbox = client.CurrentMailbox();
    auto& message = dynamic_cast<TmsImapMessage&>(mailbox.Items(mailbox.Count() - 1));
    const std::string path = directory + "/" + std::to_string(number) + ".eml";
    message.SaveToFile(path);
    const json entry{{"number", number},
                     {"file", Latin1ToUtf8(path)},
                     {"flags", MessageFlagText(message.ServerFlags())},
                     {"internal_date", Latin1ToUtf8(message.InternalDate())},
                     {"message", MessageJson(message)}};
    std::cout << (first ? "\n    " : ",\n    ") << Indented(entry.dump(2), 4);
    first = false;
    // Saved and described: the tool need not hold it any longer.
    mailbox.Remove(&message);
  };
  int status = 0;
  std::string ending;
  try {
    std::filesystem::create_directories(directory);
    Start(client, tls);
    client.SetMailBox(mailbox_name);
    if (client.ExistsCount() > 0) {
      client.CurrentMailbox().Clear();
      client.FetchAll(!expunge, kDriverItems);
      if (expunge) client.Expunge();
    }
    ending = "\"selected\": " + Indented(SelectedJson(client).dump(2), 2);
    client.Disconnect();
  } catch (const std::exception& error) {
    client.Close();
    ending = "\"error\": " + json(Latin1ToUtf8(error.what())).dump();
    status = 1;
  }
  std::cout << (first ? "]" : "\n  ]") << ",\n  " << ending << "\n}\n";
  return status;
}

json RunSubcommand(TImap4Client& client, TMailboxList& mailboxes, const Arguments& rest,
                  const TlsOptions& tls) {
  const std::string& name = rest[0];
  if (name == "capability" && rest.size() == 1) {
    client.Connect();
    ReportTls(tls, client);
    const std::string text = client.Capability();
    return json{{"capability", Latin1ToUtf8(text)}, {"literal_plus", client.LiteralPlus()}};
  }
  if (name == "list" && rest.size() == 1) {
    Start(client, tls);
    return MailboxesJson(mailboxes);
  }
  if (name == "select" && rest.size() == 2) {
    Start(client, tls);
    client.SetMailBox(rest[1]);
    return SelectedJson(client);
  }
  throw UsageError{"unknown subcommand or wrong arguments: " + name};
}

bool IsFetchAll(const Arguments& rest) {
  return rest[0] == "fetch-all" &&
         (rest.size() == 3 || (rest.size() == 4 && rest[3] == "--expunge"));
}

int ImapCommand(const Arguments& arguments) {
  const ImapOptions options = ParseOptions(arguments);
  TMailboxList mailboxes;
  TImap4Client client;
  Configure(client, mailboxes, options);
  if (IsFetchAll(options.rest)) {
    return FetchAll(client, options.rest[1], options.rest[2], options.rest.size() == 4,
                    options.tls);
  }
  json result;
  try {
    result = RunSubcommand(client, mailboxes, options.rest, options.tls);
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& error) {
    client.Close();
    std::cout << json{{"error", Latin1ToUtf8(error.what())}}.dump(2) << "\n";
    return 1;
  }
  client.Disconnect();
  std::cout << result.dump(2) << "\n";
  return 0;
}

const CommandRegistration kImapRegistration(
    "imap",
    "  imap --server HOST[:PORT] --user U (--password P | --password-env VAR)\n"
    "       [--timeout S] [--trace] [--security S] [--ca-file PATH] [--verbose]\n"
    "       SUBCOMMAND\n"
    "    capability                      the server's capabilities\n"
    "    list                            LSUB and LIST \"\" \"%\": the mailboxes\n"
    "    select MBOX                     EXISTS, RECENT, flags, UIDVALIDITY of MBOX\n"
    "    fetch-all MBOX DIR [--expunge]  FETCH 1:* (FLAGS INTERNALDATE RFC822 ENVELOPE),\n"
    "                                    each message saved as DIR/N.eml and described;\n"
    "                                    --expunge: the fetched ones \\Deleted, EXPUNGE\n"
    "    --security none|starttls|tls  encryption (default: tls on port 993,\n"
    "                             else none); --ca-file PATH: trust only the CAs\n"
    "                             in PATH; --verbose: print protocol and cipher\n",
    ImapCommand);

}  // namespace
}  // namespace quillon::tool

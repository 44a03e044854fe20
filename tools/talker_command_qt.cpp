// quillon-tool talker: stand in for the main application's receiving end,
// or send one command exactly as the program does.
#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <string>

#include "app/dbus_talker.h"
#include "app/talker_listener.h"
#include "tools/command_registry.h"

namespace quillon::tool {
namespace {

constexpr char kUsage[] =
    "  talker listen [--refuse-advise | --no-answer]\n"
    "                [--presence-only | --service-only] [--verbose]\n"
    "      take the main application's place on the session bus and print\n"
    "      every command received, one a line (NUL shown as \\0), until\n"
    "      stopped; --verbose also prints each call on standard error\n"
    "  talker send TEXT\n"
    "  talker send --start-pair [--show-dl] ADDRESS\n"
    "      send one command (or the start pair) as the program does; exit\n"
    "      status 0 when it was poked to \"TalkerCalls\", 3 otherwise\n";

// QCoreApplication keeps references to these for its whole life.
int app_argc = 1;
char app_name[] = "quillon-tool";
char* app_argv[] = {app_name, nullptr};

TalkerListenerOptions ParseListenOptions(const Arguments& arguments,
                                         bool& verbose) {
  TalkerListenerOptions options;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "--refuse-advise") {
      options.advise = AdviseAnswer::kRefuse;
    } else if (option == "--no-answer") {
      options.advise = AdviseAnswer::kNone;
    } else if (option == "--presence-only") {
      options.own_service = false;
    } else if (option == "--service-only") {
      options.own_presence = false;
    } else if (option == "--verbose") {
      verbose = true;
    } else {
      throw UsageError{"unknown option " + option};
    }
  }
  if (!options.own_presence && !options.own_service) {
    throw UsageError{"--presence-only and --service-only exclude each other"};
  }
  return options;
}

int Listen(const Arguments& arguments) {
  bool verbose = false;
  const TalkerListenerOptions options = ParseListenOptions(arguments, verbose);
  QCoreApplication app(app_argc, app_argv);
  TalkerListener listener(options);
  listener.SetPokeHandler([](const TalkerPoke& poke) {
    std::cout << PokeLine(poke) << std::endl;  // flushed: read while running
  });
  if (verbose) {
    listener.SetEventHandler(
        [](const std::string& event) { std::cerr << event << std::endl; });
  }
  std::string error;
  if (!listener.Start(error)) {
    std::cerr << "quillon-tool talker: " << error << "\n";
    return 1;
  }
  return app.exec();
}

int Send(const Arguments& arguments) {
  QCoreApplication app(app_argc, app_argv);
  DBusTalker talker;
  const bool start_pair =
      arguments.size() >= 2 && arguments[1] == "--start-pair";
  if (start_pair && (arguments.size() == 3 ||
                     (arguments.size() == 4 && arguments[2] == "--show-dl"))) {
    talker.SendStartPair(arguments.size() == 4, arguments.back());
  } else if (!start_pair && arguments.size() == 2) {
    talker.SendTalkerCommand(arguments[1]);
  } else {
    throw UsageError{"send takes one command text, or --start-pair "
                     "[--show-dl] ADDRESS"};
  }
  if (talker.LastOutcome() == TalkerOutcome::kPoked) return 0;
  std::cerr << "quillon-tool talker: "
            << TalkerOutcomeText(talker.LastOutcome()) << "\n";
  return 3;
}

int TalkerCommand(const Arguments& arguments) {
  if (arguments.empty()) throw UsageError{"missing sub-command"};
  if (arguments[0] == "listen") return Listen(arguments);
  if (arguments[0] == "send") return Send(arguments);
  throw UsageError{"unknown sub-command " + arguments[0]};
}

const CommandRegistration registration("talker", kUsage, TalkerCommand);

}  // namespace
}  // namespace quillon::tool

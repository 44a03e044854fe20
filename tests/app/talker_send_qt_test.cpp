// DBusTalker against a listener on a private session bus.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/dbus_talker.h"
#include "app/talker_listener.h"
#include "platform/message_pump.h"
#include "rules/talker_sender.h"
#include "tests/app/talker_test_support.h"

namespace quillon {
namespace {

using namespace std::string_literals;
using test::ListenerEvents;
using test::ListenerPokes;
using test::ListenerThread;
using test::ReceivedPoke;
using test::TemporaryPath;
using Clock = std::chrono::steady_clock;

const std::string kFormat = talker_bus::kTextFormat;
const std::string kAccepted = "AdviseStart TalkerCalls " + kFormat + " accepted";

std::unique_ptr<ListenerThread> Listen(TalkerListenerOptions options = {}) {
  auto listener = std::make_unique<ListenerThread>(options);
  EXPECT_TRUE(listener->Started()) << listener->Error();
  return listener;
}

std::string PokeEvent(const std::string& item, const std::string& shown) {
  return "Poke " + item + " " + kFormat + " noreply " + shown;
}

ReceivedPoke OnItem(const std::string& data) { return {"TalkerCalls", data}; }

TEST(DBusTalker, WholeRunArrivesInOrderByteForByte) {
  auto listener = Listen();
  DBusTalker talker;
  const std::string address = "anna@example.is";
  talker.SendStartPair(true, address);
  talker.SendTalkerCommand(NowDLCommand(1, 2));
  for (int percent : {0, 5, 5, 100}) {
    talker.SendTalkerCommand(StatDLCommand(percent));
  }
  talker.SendTalkerCommand(MessNewCommand(5, 120, 1));
  talker.SendTalkerCommand(NowDLCommand(2, 2));
  talker.SendTalkerCommand(MessNewCommand(5, 121, 2));
  talker.SendTalkerCommand(RecvStopCommand(address));
  EXPECT_EQ(talker.LastOutcome(), TalkerOutcome::kPoked);

  const std::vector<ReceivedPoke> expected = {
      OnItem("ShowDL:\0"s),
      OnItem("RecvStart:anna@example.is\0"s),
      OnItem("NowDL:1/2\0"s),
      OnItem("StatDL:0\0"s),
      OnItem("StatDL:5\0"s),
      OnItem("StatDL:5\0"s),
      OnItem("StatDL:100\0"s),
      OnItem("MessNew:5|120|1\0"s),
      OnItem("NowDL:2/2\0"s),
      OnItem("MessNew:5|121|2\0"s),
      OnItem("RecvStop:anna@example.is\0"s)};
  EXPECT_EQ(ListenerPokes(listener->UniqueName()), expected);
}

TEST(DBusTalker, EachSendIsOneConversationClosedAfterItsPokes) {
  auto listener = Listen();
  DBusTalker talker;
  talker.SendStartPair(true, "a@b");
  talker.SendTalkerCommand(RecvStopCommand("a@b"));
  const std::vector<std::string> expected = {
      kAccepted,
      PokeEvent("TalkerCalls", "ShowDL:\\0"),
      PokeEvent("TalkerCalls", "RecvStart:a@b\\0"),
      "Disconnect",
      kAccepted,
      PokeEvent("TalkerCalls", "RecvStop:a@b\\0"),
      "Disconnect"};
  EXPECT_EQ(ListenerEvents(listener->UniqueName()), expected);
}

TEST(DBusTalker, EmptyAddressGivesBareStartAndStop) {
  auto listener = Listen();
  DBusTalker talker;
  talker.SendStartPair(false, "");
  talker.SendTalkerCommand(RecvStopCommand(""));
  const std::vector<ReceivedPoke> expected = {OnItem("RecvStart:\0"s),
                                              OnItem("RecvStop:\0"s)};
  EXPECT_EQ(ListenerPokes(listener->UniqueName()), expected);
}

TEST(DBusTalker, EveryByteValueArrivesUnchangedWithOneNul) {
  auto listener = Listen();
  DBusTalker talker;
  std::string address;
  for (int byte = 1; byte < 256; ++byte) address += static_cast<char>(byte);
  talker.SendTalkerCommand(RecvStartCommand(address));
  const std::vector<ReceivedPoke> expected = {
      OnItem("RecvStart:" + address + '\0')};
  EXPECT_EQ(ListenerPokes(listener->UniqueName()), expected);
}

TEST(DBusTalker, AbsentMainApplicationGetsNothingAndNothingIsStarted) {
  // The service is there, the main window (presence name) is not.
  TalkerListenerOptions service_only;
  service_only.own_presence = false;
  auto listener = Listen(service_only);
  TemporaryPath path(TemporaryPath::Mode::kFirst, "exit 0");
  bool pending_message_ran = false;
  CurrentPump().Post([&] { pending_message_ran = true; });

  DBusTalker talker;
  talker.SendStartPair(true, "a@b");
  talker.SendTalkerCommand(StatDLCommand(5));
  EXPECT_EQ(talker.LastOutcome(), TalkerOutcome::kNoMainApplication);
  EXPECT_EQ(talker.ServiceStarts(), 0);
  // The send stopped before its message processing.
  EXPECT_FALSE(pending_message_ran);
  EXPECT_TRUE(ListenerEvents(listener->UniqueName()).empty());
  ProcessMessages();
  EXPECT_TRUE(pending_message_ran);
}

TEST(DBusTalker, NoBusAtAllIsTheAbsentMainApplication) {
  DBusTalker talker(QDBusConnection::connectToBus(
      QStringLiteral("unix:path=/nonexistent/quillon-bus"),
      QStringLiteral("quillon-talker-nowhere")));
  talker.SendTalkerCommand(RecvStopCommand("a@b"));
  EXPECT_EQ(talker.LastOutcome(), TalkerOutcome::kNoMainApplication);
  QDBusConnection::disconnectFromBus(QStringLiteral("quillon-talker-nowhere"));
}

TEST(DBusTalker, RefusedAdviseKeepsTheCommandAwayFromTalkerCalls) {
  TalkerListenerOptions refusing;
  refusing.advise = AdviseAnswer::kRefuse;
  auto listener = Listen(refusing);
  DBusTalker talker;
  talker.SendTalkerCommand(MessNewCommand(5, 120, 3));
  EXPECT_EQ(talker.LastOutcome(), TalkerOutcome::kPokedWithoutItem);
  const std::vector<std::string> expected = {
      "AdviseStart TalkerCalls " + kFormat + " refused",
      PokeEvent("", "MessNew:5|120|3\\0"), "Disconnect"};
  EXPECT_EQ(ListenerEvents(listener->UniqueName()), expected);
}

TEST(DBusTalker, SilentPeerCostsOneAdviseLimitPerConversation) {
  TalkerListenerOptions silent;
  silent.advise = AdviseAnswer::kNone;
  auto listener = Listen(silent);
  DBusTalker talker;
  const auto limit = DBusTalker::Limits{}.advise;
  EXPECT_EQ(limit, std::chrono::milliseconds(1000));

  const auto start = Clock::now();
  talker.SendStartPair(true, "a@b");
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(talker.LastOutcome(), TalkerOutcome::kPokedWithoutItem);
  EXPECT_GE(elapsed, limit - std::chrono::milliseconds(50));
  EXPECT_LT(elapsed, 2 * limit) << "the pair waited more than once";
  const std::vector<ReceivedPoke> expected = {{"", "ShowDL:\0"s},
                                              {"", "RecvStart:a@b\0"s}};
  EXPECT_EQ(ListenerPokes(listener->UniqueName()), expected);
}

TEST(DBusTalker, ServiceAbsentWithoutProgramDropsTheCommand) {
  TalkerListenerOptions presence_only;
  presence_only.own_service = false;
  auto listener = Listen(presence_only);
  TemporaryPath path(TemporaryPath::Mode::kOnly);  // no "qvn4" anywhere
  DBusTalker talker;
  talker.SendTalkerCommand(RecvStopCommand("a@b"));
  EXPECT_EQ(talker.LastOutcome(), TalkerOutcome::kServiceNotAnswering);
  EXPECT_EQ(talker.ServiceStarts(), 0);
  EXPECT_TRUE(ListenerEvents(listener->UniqueName()).empty());
}

TEST(DBusTalker, ServiceProgramThatNeverAnswersIsStartedOnlyOnce) {
  TalkerListenerOptions presence_only;
  presence_only.own_service = false;
  auto listener = Listen(presence_only);
  TemporaryPath path(TemporaryPath::Mode::kFirst, "exit 0");
  DBusTalker::Limits limits;
  limits.service_start = std::chrono::milliseconds(100);
  DBusTalker talker(QDBusConnection::sessionBus(), limits);
  for (int percent : {5, 10, 15}) {
    talker.SendTalkerCommand(StatDLCommand(percent));
    EXPECT_EQ(talker.LastOutcome(), TalkerOutcome::kServiceNotAnswering);
  }
  EXPECT_EQ(talker.ServiceStarts(), 1);
}

TEST(DBusTalker, PendingMessagesRunBeforeThePokeAndMayNestASend) {
  auto listener = Listen();
  DBusTalker talker;
  // A progress report handled while the outer send processes messages.
  CurrentPump().Post([&] { talker.SendTalkerCommand(NowDLCommand(1, 1)); });
  talker.SendTalkerCommand(StatDLCommand(5));
  const std::vector<std::string> expected = {
      kAccepted,
      kAccepted,
      PokeEvent("TalkerCalls", "NowDL:1/1\\0"),
      "Disconnect",
      PokeEvent("TalkerCalls", "StatDL:5\\0"),
      "Disconnect"};
  EXPECT_EQ(ListenerEvents(listener->UniqueName()), expected);
}

TEST(DBusTalker, HandlerFailureDuringTheSendIsDroppedAndTheCommandStillSent) {
  auto listener = Listen();
  DBusTalker talker;
  CurrentPump().Post([] { throw std::runtime_error("handler failed"); });
  EXPECT_NO_THROW(talker.SendStartPair(false, "a@b"));
  const std::vector<std::string> expected = {
      kAccepted, PokeEvent("TalkerCalls", "RecvStart:a@b\\0"), "Disconnect"};
  EXPECT_EQ(ListenerEvents(listener->UniqueName()), expected);
}

struct ShownCase {
  const char* name;
  std::string item;
  std::string data;
  std::string line;
};

class TalkerPokeLine : public ::testing::TestWithParam<ShownCase> {};

TEST_P(TalkerPokeLine, ShowsEveryByte) {
  TalkerPoke poke;
  poke.item = GetParam().item;
  poke.data = GetParam().data;
  EXPECT_EQ(PokeLine(poke), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TalkerPokeLine,
    ::testing::Values(
        ShownCase{"Plain", "TalkerCalls", "NowDL:2/7\0"s, "NowDL:2/7\\0"},
        ShownCase{"NoNul", "TalkerCalls", "StatDL:5", "StatDL:5"},
        ShownCase{"Backslash", "TalkerCalls", "RecvStart:a\\b\0"s,
                  "RecvStart:a\\\\b\\0"},
        ShownCase{"LineBreaks", "TalkerCalls", "x\r\n\t\0"s, "x\\r\\n\\t\\0"},
        ShownCase{"ControlBytes", "TalkerCalls", "\x01\x7f"s, "\\x01\\x7F"},
        ShownCase{"EightBitKept", "TalkerCalls", "J\xF3n\0"s, "J\xF3n\\0"},
        ShownCase{"InnerNul", "TalkerCalls", "a\0b\0"s, "a\\0b\\0"},
        ShownCase{"EmptyItem", "", "MessNew:5|120|3\0"s,
                  "[item \"\"] MessNew:5|120|3\\0"}),
    [](const ::testing::TestParamInfo<ShownCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  return quillon::test::RunWithPrivateBus(argc, argv);
}

// The command texts and the process-wide sender, without a bus.
#include <gtest/gtest.h>

#include <string>

#include "rules/talker_sender.h"
#include "tests/support/recording_talker.h"

namespace quillon {
namespace {

struct CommandCase {
  const char* name;
  std::string built;
  std::string expected;
};

class TalkerCommandText : public ::testing::TestWithParam<CommandCase> {};

TEST_P(TalkerCommandText, IsExact) {
  EXPECT_EQ(GetParam().built, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, TalkerCommandText,
    ::testing::Values(
        CommandCase{"ShowDL", ShowDLCommand(), "ShowDL:"},
        CommandCase{"RecvStart", RecvStartCommand("anna@example.is"),
                    "RecvStart:anna@example.is"},
        CommandCase{"RecvStartEmptyAddress", RecvStartCommand(""),
                    "RecvStart:"},
        CommandCase{"RecvStartEightBitAddress",
                    RecvStartCommand("J\xF3n <j@d.is>"),
                    "RecvStart:J\xF3n <j@d.is>"},
        CommandCase{"NowDLSecondOfSeven", NowDLCommand(2, 7), "NowDL:2/7"},
        CommandCase{"NowDLNoPadding", NowDLCommand(10, 150), "NowDL:10/150"},
        CommandCase{"StatDLZero", StatDLCommand(0), "StatDL:0"},
        CommandCase{"StatDLHundred", StatDLCommand(100), "StatDL:100"},
        CommandCase{"MessNew", MessNewCommand(5, 120, 3), "MessNew:5|120|3"},
        CommandCase{"MessNewNegativeFolder", MessNewCommand(-1, 0, 1),
                    "MessNew:-1|0|1"},
        CommandCase{"RecvStop", RecvStopCommand("anna@example.is"),
                    "RecvStop:anna@example.is"},
        CommandCase{"RecvStopEmptyAddress", RecvStopCommand(""),
                    "RecvStop:"}),
    [](const ::testing::TestParamInfo<CommandCase>& info) {
      return std::string(info.param.name);
    });

TEST(TalkerCommandText, CarriesNoTerminatingNul) {
  // The transport adds exactly one NUL; a text that had its own would end
  // up with two on the wire.
  EXPECT_EQ(RecvStopCommand("a").find('\0'), std::string::npos);
  EXPECT_EQ(MessNewCommand(1, 2, 3).find('\0'), std::string::npos);
}

TEST(CurrentTalker, IsSilentUntilOneIsInstalledAndAfterUninstalling) {
  test::RecordingTalker recording;
  CurrentTalker().SendTalkerCommand("lost");
  InstallTalker(&recording);
  CurrentTalker().SendStartPair(true, "a@b");
  CurrentTalker().SendTalkerCommand(NowDLCommand(1, 1));
  InstallTalker(nullptr);
  CurrentTalker().SendTalkerCommand("lost too");
  EXPECT_EQ(recording.commands,
            (std::vector<std::string>{"ShowDL:", "RecvStart:a@b", "NowDL:1/1"}));
  EXPECT_EQ(recording.conversations, 2);
}

}  // namespace
}  // namespace quillon

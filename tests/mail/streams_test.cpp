// The line reader, the temporary file stream and the one-second counter.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>

#include "mail/base64.h"
#include "mail/line_stream.h"
#include "mail/message.h"
#include "mail/temp_file_stream.h"
#include "mail/time_counter.h"
#include "platform/message_pump.h"
#include "platform/string_list.h"

namespace quillon {
namespace {

// Gives `stream` the bytes `data` as its own or, with `from_source`, as
// another stream it reads in blocks.
void Load(TLineStream& stream, const std::string& data, bool from_source) {
  if (from_source) {
    auto source = std::make_unique<TMemoryStream>();
    source->Write(data);
    stream.ReadFrom(std::move(source));
  } else {
    stream.Write(data);
    stream.Reset();
  }
}

TStringList ReadAllLines(const std::string& data, bool from_source = false) {
  TLineStream stream;
  Load(stream, data, from_source);
  TStringList lines;
  std::string line;
  for (int guard = 0; guard < 100000; ++guard) {
    stream.NextLine(line);
    if (stream.EndOfData()) {
      EXPECT_EQ(line, TLineStream::EndMarker());
      return lines;
    }
    lines.push_back(line);
  }
  ADD_FAILURE() << "no end of data";
  return lines;
}

struct LineCase {
  const char* name;
  std::string data;
  TStringList lines;
};

class LineStreamTest : public testing::TestWithParam<LineCase> {};

TEST_P(LineStreamTest, SplitsLines) {
  EXPECT_EQ(ReadAllLines(GetParam().data), GetParam().lines);
  EXPECT_EQ(ReadAllLines(GetParam().data, true), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Data, LineStreamTest,
    testing::Values(
        LineCase{"empty", "", {}},
        LineCase{"last_line_without_end", "a\r\nb", {"a", "b"}},
        LineCase{"final_line_end_adds_nothing", "a\r\nb\r\n", {"a", "b"}},
        LineCase{"cr_lf_and_bare_ends", "a\rb\nc\r\n\r\nd", {"a", "b", "c", "", "d"}},
        LineCase{"nul_is_data", std::string("a\0b\r\nc", 6), {std::string("a\0b", 3), "c"}},
        LineCase{"end_marker_bytes_are_data", "\xff\xff\xff\xff\r\nx", {"\xff\xff\xff\xff", "x"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineStream, LineLongerThanABlockComesWhole) {
  std::string huge(100000, 'x');
  EXPECT_EQ(ReadAllLines("a\r\n" + huge + "\r\nb\r\n"), (TStringList{"a", huge, "b"}));
}

TEST(LineStream, LinesAcrossBlockBoundariesAreWhole) {
  // Lines of every length around the old 16384-byte block size.
  TStringList expected;
  std::string data;
  for (int i = 0; i < 300; ++i) {
    expected.push_back(std::string(static_cast<std::size_t>(i * 97 % 700), 'a' + i % 26));
    data += expected.back() + (i % 3 ? "\r\n" : "\n");
  }
  EXPECT_EQ(ReadAllLines(data), expected);
}

TEST(LineStream, LinesAndLineEndsAcrossSourceBlocksAreWhole) {
  constexpr std::size_t kBlock = TLineStream::kBlockSize;
  const std::string filled(kBlock - 1, 'a');  // its line end starts a block's last byte
  const std::string huge(3 * kBlock + 5, 'h');
  EXPECT_EQ(ReadAllLines(filled + "\r\nb", true), (TStringList{filled, "b"}));
  EXPECT_EQ(ReadAllLines(filled + "\r\n\r\nb", true), (TStringList{filled, "", "b"}));
  EXPECT_EQ(ReadAllLines(filled + "\rb\n", true), (TStringList{filled, "b"}));
  EXPECT_EQ(ReadAllLines(filled + "\r\n", true), (TStringList{filled}));
  EXPECT_EQ(ReadAllLines(filled + "\r", true), (TStringList{filled}));
  EXPECT_EQ(ReadAllLines("a\r\n" + huge + "\nb", true), (TStringList{"a", huge, "b"}));
  EXPECT_EQ(ReadAllLines(std::string(kBlock / 2, '\r'), true), TStringList(kBlock / 2, ""));
}

TEST(LineStream, BytesBeforeLooksAheadWithoutMovingTheLines) {
  constexpr std::size_t kBlock = TLineStream::kBlockSize;
  // The marker spans the first two blocks of the source.
  const std::string data = "first\r\n" + std::string(kBlock - 9, 'x') + "--b\r\nlast";
  for (bool from_source : {false, true}) {
    TLineStream stream;
    Load(stream, data, from_source);
    std::string line;
    stream.NextLine(line);
    EXPECT_EQ(stream.BytesBefore("--b"), static_cast<std::int64_t>(kBlock - 9)) << from_source;
    EXPECT_EQ(stream.BytesBefore("--none"), static_cast<std::int64_t>(data.size() - 7));
    EXPECT_EQ(stream.BytesBefore(""), static_cast<std::int64_t>(data.size() - 7));
    TMemoryStream raw;
    stream.CopyRawTo(raw);
    EXPECT_EQ(raw.Data(), data);
    stream.NextLine(line);
    EXPECT_EQ(line, std::string(kBlock - 9, 'x') + "--b");
    stream.NextLine(line);
    EXPECT_EQ(line, "last");
  }
}

TEST(LineStream, ResetStartsAgain) {
  for (bool from_source : {false, true}) {
    TLineStream stream;
    Load(stream, "one\r\ntwo\r\n", from_source);
    std::string line;
    stream.NextLine(line);
    stream.NextLine(line);
    stream.NextLine(line);
    EXPECT_TRUE(stream.EndOfData());
    stream.Reset();
    EXPECT_FALSE(stream.EndOfData());
    stream.NextLine(line);
    EXPECT_EQ(line, "one") << from_source;
  }
}

TEST(Dispatching, LongDecodeLetsThePumpRun) {
  // A posted call stands for a button press waiting in the queue.
  bool dispatched = false;
  CurrentPump().Post([&] { dispatched = true; });
  std::string raw =
      "MIME-Version: 1.0\r\nContent-Type: application/octet-stream\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n";
  const std::string line = Base64EncodeBytes(std::string(kBase64BytesPerLine, 'x')) + "\r\n";
  for (int i = 0; i < 300000; ++i) raw += line;
  TmsMessage message;
  TMemoryStream stream;
  stream.Write(raw);
  message.LoadFromStream(stream);
  EXPECT_EQ(message.Attachments().Items(0).Data().Size(), 300000 * 57);
  EXPECT_TRUE(dispatched);
}

TEST(TempFileStream, CreatesMsFileAndDeletesItOnDestruction) {
  std::string name;
  {
    TTempFileStream stream;
    name = stream.FileName();
    EXPECT_NE(name.find("/ms"), std::string::npos);
    stream.Write(std::string("data"));
    stream.SetPosition(0);
    char buffer[4];
    ASSERT_EQ(stream.Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "data");
    struct stat info {};
    EXPECT_EQ(stat(name.c_str(), &info), 0);
  }
  struct stat info {};
  EXPECT_NE(stat(name.c_str(), &info), 0);
}

TEST(TimeCounter, ExpiresAfterPeriodTicksAndKeepsExpired) {
  TTimeCounter counter;
  EXPECT_EQ(counter.Period(), 60);
  counter.SetPeriod(1);
  counter.Start();
  // The tick only advances while the pump dispatches.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!counter.Expired() && std::chrono::steady_clock::now() < deadline) {
    CurrentPump().WaitForEvents(deadline);
  }
  EXPECT_TRUE(counter.Expired());
  counter.Stop();
  counter.Start();  // Start does not clear it; the owner does
  EXPECT_TRUE(counter.Expired());
  counter.SetExpired(false);
  EXPECT_FALSE(counter.Expired());
  counter.Stop();
}

TEST(TimeCounter, StoppedCounterDoesNotExpire) {
  TTimeCounter counter;
  counter.SetPeriod(1);
  counter.Start();
  counter.Stop();
  // A one-shot pump timer of our own proves time passed with dispatching.
  bool passed = false;
  CurrentPump().AddTimer(std::chrono::milliseconds(1500), false, [&] { passed = true; });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!passed && std::chrono::steady_clock::now() < deadline) {
    CurrentPump().WaitForEvents(deadline);
  }
  ASSERT_TRUE(passed);
  EXPECT_FALSE(counter.Expired());
}

}  // namespace
}  // namespace quillon

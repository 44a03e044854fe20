#include "platform/streams.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/media_types.h"
#include "platform/string_list.h"
#include "platform/temp_file.h"

namespace quillon {
namespace {

TEST(MemoryStream, ReadWriteSeekAndSize) {
  TMemoryStream stream;
  stream.Write("hello world");
  EXPECT_EQ(stream.Size(), 11);
  EXPECT_EQ(stream.Position(), 11);
  stream.SetPosition(6);
  char buffer[16] = {};
  EXPECT_EQ(stream.Read(buffer, sizeof buffer), 5u);
  EXPECT_EQ(std::string(buffer, 5), "world");
  EXPECT_EQ(stream.Read(buffer, 1), 0u);
  stream.Seek(-5, TStream::Origin::kEnd);
  stream.Write("WORLD!");
  EXPECT_EQ(stream.Data(), "hello WORLD!");
  stream.SetSize(5);
  EXPECT_EQ(stream.Data(), "hello");
  EXPECT_EQ(stream.Position(), 5);
}

TEST(MemoryStream, CopyFromWithZeroCountCopiesTheWholeSource) {
  TMemoryStream source;
  source.Write("abcdef");
  source.SetPosition(4);
  TMemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 0), 6);
  EXPECT_EQ(target.Data(), "abcdef");
  source.SetPosition(2);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(source, 3), 3);
  EXPECT_EQ(part.Data(), "cde");
  EXPECT_EQ(source.ReadAll(), "abcdef");
  EXPECT_EQ(source.Position(), 5);
}

TEST(FileStream, CreateWriteReopenAndMissingFileThrows) {
  const std::string path = CreateTempFile("fstest");
  {
    TFileStream out(path, TFileStream::Mode::kCreate);
    out.Write("line\r\n");
    EXPECT_EQ(out.Size(), 6);
  }
  TFileStream in(path, TFileStream::Mode::kOpenRead);
  EXPECT_EQ(in.ReadAll(), "line\r\n");
  std::filesystem::remove(path);
  EXPECT_THROW(TFileStream(path, TFileStream::Mode::kOpenRead),
               std::system_error);
}

TEST(StringList, TextSplitsAtEveryLineEndAndJoinsWithCrLf) {
  TStringList list;
  list.SetText("a\r\nb\nc\rd");
  EXPECT_EQ(list, (TStringList{"a", "b", "c", "d"}));
  list.SetText("a\r\n\r\nb\r\n");
  EXPECT_EQ(list, (TStringList{"a", "", "b"}));
  EXPECT_EQ(list.Text(), "a\r\n\r\nb\r\n");
  EXPECT_EQ(list.IndexOf("B"), 2);
  EXPECT_EQ(list.IndexOf("z"), -1);
}

TEST(StringList, FilesRoundTrip) {
  const std::string path = CreateTempFile("sltest");
  TStringList list{"one", "two \xE6"};
  list.SaveToFile(path);
  TStringList read;
  read.LoadFromFile(path);
  EXPECT_EQ(read, list);
  std::filesystem::remove(path);
  EXPECT_THROW(read.LoadFromFile(path), std::system_error);
}

TEST(MediaTypes, TablesAreReadWithUserOverridesAndUnknownIsEmpty) {
  const std::string system = CreateTempFile("mtsys");
  const std::string user = CreateTempFile("mtusr");
  std::ofstream(system) << "# comment\ntext/plain txt asc\nimage/gif gif\n"
                           "text/x-other txt\n";
  std::ofstream(user) << "application/x-mine gif\n";
  LoadMediaTypeTables(system, user);
  EXPECT_EQ(MediaTypeOfExtension(".TXT"), "text/plain");
  EXPECT_EQ(MediaTypeOfExtension("asc"), "text/plain");
  EXPECT_EQ(MediaTypeOfExtension(".gif"), "application/x-mine");
  EXPECT_EQ(MediaTypeOfExtension(".xyz"), "");
  EXPECT_EQ(MediaTypeOfExtension("."), "");
  LoadMediaTypeTables("/etc/mime.types", "");
  std::filesystem::remove(system);
  std::filesystem::remove(user);
}

}  // namespace
}  // namespace quillon

#include "net/imap_line_assembler.h"

#include <gtest/gtest.h>

#include "net/imap_tokens.h"

namespace quillon {
namespace {

// Feeds `input` in pieces of `piece` bytes; returns the lines and what was
// left over after the last complete line.
std::vector<std::string> Assemble(ImapLineAssembler& assembler, std::string_view input,
                                  std::size_t piece, std::string* rest = nullptr) {
  std::vector<std::string> lines;
  std::size_t position = 0;
  while (position < input.size()) {
    const std::string_view chunk = input.substr(position, piece);
    std::size_t used = 0;
    while (used < chunk.size()) {
      used += assembler.Feed(chunk.substr(used));
      if (assembler.Complete()) lines.push_back(assembler.TakeLine());
    }
    position += chunk.size();
  }
  if (rest != nullptr) *rest = assembler.TakeLine();
  return lines;
}

const std::string kDialogue =
    "* OK [CAPABILITY IMAP4rev1 LITERAL+] ready\r\n"
    "* 1 FETCH (RFC822 {12}\r\nab\r\n\"{3}\r\nx\n)\r\n"
    "* LIST () \"/\" \"a {5}\"\r\n"
    "* LIST () \"/\" {4}\r\nA\"B{\r\n"
    "A1 OK done\n";

const std::vector<std::string> kLines = {
    "* OK [CAPABILITY IMAP4rev1 LITERAL+] ready",
    "* 1 FETCH (RFC822 {12}ab\r\n\"{3}\r\nx\n)",
    "* LIST () \"/\" \"a {5}\"",
    "* LIST () \"/\" {4}A\"B{",
    "A1 OK done"};

TEST(ImapLineAssembler, SameLinesForEverySplit) {
  for (std::size_t piece = 1; piece <= kDialogue.size(); ++piece) {
    ImapLineAssembler assembler;
    std::string rest;
    EXPECT_EQ(Assemble(assembler, kDialogue, piece, &rest), kLines) << "piece " << piece;
    EXPECT_EQ(rest, "");
  }
}

TEST(ImapLineAssembler, StopsAtTheEndOfTheLine) {
  ImapLineAssembler assembler;
  const std::string input = "* 3 EXISTS\r\n* 0 RECENT\r\n";
  EXPECT_EQ(assembler.Feed(input), 12u);
  EXPECT_TRUE(assembler.Complete());
  EXPECT_EQ(assembler.TakeLine(), "* 3 EXISTS");
}

TEST(ImapLineAssembler, MarkerInsideALineIsText) {
  ImapLineAssembler assembler;
  std::string rest;
  EXPECT_EQ(Assemble(assembler, "* OK {5}x y\r\n* OK {2}\rz\r\n", 1, &rest),
            (std::vector<std::string>{"* OK {5}x y", "* OK {2}\rz"}));
}

TEST(ImapLineAssembler, LfInsideQuotesEndsTheLine) {
  ImapLineAssembler assembler;
  EXPECT_EQ(Assemble(assembler, "* OK \"open\n* 1 EXISTS\r\n", 3),
            (std::vector<std::string>{"* OK \"open", "* 1 EXISTS"}));
}

TEST(ImapLineAssembler, EscapedQuoteKeepsTheQuotedState) {
  ImapLineAssembler assembler;
  // Inside the quotes the "{3}" is text, so no literal is awaited.
  EXPECT_EQ(Assemble(assembler, "* X \"a\\\" {3}\"\r\nA1 OK\r\n", 1),
            (std::vector<std::string>{"* X \"a\\\" {3}\"", "A1 OK"}));
}

TEST(ImapLineAssembler, LineLimitAtAndPastIt) {
  ImapReadLimits limits;
  limits.max_line_length = 10;
  ImapLineAssembler at_limit(limits);
  EXPECT_EQ(Assemble(at_limit, "12345678\r\n", 4), std::vector<std::string>{"12345678"});

  ImapLineAssembler past(limits);
  try {
    Assemble(past, "123456789\r\n", 4);
    FAIL() << "no error";
  } catch (const EImapError& error) {
    EXPECT_STREQ(error.what(), "Response line longer than 10 bytes");
  }
}

TEST(ImapLineAssembler, LiteralBytesDoNotCountAgainstTheLineLimit) {
  ImapReadLimits limits;
  limits.max_line_length = 16;
  ImapLineAssembler assembler(limits);
  const std::string body(1000, 'x');
  EXPECT_EQ(Assemble(assembler, "* 1 {1000}\r\n" + body + ")\r\n", 100),
            std::vector<std::string>{"* 1 {1000}" + body + ")"});
}

TEST(ImapLineAssembler, NeverGrowsWithoutALineEnd) {
  ImapReadLimits limits;
  limits.max_line_length = 1000;
  ImapLineAssembler assembler(limits);
  const std::string junk(100, 'a');
  bool refused = false;
  for (int i = 0; i < 100 && !refused; ++i) {
    try {
      assembler.Feed(junk);
    } catch (const EImapError&) {
      refused = true;
    }
  }
  EXPECT_TRUE(refused);
}

TEST(ImapLineAssembler, LiteralOverTheLimitIsRefusedBeforeAnyByteIsTaken) {
  ImapReadLimits limits;
  limits.max_literal_length = 1000;
  ImapLineAssembler at_limit(limits);
  EXPECT_NO_THROW(at_limit.Feed("* 1 FETCH (RFC822 {1000}\r\n"));
  EXPECT_TRUE(at_limit.InLiteral());
  EXPECT_EQ(at_limit.LiteralBytesLeft(), 1000u);

  ImapLineAssembler past(limits);
  try {
    past.Feed("* 1 FETCH (RFC822 {1001}\r\n");
    FAIL() << "no error";
  } catch (const EImapError& error) {
    EXPECT_STREQ(error.what(),
                 "The server announced a literal of more than 1000 bytes; no message is that large");
  }
}

TEST(ImapLineAssembler, LiteralsOfOneResponseAreBoundedTogether) {
  // Each literal within its limit, their sum allowed a line's worth more.
  ImapReadLimits limits;
  limits.max_literal_length = 1000;
  limits.max_line_length = 100;
  const std::string within = "* 1 FETCH (A {1000}\r\n" + std::string(1000, 'a') +
                             " B {100}\r\n" + std::string(100, 'b');
  ImapLineAssembler assembler(limits);
  std::vector<std::string> lines;
  EXPECT_NO_THROW(lines = Assemble(assembler, within + ")\r\n", 7));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), within.size() + 1 - 2 * 2);

  ImapLineAssembler endless(limits);
  try {
    Assemble(endless, within + " C {1}\r\nc)\r\n", 7);
    FAIL() << "no error";
  } catch (const EImapError& error) {
    EXPECT_STREQ(error.what(), "The server's response holds more than 1100 bytes of literals");
  }
}

TEST(ImapLineAssembler, DefaultLimitRefusesAGigabyteAndHugeNumbers) {
  ImapLineAssembler gigabyte;
  EXPECT_THROW(gigabyte.Feed("* 1 FETCH (RFC822 {1073741825}\r\n"), EImapError);
  ImapLineAssembler huge;
  EXPECT_THROW(huge.Feed("* 1 FETCH (RFC822 {99999999999999999999999999}\r\n"), EImapError);
}

TEST(ImapLineAssembler, LiteralBeyondAvailableMemoryIsRefused) {
  ImapReadLimits limits;
  limits.available_memory = [] { return std::uint64_t{5000}; };
  ImapLineAssembler assembler(limits);
  try {
    assembler.Feed("* 1 FETCH (RFC822 {6000}\r\n");
    FAIL() << "no error";
  } catch (const EImapError& error) {
    EXPECT_STREQ(error.what(),
                 "The server announced a literal of 6000 bytes, more than the memory available "
                 "(5000 bytes)");
  }
}

TEST(ImapLineAssembler, AnnouncedLengthIsNotReservedAhead) {
  // The line grows only with the bytes that came, not with the promise.
  ImapLineAssembler assembler;
  assembler.Feed("* 1 FETCH (RFC822 {500000000}\r\n");
  assembler.Feed("abc");
  EXPECT_EQ(assembler.LiteralBytesLeft(), 500000000u - 3);
  const std::string line = assembler.TakeLine();
  EXPECT_EQ(line, "* 1 FETCH (RFC822 {500000000}abc");
  EXPECT_LT(line.capacity(), 1000000u);
}

TEST(ImapLineAssembler, AvailableMemoryIsKnown) { EXPECT_GT(AvailableMemoryBytes(), 0u); }

}  // namespace
}  // namespace quillon

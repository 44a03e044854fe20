// Throughput of the transfer encodings and of the message decoder, and how
// the decoder scales with message size and with the number of parts,
// header lines and recipients (time per MB or per item should stay flat).
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "mail/base64.h"
#include "mail/message.h"
#include "mail/quoted_printable.h"
#include "mail/uuencode.h"

namespace quillon {
namespace {

constexpr std::size_t kMegabyte = 1024 * 1024;

std::string RandomBytes(std::size_t size) {
  std::mt19937 generator(42);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(generator() & 0xFF);
  return data;
}

// Mostly text with some 8-bit bytes, in lines of 50 to 150 characters.
std::string TextBytes(std::size_t size) {
  std::mt19937 generator(7);
  std::string data;
  while (data.size() < size) {
    std::size_t line = 50 + generator() % 100;
    for (std::size_t i = 0; i < line; ++i) {
      unsigned value = generator() % 64;
      data.push_back(value == 0 ? '\xe9' : value < 10 ? ' ' : static_cast<char>('a' + value % 26));
    }
    data += "\r\n";
  }
  data.resize(size);
  return data;
}

std::vector<std::string> Base64Lines(const std::string& data) {
  std::vector<std::string> lines;
  for (std::size_t offset = 0; offset < data.size(); offset += kBase64BytesPerLine) {
    lines.push_back(Base64EncodeBytes(std::string_view(data).substr(offset, kBase64BytesPerLine)));
  }
  return lines;
}

void BM_Base64Decode(benchmark::State& state) {
  const std::string data = RandomBytes(8 * kMegabyte);
  const std::vector<std::string> lines = Base64Lines(data);
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (const std::string& line : lines) Base64DecodeAppend(line, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond);

void BM_Base64Encode(benchmark::State& state) {
  const std::string data = RandomBytes(8 * kMegabyte);
  for (auto _ : state) {
    std::size_t total = 0;
    for (std::size_t offset = 0; offset < data.size(); offset += kBase64BytesPerLine) {
      total += Base64EncodeBytes(std::string_view(data).substr(offset, kBase64BytesPerLine)).size();
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMillisecond);

void BM_UUDecode(benchmark::State& state) {
  const std::string data = RandomBytes(8 * kMegabyte);
  std::vector<std::string> lines;
  for (std::size_t offset = 0; offset < data.size(); offset += kUUBytesPerLine) {
    lines.push_back(UUEncodeBytes(std::string_view(data).substr(offset, kUUBytesPerLine)));
  }
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (const std::string& line : lines) UUDecodeAppend(line, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_UUDecode)->Unit(benchmark::kMillisecond);

void BM_UUEncode(benchmark::State& state) {
  const std::string data = RandomBytes(8 * kMegabyte);
  for (auto _ : state) {
    std::size_t total = 0;
    for (std::size_t offset = 0; offset < data.size(); offset += kUUBytesPerLine) {
      total += UUEncodeBytes(std::string_view(data).substr(offset, kUUBytesPerLine)).size();
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_UUEncode)->Unit(benchmark::kMillisecond);

void BM_QuotedPrintableEncode(benchmark::State& state) {
  const std::string data = TextBytes(8 * kMegabyte);
  for (auto _ : state) {
    TMemoryStream stream;
    stream.Write(data);
    TStringList lines;
    TQuotedPrintable(stream, lines).Encode();
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_QuotedPrintableEncode)->Unit(benchmark::kMillisecond);

void BM_QuotedPrintableDecode(benchmark::State& state) {
  const std::string data = TextBytes(8 * kMegabyte);
  TMemoryStream source;
  source.Write(data);
  TStringList lines;
  TQuotedPrintable(source, lines).Encode();
  for (auto _ : state) {
    TMemoryStream out;
    TQuotedPrintable(out, lines).Decode();
    benchmark::DoNotOptimize(out.Data().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_QuotedPrintableDecode)->Unit(benchmark::kMillisecond);

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

void DecodeRaw(benchmark::State& state, const std::string& raw) {
  for (auto _ : state) {
    TmsMessage message;
    message.Clear();
    TMemoryStream stream;
    stream.Write(raw);
    message.LoadFromStream(stream);
    benchmark::DoNotOptimize(message.Attachments().Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * raw.size()));
}

// A message with one base64 attachment of Arg MB.
void BM_DecodeAttachmentMessage(benchmark::State& state) {
  std::vector<std::string> lines = {"From: a@example.org", "MIME-Version: 1.0",
                                    "Content-Type: multipart/mixed; boundary=b", "", "--b",
                                    "Content-Type: text/plain", "", "Hello", "--b",
                                    "Content-Type: application/octet-stream; name=x.bin",
                                    "Content-Transfer-Encoding: base64", ""};
  auto data_lines = Base64Lines(RandomBytes(static_cast<std::size_t>(state.range(0)) * kMegabyte));
  lines.insert(lines.end(), data_lines.begin(), data_lines.end());
  lines.push_back("--b--");
  DecodeRaw(state, Join(lines));
}
BENCHMARK(BM_DecodeAttachmentMessage)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// Arg parts of 1 KB each; the time per part should stay flat.
void BM_DecodeManyParts(benchmark::State& state) {
  std::vector<std::string> lines = {"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b",
                                    "", "--b", "", "body"};
  const std::string part_line = Base64EncodeBytes(RandomBytes(kBase64BytesPerLine));
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    lines.insert(lines.end(), {"--b", "Content-Type: application/octet-stream",
                               "Content-Transfer-Encoding: base64", ""});
    for (int k = 0; k < 18; ++k) lines.push_back(part_line);
  }
  lines.push_back("--b--");
  DecodeRaw(state, Join(lines));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DecodeManyParts)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Arg header lines (every second one folded).
void BM_DecodeManyHeaderLines(benchmark::State& state) {
  std::vector<std::string> lines = {"From: a@example.org", "Subject: many"};
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    lines.push_back(i % 2 ? "\tcontinued " + std::to_string(i)
                          : "Received: from host" + std::to_string(i));
  }
  lines.insert(lines.end(), {"", "body"});
  DecodeRaw(state, Join(lines));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DecodeManyHeaderLines)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Arg recipients in one folded "To:" field.
void BM_DecodeManyRecipients(benchmark::State& state) {
  std::vector<std::string> lines = {"From: a@example.org", "To: First <first@example.org>,"};
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    lines.push_back(" \"Person, " + std::to_string(i) + "\" <p" + std::to_string(i) +
                    "@example.org>,");
  }
  lines.insert(lines.end(), {" last@example.org", "", "body"});
  DecodeRaw(state, Join(lines));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DecodeManyRecipients)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_EncodeAttachmentMessage(benchmark::State& state) {
  TmsMessage message;
  message.Sender().SetAddress("a@example.org");
  message.Recipients().AddAddress("b@example.org", "B");
  message.SetBody({"Hello"});
  auto item = std::make_unique<TmsAttItem>();
  item->SetFileName("x.bin");
  item->SetTransferEncoding(TAttEncoding::aeBase64);
  const std::size_t size = static_cast<std::size_t>(state.range(0)) * kMegabyte;
  item->Data().Write(RandomBytes(size));
  message.Attachments().Add(std::move(item));
  for (auto _ : state) {
    TMemoryStream out;
    message.SaveToStream(out);
    benchmark::DoNotOptimize(out.Data().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_EncodeAttachmentMessage)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillon

#include "tools/support/message_json.h"

#include <memory>
#include <stdexcept>
#include <string>

#include "mail/base64.h"
#include "platform/code_pages.h"
#include "tools/support/sha256.h"

namespace quillon::tool {

using json = nlohmann::ordered_json;

namespace {

json AddressJson(const TmsMailAddress& address) {
  return json{{"name", Latin1ToUtf8(address.Name())}, {"address", Latin1ToUtf8(address.Address())}};
}

json AddressListJson(const TmsAddressList& list) {
  json items = json::array();
  for (int i = 0; i < list.Count(); ++i) items.push_back(AddressJson(list.Items(i)));
  return items;
}

json LinesJson(const TStringList& lines) {
  json items = json::array();
  for (const std::string& line : lines) items.push_back(Latin1ToUtf8(line));
  return items;
}

const char* PriorityName(TPriority priority) {
  switch (priority) {
    case TPriority::ptLow:
      return "low";
    case TPriority::ptHigh:
      return "high";
    case TPriority::ptNormal:
      break;
  }
  return "normal";
}

const char* TransferEncodingName(TAttEncoding encoding) {
  switch (encoding) {
    case TAttEncoding::aeBase64:
      return "base64";
    case TAttEncoding::aeQuotedPrintable:
      return "quoted-printable";
    case TAttEncoding::aeSevenBit:
      break;
  }
  return "7bit";
}

json AttachmentsJson(const TmsAttList& attachments) {
  json items = json::array();
  for (int i = 0; i < attachments.Count(); ++i) {
    const TmsAttItem& item = attachments.Items(i);
    const std::string& data = item.Data().Data();
    items.push_back(json{{"file_name", Latin1ToUtf8(item.FileName())},
                         {"content_type", Latin1ToUtf8(item.ContentType())},
                         {"transfer_encoding", TransferEncodingName(item.TransferEncoding())},
                         {"size", data.size()},
                         {"sha256", Sha256Hex(data)}});
  }
  return items;
}

std::string TextOf(const json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || found->is_null()) return {};
  return Utf8ToLatin1(found->get<std::string>());
}

void ReadAddress(const json& value, TmsMailAddress& address) {
  address.SetName(TextOf(value, "name"));
  address.SetAddress(TextOf(value, "address"));
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

std::string Base64Payload(const std::string& text) {
  std::string compact;
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != ' ' && c != '\t') compact.push_back(c);
  }
  return Base64DecodeLine(compact);
}

std::unique_ptr<TmsAttItem> ReadAttachment(const json& value) {
  auto item = std::make_unique<TmsAttItem>();
  std::string path = TextOf(value, "path");
  if (!path.empty()) {
    item->SetFileName(path);
    item->Data().LoadFromFile(path);
  } else {
    item->Data().Write(Base64Payload(TextOf(value, "data_base64")));
  }
  std::string file_name = TextOf(value, "file_name");
  if (!file_name.empty()) item->SetFileName(file_name);
  std::string content_type = TextOf(value, "content_type");
  if (!content_type.empty()) item->SetContentType(content_type);
  std::string encoding = TextOf(value, "transfer_encoding");
  if (!encoding.empty()) item->SetTransferEncoding(ReadTransferEncoding(encoding));
  item->Data().SetPosition(0);
  return item;
}

}  // namespace

json MessageJson(const TmsMessage& message) {
  return json{
      {"sender", AddressJson(message.Sender())},
      {"recipients", AddressListJson(message.Recipients())},
      {"cc", AddressListJson(message.CC())},
      {"bcc", AddressListJson(message.BCC())},
      {"subject", Latin1ToUtf8(message.Subject())},
      {"priority", PriorityName(message.Priority())},
      {"return_receipt", message.ReturnReceipt()},
      {"content_type", Latin1ToUtf8(message.ContentType())},
      {"encoding", message.Encoding() == TMsgEncoding::meUU ? "uu" : "mime"},
      {"charset", message.CharSet() == TCharSet::csISO8859 ? "iso-8859-1" : "us-ascii"},
      {"headers", LinesJson(message.Headers())},
      {"body", LinesJson(message.Body())},
      {"attachments", AttachmentsJson(message.Attachments())},
  };
}

void ReadMessage(const json& object, TmsMessage& message) {
  if (auto sender = object.find("sender"); sender != object.end()) {
    ReadAddress(*sender, message.Sender());
  }
  ReadAddressList(object, "recipients", message.Recipients());
  ReadAddressList(object, "cc", message.CC());
  ReadAddressList(object, "bcc", message.BCC());
  message.SetSubject(TextOf(object, "subject"));
  std::string priority = TextOf(object, "priority");
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
  std::string content_type = TextOf(object, "content_type");
  if (!content_type.empty()) message.SetContentType(content_type);
}

}  // namespace quillon::tool

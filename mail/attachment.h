// One attachment (decoded data, file name, media type, transfer encoding)
// and an owning list of them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/streams.h"

namespace quillon {

enum class TAttEncoding : unsigned char { aeSevenBit, aeBase64, aeQuotedPrintable };

// "7 bit", "Base64", "Quoted-Printable": the names the encoder writes.
const char* AttEncodingName(TAttEncoding encoding);

class TmsAttItem {
 public:
  TmsAttItem() = default;
  TmsAttItem(const TmsAttItem& other) { Assign(other); }
  TmsAttItem& operator=(const TmsAttItem& other) {
    Assign(other);
    return *this;
  }

  TMemoryStream& Data() { return data_; }
  const TMemoryStream& Data() const { return data_; }

  const std::string& FileName() const { return file_name_; }
  // Stores the name (cut to 255); a non-empty name also sets ContentType
  // from the extension and TransferEncoding from that type.
  void SetFileName(const std::string& file_name);
  const std::string& ContentType() const { return content_type_; }
  void SetContentType(const std::string& content_type);
  TAttEncoding TransferEncoding() const { return transfer_encoding_; }
  void SetTransferEncoding(TAttEncoding encoding) { transfer_encoding_ = encoding; }

  void Assign(const TmsAttItem& source);

 private:
  TMemoryStream data_;
  std::string file_name_;
  std::string content_type_;
  TAttEncoding transfer_encoding_ = TAttEncoding::aeSevenBit;
};

class TmsAttList {
 public:
  TmsAttList() = default;
  TmsAttList(const TmsAttList& other) { Assign(other); }
  TmsAttList& operator=(const TmsAttList& other) {
    Assign(other);
    return *this;
  }

  int Count() const { return static_cast<int>(items_.size()); }
  TmsAttItem& Items(int index) { return *items_.at(static_cast<std::size_t>(index)); }
  const TmsAttItem& Items(int index) const {
    return *items_.at(static_cast<std::size_t>(index));
  }
  int Add(std::unique_ptr<TmsAttItem> item);
  // A new item named `file_name` with the file's contents. File errors
  // propagate as std::system_error.
  void AddFile(const std::string& file_name);
  void Clear() { items_.clear(); }
  void Assign(const TmsAttList& source);

 private:
  std::vector<std::unique_ptr<TmsAttItem>> items_;
};

// The file-name part after the last "/" or "\".
std::string FileNameWithoutDirectory(const std::string& file_name);

}  // namespace quillon

#include "app/receive_status_words.h"

namespace quillon {

namespace {

struct WordRow {
  const char* key;
  const char* english;
  const char* icelandic;  // Windows-1252 bytes
};

// Hex escapes stop at the string boundary, so a letter that could continue
// one ("\xF0" "a") starts a new literal.
constexpr WordRow kRows[] = {
    {"%Form%", "Corvane - Receiving messages...", "S\xE6ki p\xF3st..."},
    {"Panel1", "", ""},
    {"Label1", "Retrieving messages for", "S\xE6ki p\xF3st fyrir"},
    {"Label2", "", ""},
    {"Label3", "Message:", "Skilabo\xF0:"},
    {"Label4", "", ""},
    {"Label5", "Progress:", "Sta\xF0" "a:"},
    {"Progress", "", ""},
    {"Label6", "", ""},
    {"StatusBar1", "", ""},
    {"Button2", "&Minimize", "&Minnka"},
    {"Button1", "Cancel", "H\xE6tta vi\xF0"},
    {"Button3", "Skip!", "Hoppa yfir"},
    {"\".Hint", "Skip currently retrieved message...",
     "Hoppa yfir p\xF3st sem veri\xF0 er a\xF0 s\xE6kja..."},
    {"Panel2", "", ""},
    {"Clientinn", "", ""},
    {"idScanning", "Scanning popbox for new messages...",
     "Leita a\xF0 n\xFDjum p\xF3sti \xED h\xF3lfinu..."},
    {"idTransferred", "Transferred", "S\xF3tt"},
    {"idOf", "of", "af"},
    {"idBytes", "bytes", "b\xE6tum"},
    {"idRetrieving", "Retrieving message", "S\xE6ki p\xF3st"},
    {"idConnected", "Connected", "Tengdur"},
    {"idDeleting", "Deleting message", "Ey\xF0i p\xF3sti"},
    {"idDisconnecting", "Disconnecting", "Aftengist"},
    {"idPreparing", "Preparing retrieval...", "Undirb\xFD p\xF3stflutning..."},
};

TStringList BuildWords() {
  TStringList words;
  for (const WordRow& row : kRows) {
    words.push_back(row.key);
    words.push_back(row.english);
    words.push_back(row.icelandic);
  }
  return words;
}

}  // namespace

const TStringList& ReceiveStatusWords() {
  static const TStringList words = BuildWords();
  return words;
}

}  // namespace quillon

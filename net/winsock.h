// TagWinsock: the process-wide "socket layer loaded" state. Every socket
// operation of TagSocket asks it first; while it is not loaded they raise
// EWinsockDLLError "Winsock is not loaded". On this system loading cannot
// fail, so "Winsock not found" and "Function %s not found" are only texts.
#pragma once

namespace quillon {

class TagWinsock {
 public:
  // The one instance of the process.
  static TagWinsock& Instance();

  bool Loaded() const { return loaded_; }
  void Load() { loaded_ = true; }
  void Unload() { loaded_ = false; }

  // Raises EWinsockDLLError "Winsock is not loaded" when not loaded.
  void RequireLoaded() const;

 private:
  TagWinsock() = default;
  bool loaded_ = true;
};

}  // namespace quillon

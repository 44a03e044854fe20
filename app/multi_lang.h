// The word table of a window: every text in each of its languages, applied
// to the window's components when the language is set and looked up by id
// for the texts the program composes at run time.
//
// `Words` is a flat list read in rows of Languages + 1 lines: the key, then
// one text per language. Keys: "%Form%" (the window's caption), the name of
// a component of the window (its texts, starting with that row), the
// continuation key "\"" (the next list item of the component before), the
// hint key "\".Hint" (that component's hint), or any other id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/string_list.h"

class QObject;

namespace quillon {

// Rows of key and texts, as an editing grid shows the table.
using TextGrid = std::vector<std::vector<std::string>>;

class TBaseMultiLang {
 public:
  // `owner` is the window whose components receive the texts.
  explicit TBaseMultiLang(QObject* owner);
  virtual ~TBaseMultiLang();
  TBaseMultiLang(const TBaseMultiLang&) = delete;
  TBaseMultiLang& operator=(const TBaseMultiLang&) = delete;

  std::uint8_t Languages() const { return languages_; }
  void SetLanguages(std::uint8_t count);
  std::uint8_t ActiveLanguage() const { return active_language_; }
  // Applies the table; a language past the last shows an information box.
  void SetActiveLanguage(std::uint8_t language);
  std::uint8_t DefaultLanguage() const { return default_language_; }
  void SetDefaultLanguage(std::uint8_t language);
  bool DefaultEnabled() const { return default_enabled_; }
  void SetDefaultEnabled(bool enabled);

  TStringList& Words() { return words_; }
  const TStringList& Words() const { return words_; }
  const TStringList& DoNot() const { return do_not_; }
  void SetDoNot(const TStringList& lines) { do_not_ = lines; }

  // The text of `id` in the active language; the id itself when the table
  // has no such row, unless IdNotFoundError supplies another text.
  std::string GetWord(const std::string& id) const;

  std::function<void(TBaseMultiLang& sender, std::uint8_t NewLanguage,
                     bool& AllowIt)>
      BeforeLanguageChange;
  std::function<void(TBaseMultiLang& sender, std::uint8_t NewLanguage)>
      AfterLanguageChanged;
  std::function<void(const TBaseMultiLang& sender, const std::string& id,
                     std::string& Res)>
      IdNotFoundError;

  // Loading from the window: while loading, Languages changes without
  // questions. Loaded() ends it and applies the process-wide start language.
  void BeginLoading() { loading_ = true; }
  void Loaded();
  bool IsLoading() const { return loading_; }

  QObject* Owner() const { return owner_; }

  static const std::vector<TBaseMultiLang*>& Instances();
  static std::uint8_t StartLanguage();
  static void SetStartLanguage(std::uint8_t language);

  // Writes `component`'s current texts into `grid` from `row` on, in the
  // active language's column; returns the row after the last one used.
  virtual std::size_t CollectComponentTexts(QObject* component, std::size_t row,
                                            TextGrid& grid) const = 0;

 protected:
  // Applies the rows of `component` from `row` on; leaves `row` after the
  // last row it used.
  virtual void ApplyComponentTexts(QObject* component, std::size_t& row) = 0;

  // The active language's text of the row starting at `row` (the default
  // language's when that is empty and DefaultEnabled is set).
  std::string TextOfRow(std::size_t row) const;
  // When the row at `row` holds the active language's text: `text` := it,
  // `row` moves to the next row, true. Otherwise false and nothing moves.
  bool Take(std::size_t& row, std::string& text) const;
  bool IsContinuationKey(std::size_t row) const;
  bool IsHintKey(std::size_t row) const;
  std::size_t RowLength() const { return std::size_t{languages_} + 1; }
  // Fills `count` list items through `set_item` from continuation rows;
  // `taken` becomes true when any text was taken.
  void FillList(std::size_t& row, int count,
                const std::function<void(int, const std::string&)>& set_item,
                bool& taken) const;

 private:
  void ApplyTable();
  void ApplyFormCaption(std::size_t row);
  QObject* FindOwnedComponent(const std::string& name) const;
  bool ConfirmDecrease(std::uint8_t count);
  void RemoveTexts(std::size_t old_count, std::size_t new_count);
  void InsertTexts(std::size_t old_count, std::size_t new_count);

  QObject* owner_;
  std::uint8_t languages_ = 2;
  std::uint8_t active_language_ = 0;
  std::uint8_t default_language_ = 0;
  bool default_enabled_ = false;
  bool loading_ = false;
  TStringList words_;
  TStringList do_not_;
};

// The word table on Qt widgets: labels and buttons take a caption, line
// edits a text, windows their title, list and combo boxes their items, text
// edits their lines, actions their caption; every widget and action takes a
// hint (its tool tip).
class TMultiLang : public TBaseMultiLang {
 public:
  using TBaseMultiLang::TBaseMultiLang;

  std::size_t CollectComponentTexts(QObject* component, std::size_t row,
                                    TextGrid& grid) const override;

 protected:
  void ApplyComponentTexts(QObject* component, std::size_t& row) override;

 private:
  void ApplyCaptionAndText(QObject* component, std::size_t& row, bool& taken);
  void ApplyHint(QObject* component, std::size_t& row, bool taken);
};

// The information box shown for a language index past the last language.
inline constexpr char kLanguageTooHighText[] =
    "Value must not be higher than\rnumber of available languages.";

}  // namespace quillon

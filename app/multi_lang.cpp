#include "app/multi_lang.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>
#include <algorithm>
#include <exception>

#include "app/message_box.h"
#include "platform/code_pages.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr char kFormKey[] = "%Form%";
constexpr char kContinuationKey[] = "\"";
constexpr char kHintKey[] = "\".Hint";

constexpr char kAtLeastOneLanguageText[] =
    "You have to provide at least 1 language.";
constexpr char kDecreaseDeletingActiveText[] =
    "You are decreasing the number of languages.\r"
    "Entries for the removed language will be lost.\r"
    "The currently displayed language will be deleted, too.\r\r"
    "Do you really want to continue?";
constexpr char kDecreaseText[] =
    "You are decreasing the number of languages.\r"
    "Entries for the removed language will be lost.\r\r"
    "Continue?";

std::vector<TBaseMultiLang*>& InstanceList() {
  static std::vector<TBaseMultiLang*> instances;
  return instances;
}

std::uint8_t& StartLanguageValue() {
  static std::uint8_t language = 0;
  return language;
}

QString ToQt(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string FromQt(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

// The lines of a text control; an empty control has none.
QStringList LinesOf(const QString& text) {
  if (text.isEmpty()) return {};
  return text.split('\n');
}

}  // namespace

// ---------------------------------------------------------------------------
// TBaseMultiLang

TBaseMultiLang::TBaseMultiLang(QObject* owner) : owner_(owner) {
  InstanceList().push_back(this);
}

TBaseMultiLang::~TBaseMultiLang() {
  auto& instances = InstanceList();
  instances.erase(std::remove(instances.begin(), instances.end(), this),
                  instances.end());
}

const std::vector<TBaseMultiLang*>& TBaseMultiLang::Instances() {
  return InstanceList();
}

std::uint8_t TBaseMultiLang::StartLanguage() { return StartLanguageValue(); }

void TBaseMultiLang::SetStartLanguage(std::uint8_t language) {
  StartLanguageValue() = language;
}

void TBaseMultiLang::Loaded() {
  loading_ = false;
  SetActiveLanguage(StartLanguage());
}

void TBaseMultiLang::SetActiveLanguage(std::uint8_t language) {
  if (language >= languages_) {
    ShowMessageBox(kLanguageTooHighText, BoxIcon::kInformation,
                   BoxButtons::kCancel);
    return;
  }
  bool allow = true;
  if (BeforeLanguageChange) BeforeLanguageChange(*this, language, allow);
  if (!allow) return;
  active_language_ = language;
  ApplyTable();
  if (AfterLanguageChanged) AfterLanguageChanged(*this, active_language_);
}

void TBaseMultiLang::SetDefaultLanguage(std::uint8_t language) {
  if (language >= languages_) {
    ShowMessageBox(kLanguageTooHighText, BoxIcon::kInformation,
                   BoxButtons::kCancel);
    return;
  }
  if (language == default_language_) return;
  default_language_ = language;
  SetActiveLanguage(active_language_);
}

void TBaseMultiLang::SetDefaultEnabled(bool enabled) {
  if (enabled == default_enabled_) return;
  default_enabled_ = enabled;
  SetActiveLanguage(active_language_);
}

void TBaseMultiLang::SetLanguages(std::uint8_t count) {
  if (count == languages_) return;
  // A table without languages has no texts to show; never accepted.
  if (count == 0) {
    if (!loading_) {
      ShowMessageBox(kAtLeastOneLanguageText, BoxIcon::kInformation,
                     BoxButtons::kOk);
    }
    return;
  }
  if (count < languages_) {
    if (!loading_ && !ConfirmDecrease(count)) return;
    RemoveTexts(languages_, count);
  } else {
    InsertTexts(languages_, count);
  }
  languages_ = count;
  // A default language that no longer exists falls back to the first.
  if (default_language_ >= languages_) default_language_ = 0;
}

bool TBaseMultiLang::ConfirmDecrease(std::uint8_t count) {
  if (active_language_ >= count) {
    if (ShowMessageBox(kDecreaseDeletingActiveText, BoxIcon::kQuestion,
                       BoxButtons::kYesNo) != BoxAnswer::kYes) {
      return false;
    }
    SetActiveLanguage(0);
    return true;
  }
  return ShowMessageBox(kDecreaseText, BoxIcon::kQuestion,
                        BoxButtons::kYesNo) == BoxAnswer::kYes;
}

void TBaseMultiLang::RemoveTexts(std::size_t old_count, std::size_t new_count) {
  const std::size_t row_length = old_count + 1;
  const std::size_t rows = (words_.size() + row_length - 1) / row_length;
  for (std::size_t row = rows; row-- > 0;) {
    const std::size_t start = row * row_length;
    const std::size_t first = std::min(start + new_count + 1, words_.size());
    const std::size_t end = std::min(start + row_length, words_.size());
    words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(first),
                 words_.begin() + static_cast<std::ptrdiff_t>(end));
  }
}

void TBaseMultiLang::InsertTexts(std::size_t old_count, std::size_t new_count) {
  const std::size_t row_length = old_count + 1;
  const std::size_t rows = (words_.size() + row_length - 1) / row_length;
  for (std::size_t row = rows; row-- > 0;) {
    const std::size_t after_last =
        std::min(row * row_length + row_length, words_.size());
    words_.insert(words_.begin() + static_cast<std::ptrdiff_t>(after_last),
                  new_count - old_count, "?");
  }
}

std::string TBaseMultiLang::GetWord(const std::string& id) const {
  for (std::size_t row = 0;; row += RowLength()) {
    if (row + languages_ >= words_.size()) {
      std::string result = id;
      if (IdNotFoundError) IdNotFoundError(*this, id, result);
      return result;
    }
    if (words_[row] == id) return TextOfRow(row);
  }
}

std::string TBaseMultiLang::TextOfRow(std::size_t row) const {
  const std::size_t line = row + active_language_ + 1;
  std::string text = line < words_.size() ? words_[line] : std::string();
  if (text.empty() && default_enabled_ && default_language_ < languages_) {
    const std::size_t fallback = row + default_language_ + 1;
    if (fallback < words_.size()) text = words_[fallback];
  }
  return text;
}

bool TBaseMultiLang::Take(std::size_t& row, std::string& text) const {
  if (row + active_language_ + 1 >= words_.size()) return false;
  text = TextOfRow(row);
  row += RowLength();
  return true;
}

bool TBaseMultiLang::IsContinuationKey(std::size_t row) const {
  return row < words_.size() && words_[row] == kContinuationKey;
}

bool TBaseMultiLang::IsHintKey(std::size_t row) const {
  return row < words_.size() && SameText(words_[row], kHintKey);
}

void TBaseMultiLang::FillList(
    std::size_t& row, int count,
    const std::function<void(int, const std::string&)>& set_item,
    bool& taken) const {
  if (count <= 0 || row + active_language_ + 1 >= words_.size()) return;
  int last_filled = -1;
  for (int item = 0;; ++item) {
    std::string text;
    if (Take(row, text)) {
      set_item(item, text);
      last_filled = item;
      taken = true;
    }
    if (row >= words_.size() || !IsContinuationKey(row) || item + 1 >= count) {
      break;
    }
  }
  for (int item = last_filled + 1; item < count; ++item) set_item(item, "");
}

void TBaseMultiLang::ApplyTable() {
  std::size_t row = 0;
  while (row < words_.size()) {
    const std::string& key = words_[row];
    if (key == kFormKey) {
      ApplyFormCaption(row);
      row += RowLength();
      continue;
    }
    QObject* component = FindOwnedComponent(key);
    if (component == nullptr) {
      row += RowLength();
      continue;
    }
    const std::size_t start = row;
    try {
      ApplyComponentTexts(component, row);
    } catch (const std::exception&) {
      break;
    }
    // A component with nothing to show (a non-visual one) uses no row; its
    // row is passed all the same, or the walk would never end.
    if (row == start) row += RowLength();
  }
}

void TBaseMultiLang::ApplyFormCaption(std::size_t row) {
  auto* form = qobject_cast<QWidget*>(owner_);
  if (form == nullptr || row + active_language_ + 1 >= words_.size()) return;
  form->setWindowTitle(ToQt(TextOfRow(row)));
}

QObject* TBaseMultiLang::FindOwnedComponent(const std::string& name) const {
  if (owner_ == nullptr || name.empty()) return nullptr;
  const auto children = owner_->findChildren<QObject*>();
  for (QObject* child : children) {
    if (SameText(child->objectName().toStdString(), name)) return child;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// TMultiLang

void TMultiLang::ApplyComponentTexts(QObject* component, std::size_t& row) {
  bool taken = false;
  std::string text;
  if (auto* list = qobject_cast<QListWidget*>(component)) {
    FillList(
        row, list->count(),
        [list](int i, const std::string& t) {
          list->item(i)->setText(ToQt(t));
        },
        taken);
  } else if (auto* widget = qobject_cast<QWidget*>(component);
             widget != nullptr && widget->isWindow()) {
    if (Take(row, text)) {
      widget->setWindowTitle(ToQt(text));
      taken = true;
    }
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(component)) {
    QStringList lines = LinesOf(plain->toPlainText());
    FillList(
        row, static_cast<int>(lines.size()),
        [&lines](int i, const std::string& t) { lines[i] = ToQt(t); }, taken);
    plain->setPlainText(lines.join('\n'));
  } else if (auto* rich = qobject_cast<QTextEdit*>(component)) {
    QStringList lines = LinesOf(rich->toPlainText());
    FillList(
        row, static_cast<int>(lines.size()),
        [&lines](int i, const std::string& t) { lines[i] = ToQt(t); }, taken);
    rich->setPlainText(lines.join('\n'));
  } else if (auto* combo = qobject_cast<QComboBox*>(component)) {
    const int selected = combo->currentIndex();
    FillList(
        row, combo->count(),
        [combo](int i, const std::string& t) {
          combo->setItemText(i, ToQt(t));
        },
        taken);
    combo->setCurrentIndex(selected);
  } else if (auto* action = qobject_cast<QAction*>(component)) {
    if (Take(row, text)) {
      action->setText(ToQt(text));
      taken = true;
    }
  } else {
    ApplyCaptionAndText(component, row, taken);
  }
  ApplyHint(component, row, taken);
}

void TMultiLang::ApplyCaptionAndText(QObject* component, std::size_t& row,
                                     bool& taken) {
  std::string text;
  auto take = [&]() {
    if (!Take(row, text)) return false;
    taken = true;
    return true;
  };
  if (auto* label = qobject_cast<QLabel*>(component)) {
    if (take()) label->setText(ToQt(text));
  } else if (auto* button = qobject_cast<QAbstractButton*>(component)) {
    if (take()) button->setText(ToQt(text));
  } else if (auto* group = qobject_cast<QGroupBox*>(component)) {
    if (take()) group->setTitle(ToQt(text));
  } else if (auto* edit = qobject_cast<QLineEdit*>(component)) {
    if (take()) edit->setText(ToQt(text));
  }
}

void TMultiLang::ApplyHint(QObject* component, std::size_t& row, bool taken) {
  auto* widget = qobject_cast<QWidget*>(component);
  auto* action = qobject_cast<QAction*>(component);
  if (widget == nullptr && action == nullptr) return;
  std::string text;
  if (!taken) Take(row, text);  // passes the component's own row
  if (!IsHintKey(row) || !Take(row, text) || text.empty()) return;
  if (widget != nullptr) widget->setToolTip(ToQt(text));
  if (action != nullptr) action->setToolTip(ToQt(text));
}

std::size_t TMultiLang::CollectComponentTexts(QObject* component,
                                              std::size_t row,
                                              TextGrid& grid) const {
  const std::string name = component->objectName().toStdString();
  const std::size_t column = std::size_t{ActiveLanguage()} + 1;
  bool first = true;
  auto put = [&](const std::string& key, const QString& text) {
    if (grid.size() <= row) grid.resize(row + 1);
    auto& line = grid[row];
    if (line.size() < RowLength()) line.resize(RowLength());
    line[0] = key;
    line[column] = FromQt(text);
    ++row;
    first = false;
  };
  auto put_items = [&](const QStringList& items) {
    for (const QString& item : items)
      put(first ? name : kContinuationKey, item);
  };
  if (auto* list = qobject_cast<QListWidget*>(component)) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    put_items(items);
  } else if (auto* widget = qobject_cast<QWidget*>(component);
             widget != nullptr && widget->isWindow()) {
    put(name, widget->windowTitle());
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(component)) {
    put_items(LinesOf(plain->toPlainText()));
  } else if (auto* rich = qobject_cast<QTextEdit*>(component)) {
    put_items(LinesOf(rich->toPlainText()));
  } else if (auto* combo = qobject_cast<QComboBox*>(component)) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    put_items(items);
  } else if (auto* action = qobject_cast<QAction*>(component)) {
    put(name, action->text());
  } else if (auto* label = qobject_cast<QLabel*>(component)) {
    put(name, label->text());
  } else if (auto* button = qobject_cast<QAbstractButton*>(component)) {
    put(name, button->text());
  } else if (auto* group = qobject_cast<QGroupBox*>(component)) {
    put(name, group->title());
  } else if (auto* edit = qobject_cast<QLineEdit*>(component)) {
    put(name, edit->text());
  }
  QString hint;
  if (auto* widget = qobject_cast<QWidget*>(component))
    hint = widget->toolTip();
  if (auto* action = qobject_cast<QAction*>(component))
    hint = action->toolTip();
  const bool has_hint = qobject_cast<QWidget*>(component) != nullptr ||
                        qobject_cast<QAction*>(component) != nullptr;
  if (has_hint && first) put(name, QString());
  if (!hint.isEmpty()) put(kHintKey, hint);
  return row;
}

}  // namespace quillon

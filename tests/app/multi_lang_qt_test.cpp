// The word table: lookups, language changes, the setters with their boxes,
// and how texts reach the window's components.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "app/multi_lang.h"
#include "app/receive_status_words.h"
#include "platform/code_pages.h"
#include "tests/app/qt_test_application.h"

namespace quillon {
namespace {

struct RecordedBox {
  std::string text;
  BoxButtons buttons;
};

std::string Cp1252(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

// A window with the components of the status window's table that carry
// texts, and the table loaded as the window loads it.
class WordTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TestApplication();
    SetMessageBoxFunction(
        [this](const std::string& text, BoxIcon, BoxButtons buttons) {
          boxes_.push_back({text, buttons});
          return answer_;
        });
    form_ = std::make_unique<QWidget>();
    for (const char* name :
         {"Label1", "Label2", "Label3", "Label4", "Label5"}) {
      Add<QLabel>(name);
    }
    Add<QPushButton>("Button1");
    Add<QPushButton>("Button2");
    Add<QPushButton>("Button3");
    words_ = std::make_unique<TMultiLang>(form_.get());
    words_->BeginLoading();
    words_->Words() = ReceiveStatusWords();
    words_->Loaded();
  }
  void TearDown() override { SetMessageBoxFunction(nullptr); }

  template <typename Widget>
  Widget* Add(const char* name) {
    auto* widget = new Widget(form_.get());  // owned by the form
    widget->setObjectName(name);
    return widget;
  }
  QLabel* Label(const char* name) { return form_->findChild<QLabel*>(name); }
  QPushButton* Button(const char* name) {
    return form_->findChild<QPushButton*>(name);
  }

  std::unique_ptr<QWidget> form_;
  std::unique_ptr<TMultiLang> words_;
  std::vector<RecordedBox> boxes_;
  BoxAnswer answer_ = BoxAnswer::kYes;
};

TEST_F(WordTableTest, StartsAsConstructedWithTheStartLanguageApplied) {
  EXPECT_EQ(words_->Languages(), 2);
  EXPECT_EQ(words_->ActiveLanguage(), 0);
  EXPECT_EQ(words_->DefaultLanguage(), 0);
  EXPECT_FALSE(words_->DefaultEnabled());
  EXPECT_EQ(words_->Words().size(), 75u);
  EXPECT_EQ(form_->windowTitle(), "Corvane - Receiving messages...");
  EXPECT_EQ(Label("Label1")->text(), "Retrieving messages for");
  EXPECT_EQ(Button("Button2")->text(), "&Minimize");
  EXPECT_EQ(Button("Button3")->toolTip(),
            "Skip currently retrieved message...");
}

struct WordCase {
  const char* name;
  std::uint8_t language;
  const char* id;
  const char* expected;  // Windows-1252
};

class GetWordTest : public WordTableTest,
                    public ::testing::WithParamInterface<WordCase> {};

TEST_P(GetWordTest, GivesTheTextOfTheActiveLanguage) {
  words_->SetActiveLanguage(GetParam().language);
  EXPECT_EQ(words_->GetWord(GetParam().id), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    StatusWindowTable, GetWordTest,
    ::testing::Values(
        WordCase{"OfEnglish", 0, "idOf", "of"},
        WordCase{"OfIcelandic", 1, "idOf", "af"},
        WordCase{"MissingIdIsItself", 0, "nothing", "nothing"},
        WordCase{"MissingIdIcelandic", 1, "nothing", "nothing"},
        WordCase{"IdsCompareWithCase", 0, "IDOF", "IDOF"},
        WordCase{"ComponentNameAsId", 0, "Label1", "Retrieving messages for"},
        WordCase{"PreparingIcelandicBytes", 1, "idPreparing",
                 "Undirb\xFD p\xF3stflutning..."},
        WordCase{"BytesIcelandic", 1, "idBytes", "b\xE6tum"},
        WordCase{"ScanningIcelandic", 1, "idScanning",
                 "Leita a\xF0 n\xFDjum p\xF3sti \xED h\xF3lfinu..."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WordTableTest, IdNotFoundHandlerMaySupplyTheText) {
  std::string asked;
  words_->IdNotFoundError = [&](const TBaseMultiLang&, const std::string& id,
                                std::string& result) {
    asked = id;
    result = "<" + id + ">";
  };
  EXPECT_EQ(words_->GetWord("idMissing"), "<idMissing>");
  EXPECT_EQ(asked, "idMissing");
  EXPECT_EQ(words_->GetWord("idOf"), "of");
}

TEST_F(WordTableTest, IncompleteLastRowIsNotSearched) {
  words_->Words() = {"idA", "a0", "a1", "idB", "b0"};
  EXPECT_EQ(words_->GetWord("idA"), "a0");
  EXPECT_EQ(words_->GetWord("idB"), "idB");
}

TEST_F(WordTableTest, LanguageOneAppliesTheIcelandicTexts) {
  words_->SetActiveLanguage(1);
  EXPECT_EQ(Cp1252(form_->windowTitle()), "S\xE6ki p\xF3st...");
  EXPECT_EQ(Cp1252(Label("Label3")->text()), "Skilabo\xF0:");
  EXPECT_EQ(Cp1252(Label("Label5")->text()),
            "Sta\xF0"
            "a:");
  EXPECT_EQ(Cp1252(Button("Button1")->text()), "H\xE6tta vi\xF0");
  EXPECT_EQ(Cp1252(Button("Button3")->toolTip()),
            "Hoppa yfir p\xF3st sem veri\xF0 er a\xF0 s\xE6kja...");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WordTableTest, LanguagePastTheLastShowsTheBoxAndChangesNothing) {
  words_->SetActiveLanguage(2);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text,
            "Value must not be higher than\rnumber of available languages.");
  EXPECT_EQ(boxes_[0].buttons, BoxButtons::kCancel);
  EXPECT_EQ(words_->ActiveLanguage(), 0);
  EXPECT_EQ(Label("Label1")->text(), "Retrieving messages for");
}

TEST_F(WordTableTest, BeforeLanguageChangeMayVetoAndAfterReportsTheChange) {
  std::vector<int> after;
  bool allow = false;
  words_->BeforeLanguageChange = [&](TBaseMultiLang&, std::uint8_t,
                                     bool& allow_it) { allow_it = allow; };
  words_->AfterLanguageChanged = [&](TBaseMultiLang&, std::uint8_t language) {
    after.push_back(language);
  };
  words_->SetActiveLanguage(1);
  EXPECT_EQ(words_->ActiveLanguage(), 0);
  EXPECT_EQ(Button("Button2")->text(), "&Minimize");
  allow = true;
  words_->SetActiveLanguage(1);
  EXPECT_EQ(words_->ActiveLanguage(), 1);
  EXPECT_EQ(Button("Button2")->text(), "&Minnka");
  EXPECT_EQ(after, std::vector<int>{1});
}

TEST_F(WordTableTest, ApplyingEmptiesProgramTextsOnlyWhenApplied) {
  Label("Label2")->setText("anna@example.org");
  Label("Label4")->setText("Preparing retrieval...");
  words_->SetActiveLanguage(0);
  EXPECT_EQ(Label("Label2")->text(), "");
  EXPECT_EQ(Label("Label4")->text(), "");
  Label("Label2")->setText("anna@example.org");
  EXPECT_EQ(words_->GetWord("idOf"), "of");  // lookups apply nothing
  EXPECT_EQ(Label("Label2")->text(), "anna@example.org");
}

TEST_F(WordTableTest, DefaultLanguageFillsEmptyTextsWhenEnabled) {
  auto& words = words_->Words();
  words[18 * 3 + 2] = "";  // idOf in Icelandic
  words[2 * 3 + 2] = "";   // Label1 in Icelandic
  words_->SetActiveLanguage(1);
  EXPECT_EQ(words_->GetWord("idOf"), "");
  EXPECT_EQ(Label("Label1")->text(), "");
  words_->SetDefaultEnabled(true);  // re-applies the texts
  EXPECT_EQ(words_->GetWord("idOf"), "of");
  EXPECT_EQ(Label("Label1")->text(), "Retrieving messages for");
  EXPECT_EQ(Cp1252(Label("Label3")->text()), "Skilabo\xF0:");
}

TEST_F(WordTableTest, DefaultLanguagePastTheLastIsRefused) {
  words_->SetDefaultLanguage(2);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].buttons, BoxButtons::kCancel);
  EXPECT_EQ(words_->DefaultLanguage(), 0);
  words_->SetDefaultLanguage(1);
  EXPECT_EQ(words_->DefaultLanguage(), 1);
  EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(WordTableTest, MoreLanguagesAppendAQuestionMarkToEveryRow) {
  words_->SetLanguages(3);
  const auto& words = words_->Words();
  ASSERT_EQ(words.size(), 100u);
  for (std::size_t row = 0; row < 25; ++row) {
    EXPECT_EQ(words[row * 4 + 3], "?") << "row " << row;
  }
  EXPECT_EQ(words[4], "Panel1");
  EXPECT_EQ(words[99], "?");
  EXPECT_EQ(words[98], "Undirb\xFD p\xF3stflutning...");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WordTableTest, FewerLanguagesAskAndRemoveTheLastTexts) {
  words_->SetLanguages(3);
  answer_ = BoxAnswer::kNo;
  words_->SetLanguages(2);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].buttons, BoxButtons::kYesNo);
  EXPECT_EQ(boxes_[0].text,
            "You are decreasing the number of languages.\rEntries for the "
            "removed language will be lost.\r\rContinue?");
  EXPECT_EQ(words_->Languages(), 3);
  EXPECT_EQ(words_->Words().size(), 100u);

  answer_ = BoxAnswer::kYes;
  words_->SetLanguages(2);
  EXPECT_EQ(words_->Languages(), 2);
  EXPECT_EQ(words_->Words(), ReceiveStatusWords());
}

TEST_F(WordTableTest, RemovingTheActiveLanguageAsksFirstAndFallsBackToZero) {
  words_->SetActiveLanguage(1);
  answer_ = BoxAnswer::kNo;
  words_->SetLanguages(1);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].text.find("The currently displayed language will be "
                                "deleted, too.\r\rDo you really want to "
                                "continue?"),
            std::string::npos);
  EXPECT_EQ(words_->ActiveLanguage(), 1);
  answer_ = BoxAnswer::kYes;
  words_->SetLanguages(1);
  EXPECT_EQ(words_->ActiveLanguage(), 0);
  EXPECT_EQ(words_->Words().size(), 50u);
  EXPECT_EQ(words_->GetWord("idOf"), "of");
}

TEST_F(WordTableTest, RemovedDefaultLanguageFallsBackToTheFirst) {
  words_->SetLanguages(3);
  words_->SetDefaultLanguage(2);
  words_->SetDefaultEnabled(true);
  words_->Words()[18 * 4 + 2] = "";  // idOf in Icelandic
  words_->SetActiveLanguage(1);
  EXPECT_EQ(words_->GetWord("idOf"), "?");  // the third language's text
  words_->SetLanguages(2);
  EXPECT_EQ(words_->DefaultLanguage(), 0);
  // Not the key of the next row ("idBytes"), which the old default's
  // position now holds.
  EXPECT_EQ(words_->GetWord("idOf"), "of");
}

TEST_F(WordTableTest, NoLanguagesIsRefused) {
  words_->SetLanguages(0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "You have to provide at least 1 language.");
  EXPECT_EQ(boxes_[0].buttons, BoxButtons::kOk);
  EXPECT_EQ(words_->Languages(), 2);
}

TEST_F(WordTableTest, LoadingChangesLanguagesWithoutQuestions) {
  words_->SetLanguages(3);
  words_->BeginLoading();
  words_->SetLanguages(2);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(words_->Languages(), 2);
}

TEST_F(WordTableTest, ListsAreFilledFromContinuationRows) {
  auto* list = Add<QListWidget>("Choices");
  list->addItems({"a", "b", "c"});
  auto* combo = Add<QComboBox>("Kinds");
  combo->addItems({"x", "y", "z"});
  combo->setCurrentIndex(2);
  words_->Words() = {"Choices", "one", "eins", "\"",      "two",   "tveir",
                     "Kinds",   "X",   "Xi",   "\"",      "Y",     "Ypsilon",
                     "\"",      "Z",   "Zeta", "\".HINT", "kinds", "tegundir"};
  words_->SetActiveLanguage(1);
  EXPECT_EQ(list->item(0)->text(), "eins");
  EXPECT_EQ(list->item(1)->text(), "tveir");
  EXPECT_EQ(list->item(2)->text(), "");  // past the last row filled
  EXPECT_EQ(combo->itemText(0), "Xi");
  EXPECT_EQ(combo->itemText(2), "Zeta");
  EXPECT_EQ(combo->currentIndex(), 2);
  EXPECT_EQ(combo->toolTip(), "tegundir");  // the hint key in any case
}

TEST_F(WordTableTest, ComponentWithoutTextsDoesNotStopTheWalk) {
  QObject conversation(form_.get());
  conversation.setObjectName("Clientinn");
  words_->SetActiveLanguage(1);  // the status table has a Clientinn row
  EXPECT_EQ(words_->ActiveLanguage(), 1);
  EXPECT_EQ(Button("Button2")->text(), "&Minnka");
}

TEST_F(WordTableTest, ComponentRowCutShortKeepsTheMissingTexts) {
  Label("Label1")->setText("old");
  words_->Words() = {"Label3", "Message:", "Skilabo\xF0:", "Label1", "first"};
  words_->SetActiveLanguage(1);
  EXPECT_EQ(Label("Label1")->text(), "old");
  EXPECT_EQ(Cp1252(Label("Label3")->text()), "Skilabo\xF0:");
  words_->SetActiveLanguage(0);
  EXPECT_EQ(Label("Label1")->text(), "first");
}

TEST_F(WordTableTest, CollectedTextsApplyBackUnchanged) {
  words_->SetActiveLanguage(1);
  TextGrid grid;
  std::size_t row = 0;
  row = words_->CollectComponentTexts(Button("Button3"), row, grid);
  row = words_->CollectComponentTexts(Label("Label5"), row, grid);
  ASSERT_EQ(row, 3u);
  EXPECT_EQ(grid[0][0], "Button3");
  EXPECT_EQ(grid[0][2], "Hoppa yfir");
  EXPECT_EQ(grid[1][0], "\".Hint");
  EXPECT_EQ(grid[2][2],
            "Sta\xF0"
            "a:");

  QWidget other;
  TMultiLang other_words(&other);
  auto* button = new QPushButton(&other);
  button->setObjectName("Button3");
  for (const auto& line : grid) {
    for (const auto& cell : line) other_words.Words().push_back(cell);
  }
  other_words.SetActiveLanguage(1);
  EXPECT_EQ(button->text(), Button("Button3")->text());
  EXPECT_EQ(button->toolTip(), Button("Button3")->toolTip());
}

TEST_F(WordTableTest, InstancesAreListedWhileTheyLive) {
  const auto count = TBaseMultiLang::Instances().size();
  {
    TMultiLang another(form_.get());
    EXPECT_EQ(TBaseMultiLang::Instances().size(), count + 1);
    EXPECT_EQ(TBaseMultiLang::Instances().back(), &another);
  }
  EXPECT_EQ(TBaseMultiLang::Instances().size(), count);
}

}  // namespace
}  // namespace quillon

#include "app/mail_address_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include "mail/mail_address.h"
#include "tests/app/qt_test_application.h"

namespace quillon {
namespace {

// Answers the modal dialog once it is up: types into its fields and
// confirms or cancels it.
void AnswerDialog(const QString& name, const QString& address, bool confirm) {
  QTimer::singleShot(0, [=] {
    auto* dialog = qobject_cast<TMailAddressDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Address");
    dialog->NameEdit().setText(name);
    dialog->AddressEdit().setText(address);
    if (confirm) {
      dialog->accept();
    } else {
      dialog->reject();
    }
  });
}

class MailAddressDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TestApplication();
    InstallMailAddressDialog();
  }
  void TearDown() override { SetMailAddressEditor(nullptr); }
};

TEST_F(MailAddressDialog, ConfirmedEditTakesBothFields) {
  TmsMailAddress address("old@example.org", "Old");
  AnswerDialog(QString::fromUtf8("J\xC3\xB3n"), "jon@example.is", true);
  EXPECT_TRUE(address.Edit());
  EXPECT_EQ(address.Name(), "J\xF3n");  // Windows-1252 in the model
  EXPECT_EQ(address.Address(), "jon@example.is");
}

TEST_F(MailAddressDialog, CancelledEditChangesNothing) {
  TmsMailAddress address("old@example.org", "Old");
  AnswerDialog("New", "new@example.org", false);
  EXPECT_FALSE(address.Edit());
  EXPECT_EQ(address.Name(), "Old");
  EXPECT_EQ(address.Address(), "old@example.org");
}

TEST(MailAddressEdit, WithoutAnInstalledFormNothingIsEdited) {
  SetMailAddressEditor(nullptr);
  TmsMailAddress address("a@b", "A");
  EXPECT_FALSE(address.Edit());
  EXPECT_EQ(address.Address(), "a@b");
}

}  // namespace
}  // namespace quillon

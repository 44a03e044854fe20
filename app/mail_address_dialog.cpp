#include "app/mail_address_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "mail/mail_address.h"
#include "platform/code_pages.h"

namespace quillon {

namespace {

QString ToDisplay(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string FromDisplay(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

}  // namespace

TMailAddressDlg::TMailAddressDlg(const std::string& name,
                                 const std::string& address, QWidget* parent)
    : QDialog(parent),
      name_edit_(new QLineEdit(ToDisplay(name), this)),
      address_edit_(new QLineEdit(ToDisplay(address), this)) {
  setWindowTitle(QStringLiteral("Address"));
  setModal(true);
  auto* layout = new QFormLayout(this);
  layout->addRow(QStringLiteral("Name"), name_edit_);
  layout->addRow(QStringLiteral("Address"), address_edit_);
  auto* buttons =
      new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

std::string TMailAddressDlg::Name() const { return FromDisplay(name_edit_->text()); }

std::string TMailAddressDlg::Address() const {
  return FromDisplay(address_edit_->text());
}

void InstallMailAddressDialog() {
  SetMailAddressEditor([](std::string& name, std::string& address) {
    TMailAddressDlg dialog(name, address);
    if (dialog.exec() != QDialog::Accepted) return false;
    name = dialog.Name();
    address = dialog.Address();
    return true;
  });
}

}  // namespace quillon

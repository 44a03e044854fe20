// TMailAddressDlg: the small modal "Address" form that TmsMailAddress::Edit
// opens, with a "Name" and an "Address" field and OK / Cancel.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

namespace quillon {

class TMailAddressDlg : public QDialog {
  Q_OBJECT

 public:
  TMailAddressDlg(const std::string& name, const std::string& address,
                  QWidget* parent = nullptr);

  // The fields' texts as 8-bit (Windows-1252) strings.
  std::string Name() const;
  std::string Address() const;
  QLineEdit& NameEdit() { return *name_edit_; }
  QLineEdit& AddressEdit() { return *address_edit_; }

 private:
  QLineEdit* name_edit_;     // owned by the dialog
  QLineEdit* address_edit_;  // owned by the dialog
};

// Makes TmsMailAddress::Edit open this dialog.
void InstallMailAddressDialog();

}  // namespace quillon

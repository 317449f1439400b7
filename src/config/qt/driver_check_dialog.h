#pragma once
// The driver and provider check dialog: the source side's and the target
// side's providers and ODBC drivers, each as installed or not and usable or
// not, the vendors' download pages, and the installation of the MySQL ODBC
// 3.51 driver from the folder beside the program. "Open Config" closes it and
// opens the configuration dialog.
//
// Object names for tests and scripts: sourceRows, targetRows (the lists),
// installButton, mysqlLink, microsoftLink, openConfigButton, cancelButton.

#include <QDialog>
#include <QTreeWidget>
#include <string>

#include "config/driver_check.h"

namespace migrator::gui {

class DriverCheckDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kMySqlSetupUrl = "https://dev.mysql.com/downloads/connector/odbc/";
  static constexpr const char* kMicrosoftSetupUrl =
      "https://www.microsoft.com/en-us/download/details.aspx?id=13255";

  // programDir: the folder that holds "MyODBC3.51".
  DriverCheckDialog(Frontend& ui, std::string programDir, QWidget* parent = nullptr);
  DriverCheckDialog(Frontend& ui, std::string programDir, DriverCheckEnvironment env,
                    QWidget* parent = nullptr);

 private:
  QWidget* BuildSection(const QString& title, const std::vector<ProbeRow>& rows,
                        const char* listName, bool source);
  void Install();

  Frontend& ui_;
  std::string programDir_;
  DriverCheckEnvironment env_;
};

}  // namespace migrator::gui

#pragma once
// The print service's login: login and password (masked, kept in memory
// only), OK enabled while both are filled, and Register, which opens the
// service's site.

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;

namespace NetPrint::PhotoUpload {

class CDlgNetPrintLogin : public QDialog {
    Q_OBJECT
public:
    enum : int { kOk = 1, kCancel = 2, kLogin = 1081, kPassword = 1082, kRegister = 1083, kRequires = 1089 };

    explicit CDlgNetPrintLogin(QWidget* parent = nullptr);

    // Before exec(): the values shown; after OK: the values entered.
    std::string m_strLogin;
    std::string m_strPassword;

    // Shows the members in the edits (exec() does it first).
    void OnInitDialog();
    int exec() override;
    QPushButton* OkButton() const { return m_ok; }

public slots:
    void accept() override;

private:
    void UpdateOk();

    QLineEdit* m_login;
    QLineEdit* m_password;
    QPushButton* m_ok;
};

// The print service's site, opened by Register.
inline constexpr const char* kNetPrintSiteUrl = "http://print.orvex.example/";

}  // namespace NetPrint::PhotoUpload

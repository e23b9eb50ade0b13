#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tallybrook {
class CloudClient;
}

namespace tallybrook::ui {

class BusyIndicator;
class SegmentedControl;

// The account screen, shown while nobody is signed in: sign in with email and password, create an account,
// or ask for a password-reset email. Success shows itself: the client's session appears and the window
// moves on to the desk.
class AuthView final : public QWidget {
    Q_OBJECT

public:
    enum class Mode { SignIn, Create };

    explicit AuthView(CloudClient &cloud, QWidget *parent = nullptr);

    [[nodiscard]] Mode mode() const { return m_mode; }
    void setMode(Mode mode);
    [[nodiscard]] bool isWorking() const { return m_isWorking; }
    [[nodiscard]] const std::optional<QString> &message() const { return m_message; }
    [[nodiscard]] bool messageIsError() const { return m_isError; }
    [[nodiscard]] bool canSubmit() const;

    // The primary action (the button, or Return in any field); does nothing while it may not run.
    void submit();
    void sendPasswordReset();

    [[nodiscard]] static QString title(Mode mode);
    // The email with blanks at both ends removed has one "@", no white space, and a dot in its domain part.
    [[nodiscard]] static bool isValidEmail(const QString &email);
    [[nodiscard]] static bool canSubmit(Mode mode, const QString &email, const QString &password,
                                        bool isWorking);
    static constexpr int minimumNewPasswordLength = 8;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void setWorking(bool working);
    void setMessage(const std::optional<QString> &message, bool isError);
    void finish(const std::optional<QString> &message, bool isError);
    void syncForm();
    void syncMessage();

    CloudClient &m_cloud;
    Mode m_mode = Mode::SignIn;
    bool m_isWorking = false;
    std::optional<QString> m_message;
    bool m_isError = false;

    SegmentedControl *m_modePicker = nullptr;
    QFormLayout *m_form = nullptr;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_email = nullptr;
    QLineEdit *m_password = nullptr;
    QLabel *m_passwordHint = nullptr;
    QLabel *m_messageLabel = nullptr;
    QPushButton *m_forgotButton = nullptr;
    BusyIndicator *m_busy = nullptr;
    QPushButton *m_primaryButton = nullptr;
};

} // namespace tallybrook::ui

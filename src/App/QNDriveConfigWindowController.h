#pragma once

#include "Core/QNDriveConfig.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class QNMainWindowController;

// The drive-settings form: display name, account name and password, server
// URL, the character encoding and SSL switch of FTP drives, certificate
// validation of WebDAV drives; only what the drive's kind uses is shown.
// OK writes the fields into the drive object (edited in place) and ends the
// sheet with 1; Cancel ends it with 0 and changes nothing. The caller logs
// in and saves.
class QNDriveConfigWindowController : public QObject {
    Q_OBJECT
public:
    // One entry of the encoding list: its name as shown and the number
    // stored in the drive's stringEncoding (0: detect; unsigned, some above 2^31).
    struct Encoding {
        QString name;
        quint32 number;
    };
    // The 23 entries, in list order.
    static const QList<Encoding> &encodingTable();

    explicit QNDriveConfigWindowController(QObject *parent = nullptr);
    ~QNDriveConfigWindowController() override;

    QNDriveConfigPtr driveConfig() const { return m_driveConfig; }
    // Set before the window is loaded.
    void setDriveConfig(QNDriveConfigPtr drive) { m_driveConfig = std::move(drive); }

    // The entry names in list order, and name -> encoding number.
    const QStringList &encodingNames() const { return m_encodingNames; }
    const QHash<QString, quint32> &encodings() const { return m_encodings; }

    // The form, built and filled on first request (windowDidLoad).
    QWidget *window();
    bool isWindowLoaded() const { return m_window != nullptr; }

    // Begins the form as a sheet on the window; done(returnCode) runs once
    // when it ends (1 OK, 0 Cancel).
    void beginSheet(QWidget *onWindow, std::function<void(int returnCode)> done);

    // OK: writes the fields, ends the sheet with 1. Cancel: ends it with 0.
    void ok();
    void cancel();

    // Edit on a main window: the presenter the main window calls.
    static void install();

    // Outlets.
    QLabel *nameLabel() const { return m_nameLabel; }
    QLabel *usernameLabel() const { return m_usernameLabel; }
    QLabel *passwordLabel() const { return m_passwordLabel; }
    QLabel *urlLabel() const { return m_urlLabel; }
    QLabel *characterEncodingLabel() const { return m_characterEncodingLabel; }
    QLabel *useSSLLabel() const { return m_useSSLLabel; }
    QLabel *validateCertificatesLabel() const { return m_validateCertificatesLabel; }
    QLineEdit *name() const { return m_name; }
    QLineEdit *username() const { return m_username; }
    QLineEdit *password() const { return m_password; }
    QLineEdit *url() const { return m_url; }
    QComboBox *characterEncoding() const { return m_characterEncoding; }
    QCheckBox *useSSL() const { return m_useSSL; }
    QCheckBox *validateCertificates() const { return m_validateCertificates; }
    QPushButton *okButton() const { return m_okButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }

    // The sample account name shown in the user-name field of Office 365 drives.
    static QString office365UsernamePlaceholder();
    // The URL field's placeholder for WebDAV drives.
    // What an FTP, FTPS or SFTP drive's address field takes.
    static QString ftpUrlPlaceholder();
    // Why an FTP drive's address cannot be used ("" when it can): empty, a
    // scheme other than ftp, ftps and sftp, or no host.
    static QString ftpAddressProblem(const QString &address, bool sftp);
    static QString webDAVUrlPlaceholder();

private:
    void buildWindow();
    void windowDidLoad();
    void endSheet(int returnCode);

    QNDriveConfigPtr m_driveConfig;
    QStringList m_encodingNames;
    QHash<QString, quint32> m_encodings;
    std::function<void(int)> m_done;
    bool m_ended = false;

    // Re-parented onto the window it is shown on, which may delete it first.
    QPointer<QWidget> m_window;
    QLabel *m_nameLabel = nullptr;
    QLabel *m_usernameLabel = nullptr;
    QLabel *m_passwordLabel = nullptr;
    QLabel *m_urlLabel = nullptr;
    QLabel *m_characterEncodingLabel = nullptr;
    QLabel *m_useSSLLabel = nullptr;
    QLabel *m_validateCertificatesLabel = nullptr;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_username = nullptr;
    QLineEdit *m_password = nullptr;
    QLineEdit *m_url = nullptr;
    QComboBox *m_characterEncoding = nullptr;
    QCheckBox *m_useSSL = nullptr;
    QCheckBox *m_validateCertificates = nullptr;
    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
};

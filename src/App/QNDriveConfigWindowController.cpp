#include "App/QNDriveConfigWindowController.h"

#include "App/QNDialogService.h"
#include "App/QNMainWindowController.h"
#include "App/TBWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

const QList<QNDriveConfigWindowController::Encoding> &QNDriveConfigWindowController::encodingTable() {
    // The numbers are the string-encoding constants stored in drive
    // configurations (the FTP handler reads them); 0 asks for detection.
    static const QList<Encoding> table = {
        {QStringLiteral("Detect / UTF-8"), 0},
        {QStringLiteral("ASCII"), 1},
        {QStringLiteral("Non Lossy ASCII"), 7},
        {QStringLiteral("ISO Latin1"), 5},
        {QStringLiteral("ISO Latin2"), 9},
        {QStringLiteral("ISO 2022 Japanese"), 21},
        {QStringLiteral("Japanese EUC"), 3},
        {QStringLiteral("Shift JIS"), 8},
        {QStringLiteral("Symbol"), 6},
        {QStringLiteral("Windows CP1251 (Cyryillic)"), 11},
        {QStringLiteral("Windows CP1252 (WinLatin1)"), 12},
        {QStringLiteral("Windows CP1253 (Greek)"), 13},
        {QStringLiteral("Windows CP1254 (Turkish)"), 14},
        {QStringLiteral("Windows CP1250 (WinLatin2)"), 15},
        {QStringLiteral("Mac OS Roman"), 30},
        {QStringLiteral("NEXTSTEP"), 2},
        {QStringLiteral("UTF-8"), 4},
        {QStringLiteral("Unicode / UTF-16"), 10},
        {QStringLiteral("UTF-16 Big Endian"), 0x90000100u},
        {QStringLiteral("UTF-16 Little Endian"), 0x94000100u},
        {QStringLiteral("UTF-32"), 0x8C000100u},
        {QStringLiteral("UTF-32 Big Endian"), 0x98000100u},
        {QStringLiteral("UTF-32 Little Endian"), 0x9C000100u},
    };
    return table;
}

QString QNDriveConfigWindowController::office365UsernamePlaceholder() {
    return QStringLiteral("john@contoso.onmicrosoft.com");
}

QString QNDriveConfigWindowController::ftpUrlPlaceholder() {
    return QStringLiteral("ftp://, ftps:// or sftp://host[:port]/folder");
}

QString QNDriveConfigWindowController::ftpAddressProblem(const QString &address, bool sftp) {
    const QString sentence = QStringLiteral("Please type the server's address as ftp://, ftps:// or "
                                            "sftp://host[:port]/folder, for example ftp://ftp.example.com/pub.");
    QString text = address.trimmed();
    if (text.isEmpty())
        return sentence;
    if (!text.contains(QLatin1String("://")))  // typed without a scheme: the drive's kind says which
        text.prepend(sftp ? QLatin1String("sftp://") : QLatin1String("ftp://"));
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("ftp") && scheme != QLatin1String("ftps") && scheme != QLatin1String("sftp")))
        return QStringLiteral("\u201c%1\u201d is not an address this drive can use. %2").arg(address.trimmed(), sentence);
    return {};
}

QString QNDriveConfigWindowController::webDAVUrlPlaceholder() { return QStringLiteral("http[s]://ip-or-host[:port]"); }

QNDriveConfigWindowController::QNDriveConfigWindowController(QObject *parent) : QObject(parent) {
    for (const Encoding &e : encodingTable()) {
        m_encodingNames << e.name;
        m_encodings.insert(e.name, e.number);
    }
}

QNDriveConfigWindowController::~QNDriveConfigWindowController() {
    // A form that goes away unanswered counts as cancelled.
    if (m_window && !m_ended)
        endSheet(0);
    delete m_window;
}

QWidget *QNDriveConfigWindowController::window() {
    if (!m_window) {
        buildWindow();
        windowDidLoad();
    }
    return m_window;
}

void QNDriveConfigWindowController::buildWindow() {
    auto *dialog = new QDialog;
    m_window = dialog;
    m_window->setObjectName(QStringLiteral("QNDriveConfigWindowController"));
    m_window->setWindowTitle(QStringLiteral("Drive Settings"));
    m_window->setMinimumWidth(440);
    // Escape and the window's close box are Cancel.
    connect(dialog, &QDialog::rejected, this, [this] {
        if (!m_ended)
            cancel();
    });

    auto *column = new QVBoxLayout(m_window);
    column->setContentsMargins(20, 18, 20, 14);
    column->setSpacing(14);
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);

    auto label = [this](const QString &text, const char *objectName) {
        auto *l = new QLabel(text, m_window);
        l->setObjectName(QLatin1String(objectName));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return l;
    };
    auto field = [this](const char *objectName) {
        auto *f = new QLineEdit(m_window);
        f->setObjectName(QLatin1String(objectName));
        f->setMinimumWidth(260);
        return f;
    };

    m_nameLabel = label(QStringLiteral("Name"), "nameLabel");
    m_name = field("name");
    m_usernameLabel = label(QStringLiteral("Username"), "usernameLabel");
    m_username = field("username");
    m_passwordLabel = label(QStringLiteral("Password"), "passwordLabel");
    m_password = field("password");
    m_password->setEchoMode(QLineEdit::Password);
    m_urlLabel = label(QStringLiteral("URL"), "urlLabel");
    m_url = field("url");
    m_characterEncodingLabel = label(QStringLiteral("Character Encoding"), "characterEncodingLabel");
    m_characterEncoding = new QComboBox(m_window);
    m_characterEncoding->setObjectName(QStringLiteral("characterEncoding"));
    // Only the list's entries: a typed name could stand for no number.
    m_characterEncoding->setEditable(false);
    m_useSSLLabel = label(QStringLiteral("Use SSL"), "useSSLLabel");
    m_useSSL = new QCheckBox(m_window);
    m_useSSL->setObjectName(QStringLiteral("useSSL"));
    m_validateCertificatesLabel = label(QStringLiteral("Validate Certificates"), "validateCertificatesLabel");
    m_validateCertificates = new QCheckBox(m_window);
    m_validateCertificates->setObjectName(QStringLiteral("validateCertificates"));

    int row = 0;
    grid->addWidget(m_nameLabel, row, 0);
    grid->addWidget(m_name, row++, 1);
    grid->addWidget(m_usernameLabel, row, 0);
    grid->addWidget(m_username, row++, 1);
    grid->addWidget(m_passwordLabel, row, 0);
    grid->addWidget(m_password, row++, 1);
    grid->addWidget(m_urlLabel, row, 0);
    grid->addWidget(m_url, row++, 1);
    grid->addWidget(m_characterEncodingLabel, row, 0);
    grid->addWidget(m_characterEncoding, row++, 1);
    grid->addWidget(m_useSSLLabel, row, 0);
    grid->addWidget(m_useSSL, row++, 1);
    grid->addWidget(m_validateCertificatesLabel, row, 0);
    grid->addWidget(m_validateCertificates, row++, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), m_window);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_okButton = new QPushButton(QStringLiteral("OK"), m_window);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setDefault(true);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_okButton);
    column->addLayout(buttons);
    connect(m_okButton, &QPushButton::clicked, this, &QNDriveConfigWindowController::ok);
    connect(m_cancelButton, &QPushButton::clicked, this, &QNDriveConfigWindowController::cancel);
}

void QNDriveConfigWindowController::windowDidLoad() {
    const QNDriveConfigPtr d = m_driveConfig ? m_driveConfig : QNDriveConfig::create();
    // 1. The name field takes the keyboard.
    m_name->setFocus();
    // 2. The encodings, in list order.
    m_characterEncoding->addItems(m_encodingNames);
    // 3. Only what the drive's kind uses.
    const bool credentials = !d->oAuthLogin();
    const bool hasUrl = d->isFTP() || d->isWebDAV();
    for (QWidget *w : {static_cast<QWidget *>(m_usernameLabel), static_cast<QWidget *>(m_username),
                       static_cast<QWidget *>(m_passwordLabel), static_cast<QWidget *>(m_password)})
        w->setVisible(credentials);
    m_urlLabel->setVisible(hasUrl);
    m_url->setVisible(hasUrl);
    for (QWidget *w : {static_cast<QWidget *>(m_characterEncodingLabel), static_cast<QWidget *>(m_characterEncoding),
                       static_cast<QWidget *>(m_useSSLLabel), static_cast<QWidget *>(m_useSSL)})
        w->setVisible(d->isFTP());
    // FTPS too: without validation its certificate is remembered at the
    // first login instead (SFTP has host keys for that).
    const bool certificates = d->isWebDAV() || (d->isFTP() && !d->isSFTP());
    m_validateCertificatesLabel->setVisible(certificates);
    m_validateCertificates->setVisible(certificates);
    // 4. FTP drives start on "Detect / UTF-8".
    if (d->isFTP())
        m_characterEncoding->setCurrentIndex(0);
    // 5, 6. Placeholders.
    if (d->isWebDAV())
        m_url->setPlaceholderText(webDAVUrlPlaceholder());
    else if (d->isFTP())
        m_url->setPlaceholderText(ftpUrlPlaceholder());
    m_username->setPlaceholderText(d->isOffice365() ? office365UsernamePlaceholder() : QString());
    // 7. The drive's values, where set.
    if (!d->displayName().isNull())
        m_name->setText(d->displayName());
    if (!d->username().isNull())
        m_username->setText(d->username());
    if (!d->password().isNull())
        m_password->setText(d->password());
    if (!d->url().isNull())
        m_url->setText(d->url());
    // 8. The drive's encoding, compared as the unsigned number it is.
    const quint64 stored = d->stringEncoding();
    for (int i = 0; i < encodingTable().size(); ++i) {
        if (quint64(encodingTable()[i].number) == stored) {
            m_characterEncoding->setCurrentIndex(i);
            break;
        }
    }
    // 9. The switches.
    m_useSSL->setChecked(d->useSSL());
    m_validateCertificates->setChecked(d->validateCertificates());
    m_window->adjustSize();
}

void QNDriveConfigWindowController::beginSheet(QWidget *onWindow, std::function<void(int)> done) {
    m_done = std::move(done);
    m_ended = false;
    QPointer<QNDriveConfigWindowController> guard(this);
    QNDialogService::shared().beginSheet(window(), onWindow, [guard](int) {
        // Ended by the sheet service itself (its window went away): a cancel.
        if (guard && !guard->m_ended)
            guard->endSheet(0);
    });
    m_name->setFocus();
}

void QNDriveConfigWindowController::ok() {
    if (m_ended || !m_window)
        return;
    if (m_driveConfig && m_driveConfig->isFTP()) {
        // An address the transfer library would refuse with its own words:
        // say here what to type, and keep the form open.
        const QString problem = ftpAddressProblem(m_url->text(), m_driveConfig->isSFTP());
        if (!problem.isEmpty()) {
            QNAlert alert;
            alert.messageText = QStringLiteral("The server's address is missing or malformed.");
            alert.informativeText = problem;
            alert.buttons = {QStringLiteral("OK")};
            QNDialogService::shared().beginAlertSheet(alert, m_window);
            m_url->setFocus();
            return;
        }
    }
    if (m_driveConfig) {
        QNDriveConfig &d = *m_driveConfig;
        // 1. An empty name gives the drive its default name back.
        d.setDisplayName(m_name->text().isEmpty() ? QString() : m_name->text());
        // 2. Also when hidden: what was unset comes back empty.
        d.setUsername(m_username->text());
        d.setPassword(m_password->text());
        // 3.-5. What the kind uses.
        if (d.isFTP() || d.isWebDAV())
            d.setUrl(m_url->text());
        if (d.isFTP()) {
            const int index = m_characterEncoding->currentIndex();
            if (index >= 0 && index < encodingTable().size()) {
                d.setStringEncoding(encodingTable()[index].number);
                d.setStringEncodingName(encodingTable()[index].name);
            }
            d.setUseSSL(m_useSSL->isChecked());
        }
        if (d.isWebDAV() || (d.isFTP() && !d.isSFTP()))
            d.setValidateCertificates(m_validateCertificates->isChecked());
    }
    endSheet(1);
}

void QNDriveConfigWindowController::cancel() {
    if (m_ended || !m_window)
        return;
    endSheet(0);
}

void QNDriveConfigWindowController::endSheet(int returnCode) {
    m_ended = true;
    if (m_window) {
        QNDialogService::shared().endSheet(m_window, returnCode);
        m_window->hide();
    }
    if (std::function<void(int)> done = std::exchange(m_done, {}))
        done(returnCode);
}

void QNDriveConfigWindowController::install() {
    QNMainWindowController::setDriveSettingsPresenter(
        [](QNMainWindowController *mainWindow, QNDriveConfigPtr drive, std::function<void(int)> done) {
            // One form per showing; the window keeps it until the next.
            qDeleteAll(mainWindow->findChildren<QNDriveConfigWindowController *>(Qt::FindDirectChildrenOnly));
            auto *form = new QNDriveConfigWindowController(mainWindow);
            form->setDriveConfig(drive);
            form->beginSheet(mainWindow->window(), std::move(done));
        });
}

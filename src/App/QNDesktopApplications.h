#pragma once

#include <QList>
#include <QMimeType>
#include <QString>
#include <QStringList>
#include <optional>

// The desktop's own records of which applications open which files: the
// `.desktop` entries of the XDG data folders, their MIME types, and the
// `mimeapps.list` files (defaults, added and removed associations) in XDG
// order, desktop-specific lists first.
class QNDesktopApplications {
public:
    struct Application {
        QString id;    // the desktop-file id ("org.example.Viewer.desktop")
        QString path;  // the .desktop file, or the program chosen directly
        QString name;  // in the user's language where the entry has it
        QString exec;  // the Exec line
        QString iconName;
        bool terminal = false;  // Terminal=true: runs in the desktop's terminal emulator
        bool operator==(const Application &o) const { return id == o.id && path == o.path; }
    };
    struct Choices {
        std::optional<Application> defaultApplication;
        QList<Application> others;  // without the default
    };

    // The folders looked at; fromEnvironment() reads the XDG variables.
    struct Folders {
        QStringList config;  // most important first ($XDG_CONFIG_HOME, then $XDG_CONFIG_DIRS)
        QStringList data;    // most important first ($XDG_DATA_HOME, then $XDG_DATA_DIRS)
        QStringList desktops;  // $XDG_CURRENT_DESKTOP, lower-cased
        QString locale;        // "de_DE" and the like
        static Folders fromEnvironment();
    };

    // The applications for a file of that name (its type by extension, then
    // the types it derives from). Terminal programs only when the desktop
    // has a terminal emulator. The answer is kept per type and folders, and
    // read again once an applications or configuration folder changes.
    static Choices applicationsForFileName(const QString &fileName, const Folders &folders = Folders::fromEnvironment());
    // The terminal emulator that runs terminal programs, with the option
    // after which the program follows ($TERMINAL, then the usual ones on
    // the PATH); empty when there is none.
    static QStringList terminalCommand();

    // A .desktop file read as an application (nullopt when it is not one
    // that can be started). A plain executable gives an application that
    // starts it with the file.
    static std::optional<Application> applicationFromFile(const QString &path, const QString &locale = QString());

    // The Exec line as a program and its arguments, the file's path one
    // argument whatever it holds; nothing runs through a shell.
    static QStringList expandExec(const Application &application, const QString &filePath);
    // Starts the application with the file (a terminal program in the
    // terminal emulator); false when it could not start, and *why says why.
    static bool launch(const Application &application, const QString &filePath, QString *why = nullptr);

private:
    static Choices readApplications(const QMimeType &type, const Folders &folders, bool terminal);
};

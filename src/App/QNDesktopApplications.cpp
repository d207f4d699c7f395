#include "App/QNDesktopApplications.h"

#include "App/QNDetachedProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QLocale>
#include <QMimeDatabase>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>
#include <QUrl>
#include <mutex>

namespace {

using Application = QNDesktopApplications::Application;

// The key=value lines of one [group] of a desktop-style file.
QHash<QString, QString> readGroup(const QString &path, const QString &group) {
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    QTextStream in(&file);
    bool inGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1Char('[') + group + QLatin1Char(']');
            continue;
        }
        const int eq = int(line.indexOf(QLatin1Char('=')));
        if (inGroup && eq > 0 && !values.contains(line.left(eq).trimmed()))
            values.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return values;
}

QStringList splitList(const QString &value) {
    QStringList out;
    for (const QString &v : value.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!v.trimmed().isEmpty())
            out << v.trimmed();
    return out;
}

QStringList envList(const char *name, const QStringList &fallback) {
    const QString value = qEnvironmentVariable(name);
    const QStringList parts = value.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return parts.isEmpty() ? fallback : parts;
}

// Every .desktop file of the data folders by its id ("sub/a.desktop" has the
// id "sub-a.desktop"); the first folder that has an id wins.
QHash<QString, QString> desktopFiles(const QStringList &dataFolders) {
    QHash<QString, QString> byId;
    for (const QString &data : dataFolders) {
        const QString base = data + QStringLiteral("/applications");
        QDirIterator it(base, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString id = QDir(base).relativeFilePath(path).replace(QLatin1Char('/'), QLatin1Char('-'));
            if (!byId.contains(id))
                byId.insert(id, path);
        }
    }
    return byId;
}

}  // namespace

QNDesktopApplications::Folders QNDesktopApplications::Folders::fromEnvironment() {
    Folders f;
    const QString home = QDir::homePath();
    f.config << envList("XDG_CONFIG_HOME", {home + QStringLiteral("/.config")})
             << envList("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")});
    f.data << envList("XDG_DATA_HOME", {home + QStringLiteral("/.local/share")})
           << envList("XDG_DATA_DIRS", {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")});
    for (const QString &d : qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        f.desktops << d.toLower();
    f.locale = QLocale().name();
    return f;
}

std::optional<Application> QNDesktopApplications::applicationFromFile(const QString &path, const QString &locale) {
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    if (!path.endsWith(QLatin1String(".desktop"))) {
        if (!info.isExecutable())
            return std::nullopt;
        // A program chosen directly: started with the file.
        return Application{info.fileName(), info.absoluteFilePath(), info.fileName(),
                           QLatin1Char('"') + info.absoluteFilePath() + QStringLiteral("\" %f"), QString()};
    }
    const QHash<QString, QString> entry = readGroup(path, QStringLiteral("Desktop Entry"));
    if (entry.value(QStringLiteral("Type"), QStringLiteral("Application")) != QLatin1String("Application") ||
        entry.value(QStringLiteral("Exec")).isEmpty() || entry.value(QStringLiteral("Hidden")) == QLatin1String("true"))
        return std::nullopt;
    Application app;
    app.id = info.fileName();
    app.path = info.absoluteFilePath();
    app.exec = entry.value(QStringLiteral("Exec"));
    app.iconName = entry.value(QStringLiteral("Icon"));
    app.terminal = entry.value(QStringLiteral("Terminal")) == QLatin1String("true");
    // Name[de_DE], then Name[de], then Name.
    const QString language = locale.section(QLatin1Char('_'), 0, 0);
    app.name = entry.value(QStringLiteral("Name[%1]").arg(locale),
                           entry.value(QStringLiteral("Name[%1]").arg(language), entry.value(QStringLiteral("Name"))));
    if (app.name.isEmpty())
        app.name = app.id;
    return app;
}

namespace {

// Answers kept per type and folders, dropped when a folder they were read
// from changes. The watcher lives on the main thread, where the menus ask.
struct ChoicesCache {
    std::mutex mutex;
    QHash<QString, QNDesktopApplications::Choices> choices;
    QFileSystemWatcher *watcher = nullptr;

    // Application folders are watched with their sub-folders ("kde/app.desktop"
    // counts too); configuration folders only for their list files, since a
    // configuration folder holds every other program's settings below it.
    void watch(const QStringList &configFolders, const QStringList &applicationFolders) {
        if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread())
            return;
        if (!watcher) {
            watcher = new QFileSystemWatcher(QCoreApplication::instance());
            auto drop = [this] {
                std::lock_guard lock(mutex);
                choices.clear();
            };
            QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, watcher, drop);
            QObject::connect(watcher, &QFileSystemWatcher::fileChanged, watcher, drop);
        }
        QSet<QString> watched(watcher->directories().cbegin(), watcher->directories().cend());
        for (const QString &file : watcher->files())
            watched.insert(file);
        QStringList add;
        auto want = [&](const QString &path) {
            if (!path.isEmpty() && !watched.contains(path)) {
                watched.insert(path);
                add << path;
            }
        };
        auto watchFolder = [&](const QString &f, bool withSubfolders) {
            // A folder not made yet (~/.local/share/applications on a fresh
            // account): the nearest one that is there tells when it comes.
            QString existing = f;
            while (!existing.isEmpty() && !QFileInfo(existing).isDir()) {
                const QString up = QFileInfo(existing).absolutePath();
                existing = up == existing ? QString() : up;
            }
            want(existing);
            if (existing != f)
                return;
            if (withSubfolders) {
                QDirIterator sub(f, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
                while (sub.hasNext())
                    want(sub.next());
            }
            // A list file edited in place changes no folder.
            for (const QFileInfo &list : QDir(f).entryInfoList({QStringLiteral("*mimeapps.list")}, QDir::Files))
                want(list.absoluteFilePath());
        };
        for (const QString &f : configFolders)
            watchFolder(f, false);
        for (const QString &f : applicationFolders)
            watchFolder(f, true);
        if (!add.isEmpty())
            watcher->addPaths(add);
    }
};

ChoicesCache &choicesCache() {
    static ChoicesCache cache;
    return cache;
}

}  // namespace

QStringList QNDesktopApplications::terminalCommand() {
    const QString chosen = QString::fromLocal8Bit(qgetenv("TERMINAL")).trimmed();
    if (!chosen.isEmpty() && !QStandardPaths::findExecutable(chosen).isEmpty())
        return {chosen, QStringLiteral("-e")};
    for (const char *name : {"x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal", "xterm"}) {
        const QString program = QString::fromLatin1(name);
        if (!QStandardPaths::findExecutable(program).isEmpty())
            return {program, program == QLatin1String("gnome-terminal") ? QStringLiteral("--") : QStringLiteral("-e")};
    }
    return {};
}

QNDesktopApplications::Choices QNDesktopApplications::applicationsForFileName(const QString &fileName,
                                                                              const Folders &folders) {
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    const bool terminal = !terminalCommand().isEmpty();
    const QString key = QStringList{type.name(), folders.config.join(QLatin1Char(':')), folders.data.join(QLatin1Char(':')),
                                    folders.desktops.join(QLatin1Char(':')), folders.locale, terminal ? "t" : "-"}
                            .join(QLatin1Char('\n'));
    ChoicesCache &cache = choicesCache();
    {
        std::lock_guard lock(cache.mutex);
        const auto it = cache.choices.constFind(key);
        if (it != cache.choices.constEnd())
            return *it;
    }
    QStringList applicationFolders;
    for (const QString &d : folders.data)
        applicationFolders << d + QStringLiteral("/applications");
    cache.watch(folders.config, applicationFolders);
    Choices choices = readApplications(type, folders, terminal);
    std::lock_guard lock(cache.mutex);
    cache.choices.insert(key, choices);
    return choices;
}

QNDesktopApplications::Choices QNDesktopApplications::readApplications(const QMimeType &type, const Folders &folders,
                                                                       bool terminal) {
    QStringList types{type.name()};
    types << type.allAncestors();

    // The mimeapps.list files in XDG order, desktop-specific ones first.
    QStringList lists;
    auto addLists = [&](const QString &folder) {
        for (const QString &d : folders.desktops)
            lists << folder + QLatin1Char('/') + d + QStringLiteral("-mimeapps.list");
        lists << folder + QStringLiteral("/mimeapps.list");
    };
    for (const QString &c : folders.config)
        addLists(c);
    for (const QString &d : folders.data)
        addLists(d + QStringLiteral("/applications"));

    const QHash<QString, QString> files = desktopFiles(folders.data);
    auto load = [&](const QString &id) -> std::optional<Application> {
        const auto it = files.constFind(id);
        if (it == files.constEnd())
            return std::nullopt;
        auto app = applicationFromFile(*it, folders.locale);
        if (app && app->terminal && !terminal)
            return std::nullopt;  // it would run unseen
        if (app)
            app->id = id;  // the id says where it lies below applications/
        return app;
    };

    Choices choices;
    QStringList orderedIds;
    QSet<QString> removed;
    for (const QString &mime : std::as_const(types)) {
        // The first list naming a default that exists gives it; associations
        // added by more important lists come first, removed ones never come.
        for (const QString &list : std::as_const(lists)) {
            if (!QFileInfo::exists(list))
                continue;
            if (!choices.defaultApplication)
                for (const QString &id : splitList(readGroup(list, QStringLiteral("Default Applications")).value(mime)))
                    if (!removed.contains(id))
                        if (auto app = load(id)) {
                            choices.defaultApplication = app;
                            break;
                        }
            for (const QString &id : splitList(readGroup(list, QStringLiteral("Added Associations")).value(mime)))
                if (!removed.contains(id) && !orderedIds.contains(id))
                    orderedIds << id;
            for (const QString &id : splitList(readGroup(list, QStringLiteral("Removed Associations")).value(mime)))
                removed.insert(id);
        }
        // Then every entry that says it opens the type.
        QStringList declaring;
        for (auto it = files.constBegin(); it != files.constEnd(); ++it)
            if (splitList(readGroup(it.value(), QStringLiteral("Desktop Entry")).value(QStringLiteral("MimeType")))
                    .contains(mime))
                declaring << it.key();
        declaring.sort();
        for (const QString &id : std::as_const(declaring))
            if (!removed.contains(id) && !orderedIds.contains(id))
                orderedIds << id;
    }
    for (const QString &id : std::as_const(orderedIds)) {
        if (removed.contains(id) || (choices.defaultApplication && choices.defaultApplication->id == id))
            continue;
        if (auto app = load(id))
            choices.others << *app;
    }
    return choices;
}

QStringList QNDesktopApplications::expandExec(const Application &application, const QString &filePath) {
    // Split by the desktop-entry quoting rules: double quotes group, a
    // backslash escapes inside them.
    QStringList words;
    QString word;
    bool quoted = false, inWord = false;
    const QString exec = application.exec;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                word += exec.at(++i);
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;

    // Field codes: the file as one argument; the others as the entry says.
    QStringList args;
    bool fileGiven = false;
    for (const QString &w : std::as_const(words)) {
        if (w == QLatin1String("%f") || w == QLatin1String("%F")) {
            args << filePath;
            fileGiven = true;
            continue;
        }
        if (w == QLatin1String("%u") || w == QLatin1String("%U")) {
            args << QUrl::fromLocalFile(filePath).toString();
            fileGiven = true;
            continue;
        }
        if (w == QLatin1String("%i")) {
            if (!application.iconName.isEmpty())
                args << QStringLiteral("--icon") << application.iconName;
            continue;
        }
        QString expanded;
        for (int i = 0; i < w.size(); ++i) {
            if (w.at(i) != QLatin1Char('%') || i + 1 >= w.size()) {
                expanded += w.at(i);
                continue;
            }
            const QChar code = w.at(++i);
            if (code == QLatin1Char('%'))
                expanded += QLatin1Char('%');
            else if (code == QLatin1Char('c'))
                expanded += application.name;
            else if (code == QLatin1Char('k'))
                expanded += application.path;
            // Any other code (deprecated or unknown) is dropped.
        }
        if (!expanded.isEmpty() || !w.startsWith(QLatin1Char('%')))
            args << expanded;
    }
    if (!fileGiven && !args.isEmpty())
        args << filePath;
    return args;
}

bool QNDesktopApplications::launch(const Application &application, const QString &filePath, QString *why) {
    auto fail = [&](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    QStringList args = expandExec(application, filePath);
    if (args.isEmpty())
        return fail(QStringLiteral("The application \u201c%1\u201d names no program to run.").arg(application.name));
    if (application.terminal) {
        const QStringList terminal = terminalCommand();
        if (terminal.isEmpty())
            return fail(QStringLiteral("The application \u201c%1\u201d runs in a terminal, and no terminal emulator "
                                       "was found.")
                            .arg(application.name));
        args = terminal + args;
    }
    // Nothing of this program reaches the application but its standard
    // streams: not a logged-in server connection, not a pipe.
    const QString program = args.takeFirst();
    QString error;
    if (!QNDetachedProcess::start(program, args, &error))
        return fail(QStringLiteral("The application \u201c%1\u201d could not be started (%2).")
                        .arg(application.name, error));
    return true;
}

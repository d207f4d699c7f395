#include "App/QNIconTheme.h"

#include <QIcon>
#include <QStandardPaths>
#include <QStringList>

void QNIconTheme::setUp() {
    static const bool done = [] {
        // Without a desktop (no theme named by the platform) the icons are
        // looked up in the XDG data folders, in the usual default theme.
        if (QIcon::themeName().isEmpty()) {
            QStringList paths = QIcon::themeSearchPaths();
            for (const QString &data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
                if (!paths.contains(data + QStringLiteral("/icons")))
                    paths << data + QStringLiteral("/icons");
            QIcon::setThemeSearchPaths(paths);
            QIcon::setThemeName(QStringLiteral("Adwaita"));
        }
        // A platform naming only the bare "hicolor" theme (X11 without a
        // desktop session) has no folder icon in it: the default theme fills in.
        if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == QLatin1String("hicolor"))
            QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    Q_UNUSED(done);
}

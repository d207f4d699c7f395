#pragma once

#include <QString>
#include <QStringList>

// The web sign-in sheet (QNAuthWindowController) and the web engine it
// draws with live in a module of their own, loaded the first time a drive
// asks for a sheet. A start that signs nobody in maps neither the web engine
// nor the OpenGL driver it needs: together more than half the memory and
// the start-up time of the application.
//
// The module is not linked: it takes what it uses of the application from
// the program that loads it (the build exports exactly those symbols from
// every program that links the App library).
class QNWebLoginModule {
public:
    // Login-sheet services (QNLoginSheetProvider) that load the module when
    // first used, then hand over to the module's own.
    static void installLoginSheet();

    // Loads the module once and installs its sheet services; false, with the
    // reason, when it cannot be loaded. Main thread.
    static bool load(QString *error = nullptr);
    static bool isLoaded();

    // Where the module is looked for: beside the program, then where the
    // build put it; or the paths set (a package that keeps it elsewhere).
    static QStringList candidatePaths();
    static void setCandidatePaths(const QStringList &paths);

private:
    static void prepareOpenGL();
};

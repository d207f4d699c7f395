#pragma once

#include <QString>
#include <functional>

// The application's private temporary folder: a folder of ours (mode 0700)
// under the XDG cache folder, never the shared /tmp. Tasks and panes make
// their own sub-folders in it, and the application clears it at launch.
namespace VNTempDirectory {

// The folder, created on first use. VARNELLO_TMPDIR overrides the place.
QString path();

// Points path() at another folder (tests).
void setPath(const QString &folder);

// Removes every entry of the folder except those for which keep() answers
// true (given the entry's absolute path), and the holders' folder below.
// Returns false if any removal failed.
bool clearContents(const std::function<bool(const QString &)> &keep = {});

// Several processes may use the folder at once (instances with settings of
// their own). Each marks it as held for as long as it runs, by a lock the
// system frees when the process ends; a clean-up runs only when no other
// running process holds the folder.

// Marks the folder as held by this process until it ends (done once; later
// calls answer the same). Answers this process's holder id.
QString holdForThisProcess();
// Runs work when no other running process holds the folder, and keeps any
// from starting to use it meanwhile. Work gets the ids of processes that held
// the folder and have ended; their files are forgotten after it. False, and
// work not run, when another running process holds the folder.
bool whileSoleHolder(const std::function<void(const QStringList &endedHolders)> &work);
// A file of the holder's own beside its lock (suffix such as ".record.json"),
// forgotten with the holder once it has ended.
QString holderFile(const QString &holderId, const QString &suffix);

}  // namespace VNTempDirectory

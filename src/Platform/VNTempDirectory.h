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
// true (given the entry's absolute path). Returns false if any removal failed.
bool clearContents(const std::function<bool(const QString &)> &keep = {});

}  // namespace VNTempDirectory

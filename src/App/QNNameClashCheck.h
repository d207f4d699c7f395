#pragma once

#include "App/QNAlert.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNError.h"

#include <functional>

class QWidget;

// Before documents are copied or moved into a folder: a copy onto a name the
// folder already holds replaces the item there, so the folder is listed
// afresh and, when it holds some of the names, the user is asked once
// whether to replace those items, skip them, or cancel; an item whose name
// the folder holds as another kind (a file and a folder) is not copied at
// all, which the question says. A folder that cannot
// be listed is not taken for an empty one: the user is asked whether to go
// on without the check, unless its server was refused (then nothing goes).
class QNNameClashCheck {
public:
    // The documents that go ahead: all of them, or those whose names were free.
    using Proceed = std::function<void(const QNDocumentList &documents)>;

    // Lists the folder, asks on the window when needed, then calls proceed on
    // the main thread, unless the user cancelled or nothing is left to do.
    static void run(const QNDriveConfigPtr &fromDrive, const QNDocumentList &documents,
                    const QNDriveConfigPtr &toDrive, const QNDocumentPtr &folder, bool move, QWidget *window,
                    Proceed proceed);

    // The name a document takes in the folder it is copied into; on the
    // local disk (toDrive), as the disk holds it: names that differ only in
    // bytes their drive's encoding could not read arrive as one.
    static QString arrivalName(const QNDocumentPtr &document, const QNDriveConfigPtr &toDrive = {});
    // The documents whose names the listing holds, letter case aside (some
    // drives do not tell "A.txt" from "a.txt"); a document already where it
    // would go is none.
    static QNDocumentList clashes(const QNDriveConfigPtr &fromDrive, const QNDocumentList &documents,
                                  const QNDriveConfigPtr &toDrive, const QNDocumentPtr &folder,
                                  const QNDocumentList &listing);
    // The clashing documents whose namesake in the listing is of another
    // kind (a file onto a folder, a folder onto a file or a link): a file and
    // a folder never replace each other, so these are not copied at all.
    static QNDocumentList notReplaceable(const QNDocumentList &clashing, const QNDocumentList &listing,
                                         const QNDriveConfigPtr &toDrive = {});
    // "Replace N items?" naming the first few, and saying what Replace does:
    // a file is written over, a folder merged into a folder of its name in
    // the listing (its files of the names copied are replaced, the others
    // kept). Replace (first button), Cancel (second, the default), Skip
    // those (third). Those not replaceable are named as not copied (moved),
    // whatever the answer; when they are all there is, the question says
    // only that, with "Copy the Others" ("Move the Others") and Cancel when
    // othersGo (other documents go on), else OK.
    static QNAlert question(const QNDocumentList &clashing, const QNDocumentList &listing, const QString &folderName,
                            bool move = false, bool othersGo = false, const QNDriveConfigPtr &toDrive = {});
    // The same, with the not-replaceable ones already found (notReplaceable).
    static QNAlert question(const QNDocumentList &clashing, const QNDocumentList &blocked, const QNDocumentList &listing,
                            const QString &folderName, bool move, bool othersGo, const QNDriveConfigPtr &toDrive);
    // The folder could not be listed: Copy Anyway or Move Anyway (first
    // button), Cancel (second, the default). When its server's host key or
    // certificate was refused, which going on would only meet again: says
    // so, with OK alone.
    static QNAlert uncheckedQuestion(const VNErrorPtr &error, const QString &folderName, bool move);
    // How the folder is named in the questions.
    static QString folderName(const QNDriveConfigPtr &drive, const QNDocumentPtr &folder);
};

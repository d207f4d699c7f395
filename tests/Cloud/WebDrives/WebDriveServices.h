#pragma once

// Each web drive pointed at its fake (reset first) with its handler
// registered, and signed in the way the login sheet would: the
// authorization page's redirect read by hand, not followed.
#include "WebDriveTestSupport.h"

namespace WebDriveTest {

void openBox(const Fake &fake, QNDriveConfigPtr &drive);
void openGoogleDrive(const Fake &fake, QNDriveConfigPtr &drive);
void openOneDrive(const Fake &fake, QNDriveConfigPtr &drive);
void openBitcasa(const Fake &fake, QNDriveConfigPtr &drive);
// OAuth 1.0: the request token's authorization page, its redirect read.
void openCopy(const Fake &fake, QNDriveConfigPtr &drive);
// Also makes the sets "Holiday" and "Work".
void openFlickr(const Fake &fake, QNDriveConfigPtr &drive);

}  // namespace WebDriveTest

#pragma once

// The icon theme the file icons come from. It is set up once, at start and
// before any window: once a window has looked an icon up (an alert asks the
// style for its picture), the theme in use is loaded and keeps the fallback
// it had, so a set-up made later would leave the folders to our own
// painted icon for the rest of the run.
class QNIconTheme {
public:
    // Idempotent: only the first call changes anything.
    static void setUp();
};

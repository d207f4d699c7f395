#pragma once

#include <QRect>
#include <optional>

class QWidget;
class TBWindow;

// What a window's real delegate may answer. Every method is optional: the
// defaults say "not handled", and the window's proxy fills in the rest.
class TBWindowDelegate {
public:
    virtual ~TBWindowDelegate() = default;

    // Where a sheet comes out (in the window's coordinates); no answer lets
    // the proxy put it at the lower edge of the tall title bar.
    virtual std::optional<QRect> windowWillPositionSheet(TBWindow *window, QWidget *sheet, const QRect &rect) {
        return std::nullopt;
    }
    virtual void windowWillEnterFullScreen(TBWindow *window) {}
    virtual void windowWillExitFullScreen(TBWindow *window) {}
    virtual void windowDidBecomeMain(TBWindow *window) {}
    virtual void windowWillClose(TBWindow *window) {}
};

#include "App/TBWindowDelegateProxy.h"

#include "App/TBWindow.h"

TBWindowDelegate *TBWindowDelegateProxy::secondaryDelegate() const {
    return m_secondaryObject ? m_secondary : nullptr;
}

void TBWindowDelegateProxy::setSecondaryDelegate(QObject *delegate) {
    m_secondary = dynamic_cast<TBWindowDelegate *>(delegate);
    m_secondaryObject = m_secondary ? delegate : nullptr;
}

std::optional<QRect> TBWindowDelegateProxy::windowWillPositionSheet(TBWindow *window, QWidget *sheet,
                                                                    const QRect &rect) {
    if (TBWindowDelegate *d = secondaryDelegate()) {
        if (auto answer = d->windowWillPositionSheet(window, sheet, rect))
            return answer;
    }
    // Our coordinates grow downwards: the bar's lower edge is at its height.
    QRect placed = rect;
    placed.moveTop(window ? qRound(window->titleBarHeight()) : rect.y());
    return placed;
}

void TBWindowDelegateProxy::windowWillEnterFullScreen(TBWindow *window) {
    if (TBWindowDelegate *d = secondaryDelegate())
        d->windowWillEnterFullScreen(window);
}

void TBWindowDelegateProxy::windowWillExitFullScreen(TBWindow *window) {
    if (TBWindowDelegate *d = secondaryDelegate())
        d->windowWillExitFullScreen(window);
}

void TBWindowDelegateProxy::windowDidBecomeMain(TBWindow *window) {
    if (TBWindowDelegate *d = secondaryDelegate())
        d->windowDidBecomeMain(window);
}

void TBWindowDelegateProxy::windowWillClose(TBWindow *window) {
    if (TBWindowDelegate *d = secondaryDelegate())
        d->windowWillClose(window);
}

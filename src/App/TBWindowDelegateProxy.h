#pragma once

#include "App/TBWindowDelegate.h"

#include <QObject>
#include <QPointer>

// Stands between a TBWindow and its real delegate: it forwards every message
// the delegate answers and positions sheets below the tall title bar when
// the delegate does not. The delegate is held weakly (it must be a QObject).
class TBWindowDelegateProxy : public TBWindowDelegate {
public:
    // The real delegate, or null once it is gone.
    TBWindowDelegate *secondaryDelegate() const;
    QObject *secondaryDelegateObject() const { return m_secondaryObject.data(); }
    // The object must also be a TBWindowDelegate; anything else clears it.
    void setSecondaryDelegate(QObject *delegate);

    std::optional<QRect> windowWillPositionSheet(TBWindow *window, QWidget *sheet, const QRect &rect) override;
    void windowWillEnterFullScreen(TBWindow *window) override;
    void windowWillExitFullScreen(TBWindow *window) override;
    void windowDidBecomeMain(TBWindow *window) override;
    void windowWillClose(TBWindow *window) override;

private:
    QPointer<QObject> m_secondaryObject;
    TBWindowDelegate *m_secondary = nullptr;
};

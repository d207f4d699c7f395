#pragma once

#include "App/QNAlert.h"

#include <QDialog>

class QCheckBox;
class QPushButton;

// The dialog that shows a QNAlert: bold question, detail text, the
// accessory control, the suppression check box and the buttons, the default
// one on the right.
class QNAlertPanel : public QDialog {
    Q_OBJECT
public:
    explicit QNAlertPanel(const QNAlert &alert, QWidget *parent = nullptr);

    // The result once the panel has finished.
    QNAlertResult result() const { return m_result; }

    // Ends the panel as if the button at that index was pressed.
    void pressButton(int index);

    // Escape or closing: like the second button ("Cancel", "No").
    void reject() override;

    // New texts for a question whose facts changed while it is up.
    void setTexts(const QString &messageText, const QString &informativeText);

protected:
    void showEvent(QShowEvent *event) override;

signals:
    void ended(const QNAlertResult &result);

private:
    void fitWidthToTexts();

    QNAlert m_alert;
    QCheckBox *m_suppression = nullptr;
    QPushButton *m_focusedButton = nullptr;
    QNAlertResult m_result;
    bool m_ended = false;
};

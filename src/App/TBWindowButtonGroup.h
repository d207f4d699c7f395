#pragma once

#include <QObject>
#include <QString>

// Title-bar buttons that share an identifier form a group: while the mouse is
// over any of them, all of them show their rollover image (the way the close,
// minimise and zoom buttons light up together).
class TBWindowButtonGroup : public QObject {
    Q_OBJECT
public:
    // The identifier a null identifier stands for.
    static QString defaultIdentifier();

    // The group of the identifier, made on first request and kept for the
    // rest of the process (only on the main thread).
    static TBWindowButtonGroup *groupWithIdentifier(const QString &identifier);

    explicit TBWindowButtonGroup(const QString &identifier);

    const QString &identifier() const { return m_identifier; }
    qint64 numberOfCaptures() const { return m_numberOfCaptures; }
    // Ignores a value equal to the current one or below 0; otherwise stores
    // it and announces the change.
    void setNumberOfCaptures(qint64 count);

    void didCaptureMousePointer() { setNumberOfCaptures(m_numberOfCaptures + 1); }
    void didReleaseMousePointer() { setNumberOfCaptures(m_numberOfCaptures - 1); }
    void resetMouseCaptures() { setNumberOfCaptures(0); }
    bool shouldDisplayRollOver() const { return m_numberOfCaptures > 0; }

signals:
    void didUpdateRolloverState(TBWindowButtonGroup *group);

private:
    QString m_identifier;
    qint64 m_numberOfCaptures = 0;
};

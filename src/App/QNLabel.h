#pragma once

#include <QFont>
#include <QString>
#include <QWidget>
#include <mutex>

// A view that draws one string in one font: the pieces of the path bar.
class QNLabel : public QWidget {
    Q_OBJECT
public:
    // The view takes a frame 2 points lower and 4 points taller than the one
    // given, so the text has room above and below.
    QNLabel(const QRect &frame, const QString &text, const QFont &font, QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);
    QFont font() const;
    void setFont(const QFont &font);

    // The size the text takes in the font (to size a label to its text).
    static QSize textSize(const QString &text, const QFont &font);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    mutable std::mutex m_mutex;
    QString m_text;
    QFont m_font;
};

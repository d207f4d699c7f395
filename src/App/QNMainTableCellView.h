#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

// One row of the drive list: the drive's icon, its title and subtitle, a
// size text, and the "Edit" and remove buttons (shown for stored drives).
class QNMainTableCellView : public QWidget {
    Q_OBJECT
public:
    enum BackgroundStyle { Light, Dark };

    explicit QNMainTableCellView(QWidget *parent = nullptr);

    QLabel *icon() const { return m_icon; }
    QLabel *title() const { return m_title; }
    QLabel *subTitle() const { return m_subTitle; }
    QLabel *size() const { return m_size; }
    QPushButton *editButton() const { return m_editButton; }
    QToolButton *deleteButton() const { return m_deleteButton; }

    // Dark (selected): the subtitle and size turn white; otherwise grey.
    void setBackgroundStyle(BackgroundStyle style);
    BackgroundStyle backgroundStyle() const { return m_style; }

    static QColor subtitleColor();
    static QColor editButtonColor();

private:
    QLabel *m_icon;
    QLabel *m_title;
    QLabel *m_subTitle;
    QLabel *m_size;
    QPushButton *m_editButton;
    QToolButton *m_deleteButton;
    BackgroundStyle m_style = Light;
};

#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QStackedWidget;

// The preview panel: one item of the front pane shown as a picture, the first
// page of a PDF, the start of a text, a folder or the type's icon, with a
// "Loading…" state while the item's file has not arrived yet.
class QNPreviewPanel : public QWidget {
    Q_OBJECT
public:
    explicit QNPreviewPanel(QWidget *parent = nullptr);

    // Asked for the item to show at every reload (an empty URL: nothing).
    using ItemSource = std::function<QUrl()>;
    void setItemSource(ItemSource source) { m_itemSource = std::move(source); }
    void reloadData();

    void showItem(const QUrl &url);
    QUrl currentItem() const { return m_current; }
    // "empty", "loading", "image", "pdf", "text", "folder" or "icon".
    QString state() const { return m_state; }
    QString shownText() const;

signals:
    void hidden();

protected:
    void hideEvent(QHideEvent *event) override;
    // Shown within the available area of its screen (clear of panels and docks).
    void showEvent(QShowEvent *event) override;

private:
    void showPicture(const QImage &image, const QString &state);
    void placeWithinScreen();

    ItemSource m_itemSource;
    QUrl m_current;
    QString m_state;
    QStackedWidget *m_stack = nullptr;
    QLabel *m_picture = nullptr;
    QPlainTextEdit *m_text = nullptr;
    QLabel *m_title = nullptr;
};

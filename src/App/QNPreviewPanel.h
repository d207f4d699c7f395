#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QStackedWidget;

// The preview panel: one item of the front pane shown as a picture, the first
// page of a PDF, the start of a text, a folder or the type's icon, with a
// "Loading…" state while the item's file has not arrived yet, and why when
// it will not.
class QNPreviewPanel : public QWidget {
    Q_OBJECT
public:
    explicit QNPreviewPanel(QWidget *parent = nullptr);

    // Asked for the item to show at every reload (an empty URL: nothing).
    using ItemSource = std::function<QUrl()>;
    void setItemSource(ItemSource source) { m_itemSource = std::move(source); }
    // Asked first at every reload: why the item has no preview, or an
    // empty string; a reason is shown in place of the item.
    using FailureSource = std::function<QString()>;
    void setFailureSource(FailureSource source) { m_failureSource = std::move(source); }
    void reloadData();
    // Asked at every opening for the screen rectangle of the item shown (a
    // null one for none): the panel opens on that item's screen when its
    // own place is on none.
    using SourceFrame = std::function<QRect()>;
    void setSourceFrame(SourceFrame source) { m_sourceFrame = std::move(source); }

    void showItem(const QUrl &url);
    QUrl currentItem() const { return m_current; }
    // Says why there is no preview ("failed").
    void showFailure(const QString &why);
    // "empty", "loading", "image", "pdf", "text", "folder", "icon" or "failed".
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
    FailureSource m_failureSource;
    SourceFrame m_sourceFrame;
    QUrl m_current;
    QString m_state;
    QStackedWidget *m_stack = nullptr;
    QLabel *m_picture = nullptr;
    QPlainTextEdit *m_text = nullptr;
    QLabel *m_title = nullptr;
};

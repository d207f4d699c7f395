#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QPointer>

class TBWindowButtonGroup;

// An image button for the custom title bar (close, minimise, zoom, full
// screen). It shows one of its images by the window's active state, its own
// enabled state and the mouse; buttons of one group roll over together.
class TBWindowButton : public QAbstractButton {
    Q_OBJECT
public:
    static TBWindowButton *windowButtonWithSize(QSize size, const QString &groupIdentifier, QWidget *parent = nullptr);
    TBWindowButton(QSize size, const QString &groupIdentifier, QWidget *parent = nullptr);
    ~TBWindowButton() override;

    const QString &groupIdentifier() const { return m_groupIdentifier; }
    TBWindowButtonGroup *group() const;

    QPixmap activeImage() const { return m_activeImage; }
    void setActiveImage(const QPixmap &image);
    QPixmap activeNotKeyWindowImage() const { return m_activeNotKeyWindowImage; }
    void setActiveNotKeyWindowImage(const QPixmap &image);
    QPixmap inactiveImage() const { return m_inactiveImage; }
    void setInactiveImage(const QPixmap &image);
    QPixmap rolloverImage() const { return m_rolloverImage; }
    void setRolloverImage(const QPixmap &image);
    QPixmap pressedImage() const { return m_pressedImage; }
    void setPressedImage(const QPixmap &image);

    // The image on show right now (tests and painting).
    QPixmap currentImage() const { return m_currentImage; }

    void updateRollOverImage();
    void updateImage();
    void updateActiveImage();

    // Sent by the window around full screen; clears the group's hover count.
    void windowWillEnterFullScreen();
    void windowWillExitFullScreen();
    // The end of a live resize: nothing can stay hovered.
    void viewDidEndLiveResize();

    QSize sizeHint() const override { return m_size; }

    // The hover area: the bounds enlarged by 4 points on every side (own
    // coordinates). The pointer entering or leaving it captures or releases
    // the group.
    QRect hoverRect() const;
    void setMouseInside(bool inside);
    bool isMouseInside() const { return m_inside; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    bool windowIsKey() const;
    void setCurrentImage(const QPixmap &image);

    QSize m_size;
    QString m_groupIdentifier;
    QPixmap m_activeImage, m_activeNotKeyWindowImage, m_inactiveImage, m_rolloverImage, m_pressedImage;
    QPixmap m_currentImage;
    bool m_inside = false;
};

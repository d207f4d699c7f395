#pragma once

#include "App/TBWindowButton.h"
#include "App/TBWindowDelegateProxy.h"

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class TBTitlebarContainer;

// A top-level window that draws its own title bar, taller than the window
// system's, with its own close, minimise and zoom buttons centred in it. The
// window has no system frame: the bar moves it and its edges resize it
// through the window system's move and resize requests. The content view
// begins below the bar; sheets come out of the bar's lower edge.
// A text shadow: its colour, offset and blur radius.
struct TBTextShadow {
    QColor color;
    QPointF offset;
    double blurRadius = 0;
};

class TBWindow : public QWidget {
    Q_OBJECT
public:
    explicit TBWindow(QWidget *parent = nullptr);
    ~TBWindow() override;

    // The window system's own title-bar height we stand in for.
    static double platformTitleBarHeight();
    static double defaultTrafficLightButtonsLeftMargin();
    static double defaultTrafficLightSeparation();

    double titleBarHeight() const { return m_titleBarHeight; }
    void setTitleBarHeight(double height);

    QWidget *titleBarView() const { return m_titleBarView; }
    // Ignored when null or the same; the view fills the bar and follows it.
    void setTitleBarView(QWidget *view);
    QWidget *titleBarContainer() const;
    // The group of this window's own title-bar buttons (one per window).
    const QString &buttonGroupIdentifier() const;

    QWidget *contentView() const { return m_contentView; }
    void setContentView(QWidget *view);

    bool showsBaselineSeparator() const { return m_showsBaselineSeparator; }
    void setShowsBaselineSeparator(bool on);
    bool centerTrafficLightButtons() const { return m_centerTrafficLightButtons; }
    void setCenterTrafficLightButtons(bool on);
    bool verticalTrafficLightButtons() const { return m_verticalTrafficLightButtons; }
    void setVerticalTrafficLightButtons(bool on);
    double trafficLightButtonsLeftMargin() const { return m_trafficLightButtonsLeftMargin; }
    void setTrafficLightButtonsLeftMargin(double margin);
    double trafficLightButtonsTopMargin() const { return m_trafficLightButtonsTopMargin; }
    void setTrafficLightButtonsTopMargin(double margin) { m_trafficLightButtonsTopMargin = margin; }
    double trafficLightSeparation() const { return m_trafficLightSeparation; }
    void setTrafficLightSeparation(double separation);
    double fullScreenButtonRightMargin() const { return m_fullScreenButtonRightMargin; }
    void setFullScreenButtonRightMargin(double margin);
    double fullScreenButtonTopMargin() const { return m_fullScreenButtonTopMargin; }
    void setFullScreenButtonTopMargin(double margin) { m_fullScreenButtonTopMargin = margin; }
    bool centerFullScreenButton() const { return m_centerFullScreenButton; }
    void setCenterFullScreenButton(bool on);
    bool showsTitle() const { return m_showsTitle; }
    void setShowsTitle(bool on);
    bool showsTitleInFullscreen() const { return m_showsTitleInFullscreen; }
    void setShowsTitleInFullscreen(bool on) { m_showsTitleInFullscreen = on; }
    bool verticallyCenterTitle() const { return m_verticallyCenterTitle; }
    void setVerticallyCenterTitle(bool on);
    bool hideTitleBarInFullScreen() const { return m_hideTitleBarInFullScreen; }
    void setHideTitleBarInFullScreen(bool on) { m_hideTitleBarInFullScreen = on; }

    // Draws the bar instead of the gradient: (painter, drawn as main, bar rectangle, clipping path).
    using TitleBarDrawingBlock = std::function<void(QPainter &, bool, const QRectF &, const QPainterPath &)>;
    const TitleBarDrawingBlock &titleBarDrawingBlock() const { return m_titleBarDrawingBlock; }
    void setTitleBarDrawingBlock(TitleBarDrawingBlock block) { m_titleBarDrawingBlock = std::move(block); }

    // Colours: an invalid colour means the default.
    QColor titleBarStartColor() const { return m_titleBarStartColor; }
    void setTitleBarStartColor(const QColor &c) { m_titleBarStartColor = c; }
    QColor titleBarEndColor() const { return m_titleBarEndColor; }
    void setTitleBarEndColor(const QColor &c) { m_titleBarEndColor = c; }
    QColor baselineSeparatorColor() const { return m_baselineSeparatorColor; }
    void setBaselineSeparatorColor(const QColor &c) { m_baselineSeparatorColor = c; }
    QColor inactiveTitleBarStartColor() const { return m_inactiveTitleBarStartColor; }
    void setInactiveTitleBarStartColor(const QColor &c) { m_inactiveTitleBarStartColor = c; }
    QColor inactiveTitleBarEndColor() const { return m_inactiveTitleBarEndColor; }
    void setInactiveTitleBarEndColor(const QColor &c) { m_inactiveTitleBarEndColor = c; }
    QColor inactiveBaselineSeparatorColor() const { return m_inactiveBaselineSeparatorColor; }
    void setInactiveBaselineSeparatorColor(const QColor &c) { m_inactiveBaselineSeparatorColor = c; }
    QColor titleTextColor() const { return m_titleTextColor; }
    void setTitleTextColor(const QColor &c) { m_titleTextColor = c; }
    QColor inactiveTitleTextColor() const { return m_inactiveTitleTextColor; }
    void setInactiveTitleTextColor(const QColor &c) { m_inactiveTitleTextColor = c; }
    // The title's shadow in the main window and in others (unset: white at
    // half opacity, one point down, no blur). Offsets point down and right.
    const std::optional<TBTextShadow> &titleTextShadow() const { return m_titleTextShadow; }
    void setTitleTextShadow(std::optional<TBTextShadow> shadow) { m_titleTextShadow = std::move(shadow); }
    const std::optional<TBTextShadow> &inactiveTitleTextShadow() const { return m_inactiveTitleTextShadow; }
    void setInactiveTitleTextShadow(std::optional<TBTextShadow> shadow) { m_inactiveTitleTextShadow = std::move(shadow); }
    const std::optional<QFont> &titleFont() const { return m_titleFont; }
    void setTitleFont(std::optional<QFont> font) { m_titleFont = std::move(font); }

    // Replacement buttons; null gives back the window's standard button. The
    // window owns the views and buttons given to it and deletes replaced ones.
    TBWindowButton *closeButton() const { return m_closeButton; }
    void setCloseButton(TBWindowButton *button);
    TBWindowButton *minimizeButton() const { return m_minimizeButton; }
    void setMinimizeButton(TBWindowButton *button);
    TBWindowButton *zoomButton() const { return m_zoomButton; }
    void setZoomButton(TBWindowButton *button);
    TBWindowButton *fullScreenButton() const { return m_fullScreenButton; }
    void setFullScreenButton(TBWindowButton *button);
    // The buttons in use (custom ones when set, else the standard ones).
    TBWindowButton *buttonInUse(int kind) const;
    enum ButtonKind { CloseKind = 0, MinimizeKind, ZoomKind, FullScreenKind };

    // The real delegate (a QObject that is also a TBWindowDelegate), weak.
    QObject *delegate() const { return m_proxy.secondaryDelegateObject(); }
    void setDelegate(QObject *delegate) { m_proxy.setSecondaryDelegate(delegate); }
    TBWindowDelegateProxy &delegateProxy() { return m_proxy; }

    // Where a sheet of this rectangle (window coordinates) comes out.
    QRect positionSheet(QWidget *sheet, const QRect &proposed);

    // Active window of an active application.
    bool drawsAsMainWindow() const;

    void performClose();
    void performMiniaturize();
    void performZoom();
    void toggleFullScreen();

    void layoutTrafficLightsAndContent();
    void updateTitleBar();

signals:
    void windowDidResize();
    void windowDidMove();
    void windowWillClose();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void installButton(QPointer<TBWindowButton> &slot, TBWindowButton *button, int kind);
    TBWindowButton *makeStandardButton(const QString &imageBase, int kind);
    void repositionContent();
    void layoutResizeHandles();
    void windowWillEnterFullScreen();
    void windowWillExitFullScreen();

    TBWindowDelegateProxy m_proxy;
    TBTitlebarContainer *m_container = nullptr;
    mutable QString m_buttonGroupIdentifier;
    QPointer<QWidget> m_titleBarView;
    QPointer<QWidget> m_contentView;
    QList<QWidget *> m_resizeHandles;

    double m_titleBarHeight = 0;
    double m_heightToRestore = 0;
    bool m_showsBaselineSeparator = true;
    bool m_centerTrafficLightButtons = true;
    bool m_verticalTrafficLightButtons = false;
    double m_trafficLightButtonsLeftMargin = 0;
    double m_trafficLightButtonsTopMargin = 3.0;
    double m_trafficLightSeparation = 0;
    double m_fullScreenButtonRightMargin = 0;
    bool m_fullScreenButtonRightMarginSet = false;
    double m_fullScreenButtonTopMargin = 3.0;
    bool m_centerFullScreenButton = false;
    bool m_showsTitle = false;
    bool m_showsTitleInFullscreen = false;
    bool m_verticallyCenterTitle = false;
    bool m_hideTitleBarInFullScreen = false;
    TitleBarDrawingBlock m_titleBarDrawingBlock;
    QColor m_titleBarStartColor, m_titleBarEndColor, m_baselineSeparatorColor;
    QColor m_inactiveTitleBarStartColor, m_inactiveTitleBarEndColor, m_inactiveBaselineSeparatorColor;
    QColor m_titleTextColor, m_inactiveTitleTextColor;
    std::optional<TBTextShadow> m_titleTextShadow, m_inactiveTitleTextShadow;
    std::optional<QFont> m_titleFont;

    TBWindowButton *m_standardButtons[3] = {nullptr, nullptr, nullptr};
    QPointer<TBWindowButton> m_closeButton, m_minimizeButton, m_zoomButton, m_fullScreenButton;
    bool m_wasFullScreen = false;
};

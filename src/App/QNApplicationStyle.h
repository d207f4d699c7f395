#pragma once

#include <QProxyStyle>

// The application's style: the platform's own, unchanged, but for the
// standard icons Qt's widgets ask for while they are built, which come as
// icons made when first drawn. Made at once, each means reading image files,
// and Qt reads those by asking every image-format plugin whether it knows
// the file: the menu bar's overflow arrow alone loads ten libraries at
// start, for a button that shows only when the menus do not fit.
class QNApplicationStyle : public QProxyStyle {
public:
    // Makes it the application's style, over the style the application has
    // now (nothing changes when that style cannot be made again by name).
    static void install();

    explicit QNApplicationStyle(QStyle *base);

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};

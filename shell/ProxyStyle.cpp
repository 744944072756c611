#include "ProxyStyle.h"

#include <QIcon>
#include <QPixmap>
#include <QStyleFactory>

ProxyStyle::ProxyStyle(const QString& styleName) : baseStyle(QStyleFactory::create(styleName))
{}

ProxyStyle::~ProxyStyle()
{
    delete baseStyle;
}

void ProxyStyle::polish(QWidget* widget)
{
    if (baseStyle)
        baseStyle->polish(widget);
}

void ProxyStyle::unpolish(QWidget* widget)
{
    if (baseStyle)
        baseStyle->unpolish(widget);
}

void ProxyStyle::polish(QApplication* application)
{
    if (baseStyle)
        baseStyle->polish(application);
}

void ProxyStyle::unpolish(QApplication* application)
{
    if (baseStyle)
        baseStyle->unpolish(application);
}

void ProxyStyle::polish(QPalette& palette)
{
    if (baseStyle)
        baseStyle->polish(palette);
}

QRect ProxyStyle::itemTextRect(const QFontMetrics& metrics, const QRect& rect, int flags,
                               bool enabled, const QString& text) const
{
    if (!baseStyle)
        return QStyle::itemTextRect(metrics, rect, flags, enabled, text);
    return baseStyle->itemTextRect(metrics, rect, flags, enabled, text);
}

QRect ProxyStyle::itemPixmapRect(const QRect& rect, int flags, const QPixmap& pixmap) const
{
    if (!baseStyle)
        return QStyle::itemPixmapRect(rect, flags, pixmap);
    return baseStyle->itemPixmapRect(rect, flags, pixmap);
}

void ProxyStyle::drawItemText(QPainter* painter, const QRect& rect, int flags,
                              const QPalette& palette, bool enabled, const QString& text,
                              QPalette::ColorRole textRole) const
{
    if (baseStyle)
        baseStyle->drawItemText(painter, rect, flags, palette, enabled, text, textRole);
    else
        QStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
}

void ProxyStyle::drawItemPixmap(QPainter* painter, const QRect& rect, int alignment,
                                const QPixmap& pixmap) const
{
    if (baseStyle)
        baseStyle->drawItemPixmap(painter, rect, alignment, pixmap);
    else
        QStyle::drawItemPixmap(painter, rect, alignment, pixmap);
}

QPalette ProxyStyle::standardPalette() const
{
    return baseStyle ? baseStyle->standardPalette() : QStyle::standardPalette();
}

void ProxyStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                               QPainter* painter, const QWidget* widget) const
{
    if (baseStyle)
        baseStyle->drawPrimitive(element, option, painter, widget);
}

void ProxyStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const
{
    if (baseStyle)
        baseStyle->drawControl(element, option, painter, widget);
}

QRect ProxyStyle::subElementRect(SubElement element, const QStyleOption* option,
                                 const QWidget* widget) const
{
    return baseStyle ? baseStyle->subElementRect(element, option, widget) : QRect();
}

void ProxyStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                    QPainter* painter, const QWidget* widget) const
{
    if (baseStyle)
        baseStyle->drawComplexControl(control, option, painter, widget);
}

QStyle::SubControl ProxyStyle::hitTestComplexControl(ComplexControl control,
                                                     const QStyleOptionComplex* option,
                                                     const QPoint& position,
                                                     const QWidget* widget) const
{
    if (!baseStyle)
        return SC_None;
    return baseStyle->hitTestComplexControl(control, option, position, widget);
}

QRect ProxyStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                 SubControl subControl, const QWidget* widget) const
{
    return baseStyle ? baseStyle->subControlRect(control, option, subControl, widget) : QRect();
}

int ProxyStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                            const QWidget* widget) const
{
    return baseStyle ? baseStyle->pixelMetric(metric, option, widget) : 0;
}

QSize ProxyStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                   const QSize& contentsSize, const QWidget* widget) const
{
    if (!baseStyle)
        return contentsSize;
    return baseStyle->sizeFromContents(type, option, contentsSize, widget);
}

int ProxyStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                          QStyleHintReturn* returnData) const
{
    return baseStyle ? baseStyle->styleHint(hint, option, widget, returnData) : 0;
}

QPixmap ProxyStyle::standardPixmap(StandardPixmap pixmap, const QStyleOption* option,
                                   const QWidget* widget) const
{
    return baseStyle ? baseStyle->standardPixmap(pixmap, option, widget) : QPixmap();
}

QPixmap ProxyStyle::generatedIconPixmap(QIcon::Mode mode, const QPixmap& pixmap,
                                        const QStyleOption* option) const
{
    return baseStyle ? baseStyle->generatedIconPixmap(mode, pixmap, option) : pixmap;
}

QIcon ProxyStyle::standardIcon(StandardPixmap icon, const QStyleOption* option,
                               const QWidget* widget) const
{
    return baseStyle ? baseStyle->standardIcon(icon, option, widget) : QIcon();
}

int ProxyStyle::layoutSpacing(QSizePolicy::ControlType control1, QSizePolicy::ControlType control2,
                              Qt::Orientation orientation, const QStyleOption* option,
                              const QWidget* widget) const
{
    if (!baseStyle)
        return -1;
    return baseStyle->layoutSpacing(control1, control2, orientation, option, widget);
}

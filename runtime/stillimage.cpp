#include "runtime/stillimage.h"

#include "runtime/accessible.h"

#include <QPainter>

namespace ferro {

StillImage::StillImage(QWidget *parent)
    : QWidget(parent)
{
    installAccessibleInterfaces();
}

void StillImage::setPicture(SurfacePicture picture)
{
    m_picture = std::move(picture);
    update();
}

void StillImage::paintEvent(QPaintEvent *)
{
    if (m_picture.isNull())
        return;
    QPainter p(this);
    p.setClipRect(rect());
    m_picture.render(p, true);
}

} // namespace ferro

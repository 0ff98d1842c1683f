#pragma once
// An image control: shows a still picture at the picture's own size from its
// top-left corner; with no picture and no border it shows nothing.

#include "runtime/drawingsurface.h"

#include <QWidget>

namespace ferro {

class StillImage : public QWidget {
    Q_OBJECT
public:
    explicit StillImage(QWidget *parent);

    void setPicture(SurfacePicture picture);
    bool hasPicture() const { return !m_picture.isNull(); }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    SurfacePicture m_picture;
};

} // namespace ferro

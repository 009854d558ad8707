#include "ScreenImage.h"

#include "ScreenIcons.h"

ScreenImage::ScreenImage(const QString &name, const QImage &picture, QWidget *parent)
    : QLabel(parent)
    , m_picture(picture)
{
    setObjectName(name);
    setPixmap(ScreenIcons::withoutBackground(picture));
    setFixedSize(picture.size());
    hide();
}

#pragma once

#include <QImage>
#include <QLabel>

// A hidden picture holder of the screen: keeps the picture exactly as drawn
// (the grids copy it into their cells) and shows it olive-free when visible.
class ScreenImage : public QLabel
{
    Q_OBJECT
public:
    ScreenImage(const QString &name, const QImage &picture, QWidget *parent);

    const QImage &Picture() const { return m_picture; }

private:
    QImage m_picture;
};

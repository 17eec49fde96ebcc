#pragma once

#include <QPixmap>
#include <QWidget>

namespace lumora {

// An image control: draws its picture stretched to fill its rectangle. Takes no focus and
// reacts to no click.
class BannerImage : public QWidget {
    Q_OBJECT

public:
    // Raises RuntimeError 481 "Invalid picture" when the picture cannot be read.
    explicit BannerImage(const QString &picturePath, QWidget *parent = nullptr);

    const QPixmap &picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
};

} // namespace lumora

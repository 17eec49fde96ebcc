#pragma once

#include <QPixmap>
#include <QWidget>

namespace lumora {

// An image control: draws its picture stretched to fill its rectangle. Takes no focus and
// reacts to no click. Where the picture has a twice as large version beside it ("name@2x.jpg"
// next to "name.jpg"), that one is drawn on screens whose device pixel ratio is above 1.
class BannerImage : public QWidget {
    Q_OBJECT

public:
    // Throws PictureFailure when the picture cannot be read.
    explicit BannerImage(const QString &picturePath, QWidget *parent = nullptr);

    const QPixmap &picture() const { return m_picture; }
    // The picture drawn at the widget's current device pixel ratio.
    const QPixmap &pictureForScreen() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
    QPixmap m_sharp; // the @2x version; null when there is none
};

} // namespace lumora

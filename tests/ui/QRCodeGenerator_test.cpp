#include "ui/QRCodeGenerator.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QRect>

#include <memory>

namespace {

// The smallest rectangle holding every non-white pixel (null when none).
QRect darkArea(const QImage& image)
{
    QRect area;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgba(255, 255, 255, 255))
                area |= QRect(x, y, 1, 1);
    return area;
}

TEST(QRCodeGenerator, CodeIsDrawnInsideItsSquareOnWhite)
{
    QRCodeGenerator generator;
    std::unique_ptr<QImage> blank(generator.getImage(210, 210, 205));
    ASSERT_TRUE(blank);
    EXPECT_TRUE(darkArea(*blank).isNull()) << "no code yet: plain white";
    EXPECT_EQ(blank->format(), QImage::Format_RGBA8888);

    generator.setString("https://192.168.100.200:81/"); // 27 characters: a 25-module code
    std::unique_ptr<QImage> image(generator.getImage(210, 210, 205));
    ASSERT_TRUE(image);
    const QRect dark = darkArea(*image);
    ASSERT_FALSE(dark.isNull());
    // Whole modules from the origin (2, 2): the code is square and spans at most 205 pixels.
    EXPECT_GE(dark.left(), 2);
    EXPECT_GE(dark.top(), 2);
    EXPECT_LE(dark.right(), 207);
    EXPECT_LE(dark.bottom(), 207);
    EXPECT_EQ(dark.width(), dark.height());
    EXPECT_EQ(dark.topLeft(), QPoint(2, 2)) << "finder pattern starts at the origin";

    // A second text replaces the first code.
    generator.setString("https://10.0.0.1:8443/");
    std::unique_ptr<QImage> second(generator.getImage(210, 210, 205));
    EXPECT_NE(*second, *image);
}

TEST(QRCodeGenerator, EdgeSizesAndTextsThatCannotBeEncoded)
{
    QRCodeGenerator generator;
    generator.setString("https://192.168.100.200:81/");
    EXPECT_EQ(generator.getImage(210, 210, 0), nullptr);

    // An image smaller than the square: the origin is -52 and the code is clipped.
    std::unique_ptr<QImage> clipped(generator.getImage(100, 100, 205));
    ASSERT_TRUE(clipped);
    EXPECT_EQ(clipped->size(), QSize(100, 100));
    EXPECT_FALSE(darkArea(*clipped).isNull());

    // Too long for the highest error correction: no code, a white image.
    generator.setString(QString(4000, 'x'));
    EXPECT_FALSE(generator.hasCode());
    std::unique_ptr<QImage> white(generator.getImage(210, 210, 205));
    ASSERT_TRUE(white);
    EXPECT_TRUE(darkArea(*white).isNull());
}

} // namespace

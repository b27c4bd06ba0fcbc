// The shipped icons: every size, the SVG's twin and the Windows .ico are one 32 x 32 picture.
#include <gtest/gtest.h>

#include <QImage>
#include <QString>

namespace {

// Read by Qt's own decoders, independent of the script that writes the files.
QImage shipped(const char* name) {
    return QImage(QStringLiteral(VESK_DATA_DIR "/icons/") + QString::fromLatin1(name));
}

QImage picture() { return shipped("vesk-32.png").convertToFormat(QImage::Format_ARGB32); }

TEST(IconFiles, PictureIs32By32InSixteenColoursWithATransparentKey) {
    const QImage icon = shipped("vesk-32.png");
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(icon.format(), QImage::Format_Indexed8);
    EXPECT_EQ(icon.colorCount(), 16);
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << "the corner shows the background";
    int drawn = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) drawn += qAlpha(icon.pixel(x, y)) == 255 ? 1 : 0;
    EXPECT_GT(drawn, 100) << "the picture is nearly blank";
}

// Each hicolor size repeats the picture's pixels: pixel (x, y) of a size-N icon is pixel
// (x * 32 / N, y * 32 / N) of the picture, so no colour appears that the picture lacks.
TEST(IconFiles, LargerSizesAreThePictureScaledWithoutNewColours) {
    const QImage source = picture();
    for (int size : {48, 64, 128, 256}) {
        const QImage icon = shipped(qPrintable(QStringLiteral("vesk-%1.png").arg(size)))
                                .convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(icon.size(), QSize(size, size)) << size;
        int wrong = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                wrong += icon.pixel(x, y) != source.pixel(x * 32 / size, y * 32 / size) ? 1 : 0;
        EXPECT_EQ(wrong, 0) << size << " px";
    }
}

TEST(IconFiles, WindowsIconIsThePicture) {
    const QImage ico = shipped("vesk.ico");
    ASSERT_FALSE(ico.isNull()) << "Qt's ico reader did not take it";
    EXPECT_EQ(ico.size(), QSize(32, 32));
    EXPECT_EQ(ico.convertToFormat(QImage::Format_ARGB32), picture());
}

}  // namespace

// Preloading of the neighbours: the files navigation would open are decoded ahead, at most two are
// kept, and an image whose file changed since it was read is not handed out.

#include "view/Preloader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

using namespace zerimo;

namespace {

bool WaitFor(CPreloader& p, const std::vector<std::string>& paths) {
    for (int i = 0; i < 1000; ++i) {
        auto held = p.Held();
        std::sort(held.begin(), held.end());
        auto want = paths;
        std::sort(want.begin(), want.end());
        if (held == want) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct PreloaderFixture : ::testing::Test {
    QTemporaryDir dir;
    std::string a, b, c, d;
    void SetUp() override {
        const QString sample = QString(ZERIMO_SAMPLES) + "/kodim23.jpg";
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
            ASSERT_TRUE(QFile::copy(sample, dir.filePath(name)));
        a = dir.filePath("a.jpg").toStdString();
        b = dir.filePath("b.jpg").toStdString();
        c = dir.filePath("c.jpg").toStdString();
        d = dir.filePath("d.jpg").toStdString();
    }
};

} // namespace

TEST_F(PreloaderFixture, TheNeighboursAreDecodedAndHandedOver) {
    CPreloader p;
    p.PreloadNeighbours(b, 800, 600, 1.0);
    ASSERT_TRUE(WaitFor(p, {a, c})); // previous and next of b
    std::shared_ptr<CImagePyramid> pyramid;
    CPreloader::Tiles tiles;
    ImagePtr img = p.Take(c, &pyramid, &tiles);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->GetWidth(), 768u);
    EXPECT_TRUE(pyramid);
    EXPECT_FALSE(tiles.tiles.empty()); // the fitted view, drawn ahead
    EXPECT_DOUBLE_EQ(tiles.zoom, 800.0 / 768);
    EXPECT_FALSE(p.Take(c)); // handed over: the preloader keeps nothing
    EXPECT_FALSE(p.Take(d)); // never asked for
}

TEST_F(PreloaderFixture, AtMostTwoAndOnlyTheCurrentNeighbours) {
    CPreloader p;
    p.PreloadNeighbours(a, 0, 0, 1.0);
    ASSERT_TRUE(WaitFor(p, {b, d})); // wraps around to the last file
    p.PreloadNeighbours(c, 0, 0, 1.0);
    ASSERT_TRUE(WaitFor(p, {b, d}));
    p.PreloadNeighbours(b, 0, 0, 1.0);
    ASSERT_TRUE(WaitFor(p, {a, c}));
    EXPECT_LE(p.Held().size(), CPreloader::kMaxImages);
}

TEST_F(PreloaderFixture, AFileChangedOnDiskIsDecodedAfresh) {
    CPreloader p;
    p.PreloadNeighbours(b, 0, 0, 1.0);
    ASSERT_TRUE(WaitFor(p, {a, c}));
    {
        std::ofstream out(c, std::ios::app | std::ios::binary);
        out << "trailing bytes";
    }
    EXPECT_FALSE(p.Take(c));
    EXPECT_TRUE(p.Take(a));
}

TEST_F(PreloaderFixture, TakeWaitsForTheFileBeingDecoded) {
    CPreloader p;
    p.Preload(a);
    EXPECT_TRUE(p.Take(a)); // asked for at once: waits instead of failing
    p.Preload("/nonexistent/zerimo.jpg");
    EXPECT_FALSE(p.Take("/nonexistent/zerimo.jpg"));
}

#include <gtest/gtest.h>

#include <string>

#include "core/app_state.h"
#include "core/navigation.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::wstring Title() {
    wchar_t title[MAX_PATH] = {};
    GetWindowTextW(app.window, title, MAX_PATH);
    return title;
}

class NavigationTest : public testing::Test {
protected:
    void TearDown() override {
        ResetApp();
    }
    TempFolder folder;
};

// Wine lists a folder sorted by name; the program keeps whatever order it is given.
TEST_F(NavigationTest, WalksTheFolderSkippingWhatDoesNotDecodeAndWrapsBothWays) {
    const fs::path a = folder.Copy(FixturePath(L"gray_64x48.jpg"), L"a.jpg");
    folder.Add(L"b.txt", "not a picture");
    folder.Copy(FixturePath(L"red_40x30.png"), L"c.png");
    fs::create_directory(folder.path / L"d.png");
    OpenViewerOn(a.wstring());
    ASSERT_EQ(app.fileNames.size(), 3u);
    EXPECT_EQ(app.currentIndex, 0);

    const struct {
        int step;
        const wchar_t* title;
        int width;
    } walk[] = {{+1, L"c.png", 40}, {+1, L"a.jpg", 64}, {-1, L"c.png", 40}, {-1, L"a.jpg", 64}};
    for (const auto& move : walk) {
        Navigate(move.step);
        EXPECT_EQ(Title(), move.title);
        EXPECT_STREQ(app.currentName, move.title);
        EXPECT_EQ(app.imageWidth, move.width);
        EXPECT_EQ(app.loadFailures, 0);
    }
}

TEST_F(NavigationTest, AFolderWithOnlyTheFileOnShowReloadsIt) {
    OpenViewerOn(folder.Copy(FixturePath(L"red_40x30.png"), L"only.png").wstring());
    Navigate(+1);
    EXPECT_EQ(app.currentIndex, 0);
    EXPECT_EQ(Title(), L"only.png");
    EXPECT_EQ(BackBufferPixel(app.clientWidth / 2, app.clientHeight / 2), kOpaqueRed);
}

TEST_F(NavigationTest, ANameInOtherLetterCaseLeavesTheIndexAtTheFirstEntry) {
    folder.Copy(FixturePath(L"red_40x30.png"), L"a.png");
    folder.Copy(FixturePath(L"green_101x51.bmp"), L"b.bmp");
    folder.Copy(FixturePath(L"gray_64x48.jpg"), L"c.jpg");
    OpenViewerOn((folder.path / L"C.JPG").wstring());
    EXPECT_EQ(app.currentIndex, 0);
    Navigate(+1);
    EXPECT_EQ(Title(), L"b.bmp");
}

TEST_F(NavigationTest, PathsWithForwardSlashesOrNoFolderCanBeNavigated) {
    folder.Copy(FixturePath(L"red_40x30.png"), L"a.png");
    folder.Copy(FixturePath(L"green_101x51.bmp"), L"b.bmp");
    std::wstring forward = (folder.path / L"a.png").wstring();
    std::replace(forward.begin(), forward.end(), L'\\', L'/');
    OpenViewerOn(forward);
    Navigate(+1);
    EXPECT_EQ(Title(), L"b.bmp");

    wchar_t part[MAX_PATH], name[MAX_PATH];
    ASSERT_TRUE(SplitPath(L"bare.png", part, name));
    EXPECT_STREQ(part, L".");
    EXPECT_STREQ(name, L"bare.png");
    ASSERT_TRUE(SplitPath(L"C:\\x/y\\z.png", part, name));
    EXPECT_STREQ(part, L"C:\\x/y");
    EXPECT_STREQ(name, L"z.png");
}

TEST_F(NavigationTest, AnEntryWhosePathIsTooLongIsSkipped) {
    const fs::path deep = folder.path / std::wstring(200, L'd');
    fs::create_directory(deep);
    fs::copy_file(FixturePath(L"red_40x30.png"), deep / L"a.png");
    fs::copy_file(FixturePath(L"green_101x51.bmp"), deep / (std::wstring(80, L'b') + L".bmp"));
    OpenViewerOn((deep / L"a.png").wstring());
    ASSERT_EQ(app.fileNames.size(), 2u);
    Navigate(+1);
    EXPECT_EQ(Title(), L"a.png");
    EXPECT_EQ(app.loadFailures, 0);

    wchar_t joined[MAX_PATH];
    EXPECT_FALSE(JoinPath(std::wstring(250, L'd').c_str(), L"123456789.png", joined));
    EXPECT_TRUE(JoinPath(L"C:\\f", L"n.png", joined));
    EXPECT_STREQ(joined, L"C:\\f\\n.png");
}

// The walk is a loop, so thousands of broken entries in a row do not exhaust the stack.
TEST_F(NavigationTest, ThousandsOfUndecodableEntriesAreWalkedPast) {
    const fs::path first = folder.Copy(FixturePath(L"red_40x30.png"), L"0000.png");
    for (int i = 1; i <= 3000; ++i) folder.Add((std::to_wstring(i) + L".png").c_str(), "x");
    OpenViewerOn(first.wstring());
    Navigate(+1);
    EXPECT_EQ(Title(), L"0000.png");
    EXPECT_EQ(app.loadFailures, 0);
}

TEST_F(NavigationTest, AnEmptyListKeepsThePictureOnShow) {
    OpenViewerOn(folder.Copy(FixturePath(L"red_40x30.png"), L"a.png").wstring());
    app.fileNames.clear();
    Navigate(+1);
    EXPECT_EQ(Title(), L"a.png");
    EXPECT_TRUE(app.image);
}

using NavigationDeathTest = NavigationTest;

TEST_F(NavigationDeathTest, EndsWithCodeOneWhenNothingLoadsAnyMore) {
    const fs::path a = folder.Copy(FixturePath(L"red_40x30.png"), L"a.png");
    folder.Add(L"b.txt", "not a picture");
    EXPECT_EXIT(
        {
            OpenViewerOn(a.wstring());
            app.image.reset();
            fs::remove(a);
            Navigate(+1);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EXIT(
        {
            OpenViewerOn(folder.Copy(FixturePath(L"red_40x30.png"), L"c.png").wstring());
            app.fileNames.clear();
            app.image.reset();
            Navigate(+1);
        },
        testing::ExitedWithCode(1), "");
}

}  // namespace

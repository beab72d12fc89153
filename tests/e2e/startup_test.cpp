#include "driver.h"

namespace {

TEST(StartUp, SmallPictureShowsCentredAtActualSize) {
    Viewer viewer({Fixture(L"red_40x30.png")});
    ASSERT_TRUE(viewer.WaitForWindow());
    EXPECT_EQ(viewer.Title(), L"red_40x30.png");
    const SIZE client = viewer.Client();
    EXPECT_EQ(client.cx, 128);
    EXPECT_EQ(client.cy, 128);
    const Rect centred = ZoomedRect(client, 40, 30, 1);
    EXPECT_TRUE(ShowsPictureAt(viewer, ButtonFace(), centred));
    EXPECT_EQ(viewer.Capture().Box(kRed), centred);
}

// Halved twice to leave 128 pixels of the screen free, then raised to the 128-pixel minimum.
TEST(StartUp, LargePictureIsHalvedUntilItLeavesRoomOnTheScreenThenFitted) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    TempFolder folder;
    const auto file = folder.path / L"large.png";
    SavePicture(file, 2 * screenWidth, 160, [](int, int) { return kBlue; });
    Viewer viewer({file});
    ASSERT_TRUE(viewer.WaitForWindow());
    const SIZE client = viewer.Client();
    EXPECT_EQ(client.cx, screenWidth / 2);
    EXPECT_EQ(client.cy, 128);
    EXPECT_TRUE(ShowsPictureAt(viewer, ButtonFace(), FittedRect(client, 2 * screenWidth, 160)));
}

TEST(StartUp, EndsWithCodeZeroAndNoWindowOnANonPictureOrACancelledOpenDialog) {
    Viewer nonPicture({Fixture(L"not_an_image.png")});
    EXPECT_EQ(nonPicture.WaitForExit(), 0u);
    EXPECT_FALSE(nonPicture.sawWindow);

    Viewer noArgument(Arguments{});
    HWND dialog = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (dialog = FindTopWindow(noArgument.processId, L"#32770")); }));
    Answer(dialog, IDCANCEL);
    EXPECT_EQ(noArgument.WaitForExit(), 0u);
    EXPECT_FALSE(noArgument.sawWindow);
}

TEST(StartUp, EveryFurtherFileOpensInACopyOfItsOwn) {
    TempFolder folder;
    const wchar_t* names[] = {L"first picture.png", L"second picture.bmp", L"third picture.gif"};
    Viewer first({folder.Copy(Fixture(L"red_40x30.png"), names[0]),
                  folder.Copy(Fixture(L"green_101x51.bmp"), names[1]),
                  folder.Copy(Fixture(L"blue_20x10.gif"), names[2])});
    ASSERT_TRUE(first.WaitForWindow());
    EXPECT_EQ(first.Title(), names[0]);
    std::vector<DWORD> processIds = {first.processId};
    for (const wchar_t* name : {names[1], names[2]}) {
        HWND window = nullptr;
        EXPECT_TRUE(WaitUntil([&] { return (window = FindTopWindow(0, L"Glim", name)); }))
            << testing::PrintToString(std::wstring(name));
        processIds.push_back(0);
        GetWindowThreadProcessId(window, &processIds.back());
        EXPECT_EQ(std::count(processIds.begin(), processIds.end(), processIds.back()), 1);
    }
}

}  // namespace

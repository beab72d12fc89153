#include "driver.h"

namespace {

struct Named {
    std::wstring name;
    DWORD colour;
};

// Several scripts, a character beyond 16 bits, and both spellings of one accented letter, which
// are different files and must stay apart.
const Named kOddNames[] = {
    {L"\u4E2D\u6587\u56FE\u7247.png", kRed}, {L"\u0635\u0648\u0631\u0629.png", kGreen},
    {L"\U0001F600 smile.png", kBlue},        {L"caf\u00E9.png", kYellow},
    {L"cafe\u0301.png", kMagenta},           {L"it's  two spaces, 'quoted'.png", kCyan},
};

fs::path AddSolid(const fs::path& file, DWORD colour) {
    SavePicture(file, 32, 32, [=](int, int) { return colour; });
    return file;
}

// Centred at actual size in the smallest window, so the middle of the client is picture.
DWORD MiddleColour(HWND window) {
    const Shot shot = CaptureClient(window);
    return shot.At(shot.width / 2, shot.height / 2);
}

testing::AssertionResult Shows(const Viewer& viewer, const Named& picture, int timeoutMs = 5000) {
    auto titled = Becomes([&] { return viewer.Title(); }, picture.name, timeoutMs);
    if (!titled) return titled;
    return Becomes([&] { return MiddleColour(viewer.window); }, picture.colour);
}

TEST(Paths, NamesInAnyScriptOpenAndAreWalkedThrough) {
    TempFolder folder;
    for (const Named& picture : kOddNames) AddSolid(folder.path / picture.name, picture.colour);
    Viewer viewer({folder.path / kOddNames[0].name});
    ASSERT_TRUE(viewer.WaitForWindow());
    ASSERT_TRUE(Shows(viewer, kOddNames[0]));
    // Whatever order the folder lists them in, one round shows each once, in its own colours.
    std::vector<std::wstring> seen;
    for (size_t i = 0; i < std::size(kOddNames); ++i) {
        const std::wstring before = viewer.Title();
        Press(VK_RIGHT);
        ASSERT_TRUE(WaitUntil([&] { return viewer.Title() != before; }));
        const auto it = std::find_if(std::begin(kOddNames), std::end(kOddNames),
                                     [&](const Named& n) { return n.name == viewer.Title(); });
        ASSERT_NE(it, std::end(kOddNames)) << testing::PrintToString(viewer.Title());
        EXPECT_TRUE(Shows(viewer, *it));
        seen.push_back(it->name);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
    EXPECT_EQ(viewer.Title(), kOddNames[0].name);
}

TEST(Paths, EveryOddlyNamedArgumentOpensExactlyItsOwnFile) {
    TempFolder folder;
    Arguments arguments;
    for (const Named& picture : kOddNames) {
        arguments.push_back(AddSolid(folder.path / picture.name, picture.colour));
    }
    Viewer first(arguments);
    ASSERT_TRUE(first.WaitForWindow());
    // Side by side, so that no window covers another: without a window manager the one in front
    // need not be the active one.
    std::vector<HWND> windows;
    for (const Named& picture : kOddNames) {
        HWND window = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] { return (window = FindTopWindow(0, L"Glim", picture.name.c_str())); }, 10000))
            << testing::PrintToString(picture.name);
        SetWindowPos(window, HWND_TOP, int(windows.size()) * 160, 0, 0, 0,
                     SWP_NOSIZE | SWP_NOACTIVATE);
        windows.push_back(window);
    }
    for (size_t i = 0; i < windows.size(); ++i) {
        SCOPED_TRACE(testing::PrintToString(kOddNames[i].name));
        EXPECT_TRUE(Becomes([&] { return MiddleColour(windows[i]); }, kOddNames[i].colour));
    }
}

// A name padded so that the whole path has length characters.
fs::path PathOfLength(const fs::path& folder, wchar_t first, size_t length) {
    const size_t used = folder.wstring().size() + 1 + 1 + 4;
    return folder / (first + std::wstring(length - used, L'x') + L".png");
}

TEST(Paths, A259CharacterPathOpensAndLongerOnesFailQuietly) {
    TempFolder base;
    // Deep enough that the names stay short of the 255-character limit of one name.
    const fs::path folder = base.path / std::wstring(150 - base.path.wstring().size(), L'd');
    fs::create_directory(folder);
    const Named shortOne = {AddSolid(folder / L"1.png", kRed).filename(), kRed};
    const fs::path tooLong = AddSolid(PathOfLength(folder, L'2', 260), kGreen);
    const fs::path longest = AddSolid(PathOfLength(folder, L'3', 259), kBlue);
    const Named fitting = {longest.filename(), kBlue};

    Viewer walk({folder / shortOne.name});
    ASSERT_TRUE(walk.WaitForWindow());
    Press(VK_RIGHT);
    EXPECT_TRUE(Shows(walk, fitting)) << "the 260-character path is skipped";
    Press(VK_RIGHT);
    EXPECT_TRUE(Shows(walk, shortOne));

    // The first argument fails quietly, the second opens in a copy.
    Viewer copies({tooLong, longest});
    EXPECT_EQ(copies.WaitForExit(), 0u);
    EXPECT_FALSE(copies.sawWindow);
    EXPECT_TRUE(WaitUntil([&] { return FindTopWindow(0, L"Glim", fitting.name.c_str()); }));

    Viewer farTooLong({base.path / std::wstring(200, L'd') / std::wstring(200, L'f')});
    EXPECT_EQ(farTooLong.WaitForExit(), 0u);
    EXPECT_FALSE(farTooLong.sawWindow);
}

// Made beside the fixtures: a picture at each end, 19,998 empty files between.
TEST(Paths, TwentyThousandEntriesAreWalkedPastBothWays) {
    const Named first = {L"a.png", kRed}, last = {L"z.bmp", kGreen};
    Viewer viewer({Fixture(L"crowd") / first.name});
    ASSERT_TRUE(viewer.WaitForWindow());
    const std::pair<WORD, const Named*> steps[] = {
        {VK_RIGHT, &last}, {VK_RIGHT, &first}, {VK_LEFT, &last}, {VK_LEFT, &first}};
    for (const auto& [key, want] : steps) {
        Press(key);
        EXPECT_TRUE(Shows(viewer, *want, 30000));
    }
}

// Only the \\?\ form keeps a trailing dot: ordinary paths lose it, so the file cannot be
// reached by the name the folder lists, and the shown picture must never be a namesake's.
TEST(Paths, ATrailingDotNameInAReadOnlyFolderIsSkipped) {
    TempFolder folder;
    const Named first = {L"a.png", kRed}, last = {L"c.png", kBlue};
    AddSolid(folder.path / first.name, first.colour);
    AddSolid(folder.path / last.name, last.colour);
    const fs::path dotted = AddSolid(folder.path / L"b.png", kGreen);
    ASSERT_TRUE(MoveFileW((L"\\\\?\\" + dotted.wstring()).c_str(),
                          (L"\\\\?\\" + dotted.wstring() + L".").c_str()));
    ASSERT_TRUE(SetFileAttributesW(folder.path.c_str(), FILE_ATTRIBUTE_READONLY));
    Viewer viewer({folder.path / first.name});
    ASSERT_TRUE(viewer.WaitForWindow());
    Press(VK_RIGHT);
    EXPECT_TRUE(Shows(viewer, last));
    Press(VK_LEFT);
    EXPECT_TRUE(Shows(viewer, first));
    SetFileAttributesW(folder.path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace

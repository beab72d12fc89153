#include <cstdio>

#include "driver.h"

namespace {

// The folder's files in the order the viewer lists them.
std::vector<std::wstring> ListFiles(const fs::path& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW((folder / L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

// The names among the folder's files that GDI+ decodes, asked as the viewer asks it. BMPs whose
// pixel arrays go beyond 32 bits are not asked about: Wine's GDI+ crashes on some of them, and
// the viewer must refuse them all unread.
std::vector<std::wstring> ListPictures(const fs::path& folder) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    std::vector<std::wstring> pictures;
    for (const std::wstring& name : ListFiles(folder)) {
        if (name.find(L"-overflowing-") != std::wstring::npos) continue;
        if (Gdiplus::Image((folder / name).c_str()).GetLastStatus() == Gdiplus::Ok) {
            pictures.push_back(name);
        }
    }
    Gdiplus::GdiplusShutdown(token);
    return pictures;
}

bool Running(const Viewer& viewer) {
    DWORD code = 0;
    return GetExitCodeProcess(viewer.process, &code) && code == STILL_ACTIVE;
}

// One press of key per step, each of which must show the next of wants on the title.
void Walk(const Viewer& viewer, WORD key, const std::vector<std::wstring>& wants) {
    for (size_t step = 0; step < wants.size(); ++step) {
        Press(key);
        // A missed step would fail every later one too, five seconds each: the first one ends it.
        ASSERT_TRUE(Becomes([&] { return viewer.Title(); }, wants[step]))
            << "step " << step << (Running(viewer) ? "" : ", viewer ended");
    }
}

TEST(Corpus, WalkedBothWaysShowsEachPictureInTurnAndSurvivesEveryMutant) {
    const fs::path corpus = BesideTests(GLIM_E2E_CORPUS);
    const std::vector<std::wstring> files = ListFiles(corpus), pictures = ListPictures(corpus);
    // The ten valid pictures that the mutants come from are listed first.
    ASSERT_GE(pictures.size(), 10u);
    ASSERT_EQ(std::vector(pictures.begin(), pictures.begin() + 10),
              std::vector(files.begin(), files.begin() + 10));
    std::printf("%zu of %zu files decode\n", pictures.size(), files.size());

    Viewer viewer({corpus / pictures[0]});
    ASSERT_TRUE(viewer.WaitForWindow());
    std::vector<std::wstring> forwards(pictures.begin() + 1, pictures.end());
    forwards.push_back(pictures[0]);
    ASSERT_NO_FATAL_FAILURE(Walk(viewer, VK_RIGHT, forwards));
    ASSERT_NO_FATAL_FAILURE(
        Walk(viewer, VK_LEFT, std::vector<std::wstring>(pictures.rbegin(), pictures.rend())));

    Press('B');
    EXPECT_TRUE(Becomes([&] { return viewer.Capture().At(0, 0); }, kBlack));
    EXPECT_TRUE(Running(viewer));
}

// GDI+ holds the file on show open, so only the viewer itself can remove it.
TEST(FolderChanges, WithNothingElseLoadingTheArrowsKeepThePictureUntilItIsDeletedThenCodeOne) {
    TempFolder folder;
    folder.Add(L"b.png", "not a picture");
    folder.Add(L"c.jpg", "");
    Viewer viewer({folder.Copy(Fixture(L"red_40x30.png"), L"a.png")});
    ASSERT_TRUE(viewer.WaitForWindow());
    for (const auto& [key, background] : {std::pair(VK_RIGHT, kBlack), std::pair(VK_LEFT, kGray)}) {
        // Keys are handled in order: once the background changes, the arrow has been too.
        Press(key);
        Press('B');
        EXPECT_TRUE(Becomes([&] { return viewer.Capture().At(0, 0); }, background));
        EXPECT_EQ(viewer.Title(), L"a.png");
        EXPECT_TRUE(Running(viewer));
    }
    Press(VK_DELETE, {VK_SHIFT});
    HWND confirmation = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (confirmation = FindTopWindow(viewer.processId, L"#32770")); }));
    Answer(confirmation, IDYES);
    EXPECT_EQ(viewer.WaitForExit(), 1u);
}

// The folder is listed once, at start-up: what changes after is found out entry by entry.
TEST(FolderChanges, TheWalkSkipsWhatVanishedOrTurnedToGarbageAndShowsWhatTurnedIntoAPicture) {
    TempFolder folder;
    const fs::path red = Fixture(L"red_40x30.png");
    const fs::path vanishing = folder.Copy(red, L"b.png");
    folder.Copy(red, L"c.png");
    folder.Add(L"d.bmp", "not yet a picture");
    folder.Copy(Fixture(L"blue_20x10.gif"), L"e.gif");
    Viewer viewer({folder.Copy(red, L"a.png")});
    ASSERT_TRUE(viewer.WaitForWindow());
    fs::remove(vanishing);
    folder.Add(L"c.png", "no longer a picture");
    folder.Copy(Fixture(L"green_101x51.bmp"), L"d.bmp");

    for (const auto& [key, title, colour] :
         {std::tuple(VK_RIGHT, L"d.bmp", kGreen), std::tuple(VK_RIGHT, L"e.gif", kBlue),
          std::tuple(VK_RIGHT, L"a.png", kRed), std::tuple(VK_LEFT, L"e.gif", kBlue),
          std::tuple(VK_LEFT, L"d.bmp", kGreen), std::tuple(VK_LEFT, L"a.png", kRed)}) {
        Press(key);
        EXPECT_TRUE(Becomes([&] { return viewer.Title(); }, std::wstring(title)));
        EXPECT_TRUE(Becomes([&] { return viewer.Capture().At(64, 64); }, colour));
    }
}

}  // namespace

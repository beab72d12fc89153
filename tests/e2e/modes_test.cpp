#include "driver.h"

namespace {

bool IsTopmost(HWND window) {
    return GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST;
}

TEST(Fullscreen, EnterOrDoubleClickGoesFullscreenAndBackExactly) {
    const SIZE screen = {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    // Wine's scaling shifts and blurs the edges of much enlarged pictures, so this one is
    // halved in the window and at actual size on the screen.
    TempFolder folder;
    const fs::path file = folder.path / L"halves.png";
    SavePicture(file, screen.cx, 128, [&](int x, int) { return x < screen.cx / 2 ? kRed : kBlue; });
    for (bool byMouse : {false, true}) {
        SCOPED_TRACE(byMouse ? "double click" : "Enter");
        Viewer viewer({file});
        ASSERT_TRUE(viewer.WaitForWindow());
        const Rect window = WindowRect(viewer.window),
                   picture = FittedRect(viewer.Client(), screen.cx, 128);
        const LONG style = GetWindowLongW(viewer.window, GWL_STYLE);
        EXPECT_TRUE(ShowsPictureAt(viewer, ButtonFace(), picture));
        // The second double click lands elsewhere, so that it does not join the first.
        auto toggle = [&](int x) {
            const MouseStep down = {viewer.ToScreen(x, 40), MOUSEEVENTF_LEFTDOWN};
            const MouseStep up = {down.at, MOUSEEVENTF_LEFTUP};
            byMouse ? Mouse({down, up, down, up}) : Press(VK_RETURN);
        };
        toggle(40);
        EXPECT_TRUE(
            Becomes([&] { return WindowRect(viewer.window); }, Rect{0, 0, screen.cx, screen.cy}));
        EXPECT_EQ(GetWindowLongW(viewer.window, GWL_STYLE), style & ~(WS_CAPTION | WS_THICKFRAME));
        EXPECT_TRUE(IsTopmost(viewer.window));
        EXPECT_TRUE(ShowsPictureAt(viewer, kBlack, FittedRect(screen, screen.cx, 128)));
        toggle(80);
        EXPECT_TRUE(Becomes([&] { return WindowRect(viewer.window); }, window));
        EXPECT_EQ(GetWindowLongW(viewer.window, GWL_STYLE), style);
        EXPECT_FALSE(IsTopmost(viewer.window));
        EXPECT_TRUE(ShowsPictureAt(viewer, ButtonFace(), picture));
    }
}

TEST(Keys, EscapeEndsWithCodeZeroAlsoFromFullscreen) {
    for (bool fullscreen : {false, true}) {
        SCOPED_TRACE(fullscreen ? "fullscreen" : "window");
        Viewer viewer({Fixture(L"red_40x30.png")});
        ASSERT_TRUE(viewer.WaitForWindow());
        if (fullscreen) Press(VK_RETURN);
        ASSERT_TRUE(WaitUntil([&] { return IsTopmost(viewer.window) == fullscreen; }));
        Press(VK_ESCAPE);
        EXPECT_EQ(viewer.WaitForExit(), 0u);
    }
}

TEST(Keys, TTogglesAlwaysOnTop) {
    Viewer viewer({Fixture(L"red_40x30.png")});
    ASSERT_TRUE(viewer.WaitForWindow());
    for (bool topmost : {true, false, true}) {
        Press('T');
        EXPECT_TRUE(Becomes([&] { return IsTopmost(viewer.window); }, topmost));
    }
}

TEST(Keys, AltEnterAsksTheShellForPropertiesAndCarriesOn) {
    Viewer viewer({Fixture(L"red_40x30.png")});
    ASSERT_TRUE(viewer.WaitForWindow());
    const Rect window = WindowRect(viewer.window);
    Press(VK_RETURN, {VK_MENU});
    // Wine answers with an error box where Windows shows the property sheet.
    HWND sheet = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (sheet = FindTopWindow(viewer.processId, L"#32770")); }));
    Answer(sheet, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(sheet); }));
    ASSERT_TRUE(viewer.Activate());
    Press('B');
    EXPECT_TRUE(Becomes([&] { return viewer.Capture().At(0, 0); }, kBlack));
    EXPECT_EQ(WindowRect(viewer.window), window) << "Alt+Enter is not Enter";
}

// Each test has a recycle bin of its own: the shell keeps it under XDG_DATA_HOME, a Unix path
// that the viewer inherits.
class Deletion : public testing::Test {
protected:
    void SetUp() override {
        const auto unixName =
            reinterpret_cast<char*(CDECL*)(const wchar_t*)>(reinterpret_cast<void (*)()>(
                GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
        ASSERT_TRUE(unixName) << "the recycle bin is looked for where Wine keeps it";
        fs::create_directory(folder.path / L"data");
        char* data = unixName((folder.path / L"data").c_str());
        SetEnvironmentVariableA("XDG_DATA_HOME", data);
        HeapFree(GetProcessHeap(), 0, data);
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"XDG_DATA_HOME", nullptr);
    }
    // Asks for the deletion and gives the shell's confirmation answer.
    void Delete(const Viewer& viewer, std::vector<WORD> modifiers, int answer) {
        Press(VK_DELETE, modifiers);
        HWND confirmation = nullptr;
        ASSERT_TRUE(
            WaitUntil([&] { return (confirmation = FindTopWindow(viewer.processId, L"#32770")); }));
        Answer(confirmation, answer);
    }
    fs::path TrashPath(const wchar_t* name) const {
        return folder.path / L"data" / L"Trash" / L"files" / name;
    }
    bool Trashed(const wchar_t* name) const {
        return fs::exists(TrashPath(name));
    }
    TempFolder folder;
};

TEST_F(Deletion, DeleteAsksThenRecyclesOrDeletesAndShowsTheNextFile) {
    const struct {
        const char* what;
        std::vector<WORD> modifiers;
        int answer;
        bool kept, trashed;
    } cases[] = {{"Delete, yes", {}, IDYES, false, true},
                 {"Shift+Delete, yes", {VK_SHIFT}, IDYES, false, false},
                 {"Delete, no", {}, IDNO, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        folder.Copy(Fixture(L"green_101x51.bmp"), L"two.bmp");
        const fs::path one = folder.Copy(Fixture(L"red_40x30.png"), L"one.png");
        const std::string bytes = ReadBytes(one);
        Viewer viewer({one});
        ASSERT_TRUE(viewer.WaitForWindow());
        Delete(viewer, c.modifiers, c.answer);
        EXPECT_TRUE(Becomes([&] { return viewer.Title(); }, std::wstring(L"two.bmp")));
        EXPECT_TRUE(Becomes([&] { return viewer.Capture().At(64, 64); }, kGreen));
        EXPECT_EQ(fs::exists(one), c.kept);
        EXPECT_EQ(Trashed(L"one.png"), c.trashed);
        // Nothing is lost on the way: what stays or goes to the bin is the file as it was.
        EXPECT_EQ(c.kept ? ReadBytes(one) : ReadBytes(TrashPath(L"one.png")),
                  c.kept || c.trashed ? bytes : "");
        fs::remove_all(folder.path / L"data" / L"Trash");
    }
}

TEST_F(Deletion, AFileTheShellCannotDeleteStaysAsItWasAndTheViewerGoesOn) {
    const struct {
        const char* what;
        std::vector<WORD> modifiers;
        bool readOnly;
    } cases[] = {{"read-only, Shift+Delete", {VK_SHIFT}, true},
                 {"locked, Delete", {}, false},
                 {"locked, Shift+Delete", {VK_SHIFT}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        folder.Copy(Fixture(L"green_101x51.bmp"), L"two.bmp");
        const fs::path one = folder.Copy(Fixture(L"red_40x30.png"), L"one.png");
        const std::string bytes = ReadBytes(one);
        if (c.readOnly) SetFileAttributesW(one.c_str(), FILE_ATTRIBUTE_READONLY);
        // Open elsewhere without leave to delete, as an editor holding the file would.
        const HANDLE lock = c.readOnly ? INVALID_HANDLE_VALUE
                                       : CreateFileW(one.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                     nullptr, OPEN_EXISTING, 0, nullptr);
        Viewer viewer({one});
        ASSERT_TRUE(viewer.WaitForWindow());
        Delete(viewer, c.modifiers, IDYES);
        // The shell may report the failure in a box of its own.
        EXPECT_TRUE(WaitUntil([&] {
            if (HWND box = FindTopWindow(viewer.processId, L"#32770")) Answer(box, IDOK);
            return viewer.Title() == L"two.bmp";
        }));
        EXPECT_TRUE(Becomes([&] { return viewer.Capture().At(64, 64); }, kGreen));
        if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
        SetFileAttributesW(one.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(ReadBytes(one), bytes);
        EXPECT_FALSE(Trashed(L"one.png"));
    }
}

TEST_F(Deletion, DeleteWhileTheConfirmationIsOpenStartsNoSecondDeletion) {
    const fs::path two = folder.Copy(Fixture(L"green_101x51.bmp"), L"two.bmp");
    Viewer viewer({folder.Copy(Fixture(L"red_40x30.png"), L"one.png")});
    ASSERT_TRUE(viewer.WaitForWindow());
    Press(VK_DELETE);
    HWND confirmation = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (confirmation = FindTopWindow(viewer.processId, L"#32770")); }));
    // Handled while the confirmation waits; a second one would keep this call waiting too.
    DWORD_PTR result = 0;
    EXPECT_TRUE(
        SendMessageTimeoutW(viewer.window, WM_KEYDOWN, VK_DELETE, 0, SMTO_NORMAL, 3000, &result));
    EXPECT_EQ(CountTopWindows(viewer.processId, L"#32770"), 1);
    Answer(confirmation, IDYES);
    EXPECT_TRUE(Becomes([&] { return viewer.Title(); }, std::wstring(L"two.bmp")));
    EXPECT_FALSE(WaitUntil([&] { return FindTopWindow(viewer.processId, L"#32770"); }, 500));
    EXPECT_TRUE(Trashed(L"one.png"));
    EXPECT_TRUE(fs::exists(two));
}

// Top first: a confirmation behind a fullscreen window would take keys unseen.
bool IsAbove(HWND upper, HWND lower) {
    for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
        if (window == upper) return true;
        if (window == lower) return false;
    }
    return false;
}

TEST_F(Deletion, InFullscreenTheConfirmationShowsAboveTheViewer) {
    folder.Copy(Fixture(L"green_101x51.bmp"), L"two.bmp");
    Viewer viewer({folder.Copy(Fixture(L"red_40x30.png"), L"one.png")});
    ASSERT_TRUE(viewer.WaitForWindow());
    Press(VK_RETURN);
    ASSERT_TRUE(
        WaitUntil([&] { return GetWindowLongW(viewer.window, GWL_EXSTYLE) & WS_EX_TOPMOST; }));
    Press(VK_DELETE);
    HWND confirmation = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (confirmation = FindTopWindow(viewer.processId, L"#32770")); }));
    EXPECT_TRUE(IsAbove(confirmation, viewer.window));
    Answer(confirmation, IDNO);
    EXPECT_TRUE(Becomes([&] { return viewer.Title(); }, std::wstring(L"two.bmp")));
}

TEST_F(Deletion, DeletingTheLastPictureEndsWithCodeOne) {
    folder.Copy(Fixture(L"not_an_image.png"), L"notes.txt");
    Viewer viewer({folder.Copy(Fixture(L"red_40x30.png"), L"only.png")});
    ASSERT_TRUE(viewer.WaitForWindow());
    Delete(viewer, {}, IDYES);
    EXPECT_EQ(viewer.WaitForExit(), 1u);
    EXPECT_TRUE(Trashed(L"only.png"));
}

}  // namespace

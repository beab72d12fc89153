// The real glim.exe, started as a user starts it and given real input.
#include "support.h"

// A visible top-level window of the class and title, of the process or of any when it is 0.
static HWND FindTopWindow(DWORD processId, const wchar_t* className,
                          const wchar_t* title = nullptr) {
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, className, title));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if ((!processId || owner == processId) && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

static std::wstring Title(HWND window) {
    wchar_t title[MAX_PATH] = {};
    return std::wstring(title, GetWindowTextW(window, title, MAX_PATH));
}

// The exit code of a process, or STILL_ACTIVE after half a minute: the last deletion of the
// deletion story walks past thousands of entries before the viewer ends.
static DWORD ExitCode(HANDLE process) {
    DWORD code = STILL_ACTIVE;
    WaitFor([&] { return GetExitCodeProcess(process, &code) && code != STILL_ACTIVE; }, 30000);
    return code;
}

// One glim.exe on arguments, started in folder (or this program's), ended at the end if still
// running.
struct Viewer {
    explicit Viewer(const std::vector<fs::path>& arguments, const fs::path& folder = {}) {
        std::wstring line = L"\"" + (Fixture(L"..") / GLIM_EXE).wstring() + L"\"";
        for (const fs::path& argument : arguments) line += L" \"" + argument.wstring() + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, 0, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &info);
        CloseHandle(info.hThread);
        process = info.hProcess, processId = info.dwProcessId;
    }
    ~Viewer() {
        TerminateProcess(process, 99);
        CloseHandle(process);
    }
    // Keys reach a window once it is active, some time after it shows.
    bool WaitForWindow() {
        return WaitFor([&] { return (window = FindTopWindow(processId, L"Glim")); }, 10000) &&
               WaitFor(
                   [&] { return SetForegroundWindow(window) && GetForegroundWindow() == window; });
    }
    HWND Dialog() const {
        HWND dialog = nullptr;
        WaitFor([&] { return (dialog = FindTopWindow(processId, L"#32770")); });
        return dialog;
    }
    HANDLE process = nullptr;
    DWORD processId = 0;
    HWND window = nullptr;
};

static void Answer(HWND dialog, int button) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

// Real input: the modifier down, the key down and up, the modifier up.
static void Press(BYTE key, BYTE modifier = 0) {
    if (modifier) keybd_event(modifier, 0, 0, 0);
    keybd_event(key, 0, 0, 0);
    keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    if (modifier) keybd_event(modifier, 0, KEYEVENTF_KEYUP, 0);
}

static void DoubleClick(HWND window, int x, int y) {
    POINT at = {x, y};
    ClientToScreen(window, &at);
    SetCursorPos(at.x, at.y);
    for (int click = 0; click < 2; ++click)
        mouse_event(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
}

// Quietly with code 0 for a first file that is not a picture and for a cancelled Open dialog;
// a further file opens in a copy of its own, and the file chosen in the Open dialog shows until
// its window is closed, which ends with code 0 too, as Escape does.
TEST(Program, OpensEachFileInAWindowOfItsOwnAndEndsWithCodeZero) {
    TempFolder folder;
    const std::wstring name = L"caf\u00E9 \U0001F600.gif";
    Viewer first({Fixture(L"not_an_image.png"), folder.Copy(L"blue_20x10.gif", name)}),
        cancelled({});
    Answer(cancelled.Dialog(), IDCANCEL);
    EXPECT_EQ(std::pair(ExitCode(first.process), ExitCode(cancelled.process)), std::pair(0ul, 0ul));
    HWND copy = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (copy = FindTopWindow(0, L"Glim", name.c_str())); }));
    EXPECT_TRUE(Becomes([&] { return ScreenPixel(copy, 64, 64); }, kBlue));
    PostMessageW(copy, WM_CLOSE, 0, 0);
    Viewer chosen({});
    SetDlgItemTextW(chosen.Dialog(), 0x47C, Fixture(L"red_40x30.png").c_str());  // the file name
    Answer(chosen.Dialog(), IDOK);
    ASSERT_TRUE(chosen.WaitForWindow());
    EXPECT_EQ(Title(chosen.window), L"red_40x30.png");
    PostMessageW(chosen.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(ExitCode(chosen.process), 0u);
    // Escape while a panorama decodes ends the viewer at once, not seconds later with the decode.
    folder.Copy(L"quarters_20000x16000.png", L"b.png");
    Viewer escaped({folder.Copy(L"red_40x30.png", L"a.png")});
    ASSERT_TRUE(escaped.WaitForWindow());
    Press(VK_RIGHT);
    WaitFor([] { return false; }, 400);  // into the decode
    Press(VK_ESCAPE);
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(WaitFor([&] { return GetExitCodeProcess(escaped.process, &code) && !code; }, 1000));
}

// Asks the shell to delete the file on show and answers, checking on the way that the shell asks
// in a window the viewer owns, so in front of it, and once however often Delete is pressed.
static void Delete(const Viewer& viewer, WORD modifier, int answer = IDYES) {
    Press(VK_DELETE, modifier);
    const HWND confirmation = viewer.Dialog();
    EXPECT_EQ(GetWindow(confirmation, GW_OWNER), viewer.window);
    // Handled while the confirmation waits; a second deletion would keep this call waiting.
    DWORD_PTR result;
    EXPECT_TRUE(
        SendMessageTimeoutW(viewer.window, WM_KEYDOWN, VK_DELETE, 0, SMTO_NORMAL, 3000, &result));
    Answer(confirmation, answer);
    WaitFor([&] { return !IsWindow(confirmation); });
}

// The red picture, named relative to the folder the viewer starts in, starts at actual size,
// centred in the 128 x 128 minimum window on the system colour; real keys and mouse reach it.
// Once the Open dialog has browsed elsewhere, a declined deletion keeps it, each deletion recycles
// the file on show, not one of the same name where the dialog went, and shows the next picture,
// skipping what is not one; F5 and Right walk the same folder; the last deletion ends the viewer
// with code 1.
TEST(Program, ShowsTheFolderToRealInputAndDeletesItPictureByPicture) {
    TempFolder folder, elsewhere;
    // The shell keeps the recycle bin under XDG_DATA_HOME, a Unix path that the viewer inherits.
    const auto unixName =
        reinterpret_cast<char*(CDECL*)(const wchar_t*)>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!unixName) GTEST_SKIP() << "the recycle bin is redirected through Wine's Unix paths";
    SetEnvironmentVariableA("XDG_DATA_HOME", unixName(folder.path.c_str()));
    const fs::path bin = folder.path / L"Trash" / L"files";
    // Names in several scripts and beyond 16 bits, thousands of entries that are not pictures.
    const std::wstring a = L"a \u4E2D\u6587.png", b = L"b \u0635\u0648\u0631\u0629.bmp",
                       c = L"c \U0001F600.gif";
    folder.Copy(L"red_40x30.png", a);
    folder.Copy(L"green_101x51.bmp", b);
    folder.Copy(L"blue_20x10.gif", c);
    for (int i = 0; i < 3000; ++i) folder.Add(L"d " + std::to_wstring(i) + L".png", "x");
    elsewhere.Copy(L"red_40x30.png", a);
    Viewer viewer({a}, folder.path);
    ASSERT_TRUE(viewer.WaitForWindow());
    const COLORREF system = GetSysColor(COLOR_BTNFACE);
    const DWORD face = GetRValue(system) << 16 | GetGValue(system) << 8 | GetBValue(system);
    const auto at = [&](int x, int y) {
        return [=, &viewer] { return ScreenPixel(viewer.window, x, y); };
    };
    EXPECT_EQ(Title(viewer.window), a);
    EXPECT_TRUE(Becomes(at(44, 49), kRed));
    EXPECT_TRUE(Becomes(at(43, 49), face));
    Press(VK_UP);  // 80 x 60 from 24, 34
    EXPECT_TRUE(Becomes(at(25, 35), kRed));
    // Fullscreen from zoom mode: fitted on black, borderless and on top; back as it was, fitted.
    RECT windowed, now;
    GetWindowRect(viewer.window, &windowed);
    const LONG style = GetWindowLongW(viewer.window, GWL_STYLE);
    DoubleClick(viewer.window, 40, 40);
    EXPECT_TRUE(Becomes(at(0, 0), kBlack));
    EXPECT_TRUE(GetWindowLongW(viewer.window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(GetWindowLongW(viewer.window, GWL_STYLE), style & ~(WS_CAPTION | WS_THICKFRAME));
    Press(VK_RETURN);
    EXPECT_TRUE(Becomes(at(64, 15), face));
    EXPECT_TRUE(Becomes(at(64, 16), kRed));
    GetWindowRect(viewer.window, &now);
    EXPECT_TRUE(EqualRect(&now, &windowed));
    EXPECT_EQ(GetWindowLongW(viewer.window, GWL_STYLE), style);
    EXPECT_FALSE(GetWindowLongW(viewer.window, GWL_EXSTYLE) & WS_EX_TOPMOST);

    Press('O', VK_CONTROL);
    const HWND dialog = viewer.Dialog();
    SetDlgItemTextW(dialog, 0x47C, elsewhere.path.c_str());  // browses there
    Answer(dialog, IDOK);
    Answer(dialog, IDCANCEL);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }) && viewer.WaitForWindow());
    Delete(viewer, 0, IDNO);
    EXPECT_TRUE(fs::exists(folder.path / a)) << "declined";
    Delete(viewer, 0);
    EXPECT_TRUE(Becomes([&] { return Title(viewer.window); }, b));
    EXPECT_TRUE(Becomes(at(64, 64), kGreen));
    EXPECT_EQ(fs::file_size(bin / a), fs::file_size(Fixture(L"red_40x30.png"))) << "recycled whole";
    EXPECT_TRUE(fs::exists(elsewhere.path / a));
    Press(VK_F5);
    Press(VK_RIGHT);
    EXPECT_TRUE(Becomes([&] { return Title(viewer.window); }, c));
    Press(VK_LEFT);
    EXPECT_TRUE(Becomes([&] { return Title(viewer.window); }, b));
    Delete(viewer, VK_CONTROL);
    EXPECT_TRUE(Becomes([&] { return Title(viewer.window); }, c));
    EXPECT_TRUE(Becomes(at(64, 64), kBlue));
    EXPECT_TRUE(fs::exists(bin / b));
    Press(VK_RETURN);
    ASSERT_TRUE(Becomes(at(0, 0), kBlack)) << "fullscreen";
    Press(VK_RETURN, VK_MENU);  // properties: under Wine an error box, in front of the viewer
    const HWND properties = viewer.Dialog();
    EXPECT_EQ(GetWindow(properties, GW_OWNER), viewer.window);
    Answer(properties, IDOK);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(properties); }) && viewer.WaitForWindow());
    Delete(viewer, VK_SHIFT);
    EXPECT_EQ(ExitCode(viewer.process), 1u);
    EXPECT_FALSE(fs::exists(folder.path / c) || fs::exists(bin / c)) << "deleted for good";
}

// The manifest built into glim.exe names the processor of its build.
TEST(Program, ManifestNamesTheProcessorOfItsBuild) {
    const HMODULE exe =
        LoadLibraryExW((Fixture(L"..") / GLIM_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_TRUE(exe && found);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(exe, found))),
                               SizeofResource(exe, found));
    FreeLibrary(exe);
    const size_t start = manifest.find("<assemblyIdentity");
    const std::string identity = manifest.substr(start, manifest.find("/>", start) - start);
    EXPECT_NE(identity.find(sizeof(void*) == 8 ? "processorArchitecture=\"amd64\""
                                               : "processorArchitecture=\"x86\""),
              std::string::npos)
        << identity;
}

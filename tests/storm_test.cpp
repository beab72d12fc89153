// Presses, drops, deletions and listings in random order over a folder of pictures alike in size
// and write time, with reads slowed at random.
#include <atomic>
#include <chrono>
#include <random>

#include "imaging/pixels/composition.h"
#include "support.h"
// After the system headers that it takes for granted.
#include <psapi.h>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// What the storm learns through the imports it points elsewhere and the window procedure.
struct Watch {
    DWORD thread = GetCurrentThreadId();  // the window's
    int working = 0;  // above 0 while the window's thread works for the program, not the test
    double slowestMessageMs = 0, longestLockMs = 0;
    std::atomic<unsigned> reads{0}, opens{0};
    wchar_t shown[MAX_PATH] = {};  // opens of this file are counted; set while the workers idle
    WNDPROC windowProc = nullptr;
    decltype(&CreateFileW) realCreateFile = nullptr;
    decltype(&AcquireSRWLockExclusive) realAcquire = nullptr;
} watch;

// A third of the program's reads wait up to 15 ms first, as on a busy disk; the test's do not.
BOOL WINAPI ReadFileUnevenly(HANDLE file, void* to, DWORD size, DWORD* read, OVERLAPPED* at) {
    const unsigned hash = ++watch.reads * 2654435761u;
    const bool program = GetCurrentThreadId() != watch.thread || watch.working;
    if (program && hash % 3 == 0) Sleep(hash >> 28);
    return realReadFile(file, to, size, read, at);
}

HANDLE WINAPI CreateFileCounted(const wchar_t* path, DWORD access, DWORD share,
                                SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                                HANDLE model) {
    if (CompareStringOrdinal(path, -1, watch.shown, -1, TRUE) == CSTR_EQUAL) ++watch.opens;
    return watch.realCreateFile(path, access, share, security, disposition, flags, model);
}

void WINAPI AcquireTimed(SRWLOCK* lock) {
    const Clock::time_point start = Clock::now();
    watch.realAcquire(lock);
    if (GetCurrentThreadId() != watch.thread || !watch.working) return;
    watch.longestLockMs = std::max(watch.longestLockMs, MsSince(start));
}

// The Delete key's message waits for the shell's confirmation, whose own messages are timed.
LRESULT CALLBACK TimedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const Clock::time_point start = Clock::now();
    watch.working += 1;
    const LRESULT result = CallWindowProcW(watch.windowProc, window, message, wParam, lParam);
    watch.working -= 1;
    if (message == WM_KEYDOWN && wParam == VK_DELETE) return result;
    watch.slowestMessageMs = std::max(watch.slowestMessageMs, MsSince(start));
    return result;
}

// The folder as the storm made it, and how the file on show should look.
struct Storm {
    std::mt19937 random;
    TempFolder folder;
    std::vector<std::wstring> files;
    fs::path shown;
    int turns = 0, page = 0, copies = 0;
    double startMegabytes = 0;
};

void Post(WPARAM key, LPARAM flags = 0, UINT message = WM_KEYDOWN) {
    PostMessageW(app.window, message, key, flags);
}

// A key held down: a few auto-repeats tens of milliseconds apart, then let go.
void Hold(Storm& s, WPARAM key) {
    Post(key);
    for (int n = 2 + int(s.random() % 3); n > 0; --n) {
        WaitFor([] { return false; }, 5 + int(s.random() % 30));
        Post(key, 1 << 30);
    }
    Post(key, 3 << 30, WM_KEYUP);
}

// A file of the folder other than the one on show, whose name holds part.
std::wstring Pick(Storm& s, const wchar_t* part = L"") {
    for (;;) {
        const std::wstring& name = s.files[s.random() % s.files.size()];
        if (name != s.shown.filename() && name.find(part) != name.npos) return name;
    }
}

void Forget(Storm& s, const std::wstring& name) {
    s.files.erase(std::remove(s.files.begin(), s.files.end(), name), s.files.end());
}

// Another tone beside a BMP, then F5: one size, and one write time set on both in whole seconds.
void AddLookalike(Storm& s) {
    const fs::path like = s.folder.path / Pick(s, L".bmp"),
                   copy = s.folder.Copy(
                       (L"tone" + std::to_wstring(s.random() % 10) + L".bmp").c_str(),
                       like.stem().wstring() + L"+" + std::to_wstring(++s.copies) + L".bmp");
    const fs::file_time_type written = fs::last_write_time(like);
    fs::last_write_time(like, written);
    fs::last_write_time(copy, written);
    s.files.push_back(copy.filename());
    Post(VK_F5);
}

// Six pictures at least stay, so that no step comes round to where it started.
constexpr size_t kFewestFiles = 8;

void RemoveOne(Storm& s) {
    const std::wstring gone = Pick(s);
    std::error_code error;
    if (s.files.size() > kFewestFiles && fs::remove(s.folder.path / gone, error)) Forget(s, gone);
    Post(VK_F5);
}

// The shell's confirmation, owned by the window, is answered Yes from its own message loop, once
// Right was pressed there.
void CALLBACK AnswerYes(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = nullptr;
    while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) &&
           GetWindow(box, GW_OWNER) != app.window) {
    }
    if (!box) return;
    KillTimer(nullptr, timer);
    const BYTE none[256] = {};
    SetKeyboardState(const_cast<BYTE*>(none));
    SendMessageW(app.window, WM_KEYDOWN, VK_RIGHT, 0);
    PostMessageW(box, WM_COMMAND, IDYES, 0);
}

// Shift+Delete, with a press arriving while the shell asks: the file named in the title goes, and
// no other, and the first picture listed after it that is still there shows.
void DeleteShown(Storm& s) {
    if (s.files.size() <= kFewestFiles) return;
    wchar_t title[MAX_PATH] = {};
    GetWindowTextW(app.window, title, MAX_PATH);
    const std::vector<std::wstring> listed = app.fileNames;
    const UINT_PTR answering = SetTimer(nullptr, 0, 20, AnswerYes);
    SendToWindow(WM_KEYDOWN, VK_DELETE, 0, {VK_SHIFT});
    KillTimer(nullptr, answering);
    Forget(s, title);
    EXPECT_FALSE(fs::exists(s.folder.path / title)) << "deleted";
    for (const std::wstring& name : s.files) EXPECT_TRUE(fs::exists(s.folder.path / name)) << name;
    auto next = std::find(listed.begin(), listed.end(), title);
    do {
        next = next + 1 == listed.end() ? listed.begin() : next + 1;
    } while (*next == L"not_an_image.png" || *next == L"png-cut30.png" ||
             !fs::exists(s.folder.path / *next));
    EXPECT_EQ(std::wstring(app.currentName), *next) << "after " << fs::path(title);
}

// Name, whether a press (which opens no file when it stays on the one on show), and the step.
const std::tuple<const char*, bool, void (*)(Storm&)> kSteps[] = {
    // clang-format off
    {"Right",        true,  [](Storm&) { Post(VK_RIGHT); }},
    {"Left",         true,  [](Storm&) { Post(VK_LEFT); }},
    {"Home",         true,  [](Storm&) { Post(VK_HOME); }},
    {"End",          true,  [](Storm&) { Post(VK_END); }},
    {"Page Down",    true,  [](Storm&) { Post(VK_NEXT); }},
    {"Page Up",      true,  [](Storm&) { Post(VK_PRIOR); }},
    {"Right held",   true,  [](Storm& s) { Hold(s, VK_RIGHT); }},
    {"Left held",    true,  [](Storm& s) { Hold(s, VK_LEFT); }},
    {"R",            true,  [](Storm& s) { Post('R'); s.turns += 1; }},
    {"Ctrl+Right",   true,  [](Storm& s) {
        SendToWindow(WM_KEYDOWN, VK_RIGHT, 0, {VK_CONTROL});
        if (s.shown.extension() == L".tif") s.page = 1 - s.page; }},
    {"Right, F5",    false, [](Storm&) { Post(VK_RIGHT); Post(VK_F5); }},
    {"F5 lookalike", false, AddLookalike},
    {"F5 one fewer", false, RemoveOne},
    {"drop",         false, [](Storm& s) {
        Drop(s.random() % 4 ? s.folder.path / Pick(s) : Fixture(L"not_an_image.png")); }},
    {"Ctrl+O",       false, [](Storm& s) {
        OpenHere((s.folder.path / Pick(s)).c_str());
        BringWindowUpToDate(); }},
    {"Shift+Delete", false, DeleteShown},
    // clang-format on
};

// Wine leaves PrivateUsage 0; PagefileUsage is the same count on Windows.
double PrivateMegabytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    return double(std::max(counters.PrivateUsage, counters.PagefileUsage)) / (1 << 20);
}

// Nothing waits, nothing held the window's thread up, memory was let go, a press that stayed on
// the file on show did not open it; title, name and path agree on a file that is there, which
// shows as a fresh load of it, turned and paged as pressed since another file showed.
void ExpectSettled(Storm& s, const fs::path& before, bool press) {
    const fs::path shown = app.onShow.path;
    const std::tuple<const char*, double, double> limits[] = {
        {"a press or a preview still waiting", PressPending() || app.onShow.preview, 0},
        {"ms the slowest message took", watch.slowestMessageMs, 50},
        {"ms the window's thread waited for a lock", watch.longestLockMs, 5},
        {"MB more private memory than at the start", PrivateMegabytes() - s.startMegabytes, 464},
        {"opens of the file on show by a press that stayed",
         press && shown == before ? watch.opens.load() : 0, 0},
    };
    for (const auto& [what, value, most] : limits) EXPECT_LE(value, most) << what;
    wchar_t title[MAX_PATH] = {};
    GetWindowTextW(app.window, title, MAX_PATH);
    ASSERT_EQ(
        std::tuple(std::wstring(app.currentName), shown.filename().wstring(), fs::exists(shown)),
        std::tuple(std::wstring(title), std::wstring(title), true));
    if (shown != before) s.turns = s.page = 0;
    s.shown = shown;
    AppState loaded;
    loaded.view = app.view;
    ASSERT_EQ(LoadImageFile(loaded.onShow.picture, shown.c_str()), LoadResult::kLoaded) << shown;
    SelectFrame(loaded.onShow.picture, s.page);
    TurnPicture(loaded.onShow.picture, s.turns % 4);
    ComposeBackBuffer(loaded.onShow, loaded.view);
    EXPECT_TRUE(BackBufferPixels(app) == BackBufferPixels(loaded))
        << shown << " turned " << s.turns << " quarters, on page " << s.page;
    ReleaseBackBuffer(loaded.onShow);
}

// One seed's storm, up to its first step that fails.
void RunStorm(unsigned seed) {
    Storm s;
    s.random.seed(seed);
    std::vector<std::wstring> names = {L"chunks.png", L"pages_200x100_50x40.tif", L"thumb_3x2.jpg",
                                       L"not_an_image.png", L"damaged\\png-cut30.png"};
    for (int i = 0; i < 10; ++i) names.push_back(L"tone" + std::to_wstring(i) + L".bmp");
    for (const fs::path name : names)
        s.files.push_back(s.folder.Copy(name.c_str(), name.filename()).filename());
    // The first photo opens on its preview; meanwhile the folder is listed again and a file that is
    // no picture dropped, and its picture comes all the same.
    ResetApp();
    ASSERT_TRUE(ShowFirst((s.folder.path / L"thumb_3x2.jpg").c_str()) && OpenMainWindow());
    SendMessageW(app.window, WM_KEYDOWN, VK_F5, 0);
    Drop(Fixture(L"not_an_image.png"));
    ASSERT_STREQ(app.currentName, L"thumb_3x2.jpg");
    SendToWindow(WM_KEYDOWN, VK_SPACE);  // fitted, so that the marks at the corners show
    SendToWindow(WM_KEYDOWN, 'A');       // paused, or the pages of the TIFF turn by themselves
    watch.windowProc =
        WNDPROC(SetWindowLongPtrW(app.window, GWLP_WNDPROC, LONG_PTR(TimedWindowProc)));
    s.shown = app.onShow.path;
    s.startMegabytes = PrivateMegabytes();
    const int room = GdiRoom();
    for (int step = 1; step <= 100 && !testing::Test::HasFailure(); ++step) {
        const auto& [name, press, run] = kSteps[s.random() % std::size(kSteps)];
        const std::string where =
            "seed " + std::to_string(seed) + ", step " + std::to_string(step) + ", " + name;
        SCOPED_TRACE(where);
        std::snprintf(crashNote, sizeof crashNote, " in %s", where.c_str());
        const fs::path before = s.shown;
        std::wcscpy(watch.shown, before.c_str());
        watch.opens = 0, watch.slowestMessageMs = watch.longestLockMs = 0;
        run(s);
        SendToWindow(WM_NULL, 0);  // waits for what the step asked to show, and for the workers
        ExpectSettled(s, before, press);
    }
    crashNote[0] = 0;
    EXPECT_LT(room - GdiRoom(), 50) << "GDI objects kept, seed " << seed;
    ResetApp();
}

}  // namespace

// Whenever the storm settles, the title, the path and the pixels on screen name one file, and
// nothing the storm did ended the program, held its window up or kept memory.
TEST(Storm, EveryPressShowsWhatItNames) {
    // Declared without dllimport, its name here is a stub's; the import holds the system's own.
    const auto acquire =
        reinterpret_cast<decltype(&AcquireSRWLockExclusive)>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32"), "AcquireSRWLockExclusive")));
    const auto reads = ReadFileImport();
    const auto opens = ImportSlot(CreateFileW);
    const auto locks = ImportSlot(acquire);
    ASSERT_TRUE(reads && opens && locks);
    *reads = ReadFileUnevenly;
    watch.realCreateFile = std::exchange(*opens, CreateFileCounted);
    watch.realAcquire = std::exchange(*locks, AcquireTimed);
    std::vector<unsigned> seeds = {2, 3, 10};
    if (const char* seed = std::getenv("GLIM_STORM_SEED")) seeds = {unsigned(std::atoi(seed))};
    for (const unsigned seed : seeds) RunStorm(seed);
    *reads = realReadFile, *opens = watch.realCreateFile, *locks = watch.realAcquire;
}

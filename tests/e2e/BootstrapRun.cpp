#include "e2e/BootstrapRun.h"

#include <sstream>
#include <vector>

#include "cm/Objects.h"
#include "helpers/BootstrapFixture.h"
#include "support/ProcessStart.h"

namespace e2e {

namespace {

std::string ModuleDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of('\\') + 1);
}

std::string ClassName(HWND w) {
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    return name;
}

std::string WindowText(HWND w) {
    char text[1024] = {};
    GetWindowTextA(w, text, sizeof text);
    return text;
}

// Share of strongly red pixels in the window's client area as drawn on the screen.
bool ShowsRedIcon(HWND icon) {
    RECT rc;
    GetClientRect(icon, &rc);
    int width = rc.right, height = rc.bottom;
    if (width <= 0 || height <= 0) return false;
    // Copied off the screen into a bitmap and read back with GetDIBits: memory of a DIB section
    // that the display driver drew into is not safe to read directly under Wine.
    // The window belongs to another process: read the screen itself at the window's place.
    POINT origin = {0, 0};
    ClientToScreen(icon, &origin);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4);
    int lines = GetDIBits(memory, bitmap, 0, height, px.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (lines != height) return false;
    int red = 0;
    for (int i = 0; i < width * height; ++i) {
        uint8_t b = px[4 * i], g = px[4 * i + 1], r = px[4 * i + 2];
        if (r > 150 && g < 110 && b < 110) ++red;
    }
    return red * 5 >= width * height;  // the error icon is a red disc: well over a fifth of its square
}

struct FindBox {
    DWORD ProcessId;
    HWND Found = nullptr;
};

BOOL CALLBACK FindBoxProc(HWND w, LPARAM param) {
    auto* find = reinterpret_cast<FindBox*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == find->ProcessId && IsWindowVisible(w) && ClassName(w) == "#32770") {
        find->Found = w;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK ReadChildProc(HWND w, LPARAM param) {
    auto* view = reinterpret_cast<std::pair<MessageBoxView*, HWND*>*>(param);
    std::string cls = ClassName(w);
    if (!IsWindowVisible(w)) return TRUE;
    if (cls == "Button") {
        view->first->Buttons.push_back(WindowText(w));
        *view->second = w;
    } else if (cls == "Static") {
        if ((GetWindowLongA(w, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            view->first->RedIcon = ShowsRedIcon(w);
        else if (!WindowText(w).empty())
            view->first->Text = WindowText(w);
    }
    return TRUE;
}

// Waits for the process's message box, reads it and presses its (last) button.
MessageBoxView ReadAndDismissMessageBox(HANDLE process, DWORD pid, const std::string& tempDirectory, DWORD timeoutMs) {
    MessageBoxView view;
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        FindBox find{pid};
        EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&find));
        if (find.Found) {
            view.TempDirectoryExisted = DirectoryExists(tempDirectory);
            Sleep(300);  // let it paint before the icon is read from the screen
            view.Found = true;
            view.Caption = WindowText(find.Found);
            HWND button = nullptr;
            std::pair<MessageBoxView*, HWND*> param{&view, &button};
            EnumChildWindows(find.Found, ReadChildProc, reinterpret_cast<LPARAM>(&param));
            if (button) PostMessageA(button, BM_CLICK, 0, 0);
            else PostMessageA(find.Found, WM_COMMAND, IDOK, 0);
            return view;
        }
        if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) return view;
    }
    return view;
}

}  // namespace

const std::string& TestBinDirectory() {
    static const std::string dir = ModuleDirectory();
    return dir;
}

std::string UserTempDirectory() {
    char path[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, path);
    return path;
}

const std::string& WorkDirectory() {
    static const std::string dir = [] {
        std::string d = UserTempDirectory() + "corvane_e2e_" + std::to_string(GetCurrentProcessId()) + "\\";
        // Process ids come round again: what a run of the same id left behind (one stopped before
        // its clean-up) must not be taken for this run's output.
        cm::DeleteDirectoryTree(d);
        cm::ForceDirectoryPath(d);
        return d;
    }();
    return dir;
}

bool DirectoryExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

RunResult RunBootstrap(const std::string& exe, const RunOptions& options) {
    static int counter = 0;
    std::string tag = std::to_string(++counter);
    std::string reportPath = WorkDirectory() + "report" + tag + ".txt";
    std::string stdoutPath = WorkDirectory() + "stdout" + tag + ".txt";
    DeleteFileA(reportPath.c_str());
    SetEnvironmentVariableA("CORVANE_SAMPLE_REPORT", reportPath.c_str());

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    cm::UniqueFileHandle out(CreateFileA(stdoutPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    cm::CheckSystemCall(out.valid(), "Cannot create the standard output file");
    cm::StdHandleTriple std{out.get(), GetStdHandle(STD_INPUT_HANDLE), out.get()};

    const bool suspended = options.PrecreateTempDirectory || options.BeforeStart;
    uint32_t flags = cm::InheritHandles | (suspended ? uint32_t{cm::Suspended} : 0u);
    PROCESS_INFORMATION pi = {};
    const std::string commandLine = cm::QuoteString(exe) + (options.Arguments.empty() ? "" : " " + options.Arguments);
    cm::test::RunProcessRetrying(commandLine, false, flags, {}, &pi, nullptr, &std);
    cm::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    out.reset();

    RunResult result;
    result.ProcessId = pi.dwProcessId;
    const std::string predictable = UserTempDirectory() + "Tavrel_Setup_" + std::to_string(pi.dwProcessId);
    // What an earlier run could have left, or another program planted: a file, a library the
    // decoder or the setup would load from its own directory, a subdirectory with a file.
    const std::vector<std::pair<std::string, std::string>> planted = {
        {"marker.txt", "left by an earlier run"}, {"version.dll", "planted"}, {"planted\\x.txt", "planted"}};
    if (options.PrecreateTempDirectory) {
        cm::ForceDirectoryPath(predictable + "\\planted");
        for (const auto& [name, content] : planted) cm::test::WriteWholeFile(predictable + "\\" + name, content);
    }
    if (options.BeforeStart) options.BeforeStart(predictable + "\\");
    // The bootstrap's rule: the first name at which nothing exists (a bootstrap stopped by a test
    // before its clean-up, under a process id that came round again, leaves one behind too).
    std::string directory = predictable;
    for (int n = 2; GetFileAttributesA(directory.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
        directory = predictable + "_" + std::to_string(n);
    result.TempDirectory = directory + "\\";
    if (suspended) ResumeThread(thread.get());
    if (options.WhileRunning)
        options.WhileRunning(result);
    if (options.ExpectMessageBox)
        result.Box = ReadAndDismissMessageBox(process.get(), pi.dwProcessId, result.TempDirectory, options.TimeoutMs);
    if (WaitForSingleObject(process.get(), options.TimeoutMs) != WAIT_OBJECT_0) {
        result.TimedOut = true;
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
        cm::DeleteDirectoryTree(result.TempDirectory);  // stopped before its own clean-up
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    result.ExitCode = static_cast<int32_t>(code);
    result.StdOut = cm::test::ReadWholeFile(stdoutPath);
    if (GetFileAttributesA(reportPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        result.SetupRan = true;
        std::istringstream lines(cm::test::ReadWholeFile(reportPath));
        for (std::string line; std::getline(lines, line);) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) result.Report.emplace(line.substr(0, eq), line.substr(eq + 1));
        }
    }
    if (options.PrecreateTempDirectory) {
        result.PlantedIntact = true;
        for (const auto& [name, content] : planted) {
            const std::string path = predictable + "\\" + name;
            result.PlantedIntact = result.PlantedIntact && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
                                   cm::test::ReadWholeFile(path) == content;
        }
        cm::DeleteDirectoryTree(predictable);
    }
    SetEnvironmentVariableA("CORVANE_SAMPLE_REPORT", nullptr);
    return result;
}

}  // namespace e2e

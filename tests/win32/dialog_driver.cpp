// quorsel-dialog-driver: drives the Windows updater's dialogs from outside, as a
// person would: it finds each dialog by its caption and controls, types into edits
// with WM_SETTEXT and presses buttons with BM_CLICK, and reads back what the
// dialogs show. Runs beside quorsel.exe under the same Wine prefix.
//
//   quorsel-dialog-driver STEP [STEP...]
//
// Steps (DIALOG is settings, about, search, progress, power-on, password or box):
//   wait DIALOG             until the dialog is shown
//   gone DIALOG             until it is no longer shown
//   set DIALOG ID TEXT      WM_SETTEXT to control ID
//   click DIALOG ID         BM_CLICK on button ID
//   text DIALOG ID NAME     control ID shows the text NAME of res/texts.h
//   shows DIALOG ID TEXT    control ID shows TEXT itself
//   status NAME [A.B.C.D]   until the progress dialog's status line (1022) shows
//                           NAME; CONNECT_FAILED is filled with the address
//   box NAME ICON           until a message box with the application's caption
//                           shows NAME, with (ICON=icon) or without (none) an
//                           icon; then presses its OK
//   enabled DIALOG ID 0|1   control ID is disabled (0) or enabled (1)
//   visible DIALOG ID 0|1   control ID is hidden (0) or visible (1)
//   close DIALOG            sends the close request (WM_CLOSE)
//   sysmenu DIALOG CMD      posts WM_SYSCOMMAND CMD, as the system menu does
//   becomes DIALOG ID 0|1   until control ID is disabled (0) or enabled (1)
//   rows DIALOG ID N        until list view ID holds N rows
//   key DIALOG ID VK        posts the key VK (a virtual-key code) to control ID
//   rect DIALOG             prints "x y width height" of the dialog's window
//   move DIALOG X Y         moves the dialog's window (for screenshots)
//   sleep MS
//   acp PAGE                the system's ANSI code page is PAGE (932, 1252...)
// Every wait gives up after QUORSEL_DRIVER_TIMEOUT_MS (default 60000) ms.
// Exit status 0 when every step passed; 1 at the first that failed, with a line
// on standard error that says what was found instead.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "res/resource_ids.h"
#include "res/texts.h"

namespace {

struct NamedText {
    const char* name;
    const char* utf8;
};

#define QUORSEL_TEXT(name) {#name, quorsel::TEXT_##name}
constexpr NamedText TEXTS[] = {
    QUORSEL_TEXT(PREPARING),        QUORSEL_TEXT(CONNECTING),       QUORSEL_TEXT(TRANSFERRING),
    QUORSEL_TEXT(WRITING),          QUORSEL_TEXT(COMM_ERROR),       QUORSEL_TEXT(WRITE_ERROR),
    QUORSEL_TEXT(WRONG_MODEL),      QUORSEL_TEXT(FILE_ERROR),       QUORSEL_TEXT(ERASING),
    QUORSEL_TEXT(COMPLETE),         QUORSEL_TEXT(BAD_PASSWORD),     QUORSEL_TEXT(ABORTED),
    QUORSEL_TEXT(COMPLETION_BOX),   QUORSEL_TEXT(INVALID_ARGUMENTS), QUORSEL_TEXT(SOCKET_INIT_FAILED),
    QUORSEL_TEXT(PORT_OPEN_ERROR),  QUORSEL_TEXT(PORT_SETUP_ERROR), QUORSEL_TEXT(POWER_ON_LINE1),
    QUORSEL_TEXT(POWER_ON_LINE2),   QUORSEL_TEXT(POWER_ON_LINE3),   QUORSEL_TEXT(PASSWORD_CAPTION),
    QUORSEL_TEXT(PASSWORD_PROMPT),  QUORSEL_TEXT(APP_TITLE),        QUORSEL_TEXT(LAN_RADIO),
    QUORSEL_TEXT(SERIAL_RADIO),     QUORSEL_TEXT(PORT_GROUP),       QUORSEL_TEXT(BAUD_GROUP),
    QUORSEL_TEXT(IP_ADDRESS),       QUORSEL_TEXT(OK),               QUORSEL_TEXT(CANCEL),
    QUORSEL_TEXT(ABOUT_CAPTION),    QUORSEL_TEXT(ABOUT_VERSION),    QUORSEL_TEXT(SEARCH_CAPTION),
    QUORSEL_TEXT(SEARCH_PROGRESS),  QUORSEL_TEXT(SEARCH_NONE_FOUND), QUORSEL_TEXT(SEARCH_AGAIN),
    QUORSEL_TEXT(PASSWORD_BAD_CHARACTER), QUORSEL_TEXT(PORT_LIST_NONE),
};
#undef QUORSEL_TEXT

// Wine's message box puts its text in control 100 and its icon in 1088
// (Windows uses 0xFFFF for the text).
constexpr int BOX_TEXT_IDS[] = {100, 0xFFFF};
constexpr int BOX_ICON_ID = 1088;

DWORD timeoutMs = 60000;

std::wstring Wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Utf8(const std::wstring& wide) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "driver: %s\n", what.c_str());
    std::exit(1);
}

const char* TextNamed(const std::string& name) {
    for (const NamedText& text : TEXTS) {
        if (name == text.name) return text.utf8;
    }
    Fail("no text named " + name);
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                             &copied)) {
        return L"<no answer>";
    }
    return std::wstring(buffer, static_cast<size_t>(copied));
}

bool IsDialog(HWND window) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    return std::wcscmp(name, L"#32770") == 0 && IsWindowVisible(window);
}

std::wstring applicationTitle;

// Which of the updater's windows this top-level dialog is.
std::string KindOf(HWND window) {
    if (!IsDialog(window)) return "";
    std::wstring caption = WindowText(window);
    if (GetDlgItem(window, CTL_LAN_RADIO)) return "settings";
    if (caption == Wide(quorsel::TEXT_SEARCH_CAPTION) && GetDlgItem(window, CTL_SEARCH_LIST)) return "search";
    if (caption == Wide(quorsel::TEXT_PORT_LIST_CAPTION) && GetDlgItem(window, CTL_PORT_LIST)) return "ports";
    if (GetDlgItem(window, CTL_PROGRESS_BAR)) return "progress";
    if (GetDlgItem(window, CTL_STATUS_COMMAND)) return "power-on";
    if (caption == Wide(quorsel::TEXT_PASSWORD_CAPTION) && GetDlgItem(window, CTL_ADDRESS_EDIT)) return "password";
    if (caption == Wide(quorsel::TEXT_ABOUT_CAPTION)) return "about";
    if (caption == applicationTitle) return "box";
    return "";
}

struct Search {
    std::string kind;
    HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    if (KindOf(window) == search->kind) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND Find(const std::string& kind) {
    Search search{kind, nullptr};
    EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

template <class Condition>
bool WaitFor(Condition condition) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
}

HWND Wait(const std::string& kind) {
    HWND found = nullptr;
    if (!WaitFor([&] { return (found = Find(kind)) != nullptr; })) Fail("no " + kind + " dialog appeared");
    return found;
}

HWND Control(HWND dialog, int id, const std::string& kind) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) Fail("the " + kind + " dialog has no control " + std::to_string(id));
    return control;
}

std::wstring BoxText(HWND box) {
    for (int id : BOX_TEXT_IDS) {
        if (HWND text = GetDlgItem(box, id)) return WindowText(text);
    }
    return L"";
}

void PressBoxOk(HWND box) {
    HWND ok = GetDlgItem(box, IDOK);
    if (!ok) ok = GetDlgItem(box, IDCANCEL);
    if (!ok) Fail("the message box has no OK button");
    PostMessageW(ok, BM_CLICK, 0, 0);
}

struct StaticSearch {
    const std::wstring* wanted;
    bool found;
};

BOOL CALLBACK VisitStatic(HWND child, LPARAM context) {
    auto* search = reinterpret_cast<StaticSearch*>(context);
    if (static_cast<WORD>(GetDlgCtrlID(child)) == 0xFFFF && WindowText(child) == *search->wanted) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

bool HasStaticText(HWND dialog, const std::wstring& wanted) {
    StaticSearch search{&wanted, false};
    EnumChildWindows(dialog, &VisitStatic, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int Number(const char* text) { return static_cast<int>(std::strtol(text, nullptr, 0)); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (const char* limit = std::getenv("QUORSEL_DRIVER_TIMEOUT_MS")) timeoutMs = static_cast<DWORD>(std::atol(limit));
    // The title as the environment holds it, in UTF-16 (the ANSI form would lose the
    // characters the code page lacks).
    const wchar_t* title = _wgetenv(L"QUORSEL_APP_TITLE");
    applicationTitle = title ? title : L"quorsel";

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
    size_t i = 0;
    auto next = [&](const char* what) -> std::string {
        if (i >= args.size()) Fail(std::string("missing ") + what);
        return args[i++];
    };
    while (i < args.size()) {
        const std::string verb = next("step");
        if (verb == "wait") {
            Wait(next("dialog"));
        } else if (verb == "gone") {
            std::string kind = next("dialog");
            if (!WaitFor([&] { return Find(kind) == nullptr; })) Fail("the " + kind + " dialog is still shown");
        } else if (verb == "set") {
            std::string kind = next("dialog");
            HWND control = Control(Wait(kind), Number(next("id").c_str()), kind);
            std::wstring text = Wide(next("text"));
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                                5000, &ignored);
        } else if (verb == "click") {
            std::string kind = next("dialog");
            HWND control = Control(Wait(kind), Number(next("id").c_str()), kind);
            PostMessageW(control, BM_CLICK, 0, 0);
        } else if (verb == "text") {
            std::string kind = next("dialog");
            HWND dialog = Wait(kind);
            int id = Number(next("id").c_str());
            std::string name = next("text name");
            std::wstring wanted = Wide(TextNamed(name));
            if (id == CTL_STATIC) {
                // Static texts share the id -1: one of them must show the text.
                if (!HasStaticText(dialog, wanted)) Fail(kind + " shows no static text " + name);
            } else {
                std::wstring shown = WindowText(Control(dialog, id, kind));
                if (shown != wanted) Fail(kind + " shows \"" + Utf8(shown) + "\", not " + name);
            }
        } else if (verb == "shows") {
            std::string kind = next("dialog");
            HWND control = Control(Wait(kind), Number(next("id").c_str()), kind);
            std::wstring wanted = Wide(next("text"));
            std::wstring shown = WindowText(control);
            if (shown != wanted) Fail(kind + " shows \"" + Utf8(shown) + "\", not \"" + Utf8(wanted) + "\"");
        } else if (verb == "status") {
            std::string name = next("text name");
            std::string expected;
            if (name != "CONNECT_FAILED") {
                expected = TextNamed(name);
            } else {
                int a = 0, b = 0, c = 0, d = 0;
                std::sscanf(next("address").c_str(), "%d.%d.%d.%d", &a, &b, &c, &d);
                char line[256];
                std::snprintf(line, sizeof line, quorsel::TEXT_CONNECT_FAILED_FORMAT, a, b, c, d);
                expected = line;
            }
            std::wstring wanted = Wide(expected);
            std::wstring shown;
            bool seen = WaitFor([&] {
                HWND dialog = Find("progress");
                if (!dialog) return false;
                shown = WindowText(GetDlgItem(dialog, CTL_STATUS_LINE));
                return shown == wanted;
            });
            if (!seen) Fail("the status line shows \"" + Utf8(shown) + "\", not \"" + expected + "\"");
        } else if (verb == "box") {
            std::wstring wanted = Wide(TextNamed(next("text name")));
            bool withIcon = next("icon|none") == "icon";
            HWND box = Wait("box");
            std::wstring shown;
            if (!WaitFor([&] { return (shown = BoxText(box)) == wanted; })) {
                Fail("the message box shows \"" + Utf8(shown) + "\", not \"" + Utf8(wanted) + "\"");
            }
            HWND icon = GetDlgItem(box, BOX_ICON_ID);
            bool hasIcon = icon && IsWindowVisible(icon) &&
                           SendMessageW(icon, STM_GETICON, 0, 0) != 0;
            if (hasIcon != withIcon) Fail(withIcon ? "the message box shows no icon" : "the message box shows an icon");
            PressBoxOk(box);
            if (!WaitFor([&] { return !IsWindow(box); })) Fail("the message box did not close");
        } else if (verb == "enabled" || verb == "visible") {
            std::string kind = next("dialog");
            HWND control = Control(Wait(kind), Number(next("id").c_str()), kind);
            bool wanted = next("0|1") == "1";
            bool actual = verb == "enabled" ? IsWindowEnabled(control) != FALSE : IsWindowVisible(control) != FALSE;
            if (actual != wanted) Fail(kind + " control is " + (actual ? "" : "not ") + verb);
        } else if (verb == "becomes") {
            std::string kind = next("dialog");
            HWND control = Control(Wait(kind), Number(next("id").c_str()), kind);
            bool wanted = next("0|1") == "1";
            if (!WaitFor([&] { return (IsWindowEnabled(control) != FALSE) == wanted; })) {
                Fail(kind + " control did not become " + (wanted ? "enabled" : "disabled"));
            }
        } else if (verb == "close") {
            PostMessageW(Wait(next("dialog")), WM_CLOSE, 0, 0);
        } else if (verb == "sysmenu") {
            HWND dialog = Wait(next("dialog"));
            PostMessageW(dialog, WM_SYSCOMMAND, static_cast<WPARAM>(Number(next("command").c_str())), 0);
        } else if (verb == "rows") {
            std::string kind = next("dialog");
            HWND list = Control(Wait(kind), Number(next("id").c_str()), kind);
            const LRESULT wanted = Number(next("rows").c_str());
            LRESULT shown = -1;
            if (!WaitFor([&] { return (shown = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) == wanted; })) {
                Fail(kind + " lists " + std::to_string(shown) + " rows, not " + std::to_string(wanted));
            }
        } else if (verb == "key") {
            std::string kind = next("dialog");
            HWND control = Control(Wait(kind), Number(next("id").c_str()), kind);
            const auto key = static_cast<WPARAM>(Number(next("key").c_str()));
            PostMessageW(control, WM_KEYDOWN, key, 1);
            PostMessageW(control, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
        } else if (verb == "rect") {
            RECT r;
            GetWindowRect(Wait(next("dialog")), &r);
            std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
            std::fflush(stdout);
        } else if (verb == "move") {
            HWND dialog = Wait(next("dialog"));
            int x = Number(next("x").c_str());
            int y = Number(next("y").c_str());
            SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        } else if (verb == "acp") {
            const UINT wanted = static_cast<UINT>(Number(next("code page").c_str()));
            if (GetACP() != wanted) Fail("the ANSI code page is " + std::to_string(GetACP()));
        } else if (verb == "sleep") {
            Sleep(static_cast<DWORD>(Number(next("ms").c_str())));
        } else {
            Fail("unknown step " + verb);
        }
    }
    return 0;
}

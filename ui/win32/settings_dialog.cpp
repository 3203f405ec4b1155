#include "ui/win32/settings_dialog.h"

#include <shellapi.h>

#include <cstring>
#include <iterator>

#include "res/resource_ids.h"
#include "texts_wide.h"
#include "ui/port_model.h"
#include "ui/win32/search_dialog.h"
#include "ui/win32/wide_text.h"

namespace quorsel {

namespace {

// The dialog reads at most this many characters of the address edit.
constexpr int ADDRESS_READ_MAX = 99;

struct BaudRadio {
    int id;
    uint32_t rate;
};
constexpr BaudRadio BAUD_RADIOS[] = {
    {CTL_BAUD_9600, 9600}, {CTL_BAUD_19200, 19200}, {CTL_BAUD_38400, 38400}, {CTL_BAUD_57600, 57600},
};

// The first maxBytes bytes of a code page 932 text, without splitting a
// double-byte character.
std::string CutAnsi(const std::string& text, size_t maxBytes) {
    size_t end = 0;
    while (end < text.size()) {
        size_t next = end + (IsDBCSLeadByteEx(932, static_cast<BYTE>(text[end])) ? 2 : 1);
        if (next > maxBytes) break;
        end = next;
    }
    return text.substr(0, end);
}

// The group box among the dialog's children whose caption is text.
HWND FindGroupBox(HWND dialog, const wchar_t* text) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[16] = {};
        GetClassNameW(child, className, static_cast<int>(std::size(className)));
        if (lstrcmpiW(className, L"Button") != 0) continue;
        if ((GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) != BS_GROUPBOX) continue;
        wchar_t caption[64] = {};
        GetWindowTextW(child, caption, static_cast<int>(std::size(caption)));
        if (lstrcmpW(caption, text) == 0) return child;
    }
    return nullptr;
}

}  // namespace

AboutDialog::AboutDialog(HINSTANCE instance) : ModalDialog(instance, RES_ABOUT_DIALOG) {}

SettingsDialog::SettingsDialog(HINSTANCE instance)
    : ModalDialog(instance, RES_SETTINGS_DIALOG),
      icon_(LoadIconW(instance, MAKEINTRESOURCEW(RES_APP_ICON))) {}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::SetValues(const UpdateJob& job) {
    transport = job.transport;
    addressText = job.addressText;
    comIndex = job.comIndex;
    baudRate = job.baudRate;
    portName = job.portName;
}

void SettingsDialog::TakeValues(UpdateJob& job) const {
    job.transport = transport;
    job.addressText = addressText;
    job.comIndex = comIndex;
    job.baudRate = baudRate;
    job.portName = portName;
}

bool SettingsDialog::OnInitDialog() {
    // The version box's entry at the end of the system menu.
    if (HMENU menu = GetSystemMenu(window(), FALSE)) {
        wchar_t text[256] = {};
        if (LoadStringW(instance(), RES_ABOUT_MENU_STRING, text, static_cast<int>(std::size(text))) > 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, SYSCMD_ABOUT, text);
        }
        if (search_) AppendMenuW(menu, MF_STRING, SYSCMD_SEARCH, WTEXT_SEARCH_MENU);
        if (listPorts_) AppendMenuW(menu, MF_STRING, SYSCMD_PORTS, WTEXT_PORT_LIST_MENU);
        if (log_ != nullptr && !log_->folder().empty()) {
            AppendMenuW(menu, MF_STRING, SYSCMD_LOG_FOLDER, WTEXT_LOG_FOLDER_MENU);
        }
    }
    portGroup_ = FindGroupBox(window(), WTEXT_PORT_GROUP);
    SendMessageW(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    if (transport == TRANSPORT_SERIAL) {
        CheckDlgButton(window(), CTL_SERIAL_RADIO, BST_CHECKED);
        EnableForSerial();
    } else {
        CheckDlgButton(window(), CTL_LAN_RADIO, BST_CHECKED);
        EnableForLan();
    }
    int port = comIndex == 1 ? CTL_COM2 : comIndex == 2 ? CTL_COM3 : comIndex == 3 ? CTL_COM4 : CTL_COM1;
    CheckDlgButton(window(), port, BST_CHECKED);
    if (!portName.empty()) CheckDlgButton(window(), port, BST_UNCHECKED);  // a port beyond the four radios
    ShowPortCaption();
    int baud = CTL_BAUD_115200;
    for (const BaudRadio& radio : BAUD_RADIOS) {
        if (radio.rate == baudRate) baud = radio.id;
    }
    CheckDlgButton(window(), baud, BST_CHECKED);
    SetDlgItemTextW(window(), CTL_ADDRESS_EDIT, WideFromCp932(addressText).c_str());
    SetFocus(Item(transport == TRANSPORT_SERIAL ? CTL_SERIAL_RADIO : CTL_LAN_RADIO));
    return false;  // the focus has been set
}

void SettingsDialog::EnableRange(int first, int last, bool enable) {
    for (int id = first; id <= last; ++id) EnableWindow(Item(id), enable ? TRUE : FALSE);
}

void SettingsDialog::EnableForLan() {
    EnableWindow(Item(CTL_ADDRESS_EDIT), TRUE);
    EnableRange(CTL_COM1, CTL_COM4, false);
    EnableRange(CTL_BAUD_9600, CTL_BAUD_115200, false);
}

void SettingsDialog::EnableForSerial() {
    EnableWindow(Item(CTL_ADDRESS_EDIT), FALSE);
    EnableRange(CTL_COM1, CTL_COM4, true);
    EnableRange(CTL_BAUD_9600, CTL_BAUD_115200, true);
}

void SettingsDialog::OnOK() {
    // Read as UTF-16 and kept as the code page 932 bytes a Japanese Windows gives.
    wchar_t buffer[ADDRESS_READ_MAX + 1] = {};
    GetDlgItemTextW(window(), CTL_ADDRESS_EDIT, buffer, static_cast<int>(std::size(buffer)));
    std::string text = Cp932Lossy(buffer);
    if (IsDlgButtonChecked(window(), CTL_SERIAL_RADIO) == BST_CHECKED) {
        transport = TRANSPORT_SERIAL;
        text = CutAnsi(text, ADDRESS_TEXT_MAX);
    } else {
        transport = TRANSPORT_LAN;
        if (text.size() > ADDRESS_TEXT_MAX) {
            // Too long for an address: select it all and let the user correct it.
            HWND edit = Item(CTL_ADDRESS_EDIT);
            SendMessageW(edit, EM_SETSEL, 0, -1);
            SendMessageW(edit, EM_SCROLLCARET, 0, 0);
            SetFocus(edit);
            return;
        }
    }
    addressText = text;
    comIndex = 0;
    bool radioChecked = false;
    for (int id = CTL_COM1; id <= CTL_COM4; ++id) radioChecked |= IsDlgButtonChecked(window(), id) == BST_CHECKED;
    if (radioChecked) portName.clear();  // a radio checked after the list's choice wins
    if (IsDlgButtonChecked(window(), CTL_COM2) == BST_CHECKED) comIndex = 1;
    else if (IsDlgButtonChecked(window(), CTL_COM3) == BST_CHECKED) comIndex = 2;
    else if (IsDlgButtonChecked(window(), CTL_COM4) == BST_CHECKED) comIndex = 3;
    baudRate = DEFAULT_BAUD_RATE;
    for (const BaudRadio& radio : BAUD_RADIOS) {
        if (IsDlgButtonChecked(window(), radio.id) == BST_CHECKED) {
            baudRate = radio.rate;
            break;
        }
    }
    ModalDialog::OnOK();
}

bool SettingsDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
    switch (message) {
        case WM_SYSCOMMAND:
            return OnSysCommand(wParam);
        case WM_PAINT:
            return OnPaint();
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<INT_PTR>(OnQueryDragIcon());
            return true;
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) return false;
            if (LOWORD(wParam) == CTL_LAN_RADIO) {
                OnLanClicked();
                return true;
            }
            if (LOWORD(wParam) == CTL_SERIAL_RADIO) {
                OnSerialClicked();
                return true;
            }
            if (LOWORD(wParam) >= CTL_COM1 && LOWORD(wParam) <= CTL_COM4 && !portName.empty()) {
                portName.clear();  // a radio replaces the port chosen from the list
                ShowPortCaption();
            }
            return false;
        default:
            return false;
    }
}

bool SettingsDialog::OnSysCommand(WPARAM command) {
    if ((command & 0xFFF0) == SYSCMD_SEARCH && search_) {
        ShowSearch();
        return true;
    }
    if ((command & 0xFFF0) == SYSCMD_PORTS && listPorts_) {
        ShowPorts();
        return true;
    }
    if ((command & 0xFFF0) == SYSCMD_LOG_FOLDER && log_ != nullptr) {
        OpenLogFolder();
        return true;
    }
    if ((command & 0xFFF0) != SYSCMD_ABOUT) return false;  // the default handling
    AboutDialog about(instance());
    about.DoModal(window());
    return true;
}

void SettingsDialog::ShowSearch() {
    SearchDialog search(instance(), search_);
    if (search.DoModal(window()) != IDOK || !search.choice()) return;
    const std::string& address = search.choice()->addressText;  // digits and dots
    SetDlgItemTextW(window(), CTL_ADDRESS_EDIT, std::wstring(address.begin(), address.end()).c_str());
    if (search.choice()->transport == TRANSPORT_LAN) {
        CheckRadioButton(window(), CTL_LAN_RADIO, CTL_SERIAL_RADIO, CTL_LAN_RADIO);
        EnableForLan();
    }
}

void SettingsDialog::ShowPorts() {
    PortDialog ports(instance(), listPorts_);
    if (ports.DoModal(window()) != IDOK || !ports.choice()) return;
    const PortChoice& choice = *ports.choice();
    CheckRadioButton(window(), CTL_LAN_RADIO, CTL_SERIAL_RADIO, CTL_SERIAL_RADIO);
    EnableForSerial();
    if (choice.comIndex) {
        CheckRadioButton(window(), CTL_COM1, CTL_COM4, CTL_COM1 + static_cast<int>(*choice.comIndex));
        portName.clear();
    } else {
        for (int id = CTL_COM1; id <= CTL_COM4; ++id) CheckDlgButton(window(), id, BST_UNCHECKED);
        portName = choice.portName;
    }
    ShowPortCaption();
}

void SettingsDialog::ShowPortCaption() {
    if (portGroup_ != nullptr) SetWindowTextW(portGroup_, WideText(PortGroupCaption(portName)).c_str());
}

void SettingsDialog::OpenLogFolder() {
    log_->MakeFolder();  // Explorer opens no folder that is not there yet
    const std::wstring folder = WideText(log_->folder());
    ShellExecuteW(window(), L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool SettingsDialog::OnPaint() {
    if (!IsIconic(window())) return false;  // the default painting
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window(), &paint);
    SendMessageW(window(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window(), &client);
    int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(window(), &paint);
    return true;
}

}  // namespace quorsel

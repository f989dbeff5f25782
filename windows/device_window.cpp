#include "windows/device_window.h"

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "core/line/serial_ports.h"
#include "core/settings/profile_file.h"
#include "windows/serial_devices.h"
#include "windows/text_convert.h"
#include "windows/window_parts.h"
#include "windows/windows_ids.h"

namespace kelvor {
namespace {

constexpr int kPorts = 8;  // COM1 ... COM8
constexpr const char* kHeadings[] = {"device", "target", "vendor", "product", "serial", "driver", "mapped"};
constexpr int kColumns = 7;

struct Devices {
  Language& language;
  std::string iniFilePath;
  std::vector<SerialDevice> devices;
};

std::string text(Devices& window, const char* key) {
  window.language.languageSection = "devices";
  return translate(window.language, key);
}

void setCell(HWND list, int row, int column, const std::string& value) {
  std::wstring wide = toWide(value);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = wide.data();
  SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

void refresh(HWND dialog, Devices& window) {
  HWND list = GetDlgItem(dialog, IDC_DEVICES_LIST);
  const int selected = std::max(0, ListView_GetNextItem(list, -1, LVNI_SELECTED));
  window.devices = listSerialDevices();
  ListView_DeleteAllItems(list);
  for (std::size_t row = 0; row < window.devices.size(); ++row) {
    const SerialDevice& device = window.devices[row];
    LVITEMW item{};
    item.iItem = static_cast<int>(row);
    ListView_InsertItem(list, &item);
    const std::string cells[kColumns] = {device.path,   device.target, device.vendor,
                                         device.product, device.serial, device.driver,
                                         mappedPorts(window.iniFilePath, device.path)};
    for (int column = 0; column < kColumns; ++column) setCell(list, static_cast<int>(row), column, cells[column]);
  }
  // One port is always chosen, so that Map does what it says at once.
  if (!window.devices.empty()) {
    const int row = std::min(selected, static_cast<int>(window.devices.size()) - 1);
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
  // Each column as wide as its widest cell, and never narrower than its heading.
  for (int column = 0; column < kColumns; ++column) {
    wchar_t heading[128] = {};
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT;
    info.pszText = heading;
    info.cchTextMax = 128;
    ListView_GetColumn(list, column, &info);
    ListView_SetColumnWidth(list, column, LVSCW_AUTOSIZE);
    const int headingWidth = ListView_GetStringWidth(list, heading) + 16;
    if (ListView_GetColumnWidth(list, column) < headingWidth) ListView_SetColumnWidth(list, column, headingWidth);
  }
  setControlText(dialog, IDC_DEVICES_STATUS, window.devices.empty() ? text(window, "none") : std::string());
}

void mapSelected(HWND dialog, Devices& window) {
  const int row = ListView_GetNextItem(GetDlgItem(dialog, IDC_DEVICES_LIST), -1, LVNI_SELECTED);
  const int port = static_cast<int>(SendDlgItemMessageW(dialog, IDC_DEVICES_PORT, CB_GETCURSEL, 0, 0));
  if (row < 0 || row >= static_cast<int>(window.devices.size()) || port < 0 || port >= kPorts) {
    setControlText(dialog, IDC_DEVICES_STATUS, text(window, "choose"));
    return;
  }
  const std::string name = window.devices[static_cast<std::size_t>(row)].path;
  if (!writeProfileString(window.iniFilePath, "PORTS", comName(port), name)) {
    setControlText(dialog, IDC_DEVICES_STATUS, text(window, "notwritten") + " " + window.iniFilePath);
    return;
  }
  refresh(dialog, window);
  setControlText(dialog, IDC_DEVICES_STATUS, comName(port) + " = " + name);
}

void build(HWND dialog, Devices& window) {
  setWindowText(dialog, text(window, "screen"));
  setControlText(dialog, IDC_DEVICES_MAPTO, text(window, "mapto"));
  setControlText(dialog, IDC_DEVICES_MAP, text(window, "map"));
  setControlText(dialog, IDC_DEVICES_REFRESH, text(window, "refresh"));
  HWND list = GetDlgItem(dialog, IDC_DEVICES_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  for (int column = 0; column < kColumns; ++column) {
    std::wstring heading = toWide(text(window, kHeadings[column]));
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT | LVCF_WIDTH;
    info.cx = 60;
    info.pszText = heading.data();
    SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
  }
  for (int port = 0; port < kPorts; ++port) {
    SendDlgItemMessageW(dialog, IDC_DEVICES_PORT, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(toWide(comName(port)).c_str()));
  }
  SendDlgItemMessageW(dialog, IDC_DEVICES_PORT, CB_SETCURSEL, 0, 0);
  refresh(dialog, window);
}

INT_PTR CALLBACK devicesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* window = dialogOwner<Devices>(dialog, message, lParam);
  if (!window) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      build(dialog, *window);
      placeClearOfStrip(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_DEVICES_MAP:
        case IDOK: mapSelected(dialog, *window); break;
        case IDC_DEVICES_REFRESH: refresh(dialog, *window); break;
        case IDCANCEL: EndDialog(dialog, 0); break;
        default: break;
      }
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::string mappedPorts(const std::string& iniFilePath, const std::string& device) {
  std::string ports;
  for (int port = 0; port < kPorts; ++port) {
    if (!samePort(comDevice(iniFilePath, port), device)) continue;
    ports += (ports.empty() ? "" : ", ") + comName(port);
  }
  return ports;
}

void openDeviceWindow(Language& language, const std::string& iniFilePath) {
  Devices window{language, iniFilePath, {}};
  runModalDialog(IDD_DEVICES, devicesProc, &window);
}

}  // namespace kelvor

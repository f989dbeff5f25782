#include "windows/outputs_window.h"

#include <windows.h>

#include <algorithm>

#include "core/toolkit/text.h"
#include "windows/window_parts.h"
#include "windows/windows_ids.h"

namespace kelvor {
namespace {

struct Outputs {
  OutputSettings settings;
  Language language;
  std::function<void(const OutputSettings&)> save;
};

HWND openWindow = nullptr;

void enableFields(HWND dialog) {
  const bool log = IsDlgButtonChecked(dialog, IDC_OUTPUTS_LOGENABLE) == BST_CHECKED;
  EnableWindow(GetDlgItem(dialog, IDC_OUTPUTS_LOGFOLDER), log);
  EnableWindow(GetDlgItem(dialog, IDC_OUTPUTS_LOGFOLDERLABEL), log);
}

void setTexts(HWND dialog, Language& language, const OutputSettings& settings) {
  language.languageSection = "outputs";
  setWindowText(dialog, translate(language, "screen"));
  const struct {
    int id;
    const char* key;
  } texts[] = {{IDC_OUTPUTS_GROUPLOG, "grouplog"}, {IDC_OUTPUTS_LOGENABLE, "logenable"},
               {IDC_OUTPUTS_LOGFOLDERLABEL, "logfolder"}, {IDC_OUTPUTS_GROUPMQTT, "groupmqtt"},
               {IDC_OUTPUTS_MQTTNOTE, "mqttabsent"}, {IDOK, "save"}, {IDCANCEL, "cancel"}};
  for (const auto& text : texts) setControlText(dialog, text.id, translate(language, text.key));
  CheckDlgButton(dialog, IDC_OUTPUTS_LOGENABLE, settings.log.ENABLE == 1 ? BST_CHECKED : BST_UNCHECKED);
  setControlText(dialog, IDC_OUTPUTS_LOGFOLDER, settings.log.FOLDER);
  enableFields(dialog);
}

// The settings as the window holds them; what it does not show stays as it was read.
OutputSettings shownSettings(HWND dialog, const OutputSettings& read) {
  OutputSettings settings = read;
  settings.log.ENABLE = IsDlgButtonChecked(dialog, IDC_OUTPUTS_LOGENABLE) == BST_CHECKED ? 1 : 0;
  std::string folder = trimRight(controlText(dialog, IDC_OUTPUTS_LOGFOLDER));
  folder.erase(0, std::min(folder.find_first_not_of(' '), folder.size()));
  settings.log.FOLDER = folder.empty() ? std::string("readings") : folder;
  return settings;
}

INT_PTR CALLBACK outputsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* outputs = dialogOwner<Outputs>(dialog, message, lParam);
  if (!outputs) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      setTexts(dialog, outputs->language, outputs->settings);
      placeClearOfStrip(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_OUTPUTS_LOGENABLE: enableFields(dialog); break;
        case IDOK:
          if (outputs->save) outputs->save(shownSettings(dialog, outputs->settings));
          DestroyWindow(dialog);
          break;
        case IDCANCEL: DestroyWindow(dialog); break;
        default: break;
      }
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      SetWindowLongPtrW(dialog, DWLP_USER, 0);
      if (dialog == openWindow) openWindow = nullptr;
      delete outputs;
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void openOutputsWindow(const OutputSettings& settings, const Language& language,
                       std::function<void(const OutputSettings&)> save) {
  if (openWindow) {
    SetForegroundWindow(openWindow);
    return;
  }
  auto* outputs = new Outputs{settings, language, std::move(save)};
  openWindow = makeModelessDialog(IDD_OUTPUTS, outputsProc, outputs);
  if (!openWindow) {
    delete outputs;
    return;
  }
  ShowWindow(openWindow, SW_SHOW);
}

}  // namespace kelvor

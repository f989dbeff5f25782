#include "windows/outputs_window.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "core/toolkit/encoding.h"
#include "core/toolkit/text.h"
#include "windows/text_convert.h"
#include "windows/window_parts.h"
#include "windows/windows_ids.h"

namespace kelvor {
namespace {

constexpr UINT_PTR kStateTimer = 1;

struct Outputs {
  OutputSettings settings;
  Language language;
  OutputDefaults defaults;
  OutputsWindowHooks hooks;
};

HWND openWindow = nullptr;

constexpr int kMqttFields[] = {IDC_OUTPUTS_HOST,  IDC_OUTPUTS_PORT,     IDC_OUTPUTS_CLIENTID,
                               IDC_OUTPUTS_TOPIC, IDC_OUTPUTS_USER,     IDC_OUTPUTS_PASSWORD,
                               IDC_OUTPUTS_CAFILE, IDC_OUTPUTS_QOS,     IDC_OUTPUTS_QUEUE};

bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void enableFields(HWND dialog) {
  EnableWindow(GetDlgItem(dialog, IDC_OUTPUTS_LOGFOLDER), checked(dialog, IDC_OUTPUTS_LOGENABLE));
  for (int id : kMqttFields) EnableWindow(GetDlgItem(dialog, id), checked(dialog, IDC_OUTPUTS_MQTTENABLE));
}

// What a field holds, without the blanks around it.
std::string field(HWND dialog, int id) {
  std::string text = trimRight(controlText(dialog, id));
  text.erase(0, std::min(text.find_first_not_of(' '), text.size()));
  return text;
}

// A number field, or `otherwise` when it holds no number in [low, high].
std::int32_t number(HWND dialog, int id, long long low, long long high, std::int32_t otherwise) {
  const std::string text = field(dialog, id);
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return otherwise;
  const long long value = std::stoll(text);
  return value < low || value > high ? otherwise : static_cast<std::int32_t>(value);
}

void setCue(HWND dialog, int id, const std::string& text) {
  const std::wstring wide = toWide(displayText(text));
  SendDlgItemMessageW(dialog, id, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(wide.c_str()));
}

void display(HWND dialog, Outputs& outputs) {
  Language& language = outputs.language;
  language.languageSection = "outputs";
  setWindowText(dialog, translate(language, "screen"));
  const struct {
    int id;
    const char* key;
  } texts[] = {{IDC_OUTPUTS_GROUPLOG, "grouplog"},        {IDC_OUTPUTS_LOGENABLE, "logenable"},
               {IDC_OUTPUTS_LOGFOLDERLABEL, "logfolder"}, {IDC_OUTPUTS_GROUPMQTT, "groupmqtt"},
               {IDC_OUTPUTS_MQTTENABLE, "mqttenable"},    {IDC_OUTPUTS_BROKERLABEL, "broker"},
               {IDC_OUTPUTS_CLIENTIDLABEL, "clientid"},   {IDC_OUTPUTS_TOPICLABEL, "topic"},
               {IDC_OUTPUTS_USERLABEL, "user"},           {IDC_OUTPUTS_PASSWORDLABEL, "password"},
               {IDC_OUTPUTS_CAFILELABEL, "cafile"},       {IDC_OUTPUTS_QOSLABEL, "qos"},
               {IDC_OUTPUTS_QUEUELABEL, "queue"},         {IDC_OUTPUTS_STATELABEL, "state"},
               {IDOK, "save"},                            {IDCANCEL, "cancel"}};
  for (const auto& text : texts) setControlText(dialog, text.id, translate(language, text.key));
  for (const char* key : {"qos0", "qos1"}) {
    SendDlgItemMessageW(dialog, IDC_OUTPUTS_QOS, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(toWide(displayText(translate(language, key))).c_str()));
  }
  const OutputSettings& s = outputs.settings;
  CheckDlgButton(dialog, IDC_OUTPUTS_LOGENABLE, s.log.ENABLE == 1 ? BST_CHECKED : BST_UNCHECKED);
  setControlText(dialog, IDC_OUTPUTS_LOGFOLDER, s.log.FOLDER);
  CheckDlgButton(dialog, IDC_OUTPUTS_MQTTENABLE, s.mqtt.ENABLE == 1 ? BST_CHECKED : BST_UNCHECKED);
  setControlText(dialog, IDC_OUTPUTS_HOST, s.mqtt.HOST);
  setControlText(dialog, IDC_OUTPUTS_PORT, std::to_string(s.mqtt.PORT));
  setControlText(dialog, IDC_OUTPUTS_CLIENTID, s.mqtt.CLIENTID);
  setCue(dialog, IDC_OUTPUTS_CLIENTID, outputs.defaults.clientId);
  // The default client id names the working folder and is seldom short enough for the field:
  // its tooltip shows it whole.
  setToolTip(dialog, IDC_OUTPUTS_CLIENTID, outputs.defaults.clientId);
  setControlText(dialog, IDC_OUTPUTS_TOPIC, s.mqtt.TOPIC);
  setCue(dialog, IDC_OUTPUTS_TOPIC, outputs.defaults.topicPrefix);
  setToolTip(dialog, IDC_OUTPUTS_TOPIC, outputs.defaults.topicPrefix);
  setControlText(dialog, IDC_OUTPUTS_USER, s.mqtt.USER);
  setControlText(dialog, IDC_OUTPUTS_PASSWORD, s.mqtt.PASSWORD);
  setControlText(dialog, IDC_OUTPUTS_CAFILE, s.mqtt.CAFILE);
  SendDlgItemMessageW(dialog, IDC_OUTPUTS_QOS, CB_SETCURSEL, s.mqtt.QOS == 0 ? 0 : 1, 0);
  setControlText(dialog, IDC_OUTPUTS_QUEUE, std::to_string(s.mqtt.QUEUE));
  enableFields(dialog);
}

// The settings as the window holds them; a number field that holds no number keeps the
// value it was opened with.
OutputSettings shownSettings(HWND dialog, const OutputSettings& read) {
  OutputSettings s = read;
  s.log.ENABLE = checked(dialog, IDC_OUTPUTS_LOGENABLE) ? 1 : 0;
  s.log.FOLDER = field(dialog, IDC_OUTPUTS_LOGFOLDER);
  if (s.log.FOLDER.empty()) s.log.FOLDER = "readings";
  s.mqtt.ENABLE = checked(dialog, IDC_OUTPUTS_MQTTENABLE) ? 1 : 0;
  s.mqtt.HOST = field(dialog, IDC_OUTPUTS_HOST);
  s.mqtt.PORT = number(dialog, IDC_OUTPUTS_PORT, 1, 65535, read.mqtt.PORT);
  s.mqtt.CLIENTID = field(dialog, IDC_OUTPUTS_CLIENTID);
  s.mqtt.TOPIC = field(dialog, IDC_OUTPUTS_TOPIC);
  s.mqtt.USER = field(dialog, IDC_OUTPUTS_USER);
  s.mqtt.PASSWORD = controlText(dialog, IDC_OUTPUTS_PASSWORD);  // blanks may belong to a password
  s.mqtt.CAFILE = field(dialog, IDC_OUTPUTS_CAFILE);
  s.mqtt.QOS = SendDlgItemMessageW(dialog, IDC_OUTPUTS_QOS, CB_GETCURSEL, 0, 0) == 0 ? 0 : 1;
  s.mqtt.QUEUE = number(dialog, IDC_OUTPUTS_QUEUE, 1, 2147483647LL, read.mqtt.QUEUE);
  return s;
}

void showState(HWND dialog, Outputs& outputs) {
  if (outputs.hooks.state) setControlText(dialog, IDC_OUTPUTS_STATE, outputs.hooks.state());
}

INT_PTR CALLBACK outputsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* outputs = dialogOwner<Outputs>(dialog, message, lParam);
  if (!outputs) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      display(dialog, *outputs);
      showState(dialog, *outputs);
      SetTimer(dialog, kStateTimer, 500, nullptr);
      placeClearOfStrip(dialog);
      return TRUE;
    case WM_TIMER:
      showState(dialog, *outputs);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_OUTPUTS_LOGENABLE:
        case IDC_OUTPUTS_MQTTENABLE: enableFields(dialog); break;
        case IDOK:
          if (outputs->hooks.save) outputs->hooks.save(shownSettings(dialog, outputs->settings));
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
      KillTimer(dialog, kStateTimer);
      SetWindowLongPtrW(dialog, DWLP_USER, 0);
      if (dialog == openWindow) openWindow = nullptr;
      delete outputs;
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void openOutputsWindow(const OutputSettings& settings, const Language& language, const OutputDefaults& defaults,
                       OutputsWindowHooks hooks) {
  if (openWindow) {
    SetForegroundWindow(openWindow);
    return;
  }
  auto* outputs = new Outputs{settings, language, defaults, std::move(hooks)};
  openWindow = makeModelessDialog(IDD_OUTPUTS, outputsProc, outputs);
  if (!openWindow) {
    delete outputs;
    return;
  }
  ShowWindow(openWindow, SW_SHOW);
}

}  // namespace kelvor

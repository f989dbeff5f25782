#include "windows/dde_message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/dde/dde_server.h"
#include "windows/dde_transport.h"

namespace kelvor::win {
namespace {

TEST(DdeMessage, TextCrossesAsWindows1252) {
  struct Case {
    std::string inside;  // as Kelvor holds it
    std::string cfText;  // as the block carries it
  };
  const Case cases[] = {
      {"12.5   ", "12.5   "},
      {"\xC2\xB5m 25\xC2\xB0" "C \xE2\x82\xAC\xC3\xA9", "\xB5m 25\xB0" "C \x80\xE9"},  // UTF-8 inside
      {"\xB5m \x80", "\xB5m \x80"},                                                   // line bytes, already 1252
      {"\xE6\x97\xA5x", "?x"},                                                        // not in 1252
      {std::string("ab\0cd", 5), "ab"},                                               // a C text ends at its zero
  };
  for (const Case& c : cases) EXPECT_EQ(toCfText(c.inside), c.cfText) << c.inside;
  EXPECT_EQ(fromCfText("\xB5m 25\xB0" "C \x80\xE9\x81"), "\xC2\xB5m 25\xC2\xB0" "C \xE2\x82\xAC\xC3\xA9\xC2\x81");
}

TEST(DdeMessage, DataBlockCarriesFlagsFormatAndZeroEndedText) {
  for (bool response : {false, true}) {
    for (bool ack : {false, true}) {
      HGLOBAL block = makeDataBlock("12.5 \xB5m", response, ack);
      ASSERT_NE(block, nullptr);
      EXPECT_GE(GlobalSize(block), offsetof(DDEDATA, Value) + 8);
      const auto data = readDataBlock(block);
      ASSERT_TRUE(data);
      EXPECT_EQ(data->response, response);
      EXPECT_EQ(data->ackRequested, ack);
      EXPECT_TRUE(data->release);  // the receiver frees it
      EXPECT_EQ(data->format, CF_TEXT);
      EXPECT_EQ(data->text, "12.5 \xB5m");
      GlobalFree(block);
    }
  }
  HGLOBAL poke = makePokeBlock("-5");
  EXPECT_EQ(readDataBlock(poke)->text, "-5");
  EXPECT_TRUE(readDataBlock(poke)->release);
  GlobalFree(poke);
}

TEST(DdeMessage, ReadingStopsAtTheEndOfTheBlock) {
  // A hostile client's block: a header shorter than DDEDATA's, or text without its zero.
  HGLOBAL tiny = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 2);
  EXPECT_FALSE(readDataBlock(tiny));
  EXPECT_FALSE(readAdviseBlock(tiny));
  EXPECT_EQ(readExecuteBlock(tiny, true), "");
  GlobalFree(tiny);
  HGLOBAL unterminated = GlobalAlloc(GMEM_MOVEABLE, 8);
  auto* bytes = static_cast<char*>(GlobalLock(unterminated));
  const DDEDATA header{0, 1, 1, 0, 0, CF_TEXT, {0}};
  std::memcpy(bytes, &header, 4);
  std::memcpy(bytes + 4, "ABCD", 4);
  GlobalUnlock(unterminated);
  EXPECT_EQ(readDataBlock(unterminated)->text.substr(0, 4), "ABCD");
  EXPECT_LE(readDataBlock(unterminated)->text.size(), GlobalSize(unterminated) - 4);
  GlobalFree(unterminated);
  EXPECT_FALSE(readDataBlock(nullptr));
}

TEST(DdeMessage, ExecuteCommandReadsInTheFormOfTheWindows) {
  const std::string command = "[SEND(\xC2\xB5m \xE2\x82\xAC)]";
  for (bool unicode : {false, true}) {
    HGLOBAL block = makeExecuteBlock(command, unicode);
    EXPECT_EQ(readExecuteBlock(block, unicode), command) << unicode;
    GlobalFree(block);
  }
  HGLOBAL ansi = makeExecuteBlock("[RUN]", false);
  EXPECT_EQ(GlobalSize(ansi), 6u);
  GlobalFree(ansi);
}

TEST(DdeMessage, AdviseOptionsRoundTrip) {
  for (bool defer : {false, true}) {
    HGLOBAL block = makeAdviseBlock(defer, !defer);
    const auto options = readAdviseBlock(block);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->deferUpdate, defer);
    EXPECT_EQ(options->ackRequested, !defer);
    EXPECT_EQ(options->format, CF_TEXT);
    GlobalFree(block);
  }
}

// An execute whose handle is NULL or no block at all gets a negative acknowledgement at
// once, and nothing runs. (Wine drops such a posted message before any window sees it, so
// it is handed to the server's window directly, as Windows delivers it.)
std::vector<UINT_PTR> acks;
HWND conversationWindow = nullptr;

LRESULT CALLBACK clientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_DDE_ACK) return DefWindowProcW(window, message, wParam, lParam);
  if (!conversationWindow) {
    conversationWindow = reinterpret_cast<HWND>(wParam);
    GlobalDeleteAtom(LOWORD(lParam));
    GlobalDeleteAtom(HIWORD(lParam));
    return 0;
  }
  UINT_PTR status = 0, high = 0;
  UnpackDDElParam(WM_DDE_ACK, lParam, &status, &high);
  FreeDDElParam(WM_DDE_ACK, lParam);
  acks.push_back(status);
  return 0;
}

TEST(DdeTransport, AnExecuteWithoutABlockIsRefusedAtOnce) {
  struct Events : dde::DdeEvents {
    int executed = 0;
    void requestPending() override {}
    void adviseWithoutLink(const std::string&) override {}
    bool execute(const std::string&, const std::function<void()>&) override { return ++executed > 0; }
  } events;
  Win32DdeTransport transport;
  dde::DdeServer server("KelvorUnitTest", "System", transport, events, [] { return std::int64_t{0}; });
  std::string error;
  ASSERT_TRUE(transport.start("KelvorUnitTest", server, error)) << error;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = clientProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"KelvorUnitDdeClient";
  RegisterClassW(&windowClass);
  HWND client = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
  const ATOM application = GlobalAddAtomW(L"KelvorUnitTest"), topic = GlobalAddAtomW(L"System");
  SendMessageW(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(client), MAKELPARAM(application, topic));
  GlobalDeleteAtom(application);
  GlobalDeleteAtom(topic);
  ASSERT_NE(conversationWindow, nullptr);
  for (LPARAM handle : {LPARAM{0}, LPARAM{0x12340}}) {
    SendMessageW(conversationWindow, WM_DDE_EXECUTE, reinterpret_cast<WPARAM>(client), handle);
  }
  const ULONGLONG end = GetTickCount64() + 2000;
  MSG message;
  while (acks.size() < 2 && GetTickCount64() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  EXPECT_EQ(acks, (std::vector<UINT_PTR>{kAckNegative, kAckNegative}));
  EXPECT_EQ(events.executed, 0);
  transport.close();
  DestroyWindow(client);
}

}  // namespace
}  // namespace kelvor::win

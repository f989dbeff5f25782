// The Windows DDE benchmark's client (DDEML, as spreadsheets use it). One measurement per run:
//   dde_bench requests SERVICE SECONDS   synchronous ManualData requests a second
//   dde_bench waitrs SERVICE TRIALS      [WAITRS], [SEND(?)], then a request: milliseconds
//                                        from the send to the answer (median), with an
//                                        instrument that answers each line it gets
//   dde_bench typed SERVICE FILE TRIALS  [SEND(?)] to such an instrument while its readings
//                                        are typed into the receiver that writes FILE:
//                                        milliseconds from a reading's first character in
//                                        FILE to its last (median)
//   dde_bench type FILE LENGTH TRIALS    the same for LENGTH characters and Return sent
//                                        with one SendInput call, the least typing can take
//   dde_bench connects SERVICE SECONDS   connect, request ManualData once, disconnect: loops
//                                        a second
//   dde_bench hotlink SERVICE PORT TRIALS  a hot link on Readings; a reading written to PORT
//                                        (wired to the server's line) about ten times a
//                                        second: milliseconds from the write to its DATA
//                                        (median and 95th percentile)
// Prints one line: "NAME VALUE [VALUE]".

#include <windows.h>
#include <ddeml.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

DWORD instance = 0;

// The hot link's data as it comes: the text and when.
std::string advised;
Clock::time_point advisedAt;

HDDEDATA CALLBACK callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  if (type != XTYP_ADVDATA) return nullptr;
  advisedAt = Clock::now();
  char text[256] = {};
  if (data) DdeGetData(data, reinterpret_cast<LPBYTE>(text), sizeof text - 1, 0);
  advised = text;
  return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  if (values.empty()) return 0;
  return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

double median(std::vector<double> values) { return percentile(std::move(values), 0.5); }

// Serves the DDEML's messages until `done` or the deadline.
template <typename Done>
bool pumpUntil(Done done, Clock::time_point deadline) {
  MSG message;
  while (!done()) {
    const auto now = Clock::now();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms(deadline - now)) + 1, QS_ALLINPUT);
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  return true;
}

HCONV connect(const wchar_t* service) {
  HSZ s = DdeCreateStringHandleW(instance, service, CP_WINUNICODE);
  HSZ t = DdeCreateStringHandleW(instance, L"System", CP_WINUNICODE);
  HCONV conversation = DdeConnect(instance, s, t, nullptr);
  DdeFreeStringHandle(instance, s);
  DdeFreeStringHandle(instance, t);
  return conversation;
}

bool request(HCONV conversation, HSZ item) {
  HDDEDATA data = DdeClientTransaction(nullptr, 0, conversation, item, CF_TEXT, XTYP_REQUEST, 10000, nullptr);
  if (data) DdeFreeDataHandle(data);
  return data != nullptr;
}

bool execute(HCONV conversation, const wchar_t* command) {
  const DWORD bytes = static_cast<DWORD>((wcslen(command) + 1) * sizeof(wchar_t));
  return DdeClientTransaction(reinterpret_cast<LPBYTE>(const_cast<wchar_t*>(command)), bytes, conversation, nullptr,
                              0, XTYP_EXECUTE, 10000, nullptr) != nullptr;
}

long long fileSize(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &info)) return -1;
  return (static_cast<long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

// Waits for FILE to grow by `bytes` from `start`; returns the milliseconds from its first
// growth to its full length, or -1 when that does not happen within 10 seconds.
double typingTime(const wchar_t* path, long long start, long long bytes) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  Clock::time_point first{};
  for (;;) {
    const long long size = fileSize(path);
    const auto now = Clock::now();
    if (size > start && first == Clock::time_point{}) first = now;
    if (size >= start + bytes) return ms(now - first);
    if (now > deadline) return -1;
    Sleep(0);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fputs("usage: dde_bench requests|waitrs|typed|type|connects|hotlink ...\n", stderr);
    return 2;
  }
  const std::wstring mode = argv[1];
  if (mode == L"type") {
    const wchar_t* path = argv[2];
    const int length = _wtoi(argv[3]), trials = argc > 4 ? _wtoi(argv[4]) : 5;
    std::vector<double> times;
    for (int i = 0; i < trials; ++i) {
      std::vector<INPUT> inputs;
      for (int c = 0; c <= length; ++c) {
        INPUT down{};
        down.type = INPUT_KEYBOARD;
        if (c == length) {
          down.ki.wVk = VK_RETURN;
        } else {
          down.ki.wScan = static_cast<WORD>('0' + c % 10);
          down.ki.dwFlags = KEYEVENTF_UNICODE;
        }
        INPUT up = down;
        up.ki.dwFlags |= KEYEVENTF_KEYUP;
        inputs.push_back(down);
        inputs.push_back(up);
      }
      const long long start = fileSize(path);
      SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
      times.push_back(typingTime(path, start, length + 1));
    }
    std::printf("typing_ms %.1f\n", median(times));
    return 0;
  }
  if (DdeInitializeW(&instance, callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) return 1;
  if (mode == L"connects") {
    const double seconds = _wtof(argv[3]);
    HSZ item = DdeCreateStringHandleW(instance, L"ManualData", CP_WINUNICODE);
    long long count = 0;
    int status = 0;
    const auto start = Clock::now();
    while (ms(Clock::now() - start) < seconds * 1000) {
      HCONV conversation = connect(argv[2]);
      const bool answered = conversation && request(conversation, item);
      if (conversation) DdeDisconnect(conversation);
      if (!answered) {
        status = 1;
        break;
      }
      ++count;
    }
    std::printf("connects_per_second %.0f\n", count / (ms(Clock::now() - start) / 1000));
    DdeFreeStringHandle(instance, item);
    DdeUninitialize(instance);
    return status;
  }
  HCONV conversation = connect(argv[2]);
  if (!conversation) {
    std::fputs("dde_bench: no server\n", stderr);
    return 1;
  }
  HSZ item = DdeCreateStringHandleW(instance, L"ManualData", CP_WINUNICODE);
  int status = 0;
  if (mode == L"requests") {
    const double seconds = _wtof(argv[3]);
    long long count = 0;
    const auto start = Clock::now();
    while (ms(Clock::now() - start) < seconds * 1000) {
      if (!request(conversation, item)) {
        status = 1;
        break;
      }
      ++count;
    }
    std::printf("requests_per_second %.0f\n", count / (ms(Clock::now() - start) / 1000));
  } else if (mode == L"waitrs") {
    const int trials = _wtoi(argv[3]);
    std::vector<double> delays;
    for (int i = 0; i < trials; ++i) {
      execute(conversation, L"[WAITRS]");
      const auto start = Clock::now();
      execute(conversation, L"[SEND(?)]");
      if (!request(conversation, item)) status = 1;
      delays.push_back(ms(Clock::now() - start));
      Sleep(50);
    }
    std::printf("waitrs_ms %.1f\n", median(delays));
  } else if (mode == L"hotlink") {
    const std::wstring portName = std::wstring(L"\\\\.\\") + argv[3];
    const int trials = argc > 4 ? _wtoi(argv[4]) : 100;
    HANDLE port = CreateFileW(portName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HSZ readings = DdeCreateStringHandleW(instance, L"Readings", CP_WINUNICODE);
    if (port == INVALID_HANDLE_VALUE ||
        !DdeClientTransaction(nullptr, 0, conversation, readings, CF_TEXT, XTYP_ADVSTART, 10000, nullptr)) {
      std::fputs("dde_bench: no port or no hot link\n", stderr);
      return 1;
    }
    std::vector<double> delays;
    for (int i = 0; i < trials; ++i) {
      // A new value each time, so that its DATA is told from any other.
      const std::string reading = "+" + std::to_string(100000 + i);
      const std::string line = reading + "\r";
      const auto start = Clock::now();
      DWORD written = 0;
      WriteFile(port, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      if (pumpUntil([&] { return advised.rfind(reading, 0) == 0; }, start + std::chrono::seconds(3))) {
        delays.push_back(ms(advisedAt - start));
      } else {
        status = 1;
      }
      // About ten a second, at every phase of the server's poll.
      Sleep(static_cast<DWORD>(80 + (i * 7) % 23));
    }
    DdeClientTransaction(nullptr, 0, conversation, readings, CF_TEXT, XTYP_ADVSTOP, 10000, nullptr);
    DdeFreeStringHandle(instance, readings);
    CloseHandle(port);
    std::printf("hotlink_ms %.1f %.1f\n", median(delays), percentile(delays, 0.95));
  } else if (mode == L"typed") {
    const wchar_t* path = argv[3];
    const int trials = argc > 4 ? _wtoi(argv[4]) : 5;
    std::vector<double> times;
    for (int i = 0; i < trials; ++i) {
      const long long start = fileSize(path);
      execute(conversation, L"[SEND(?)]");
      times.push_back(typingTime(path, start, 128));
      Sleep(200);
    }
    std::printf("typing_ms %.1f\n", median(times));
  }
  DdeFreeStringHandle(instance, item);
  DdeDisconnect(conversation);
  DdeUninitialize(instance);
  return status;
}

#include "windows/serial_port.h"

#include <algorithm>
#include <chrono>

#include "core/line/serial_ports.h"
#include "core/settings/configuration.h"
#include "windows/dde_message.h"
#include "windows/text_convert.h"

namespace kelvor {
namespace {

constexpr DWORD kMaxRead = 2549;
constexpr int kDelayUnitMs = 10;    // one ComDelay count
constexpr int kLongestDelay = 100;  // counts: a wait never freezes the program past a second
constexpr DWORD kQueueSize = 4096;

std::string portAndDevice(int port, const std::string& device) {
  return device.empty() || device == comName(port) ? comName(port) : comName(port) + " (" + device + ")";
}

// The error code a refused open stands for: the one place GetLastError() becomes our own.
std::int16_t codeFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY:
      return Win32SerialLibrary::kNoDevice;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      // An open COM port answers every second opening with "access denied".
      return Win32SerialLibrary::kBusy;
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_SUPPORTED:
      return Win32SerialLibrary::kNotASerialPort;
    default:
      return Win32SerialLibrary::kSystem;
  }
}

bool knownRate(int rate) {
  switch (rate) {
    case 110: case 300: case 600: case 1200: case 2400: case 4800: case 9600: case 19200: case 38400: case 57600:
    case 115200: case 230400:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string win32DeviceName(const std::string& device) {
  return device.rfind("\\\\", 0) == 0 ? device : "\\\\.\\" + device;
}

std::string systemErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = n ? fromWide(std::wstring_view(text, n)) : "system error " + std::to_string(error);
  if (text) LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' || words.back() == '.'))
    words.pop_back();
  return words;
}

Win32SerialLibrary::Win32SerialLibrary(std::function<std::string(int)> deviceFor, Notices& notices)
    : deviceFor_(std::move(deviceFor)), notices_(notices) {}

Win32SerialLibrary::~Win32SerialLibrary() {
  for (auto& [port, open] : ports_) {
    if (open.handle != INVALID_HANDLE_VALUE) CloseHandle(open.handle);
  }
}

std::string Win32SerialLibrary::devicePath(int port) const { return port < 0 ? std::string() : deviceFor_(port); }

std::int16_t Win32SerialLibrary::fail(int port, const std::string& device, DWORD error, std::int16_t code) {
  lastFailure_ = {code, port, device, error};
  return code;
}

std::string Win32SerialLibrary::errorMessage(std::int16_t code) const {
  if (code != lastFailure_.code) return "The serial port could not be opened (error " + std::to_string(code) + ").";
  const Failure& f = lastFailure_;
  const std::string name = portAndDevice(f.port, f.device);
  const std::string where = whereToSetDevice(f.port);
  switch (code) {
    case kNoDevice:
      return name + " does not exist. Connect the instrument, or choose the device of " + comName(f.port) + " in " +
             where + ".";
    case kBusy:
      return name + " is in use by another program, or already open in Kelvor (reception, or the view or test "
                    "window). Close it there, then start again.";
    case kPermission:
      return name + " cannot be opened: " + systemErrorText(f.error) + ".";
    case kNotASerialPort:
      return name + " is not a serial port. Choose the device of this port in " + where + ".";
    case kNoPortNumber:
      return comName(f.port) + " has no device. Choose one in " + where + ".";
    default:
      return name + " cannot be opened: " + systemErrorText(f.error) + ".";
  }
}

std::int16_t Win32SerialLibrary::SetPortEx(int port, std::uint16_t, int, int writeTimeout, int useCts, int useXon,
                                           int useDtr) {
  const std::string device = devicePath(port);
  if (device.empty()) return fail(port, device, 0, kNoPortNumber);
  if (auto it = ports_.find(port); it != ports_.end() && !it->second.lost) {
    return fail(port, device, ERROR_ACCESS_DENIED, kBusy);
  }
  ports_.erase(port);

  HANDLE handle = CreateFileW(toWide(win32DeviceName(device)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return fail(port, device, error, codeFor(error));
  }
  auto refuse = [&](DWORD error, std::int16_t code) {
    CloseHandle(handle);
    return fail(port, device, error, code);
  };
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  // A COM name whose device is away can still open: Wine then falls back to a serial device
  // with no port behind it, which answers nothing. Either way, no port is there now.
  if (!GetCommState(handle, &dcb)) return refuse(GetLastError(), kNoDevice);
  SetupComm(handle, kQueueSize, kQueueSize);
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = useCts == 1;
  dcb.fRtsControl = useCts == 1 ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = dcb.fInX = useXon == 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.fDtrControl = useDtr == 1 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fAbortOnError = FALSE;
  dcb.fNull = FALSE;
  if (!SetCommState(handle, &dcb)) {
    // A device without modem lines refuses the DTR and RTS parts; the rest must hold.
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    if (useCts != 1) dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (!SetCommState(handle, &dcb)) return refuse(GetLastError(), kNotASerialPort);
  }
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;  // with the two below 0: return at once with what is there
  timeouts.WriteTotalTimeoutConstant = writeTimeout > 0 ? static_cast<DWORD>(writeTimeout) : 1000;
  if (!SetCommTimeouts(handle, &timeouts)) return refuse(GetLastError(), kNotASerialPort);
  ports_[port] = OpenDevice{handle, device, timeouts.WriteTotalTimeoutConstant, false, {}};
  return 0;
}

Win32SerialLibrary::OpenDevice* Win32SerialLibrary::openDevice(int port) {
  auto it = ports_.find(port);
  return it == ports_.end() || it->second.lost ? nullptr : &it->second;
}

std::int16_t Win32SerialLibrary::InitPort(int port, std::int16_t baudRate, int parity, int dataBits, int stopBits) {
  OpenDevice* open = openDevice(port);
  const int rate = bitsPerSecond(baudRate);  // 38400 arrives as -27136
  if (!open || !knownRate(rate) || dataBits < 5 || dataBits > 8 || parity < 0 || parity > 2 ||
      (stopBits != 1 && stopBits != 2)) {
    return 1;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(open->handle, &dcb)) return 1;
  dcb.BaudRate = static_cast<DWORD>(rate);
  dcb.ByteSize = static_cast<BYTE>(dataBits);
  dcb.Parity = parity == 0 ? NOPARITY : parity == 1 ? ODDPARITY : EVENPARITY;
  dcb.fParity = parity != 0;
  dcb.StopBits = stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  if (!SetCommState(open->handle, &dcb)) return 1;
  // A driver may take a setting it cannot keep: check the rate really holds.
  DCB applied{};
  applied.DCBlength = sizeof applied;
  if (!GetCommState(open->handle, &applied) || applied.BaudRate != static_cast<DWORD>(rate)) return 1;
  return 0;
}

void Win32SerialLibrary::Dtr(int port, int level) {
  // Refused by devices without modem lines: not an error.
  if (OpenDevice* open = openDevice(port)) EscapeCommFunction(open->handle, level == 1 ? SETDTR : CLRDTR);
}

void Win32SerialLibrary::ComDelay(int, int count) {
  if (count > 0) Sleep(static_cast<DWORD>(std::min(count, kLongestDelay) * kDelayUnitMs));
}

void Win32SerialLibrary::ClrBuf(int port) {
  if (OpenDevice* open = openDevice(port)) {
    PurgeComm(open->handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
  }
}

void Win32SerialLibrary::ResetPort(int port, std::uint16_t) {
  auto it = ports_.find(port);
  if (it == ports_.end()) return;
  if (it->second.handle != INVALID_HANDLE_VALUE) CloseHandle(it->second.handle);
  ports_.erase(it);
}

// Not a box that waits: a [RUN] from a DDE client would otherwise leave every other client
// without an answer until someone at the bench clicks.
void Win32SerialLibrary::DisplayPortError(std::int16_t code) {
  notices_.mention({NoticeKind::Warning, "Kelvor - serial port", errorMessage(code)});
}

void Win32SerialLibrary::markLost(OpenDevice& open, DWORD error) {
  CloseHandle(open.handle);
  open.handle = INVALID_HANDLE_VALUE;
  open.lost = true;
  open.loss = {open.device, systemErrorText(error), std::chrono::system_clock::now()};
}

SerialLibrary::PortHealth Win32SerialLibrary::health(int port) const {
  const auto it = ports_.find(port);
  if (it == ports_.end()) return PortHealth::Closed;
  return it->second.lost ? PortHealth::Lost : PortHealth::Open;
}

SerialLibrary::PortLoss Win32SerialLibrary::loss(int port) const {
  const auto it = ports_.find(port);
  return it != ports_.end() && it->second.lost ? it->second.loss : PortLoss{};
}

std::int16_t Win32SerialLibrary::ComGetb(int port, ZField<2550>& receiveBuffer) {
  return ComGetbUpTo(port, receiveBuffer, kMaxRead);
}

std::int16_t Win32SerialLibrary::ComGetbUpTo(int port, ZField<2550>& receiveBuffer, std::size_t most) {
  receiveBuffer.clear();
  OpenDevice* open = openDevice(port);
  if (!open) return 0;
  // A read on a vanished device keeps answering "nothing there"; the line's status says it.
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(open->handle, &errors, &status)) {
    markLost(*open, GetLastError());
    return 0;
  }
  if (errors & (CE_RXOVER | CE_OVERRUN)) ++open->overruns;
  // What is not taken now stays in the driver's buffer for the next read.
  const DWORD limit = static_cast<DWORD>(std::clamp<std::size_t>(most, 1, kMaxRead));
  char bytes[kMaxRead];
  DWORD got = 0;
  while (got < limit) {
    DWORD n = 0;
    if (!ReadFile(open->handle, bytes + got, limit - got, &n, nullptr)) {
      const DWORD error = GetLastError();
      receiveBuffer.assign(std::string_view(bytes, got));
      markLost(*open, error);
      return static_cast<std::int16_t>(got);
    }
    if (n == 0) break;
    got += n;
  }
  receiveBuffer.assign(std::string_view(bytes, got));
  return static_cast<std::int16_t>(got);
}

std::uint64_t Win32SerialLibrary::inputOverruns(int port) const {
  const auto it = ports_.find(port);
  return it == ports_.end() ? 0 : it->second.overruns;
}

void Win32SerialLibrary::writeAll(int port, const char* bytes, std::size_t count) {
  OpenDevice* open = openDevice(port);
  if (!open) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(open->writeTimeoutMs);
  while (count > 0) {
    DWORD written = 0;
    // The callers ignore send failures; a lost line shows at the next read.
    if (!WriteFile(open->handle, bytes, static_cast<DWORD>(count), &written, nullptr)) return;
    bytes += written;
    count -= written;
    // Output held by flow control: the write timed out with part written. Not for ever.
    if (written == 0 && std::chrono::steady_clock::now() >= deadline) return;
  }
}

void Win32SerialLibrary::ComPutb(int port, const char* bytes, int count) {
  if (count > 0) writeAll(port, bytes, static_cast<std::size_t>(count));
}

void Win32SerialLibrary::ComPuts(int port, std::string_view text) {
  writeAll(port, text.data(), text.substr(0, text.find('\0')).size());
}

}  // namespace kelvor

// The single-instance guard over named kernel objects in the session's
// namespace: the first instance creates the mutex and an auto-reset event;
// a later one finds the mutex taken and sets the event, which the first
// notices when it polls. Both disappear with the last handle to them.
#include <windows.h>

#include "app/instance.h"

namespace talven {

namespace {

std::wstring object_name(const std::string& name, const wchar_t* suffix) {
  // Instance names are ASCII (a prefix and a hash).
  std::wstring w = L"Local\\";
  for (char c : name) w.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return w + suffix;
}

}  // namespace

InstanceGuard::~InstanceGuard() { release(); }

void InstanceGuard::release() {
  for (void*& h : handles_) {
    if (h) ::CloseHandle(static_cast<HANDLE>(h));
    h = nullptr;
  }
}

InstanceGuard::Result InstanceGuard::acquire(const std::string& name) {
  release();
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, object_name(name, L"").c_str());
  if (!mutex) return Result::Unavailable;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    return Result::Other;
  }
  HANDLE raise = ::CreateEventW(nullptr, FALSE, FALSE, object_name(name, L":raise").c_str());
  if (!raise) {
    ::CloseHandle(mutex);
    return Result::Unavailable;
  }
  handles_[0] = mutex;
  handles_[1] = raise;
  return Result::First;
}

bool InstanceGuard::poll_raise_requests() {
  return handles_[1] && ::WaitForSingleObject(static_cast<HANDLE>(handles_[1]), 0) == WAIT_OBJECT_0;
}

bool ask_instance_to_raise(const std::string& name) {
  HANDLE raise = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, object_name(name, L":raise").c_str());
  if (!raise) return false;
  const bool ok = ::SetEvent(raise) != 0;
  ::CloseHandle(raise);
  return ok;
}

}  // namespace talven

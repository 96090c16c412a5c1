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

// The named mutex that holds the name and the event other instances set
// to ask for the window.
struct InstanceGuard::Held {
  HANDLE mutex;
  HANDLE raise;
};

InstanceGuard::~InstanceGuard() { release(); }

void InstanceGuard::release() {
  if (held_) {
    ::CloseHandle(held_->mutex);
    ::CloseHandle(held_->raise);
  }
  delete held_;
  held_ = nullptr;
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
  held_ = new Held{mutex, raise};
  return Result::First;
}

bool InstanceGuard::poll_raise_requests() {
  return held_ && ::WaitForSingleObject(held_->raise, 0) == WAIT_OBJECT_0;
}

bool ask_instance_to_raise(const std::string& name) {
  HANDLE raise = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, object_name(name, L":raise").c_str());
  if (!raise) return false;
  const bool ok = ::SetEvent(raise) != 0;
  ::CloseHandle(raise);
  return ok;
}

}  // namespace talven

// Fault reports on Windows: an unhandled-exception filter. A console
// program whose exception no handler takes ends without a word otherwise.
//
// The filter runs on the faulting thread, perhaps with the C library's
// locks held or the stack nearly used up: it formats into a small buffer
// with snprintf, writes with WriteFile and ends the process with
// TerminateProcess (no exit handlers, which could wait on those locks).
// The exit status is the exception code, as Windows gives a process that
// ends through an unhandled exception.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "runtime/fault_report.h"
#include "script/native_code.h"

namespace talven::runtime {

namespace {

const char* fault_name(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
    case EXCEPTION_PRIV_INSTRUCTION: return "privileged instruction";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "integer division by zero";
    case EXCEPTION_INT_OVERFLOW: return "integer overflow";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    case EXCEPTION_IN_PAGE_ERROR: return "page could not be read in";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return "misaligned data";
    case EXCEPTION_BREAKPOINT: return "breakpoint";
    default: return "exception";
  }
}

// "in machine code made from a script", "in NAME+0xOFFSET" or "in no module".
void describe_place(const void* at, char* out, std::size_t size) {
  const std::optional<bool> generated = script::native_code_holds(at);
  if (generated.value_or(false)) {
    std::snprintf(out, size, "in machine code made from a script");
    return;
  }
  HMODULE module = nullptr;
  char path[MAX_PATH];
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(at), &module) &&
      GetModuleFileNameA(module, path, sizeof path) > 0) {
    const char* name = path;
    for (const char* c = path; *c; ++c)
      if (*c == '\\' || *c == '/') name = c + 1;
    std::snprintf(out, size, "in %s+0x%llx", name,
                  static_cast<unsigned long long>(static_cast<const char*>(at) -
                                                  reinterpret_cast<const char*>(module)));
    return;
  }
  std::snprintf(out, size, generated ? "in no module" : "in no module (machine code unknown)");
}

LONG WINAPI report_fault(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* r = info->ExceptionRecord;
  char place[MAX_PATH + 64];
  describe_place(r->ExceptionAddress, place, sizeof place);
  char access[64] = "";
  if (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters >= 2) {
    const ULONG_PTR kind = r->ExceptionInformation[0];
    std::snprintf(access, sizeof access, ", %s 0x%llx",
                  kind == 1   ? "writing"
                  : kind == 8 ? "executing"
                              : "reading",
                  static_cast<unsigned long long>(r->ExceptionInformation[1]));
  }
  char line[sizeof place + sizeof access + 128];
  const int n = std::snprintf(line, sizeof line, "talven: fatal fault 0x%08lx (%s%s) at %p %s\n",
                              static_cast<unsigned long>(r->ExceptionCode),
                              fault_name(r->ExceptionCode), access, r->ExceptionAddress, place);
  DWORD written = 0;
  if (n > 0)
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(std::strlen(line)), &written,
              nullptr);
  TerminateProcess(GetCurrentProcess(), r->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;  // not reached
}

}  // namespace

void install_fault_report() { SetUnhandledExceptionFilter(report_fault); }

}  // namespace talven::runtime

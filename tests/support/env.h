// Setting and clearing environment variables from tests, over the
// platform's own calls (setenv/unsetenv, or _putenv_s where those are
// missing).
#pragma once

#include <cstdlib>
#include <string>

namespace talven::test {

// Sets `name` to `value` for this process and the programs it starts;
// false when the platform refused.
inline bool set_env(const std::string& name, const std::string& value) {
#ifdef _WIN32
  return ::_putenv_s(name.c_str(), value.c_str()) == 0;
#else
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
#endif
}

// Removes `name` from the environment. On Windows an empty value removes it.
inline bool unset_env(const std::string& name) {
#ifdef _WIN32
  return ::_putenv_s(name.c_str(), "") == 0;
#else
  return ::unsetenv(name.c_str()) == 0;
#endif
}

}  // namespace talven::test

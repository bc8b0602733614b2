// Preloaded into quirlon-render by a test: dlopen refuses libtiff and libwebp, as on a system where
// they are missing, so that the test sees what a user there would see.
#include <dlfcn.h>

#include <cstring>

extern "C" void* dlopen(const char* File, int Mode) noexcept {
  using TDlopen = void* (*)(const char*, int);
  static const auto next = reinterpret_cast<TDlopen>(::dlsym(RTLD_NEXT, "dlopen"));
  if (File != nullptr && (std::strstr(File, "libtiff") != nullptr || std::strstr(File, "libwebp") != nullptr))
    return nullptr;
  return next(File, Mode);
}

// On 32-bit Windows every export must remove exactly its own arguments
// (stdcall): measured by calling each through the stack by hand.
#include "TestSupport.h"

#if defined(_WIN32) && !defined(_WIN64)
#include <windows.h>

namespace {

// Pushes `n` 32-bit arguments (args[0] last, so it ends up first), calls fn,
// and answers how far the stack pointer moved over the call: 0 when the
// callee removed its arguments, −4·n when it left them to the caller.
int32_t StackDelta(const void *fn, const uint32_t *args, int32_t n) {
  int32_t delta;
  __asm__ volatile("movl %%esp, %%esi\n\t"
                   "movl %[n], %%ecx\n\t"
                   "1:\n\t"
                   "testl %%ecx, %%ecx\n\t"
                   "jz 2f\n\t"
                   "pushl -4(%[args],%%ecx,4)\n\t"
                   "decl %%ecx\n\t"
                   "jmp 1b\n\t"
                   "2:\n\t"
                   "call *%[fn]\n\t"
                   "movl %%esp, %%eax\n\t"
                   "subl %%esi, %%eax\n\t"
                   "movl %%esi, %%esp\n\t"
                   : "=&a"(delta)
                   : [fn] "b"(fn), [args] "D"(args), [n] "m"(n)
                   : "ecx", "edx", "esi", "memory", "cc");
  return delta;
}

extern "C" int __cdecl CdeclControl(uint32_t a, uint32_t b) { return static_cast<int>(a + b); }

int32_t TLP_CALL Info(const char *) { return 0; }
int32_t TLP_CALL Verbose(uint32_t, const char *, const char *, const char *) { return 0; }

uint32_t U(const void *p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

TEST(Abi, TheCheckCanFail) {
  uint32_t args[] = {1, 2};
  EXPECT_EQ(StackDelta(reinterpret_cast<const void *>(&CdeclControl), args, 2), -8);
}

TEST(Abi, EveryExportRemovesExactlyItsArguments) {
  Plugin &plugin = LoadedPlugin();
  HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(parent, nullptr);
  TempFile file(Concat({TgaHeader{}.Encode(), Bytes{}}));
  TempFile out(std::string("abi-out.tga"));
  int32_t a = 0, b = 0;
  HostImage *image = nullptr;
  uint8_t pixel[3] = {1, 2, 3};
  HostImage toWrite{TLP_KIND_FULL24, pixel, 3, 1, 1, nullptr, 0};
  struct Call {
    const char *name;
    std::vector<uint32_t> args;
  } calls[] = {
      {"PLUGINCALLBACK", {0xDEADBEEF}},
      {"UNITED_SupportedInformation", {U(&a), U(&b)}},
      {"UNITED_Verbose", {U(reinterpret_cast<const void *>(&Verbose))}},
      {"IMPORT_InterfaceVersion", {U(&a)}},
      {"IMPORT_SupportedExtensions", {U(reinterpret_cast<const void *>(&Info))}},
      {"IMPORT_ValidFileCheck", {U(file.c_str())}},
      {"IMPORT_ImageInformation", {U(file.c_str()), U(reinterpret_cast<const void *>(&Info))}},
      {"IMPORT_CreateImage", {U(file.c_str()), U(&image)}},
      {"IMPORT_FreeImage", {0}},
      {"IMPORT_CreatePreviewImage", {U(file.c_str()), 8, 8, U(&image)}},
      {"IMPORT_FreeImage", {0}},
      {"EXPORT_InterfaceVersion", {U(&a)}},
      {"EXPORT_SupportedExtensions", {U(reinterpret_cast<const void *>(&Info))}},
      {"EXPORT_EnterOption", {U(parent), U(parent), 0}},
      {"EXPORT_LeaveOption", {0}},
      {"EXPORT_BeforeTransform", {U(&a), 0}},
      {"EXPORT_WriteToFile", {U(out.c_str()), U(&toWrite), 0}},
      {"PLUGOUTCALLBACK", {}},
  };
  for (Call &c : calls) {
    if (std::string(c.name) == "IMPORT_FreeImage")
      c.args[0] = U(image); // the record the call before made
    const void *fn = plugin.Symbol(c.name);
    ASSERT_NE(fn, nullptr) << c.name;
    EXPECT_EQ(StackDelta(fn, c.args.data(), static_cast<int32_t>(c.args.size())), 0) << c.name;
    if (std::string(c.name) == "IMPORT_FreeImage") {
      std::free(image);
      image = nullptr;
    }
  }
  EXPECT_EQ(Api().IMPORT_ValidFileCheck(file.c_str()), 1);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    DispatchMessageA(&msg);
  DestroyWindow(parent);
}

} // namespace
#endif

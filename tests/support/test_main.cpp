#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

// The program's user-interface thread is a single-threaded apartment; tests run on one too.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}

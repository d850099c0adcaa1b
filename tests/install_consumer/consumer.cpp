// The same libraries from C++: the C headers inside a C++ program, with the results handed to the
// standard library.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "formdata.h"
#include "siteconfig.h"

int main() {
  std::unique_ptr<char, decltype(&std::free)> encoded(EncodeUrlText("Twill, plain"), &std::free);
  if (!encoded) return 1;
  std::string menu = ReadStyleManagerPage();
  std::cout << "encoded: " << encoded.get() << "\n"
            << "menu page: " << menu << "\n"
            << "vell path: " << ReadVellPath() << "\n"
            << "valid name: " << IsValidName("Loom-01") << "\n";
  return 0;
}

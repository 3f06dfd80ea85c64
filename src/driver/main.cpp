// texport: converts the legacy texture files of the working folder into images beside them.
#include "driver/passes.hpp"
#include "platform/key_wait.hpp"

#ifndef TEXPORT_ALL_PASSES
#define TEXPORT_ALL_PASSES 0
#endif

int main() {
  texport::scan_sfd();
  if constexpr (TEXPORT_ALL_PASSES) {
    texport::scan_tex();
    texport::scan_m32();
    texport::scan_m8();
  }
  texport::platform::wait_for_key();
  return 0;
}

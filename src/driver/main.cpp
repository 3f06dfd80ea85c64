// texport: converts the legacy texture files of the working folder into images beside them.
// Arguments are ignored.
#include "driver/passes.hpp"
#include "platform/console.hpp"

#ifndef TEXPORT_ALL_PASSES
#define TEXPORT_ALL_PASSES 0
#endif

int main() {
  texport::platform::prepare_process();
  if constexpr (TEXPORT_ALL_PASSES)
    texport::run_passes(
        {texport::scan_sfd, texport::scan_tex, texport::scan_m32, texport::scan_m8});
  else
    texport::run_passes({texport::scan_sfd});
  texport::platform::wait_for_key();
  return 0;
}

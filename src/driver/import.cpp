#include "driver/texkit.hpp"
#include "platform/console.hpp"

namespace texport::texkit {

int import_images(const Arguments&) {
  platform::write_console(platform::Stream::error, "texkit: import: not built yet\n");
  return 2;
}

}  // namespace texport::texkit

// Checks shared by the fuzz targets.
#pragma once

#include "io/bytes.hpp"

namespace texport::fuzz {

// True when `part` lies wholly inside `whole`.
inline bool inside(ByteView part, ByteView whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

}  // namespace texport::fuzz

# The "-posix" compilers: their C++ runtime carries std::thread and friends; both have std::filesystem.
set(CMAKE_C_COMPILER ${texport_mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${texport_mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${texport_mingw_triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${texport_mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

// SSE2 is part of every x86-64 processor; 32-bit builds have it only when asked for.
#pragma once

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define TEXPORT_HAVE_SSE2 1
#endif

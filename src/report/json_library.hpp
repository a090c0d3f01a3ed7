#pragma once

// RapidJSON, configured once for every file that includes it: strings of
// the standard library, the SIMD scan of unescaped text where the target
// has SSE2 (every x86-64; not the browser, not every 32-bit x86).
#ifndef RAPIDJSON_HAS_STDSTRING
#define RAPIDJSON_HAS_STDSTRING 1
#endif
#if defined(__SSE2__) && !defined(RAPIDJSON_SSE2)
#define RAPIDJSON_SSE2
#endif

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#pragma once

// Defined in builds with AddressSanitizer or ThreadSanitizer. Their runtimes replace the
// allocator and keep freed blocks in quarantine, so such builds leave the heap wiping out.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VARNISK_SANITIZER_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VARNISK_SANITIZER_BUILD 1
#endif
#endif

/* talven_native.h: for native libraries that games load with dll_load.
 *
 * Scripts pass 32-bit words. A word that is an address is an offset in the
 * game's script memory, not a pointer of this process: turn it into one with
 * talven_span() or talven_string(), which check the whole range and give
 * NULL when it does not lie in script memory. Never add an address to a
 * pointer yourself.
 *
 * Use:
 *     #include "talven_native.h"
 *     TALVEN_NATIVE_LIBRARY        (once, in one source file of the library)
 *
 *     int sum(uint32_t data, int length) {
 *       const unsigned char *p = talven_span(data, (uint32_t)length);
 *       ...
 *     }
 *
 * dll_load calls the library's talven_native_init (defined by the macro)
 * right after loading it; a library without it still loads, but cannot
 * reach script memory. Functions called with dll_call take and return
 * 32-bit integers (int, unsigned, uint32_t), as many as the script passes.
 * Memory stays valid only during the call that received the address.
 */
#ifndef TALVEN_NATIVE_H
#define TALVEN_NATIVE_H

#include <stddef.h>
#include <stdint.h>

#define TALVEN_NATIVE_VERSION 1u

typedef struct talven_native_api {
  uint32_t version; /* TALVEN_NATIVE_VERSION or later */
  /* Host pointer to [address, address + length) of script memory, or NULL. */
  void *(*span)(uint32_t address, uint32_t length);
  /* A zero-terminated text at address of at most max_length bytes before
     its zero, or NULL. */
  char *(*string)(uint32_t address, uint32_t max_length);
  /* Script address of a host pointer into script memory, or 0. */
  uint32_t (*address_of)(const void *pointer);
  /* Script memory blocks the script may use and free with free(). */
  uint32_t (*alloc)(uint32_t size);
  int (*release)(uint32_t address);
} talven_native_api;

#ifdef __cplusplus
extern "C" {
#endif

extern const talven_native_api *talven_native;
int talven_native_init(const talven_native_api *api);

#ifdef __cplusplus
}
#endif

#define TALVEN_NATIVE_LIBRARY                                                        \
  __attribute__((visibility("hidden"))) const talven_native_api *talven_native = 0;  \
  __attribute__((visibility("default"))) int talven_native_init(                     \
      const talven_native_api *api) {                                                \
    if (!api || api->version < TALVEN_NATIVE_VERSION) return 0;                      \
    talven_native = api;                                                             \
    return 1;                                                                        \
  }

static inline void *talven_span(uint32_t address, uint32_t length) {
  return talven_native ? talven_native->span(address, length) : NULL;
}

static inline char *talven_string(uint32_t address) {
  return talven_native ? talven_native->string(address, 0xFFFFFFFFu) : NULL;
}

static inline uint32_t talven_address_of(const void *pointer) {
  return talven_native ? talven_native->address_of(pointer) : 0;
}

#endif /* TALVEN_NATIVE_H */

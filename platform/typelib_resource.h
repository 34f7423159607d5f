/* How a module carries its own type library on this platform.
 *
 * On Windows a server module keeps its type library as a resource that LoadTypeLib finds by
 * the module's path. Here the module exports one data symbol, QuorvexTypeLibResource, holding
 * the interface description (the IDL text itself) of its library. LoadTypeLib and
 * LoadTypeLibEx, given the path of a module, find the module among the loaded ones (or load it
 * for the duration of the call), look the symbol up in that module itself (not in the modules
 * it depends on) and build the library from the text. Given the path of a plain text file,
 * they read it as an interface description instead; "stdole2.tlb" is built in.
 *
 * A CMake target gets the symbol with quorvex_embed_typelib(<target> <file.idl>), defined by
 * platform/CMakeLists.txt, which compiles the description's bytes into the target. */
#ifndef QUORVEX_PLATFORM_TYPELIB_RESOURCE_H
#define QUORVEX_PLATFORM_TYPELIB_RESOURCE_H

#include <stddef.h>
#include <stdint.h>

#define QV_TYPELIB_RESOURCE_SYMBOL "QuorvexTypeLibResource"
#define QV_TYPELIB_RESOURCE_MAGIC 0x424C5451u /* "QTLB" */
#define QV_TYPELIB_RESOURCE_VERSION 1u

typedef struct QvTypeLibResource {
  uint32_t magic;   /* QV_TYPELIB_RESOURCE_MAGIC */
  uint32_t version; /* QV_TYPELIB_RESOURCE_VERSION */
  const char* text; /* the interface description, UTF-8, not zero-terminated */
  size_t length;    /* its length in bytes */
} QvTypeLibResource;

#endif

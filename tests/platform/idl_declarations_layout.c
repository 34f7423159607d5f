/* The C function table generated for tests/platform/data/shape.idl: IShape2's table holds
 * IUnknown's and IDispatch's members, then IShape's, then its own, in declaration order. */
#include <stddef.h>

#include "shape_h.h"

#define POSITION(table, member) (offsetof(table, member) / sizeof(void*))

_Static_assert(POSITION(IShapeVtbl, Invoke) == 6, "IDispatch first");
_Static_assert(POSITION(IShapeVtbl, get_Sides) == 7, "IShape after IDispatch");
_Static_assert(POSITION(IShape2Vtbl, get_Sides) == 7, "the base's members first");
_Static_assert(POSITION(IShape2Vtbl, Turn) == 8, "the base's members first");
_Static_assert(POSITION(IShape2Vtbl, Scale) == 9, "then the extension's");
_Static_assert(POSITION(IShape2Vtbl, put_Name) == 10, "then the extension's");
_Static_assert(POSITION(IShape2Vtbl, get_Name) == 11, "in declaration order");
_Static_assert(sizeof(IShape2Vtbl) == 12 * sizeof(void*), "nothing else");

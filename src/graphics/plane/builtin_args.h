// Argument shapes shared by the graphics builtins: optional rectangle
// records and the call of an operation on a plane's optional area.
//
// A rectangle argument is the script address of a record of four signed
// words, or 0 for none (the operation's default area). An address that
// cannot be read fails the builtin before the operation runs.
#pragma once

#include <cstdint>
#include <type_traits>

#include "base/address_space.h"
#include "graphics/plane/plane.h"

namespace talven::graphics {

// An optional rectangle argument, read at construction: get() is null for
// address 0 and the rectangle otherwise; ok() is false for a bad address.
// Not copyable: get() points into the object.
class RectArg {
 public:
  explicit RectArg(Addr addr) : given_(addr != 0), ok_(!given_ || load_rect(addr, rect_)) {}
  RectArg(const RectArg&) = delete;
  RectArg& operator=(const RectArg&) = delete;

  bool ok() const { return ok_; }
  const Rect* get() const { return given_ ? &rect_ : nullptr; }

 private:
  Rect rect_;
  bool given_;
  bool ok_;
};

// op(plane, area, extra...) for a plane slot and a rectangle argument; 0
// without calling op when the rectangle cannot be read.
template <class... Extra>
std::int32_t on_area(int (*op)(Plane*, const Rect*, Extra...), std::int32_t plane, Addr rect,
                     std::type_identity_t<Extra>... extra) {
  const RectArg area(rect);
  return area.ok() ? op(plane_at(plane), area.get(), extra...) : 0;
}

}  // namespace talven::graphics

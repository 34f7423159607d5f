// Owners of the colour library's handles, so that every path out of a conversion closes them.
#pragma once

#include <lcms2.h>

#include <memory>
#include <type_traits>

namespace quorvex::lcms {

struct ProfileCloser {
  void operator()(void* profile) const noexcept { cmsCloseProfile(profile); }
};
struct TransformDeleter {
  void operator()(void* transform) const noexcept { cmsDeleteTransform(transform); }
};
struct ContextDeleter {
  void operator()(cmsContext context) const noexcept { cmsDeleteContext(context); }
};

using Profile = std::unique_ptr<std::remove_pointer_t<cmsHPROFILE>, ProfileCloser>;
using Transform = std::unique_ptr<std::remove_pointer_t<cmsHTRANSFORM>, TransformDeleter>;
using OwnedContext = std::unique_ptr<std::remove_pointer_t<cmsContext>, ContextDeleter>;

}  // namespace quorvex::lcms

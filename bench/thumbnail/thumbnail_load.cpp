// One thumbnail as a whole process, for run_thumbnail_bench.py while the command line has no
// option for it: thumbnail_load IN OUT WIDTH HEIGHT loads IN fitted into the box through the
// Resize object's LoadThumbnail and saves it to OUT.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "platform/com_ptr.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: thumbnail_load IN OUT WIDTH HEIGHT\n");
    return 2;
  }
  try {
    quorvex::TResize object;
    quorvex::TBstr input(quorvex::FileNameToNewBstr(argv[1]));
    quorvex::TBstr output(quorvex::FileNameToNewBstr(argv[2]));
    VARIANT source;
    VariantInit(&source);
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = input.get();
    object.LoadThumbnail(source, std::atoi(argv[3]), std::atoi(argv[4]));
    object.SaveToFile(output.get());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "thumbnail_load: %s\n", e.what());
    return 1;
  }
  return 0;
}

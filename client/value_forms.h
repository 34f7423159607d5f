// The value forms operations share, each with the text an error gives for it. Numbers are
// decimal, each on its own between the separators, with nothing around them; only colours may
// also be written in hexadecimal.
#pragma once

#include "client/operation_table.h"

namespace quorvex::client::forms {

extern const ValueForm kSize;     // WxH: two integers
extern const ValueForm kCorners;  // X1,Y1,X2,Y2
extern const ValueForm kInteger;  // one 32-bit integer
extern const ValueForm kColour;   // 0xBBGGRR or a decimal number, any 32-bit value
extern const ValueForm kAngle;    // a finite float, in degrees
extern const ValueForm kAmount;   // a finite number of 0 or more; 1 when left out
extern const ValueForm kName;     // a word of letters, lower-cased; the object checks it
extern const ValueForm kParts;    // a list the object checks; "all" (and none) for every kind
extern const ValueForm kSwitch;   // 1 or 0; 1 when left out
extern const ValueForm kFormat;   // an output format's name, lower-cased, or "auto"

}  // namespace quorvex::client::forms

// Every operation and setting a host offers, declared once: its name (`--box` on the command
// line, `box=` in a query), how its value is written and read, its help, the member of the object
// it calls and when, relative to the load. The command line, its help, the web host's query and
// the README's option table all follow these rows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/resize_driver.h"

namespace quorvex::client {

struct Step;

// When a step is applied.
enum class Stage {
  BeforeLoad,  // a setting the load works with: set first, wherever it stands
  Load,        // the load itself, at most once
  AfterLoad    // after the load, in the order given
};

// What a step does to the picture.
enum class Kind {
  Setting,   // how it is loaded or written: quality, gray, auto-orient...
  Transform  // what it shows: the thumbnail load, resize, crop, flips...
};

// How the member is reached.
enum class Call {
  Put,     // a property, set to the value (true for a flag)
  Method,  // a method, called with the value's numbers or text
  Load     // the load itself (step_sequence.h)
};

// Whether and how an operation takes a value.
enum class Arity {
  None,      // a flag: --gray, gray
  Required,  // --box WxH, box=WxH
  Optional,  // --sharpen [AMOUNT], sharpen[=AMOUNT]: alone it stands for the form's bare value
  Attached,  // --keep-metadata[=LIST]: a flag that takes its value only after '='
  Switch     // on or off: --auto-orient / --no-auto-orient, auto-orient[=1|0]
};

// The hosts that offer an operation.
enum Hosts : unsigned { kCommandLine = 1, kWebHost = 2, kBothHosts = 3 };

// How a value is written and read.
struct ValueForm {
  std::string_view expected;  // for errors: "WIDTHxHEIGHT, like 200x200"
  std::string_view bare;      // what a use without a value stands for (Optional, Attached, Switch)
  bool (*read)(std::string_view text, Step& step);  // false when the text is not of the form
  // The value as the member's arguments.
  std::vector<ResizeDriver::Argument> (*arguments)(const Step& step);
};

struct Operation {
  std::string_view name;         // "box"
  std::string_view placeholder;  // "WxH"; empty when there is no value
  Arity arity;
  const ValueForm* form;    // nullptr for a flag
  std::string_view member;  // the object's member it calls: "ResizeBox"
  Call call;
  Stage stage;
  Kind kind;
  std::string_view help;
  unsigned hosts = kBothHosts;
  std::string_view hostDefault = {};  // the value the hosts give it when a request does not
  std::string_view expected = {};     // the form's text for errors, when the row says it better
  bool sizesResult = false;  // the value is the result's size, which a host may refuse at once
  // Calls the object where one member does not do: nullptr for the member with the arguments.
  void (*apply)(ResizeDriver& object, const Step& step) = nullptr;
};

// One operation with its value read.
struct Step {
  const Operation* operation = nullptr;
  std::vector<int32_t> numbers;  // integer arguments
  double real = 0;               // an angle, an amount, or 1/0 for a switch
  std::string text;              // a name or list, as the object takes it
};

// Every row, in the order help and the README list them.
std::span<const Operation> Operations();

// The row named name ("box"), or nullptr.
const Operation* FindOperation(std::string_view name);

// The last of the steps of the row named name, or nullptr.
const Step* FindStep(const std::vector<Step>& steps, std::string_view name);

// The step with its value read; value is nullopt for a use without one. Nothing when the value
// is missing, not of the form, or given to a flag.
std::optional<Step> ParseStep(const Operation& operation, std::optional<std::string_view> value);

// Why a value was refused: "expected WIDTHxHEIGHT, like 200x200, not '200'", or "takes no value".
std::string ValueError(const Operation& operation, std::optional<std::string_view> value);

// The output format the steps name last; "auto" when they leave it to the host (none named, or
// "auto" last).
std::string_view GivenFormat(const std::vector<Step>& steps);

// Gives every format step that says "auto" the format named, adding one when there is none, so
// that no "auto" reaches the object.
void SettleFormat(std::vector<Step>& steps, std::string_view name);

// Calls the step's member on the object (nothing for the load, which step_sequence.h makes).
void ApplyStep(ResizeDriver& object, const Step& step);

// How the command line writes it, as help and the README show it: "--box WxH",
// "--sharpen [AMOUNT]", "--keep-metadata[=LIST]", "--[no-]auto-orient".
std::string CommandLineUsage(const Operation& operation);

// The steps as given, after the steps for every row with a host default that they do not name.
std::vector<Step> WithHostDefaults(std::vector<Step> steps, unsigned host);

}  // namespace quorvex::client

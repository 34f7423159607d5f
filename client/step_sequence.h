// The order both hosts give a load and its steps: the settings the load works with first,
// wherever they stand, then the load (fitted into a box when a Thumbnail step asks for it), then
// every other step as given.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "client/operation_steps.h"

namespace quorvex::client {

class ResizeDriver;

// The picture to load: a file by name, or bytes when inMemory.
struct ImageSource {
  bool inMemory = false;
  std::string file;
  std::span<const uint8_t> bytes;
};

// Loads the source into the object and applies the steps; a failing member raises its error.
// The first Thumbnail step is the load; hosts refuse a second one.
void LoadAndApply(ResizeDriver& object, const ImageSource& source, const std::vector<Step>& steps);

}  // namespace quorvex::client

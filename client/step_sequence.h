// The order both hosts give a load and its steps: the settings the load works with first,
// wherever they stand, then the load (fitted into a box when a thumbnail step asks for it), then
// every other step as given.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "client/operation_table.h"

namespace quorvex::client {

class ByteArray;
class ResizeDriver;

// The picture to load: a file by name, or bytes when inMemory.
struct ImageSource {
  bool inMemory = false;
  std::string file;
  const ByteArray* bytes = nullptr;
};

// Loads the source into the object and applies the steps; a failing member raises its error.
// The step of the Load stage is the load; hosts refuse a second one.
void LoadAndApply(ResizeDriver& object, const ImageSource& source, const std::vector<Step>& steps);

}  // namespace quorvex::client

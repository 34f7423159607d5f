// The registry's storage: one text file shared by every process of the user.
//
// Location: the file named by the environment variable QUORVEX_REGISTRY, else
// $XDG_CONFIG_HOME/quorvex/registry, else ~/.config/quorvex/registry. A missing file is an empty
// registry; a symbolic link is followed to the file it names. Writers take an exclusive flock on
// "<file>.lock", read the current content, apply their change and replace the file by renaming
// a fully written, exclusively created temporary file that has taken the old file's mode (and
// owner and group where the writer may give them), so readers see either the old or the new
// registry, never a mixture, and concurrent writers never lose each other's changes. A lock
// held elsewhere for more than a few seconds fails a writer with ERROR_LOCK_VIOLATION; a reader
// then reads without it. A file that does not parse or whose checksum does not match is reported as
// ERROR_REGISTRY_CORRUPT by every call and is never overwritten.
//
// Format (UTF-8 lines): "QUORVEX-REGISTRY 1", then per key "K <path>" followed by its values
// "V <name> <type> <hex bytes>" (the default value has the name "@"; names are escaped with
// %XX for bytes outside printable ASCII and for '%', '@' and '\'), and last "E <FNV-1a 64 of
// all preceding bytes, 16 hex digits>".
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/winapi.h"

namespace platform_detail {

struct RegistryValue {
  std::u16string name;  // empty for the default value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct RegistryKey {
  std::u16string name;
  std::map<std::u16string, RegistryKey> children;  // by case-folded name
  std::vector<RegistryValue> values;

  RegistryValue* FindValue(std::u16string_view valueName);
  RegistryKey* FindChild(std::u16string_view childName);
};

// The predefined roots by name: "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE".
struct RegistryTree {
  std::map<std::u16string, RegistryKey> roots;  // by root name
  // The key at `path` (first element: root name), or null.
  RegistryKey* Find(const std::vector<std::u16string>& path);
};

std::string RegistryLocation();

// Reads the registry; ERROR_SUCCESS, ERROR_REGISTRY_CORRUPT or an I/O error.
LSTATUS LoadRegistry(RegistryTree* tree);

// Applies `change` to the current registry under the writers' lock and stores the result when
// `change` returns ERROR_SUCCESS and reports that it changed something.
LSTATUS UpdateRegistry(const std::function<LSTATUS(RegistryTree&, bool* changed)>& change);

// Exposed for tests and the fuzzer: text form and parsing.
std::string SerializeRegistry(const RegistryTree& tree);
LSTATUS ParseRegistry(const std::string& text, RegistryTree* tree);

}  // namespace platform_detail

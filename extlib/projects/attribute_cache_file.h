// The per-project attribute disk cache "attributes.cache" in a project folder:
// the project's attribute values as the CAD system last saved them, loaded into
// the attribute database when a project is registered or checked in.
#pragma once

#include <map>
#include <string>

namespace dovrane::extlib {

inline constexpr char kAttributeCacheFileName[] = "attributes.cache";

// Attribute names: 1 to 64 of A-Z a-z 0-9 _ . - ; values: any bytes (Windows-1252
// text as the system keeps it), at most kMaxAttributeValueBytes.
inline constexpr size_t kMaxAttributeNameBytes = 64;
inline constexpr size_t kMaxAttributeValueBytes = 4096;
bool ValidAttributeName(const std::string& name);

using AttributeValues = std::map<std::string, std::string>;

// The file text; -EINVAL for an invalid name or value.
[[nodiscard]] int FormatAttributeCache(const AttributeValues& values, std::string* text);
// 0 or -EBADMSG for anything but a whole, unchanged file.
[[nodiscard]] int ParseAttributeCache(const std::string& text, AttributeValues* values);

}  // namespace dovrane::extlib

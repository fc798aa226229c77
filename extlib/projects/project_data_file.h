// The stored form of a project's own data: the object file "objects.dat" and
// its derived index "objects.idx" in the project folder.
//
// An object has a unique identifier, a type, a name, a state (alive or marked
// deleted) and references to other objects by identifier. The index lists the
// objects sorted by identifier with their position in the object file, and the
// check value of the object file it was built from, so a stale index (a crash
// between the two rewrites, or an object file changed by another program) is
// recognised and rebuilt by the reorganisation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extlib/projects/uuid.h"

namespace dovrane::extlib {

inline constexpr char kProjectObjectsFile[] = "objects.dat";
inline constexpr char kProjectIndexFile[] = "objects.idx";
inline constexpr size_t kMaxObjectNameBytes = 50;
inline constexpr size_t kMaxObjectTypeBytes = 16;

struct ProjectObject {
  Uuid id;
  std::string type;  // A-Z, 0-9 and "_", 1 to 16 characters
  std::string name;  // Windows-1252, 1 to 50 bytes, no control characters
  bool deleted = false;
  std::vector<Uuid> refs;
  bool operator==(const ProjectObject&) const = default;
};

struct ProjectData {
  std::vector<ProjectObject> objects;
  // The object with id, or null.
  const ProjectObject* Find(const Uuid& id) const;
};

struct ProjectIndexEntry {
  Uuid id;
  uint32_t position = 0;  // 0-based place in the object file
  std::string type;
  bool deleted = false;
};

// Object file text. Format refuses invalid objects (-EINVAL), Parse refuses
// anything but a whole, unchanged file (-EBADMSG): wrong header, bad field,
// duplicate identifier, missing end line, wrong count or check value.
[[nodiscard]] int FormatProjectObjects(const ProjectData& data, std::string* text);
[[nodiscard]] int ParseProjectObjects(const std::string& text, ProjectData* data);

// Index text for data, whose object file text is objects_text.
std::string FormatProjectIndex(const ProjectData& data, const std::string& objects_text);
// 0 or -EBADMSG; *objects_crc is the check value of the object file it describes.
[[nodiscard]] int ParseProjectIndex(const std::string& text, uint32_t* objects_crc,
                      std::vector<ProjectIndexEntry>* entries);

// Reads and checks the object file of the native project folder:
// 0, -ENOENT (no object file), -EBADMSG (damaged) or another -errno.
[[nodiscard]] int ReadProjectData(const std::string& native_dir, ProjectData* data);
// Rewrites the object file and then the index, each crash-safe. 0 or -errno.
[[nodiscard]] int WriteProjectData(const std::string& native_dir, const ProjectData& data);
// 0 when the index is whole and describes the current object file; -ESTALE
// when it describes another one; -ENOENT or -EBADMSG otherwise.
[[nodiscard]] int CheckProjectIndex(const std::string& native_dir);

}  // namespace dovrane::extlib

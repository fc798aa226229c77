#include "extlib/projects/project_data_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <set>

#include "extlib/projects/checksum.h"
#include "platform/file_util.h"

namespace dovrane::extlib {

namespace {
constexpr char kObjectsMagic[] = "DOVRANE-PROJECTDATA 1";
constexpr char kIndexMagic[] = "DOVRANE-PROJECTINDEX 1";
// A project's own data may be large, but never larger than this.
constexpr uint64_t kProjectDataLimit = uint64_t{1} << 30;

bool ValidType(const std::string& type) {
  if (type.empty() || type.size() > kMaxObjectTypeBytes) return false;
  return std::all_of(type.begin(), type.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > kMaxObjectNameBytes) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return b >= 0x20 && b != 0x7F;
  });
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool ParseUnsigned(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Splits a whole file into lines; false when it does not end in a line end.
bool WholeLines(const std::string& text, std::vector<std::string>* lines) {
  if (text.empty() || text.back() != '\n') return false;
  *lines = Split(text.substr(0, text.size() - 1), '\n');
  return true;
}

std::string JoinRefs(const std::vector<Uuid>& refs) {
  std::string out;
  for (size_t i = 0; i < refs.size(); ++i) {
    if (i) out.push_back(',');
    out += FormatUuid(refs[i]);
  }
  return out;
}

bool ParseObjectLine(const std::string& line, ProjectObject* object) {
  std::vector<std::string> fields = Split(line, '\t');
  if (fields.size() != 5) return false;
  if (!ParseUuid(fields[0], &object->id) || object->id.IsNil()) return false;
  object->type = fields[1];
  object->name = fields[3];
  if (!ValidType(object->type) || !ValidName(object->name)) return false;
  if (fields[2] != "A" && fields[2] != "D") return false;
  object->deleted = fields[2] == "D";
  object->refs.clear();
  if (fields[4].empty()) return true;
  for (const std::string& ref : Split(fields[4], ',')) {
    Uuid id;
    if (!ParseUuid(ref, &id) || id.IsNil()) return false;
    object->refs.push_back(id);
  }
  return true;
}
}  // namespace

const ProjectObject* ProjectData::Find(const Uuid& id) const {
  for (const ProjectObject& object : objects)
    if (object.id == id) return &object;
  return nullptr;
}

int FormatProjectObjects(const ProjectData& data, std::string* text) {
  std::string out = std::string(kObjectsMagic) + "\n";
  std::set<Uuid> seen;
  for (const ProjectObject& o : data.objects) {
    if (o.id.IsNil() || !seen.insert(o.id).second || !ValidType(o.type) || !ValidName(o.name))
      return -EINVAL;
    for (const Uuid& ref : o.refs)
      if (ref.IsNil()) return -EINVAL;
    out += FormatUuid(o.id) + "\t" + o.type + "\t" + (o.deleted ? "D" : "A") + "\t" + o.name +
           "\t" + JoinRefs(o.refs) + "\n";
  }
  out += "END " + std::to_string(data.objects.size()) + " " + Crc32Hex(out) + "\n";
  *text = std::move(out);
  return 0;
}

int ParseProjectObjects(const std::string& text, ProjectData* data) {
  std::vector<std::string> lines;
  if (!WholeLines(text, &lines) || lines.size() < 2 || lines[0] != kObjectsMagic) return -EBADMSG;
  // The end line: "END <count> <check value of everything before it>".
  std::vector<std::string> end = Split(lines.back(), ' ');
  uint32_t count = 0;
  size_t body = text.size() - lines.back().size() - 1;
  if (end.size() != 3 || end[0] != "END" || !ParseUnsigned(end[1], &count) ||
      count != lines.size() - 2 || end[2] != Crc32Hex(std::string_view(text).substr(0, body)))
    return -EBADMSG;
  ProjectData out;
  std::set<Uuid> seen;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    ProjectObject object;
    if (!ParseObjectLine(lines[i], &object) || !seen.insert(object.id).second) return -EBADMSG;
    out.objects.push_back(std::move(object));
  }
  *data = std::move(out);
  return 0;
}

std::string FormatProjectIndex(const ProjectData& data, const std::string& objects_text) {
  std::vector<ProjectIndexEntry> entries;
  for (size_t i = 0; i < data.objects.size(); ++i) {
    const ProjectObject& o = data.objects[i];
    entries.push_back({o.id, static_cast<uint32_t>(i), o.type, o.deleted});
  }
  std::sort(entries.begin(), entries.end(),
            [](const ProjectIndexEntry& a, const ProjectIndexEntry& b) { return a.id < b.id; });
  std::string out = std::string(kIndexMagic) + " " + Crc32Hex(objects_text) + "\n";
  for (const ProjectIndexEntry& e : entries)
    out += FormatUuid(e.id) + "\t" + std::to_string(e.position) + "\t" + e.type + "\t" +
           (e.deleted ? "D" : "A") + "\n";
  out += "END " + std::to_string(entries.size()) + "\n";
  return out;
}

int ParseProjectIndex(const std::string& text, uint32_t* objects_crc,
                      std::vector<ProjectIndexEntry>* entries) {
  std::vector<std::string> lines;
  if (!WholeLines(text, &lines) || lines.size() < 2) return -EBADMSG;
  std::vector<std::string> head = Split(lines[0], ' ');
  if (head.size() != 3 || head[0] + " " + head[1] != kIndexMagic || head[2].size() != 8)
    return -EBADMSG;
  uint32_t crc = 0;
  auto [ptr, ec] = std::from_chars(head[2].data(), head[2].data() + 8, crc, 16);
  if (ec != std::errc() || ptr != head[2].data() + 8) return -EBADMSG;
  uint32_t count = 0;
  if (lines.back().rfind("END ", 0) != 0 || !ParseUnsigned(lines.back().substr(4), &count) ||
      count != lines.size() - 2)
    return -EBADMSG;
  std::vector<ProjectIndexEntry> out;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    std::vector<std::string> f = Split(lines[i], '\t');
    ProjectIndexEntry e;
    if (f.size() != 4 || !ParseUuid(f[0], &e.id) || !ParseUnsigned(f[1], &e.position) ||
        e.position >= count || !ValidType(f[2]) || (f[3] != "A" && f[3] != "D"))
      return -EBADMSG;
    if (!out.empty() && !(out.back().id < e.id)) return -EBADMSG;  // sorted, no repeats
    e.type = f[2];
    e.deleted = f[3] == "D";
    out.push_back(std::move(e));
  }
  *objects_crc = crc;
  *entries = std::move(out);
  return 0;
}

int ReadProjectData(const std::string& native_dir, ProjectData* data) {
  std::string text;
  int rc = platform::ReadWholeFile(native_dir + "/" + kProjectObjectsFile, &text, kProjectDataLimit);
  return rc ? rc : ParseProjectObjects(text, data);
}

int WriteProjectData(const std::string& native_dir, const ProjectData& data) {
  std::string objects;
  int rc = FormatProjectObjects(data, &objects);
  if (rc) return rc;
  // Object file first: a crash before the index is rewritten leaves a stale
  // index, which CheckProjectIndex recognises; never an index without objects.
  rc = platform::WriteFileAtomic(native_dir + "/" + kProjectObjectsFile, objects);
  if (rc) return rc;
  return platform::WriteFileAtomic(native_dir + "/" + kProjectIndexFile,
                                   FormatProjectIndex(data, objects));
}

int CheckProjectIndex(const std::string& native_dir) {
  std::string objects, index;
  int rc = platform::ReadWholeFile(native_dir + "/" + kProjectObjectsFile, &objects, kProjectDataLimit);
  if (rc == 0) rc = platform::ReadWholeFile(native_dir + "/" + kProjectIndexFile, &index, kProjectDataLimit);
  if (rc) return rc;
  uint32_t crc = 0;
  std::vector<ProjectIndexEntry> entries;
  rc = ParseProjectIndex(index, &crc, &entries);
  if (rc) return rc;
  return crc == Crc32(objects) ? 0 : -ESTALE;
}

}  // namespace dovrane::extlib

// What the properties dialog shows about a project or a host: the record the
// properties command fills, and the dialog's lines made from it, so that the
// dialog only lays them out.
#pragma once

#include <cstdint>
#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::tree {

struct PropertiesInfo {
  std::string caption;
  std::string type_text;
  std::string name_label;
  std::string path_label;
  std::string info_label;
  std::string first_count_label;
  std::string second_count_label;
  std::string name;
  std::string path;  // also the place whose free space is shown
  std::string space_label;
  int number = 0;
  int first_count = 0;
  int second_count = -1;  // -1: there is none (a project)
  double size = 0;        // megabytes
};

// A project's record: files and bytes as measured (files -1: cancelled, shown
// as 0 files of 0 MB).
PropertiesInfo ProjectProperties(const std::string& name, const std::string& path, int number, int64_t files,
                                 uint64_t bytes);
// A host's record (kind 0x100000 the local host, else another host): the
// project root measured, projects the number of the host item's children.
PropertiesInfo HostProperties(bool local_host, const std::string& name, const std::string& project_root,
                              int number, int64_t files, uint64_t bytes, int projects);

// "%s [%d]" with type text and number for a project, else the type text.
std::string TypeLine(const PropertiesInfo& info);
// "%s %d  (%.2lf MB)", or with a second count "%s %d / %s %d  (%.2lf MB)".
std::string InfoLine(const PropertiesInfo& info);
// "%.0lf MB (%.2lf GB)" of the bytes free to the caller on the volume of the
// path's mapped folder; 0 MB (0.00 GB) when the system cannot tell.
std::string FreeSpaceLine(extlib::OperationContext& ctx, const std::string& path);
std::string FreeSpaceText(uint64_t free_bytes);

}  // namespace dovrane::tree
